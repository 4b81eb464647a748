// The handle API's exports (qzarc.h): argument checks and the handle's
// lifetime; the work is done by the archive layer on the handle's own state.
#include <cstring>
#include <new>

#include "archive/entry_name.h"
#include "archive/handle_read.h"
#include "archive/handle_state.h"
#include "archive/handle_walk.h"
#include "qzarc.h"

struct qz_archive {
    ArchiveHandle h;
};

namespace {

int Invalid(qz_archive *a, const char *what) {
    return HandleFail(a->h, QZ_E_ARGUMENT, "%s", what);
}

}  // namespace

extern "C" QZ_EXPORT qz_archive *QZ_CDECL qz_archive_new(void) {
    void *block = HandleAlloc(sizeof(qz_archive));
    if (block == nullptr)
        return nullptr;
    // Zero is the closed state with nothing allocated.
    std::memset(block, 0, sizeof(qz_archive));
    qz_archive *a = static_cast<qz_archive *>(block);
    if (!HandleInit(a->h)) {
        HandleRelease(a->h);
        HandleFree(block);
        return nullptr;
    }
    return a;
}

extern "C" QZ_EXPORT void QZ_CDECL qz_archive_free(qz_archive *a) {
    if (a == nullptr)
        return;
    HandleRelease(a->h);
    HandleFree(a);
}

extern "C" QZ_EXPORT int QZ_CDECL qz_archive_set_password(qz_archive *a, const char *password) {
    if (a == nullptr)
        return QZ_E_ARGUMENT;
    char *copy = nullptr;
    if (password != nullptr) {
        const size_t n = std::strlen(password) + 1;
        copy = static_cast<char *>(HandleAlloc(n));
        if (copy == nullptr)
            return HandleFail(a->h, QZ_E_NOMEM, "out of memory");
        std::memcpy(copy, password, n);
    }
    HandleFree(a->h.password);
    a->h.password = copy;
    return 0;
}

extern "C" QZ_EXPORT int QZ_CDECL qz_archive_set_codepage(qz_archive *a, int codepage) {
    if (a == nullptr)
        return QZ_E_ARGUMENT;
    if (!KnownCodePage(codepage))
        return HandleFail(a->h, QZ_E_ARGUMENT, "code page %d is not known (0, 437, 850, 1250, 1251, 1252, 932, 936 and 65001 are)", codepage);
    a->h.codepage = codepage;
    return 0;
}

extern "C" QZ_EXPORT int QZ_CDECL qz_archive_set_volume_handler(qz_archive *a, qz_volume_handler fn, void *user) {
    if (a == nullptr)
        return QZ_E_ARGUMENT;
    a->h.volumeHandler = fn;
    a->h.volumeUser = user;
    return 0;
}

extern "C" QZ_EXPORT int QZ_CDECL qz_archive_set_progress_handler(qz_archive *a, qz_progress_handler fn,
                                                                   void *user) {
    if (a == nullptr)
        return QZ_E_ARGUMENT;
    a->h.progressHandler = fn;
    a->h.progressUser = user;
    return 0;
}

extern "C" QZ_EXPORT int QZ_CDECL qz_archive_set_threads(qz_archive *a, int threads) {
    if (a == nullptr)
        return QZ_E_ARGUMENT;
    if (threads < 1)
        return Invalid(a, "the number of threads must be at least 1");
    a->h.threads = threads < int(kMostDecodeThreads) ? uint32_t(threads) : kMostDecodeThreads;
    return 0;
}

extern "C" QZ_EXPORT int QZ_CDECL qz_archive_open(qz_archive *a, const char *path, uint64_t start_offset) {
    if (a == nullptr)
        return QZ_E_ARGUMENT;
    if (path == nullptr || path[0] == '\0')
        return Invalid(a, "no archive path");
    return HandleOpen(a->h, path, start_offset);
}

extern "C" QZ_EXPORT int QZ_CDECL qz_archive_close(qz_archive *a) {
    if (a == nullptr)
        return QZ_E_ARGUMENT;
    HandleClose(a->h);
    return 0;
}

extern "C" QZ_EXPORT int QZ_CDECL qz_archive_next(qz_archive *a, const qz_entry **entry) {
    if (a == nullptr)
        return QZ_E_ARGUMENT;
    return HandleNext(a->h, entry);
}

extern "C" QZ_EXPORT const qz_entry *QZ_CDECL qz_archive_entry(const qz_archive *a) {
    if (a == nullptr || a->h.phase == EntryPhase::kNone)
        return nullptr;
    return &a->h.entry;
}

extern "C" QZ_EXPORT int64_t QZ_CDECL qz_archive_read(qz_archive *a, void *buffer, size_t size) {
    if (a == nullptr)
        return QZ_E_ARGUMENT;
    if (buffer == nullptr || size == 0)
        return Invalid(a, "no buffer to read into");
    return HandleRead(a->h, buffer, size);
}

extern "C" QZ_EXPORT int QZ_CDECL qz_archive_skip(qz_archive *a) {
    if (a == nullptr)
        return QZ_E_ARGUMENT;
    return HandleSkip(a->h);
}

extern "C" QZ_EXPORT int QZ_CDECL qz_archive_extract(qz_archive *a, const char *path) {
    if (a == nullptr)
        return QZ_E_ARGUMENT;
    if (path == nullptr || path[0] == '\0')
        return Invalid(a, "no output path");
    return HandleExtract(a->h, path);
}

extern "C" QZ_EXPORT int QZ_CDECL qz_archive_seek(qz_archive *a, uint64_t index) {
    if (a == nullptr)
        return QZ_E_ARGUMENT;
    return HandleSeek(a->h, index);
}

extern "C" QZ_EXPORT int64_t QZ_CDECL qz_archive_count(qz_archive *a) {
    if (a == nullptr)
        return QZ_E_ARGUMENT;
    return HandleCount(a->h);
}

extern "C" QZ_EXPORT const char *QZ_CDECL qz_archive_error(const qz_archive *a) {
    if (a == nullptr)
        return "no handle";
    return a->h.message;
}

extern "C" QZ_EXPORT const char *QZ_CDECL qz_strerror(int code) {
    switch (code) {
    case QZ_ARCHIVE_OK:
        return "success";
    case QZ_ARCHIVE_END:
        return "end of the archive";
    case QZ_E_PASSWORD:
        return "no password, or a wrong one";
    case QZ_E_CRC:
        return "CRC-32 differs: the entry is damaged";
    case QZ_E_SIZE:
        return "the entry decodes to another size than recorded";
    case QZ_E_DATA:
        return "the compressed data is invalid or cut short";
    case QZ_E_VOLUME:
        return "a volume of the archive cannot be opened";
    case QZ_E_RECORD:
        return "damaged archive or not a QZ archive: no record where one must start";
    case QZ_E_METHOD:
        return "unsupported compression method";
    case QZ_E_IO:
        return "input/output error";
    case QZ_E_NOMEM:
        return "out of memory";
    case QZ_E_ARGUMENT:
        return "invalid argument";
    case QZ_E_STATE:
        return "call out of order";
    default:
        return "unknown error";
    }
}

#ifndef QZARC_VERSION_STRING
#define QZARC_VERSION_STRING "unknown"
#endif

extern "C" QZ_EXPORT const char *QZ_CDECL qz_version(void) { return QZARC_VERSION_STRING; }
