#include "archive/handle_read.h"

#include <cstring>

#include "archive/archive_reader.h"
#include "archive/extract_entry.h"
#include "archive/handle_walk.h"
#include "archive/volumes.h"
#include "crypto/crc32.h"
#include "inflate/inflate_stream.h"

namespace {

constexpr uint64_t kProgressStep = uint64_t(1) << 20;

int Fail(ArchiveHandle &h, int code) {
    h.phase = EntryPhase::kFailed;
    h.failure = code;
    return code;
}

int FailEntry(ArchiveHandle &h, int code, const char *what) {
    HandleFail(h, code, "%s: %s", h.entry.name, what);
    return Fail(h, code);
}

// Moves the core's reading position to the place, opening its volume.
int GoTo(ArchiveHandle &h, RecordPlace place) {
    UnpackState &s = h.core;
    if (!IsOpenHandle(s.archive) || uint32_t(s.volumeNumber) != place.volume) {
        uint32_t size = 0;
        if (!VolumeSize(h, place.volume, &size))
            return QZ_E_VOLUME;
        CloseIfOpen(s.archive);
        s.archive = OpenVolumeFile(s, int(place.volume), false);
        if (!IsOpenHandle(s.archive))
            return VolumeFailure(h, place.volume);
        s.volumeNumber = int(place.volume);
        s.volumeSize = size;
    }
    if (!SeekArchive(s, place.offset))
        return HandleFail(h, QZ_E_IO, "cannot read the archive (error %lu)", static_cast<unsigned long>(GetLastError()));
    return 0;
}

// The first read of an entry: its data found, the password checked, the
// decoder started. A refused password leaves the entry as it was, so that
// another one can be tried.
int StartData(ArchiveHandle &h) {
    UnpackState &s = h.core;
    if (s.encrypted && h.password == nullptr)
        return HandleFail(h, QZ_E_PASSWORD, "%s is encrypted: a password is needed", h.entry.name);
    const int moved = GoTo(h, h.dataPlace);
    if (moved != 0)
        return Fail(h, moved);
    s.remaining = s.compressedSize;
    // Reads are 64 KiB chunks, or one read of a small entry's whole data
    // (and its encryption header): reading a full chunk for an entry of a
    // few hundred bytes would copy the records after it for nothing.
    const uint64_t wanted = uint64_t(s.compressedSize) + 16 + (s.encrypted ? 12 : 0);
    s.slice = wanted < kMaxChunk ? uint32_t(wanted) : kMaxChunk;
    s.consumed = 0;
    s.readError = kStatusOk;
    s.status = kStatusOk;
    s.switched = false;
    ResetReader(s);
    s.reader.delivered = 0;
    if (s.encrypted) {
        const PasswordCheck check = CheckPassword(s, h.password);
        if (check == PasswordCheck::kUnreadable)
            return FailEntry(h, QZ_E_RECORD, "the encryption header cannot be read");
        if (check == PasswordCheck::kRefused)
            return HandleFail(h, QZ_E_PASSWORD, "%s: wrong password", h.entry.name);
        // The data's keystream starts from the password alone.
        CipherInit(s.keys, h.password);
    }
    // The password is checked first: an entry refused for it tells nothing
    // more, its method included.
    if (s.method != kMethodStored && s.method != kMethodDeflate && s.method != kMethodDeflate64) {
        HandleFail(h, QZ_E_METHOD, "%s: method %u is not stored (0), Deflate (8) or Deflate64 (9)", h.entry.name,
                   unsigned(s.method));
        return Fail(h, QZ_E_METHOD);
    }
    if (s.method == kMethodStored) {
        CrcReset(s.crcRegister);
    } else if (StartInflate(s.inflate, true, s.method, EntryInput(s)) != kStatusOk) {
        return FailEntry(h, QZ_E_NOMEM, "out of memory");
    }
    h.phase = EntryPhase::kReading;
    return 0;
}

void Report(ArchiveHandle &h, bool atEnd) {
    if (h.progressHandler == nullptr)
        return;
    if (atEnd || h.produced - h.reported >= kProgressStep) {
        h.reported = h.produced;
        h.progressHandler(h.progressUser, h.produced, h.entry.uncompressed_size);
    }
}

int Verified(ArchiveHandle &h) {
    h.phase = EntryPhase::kVerified;
    Report(h, true);
    return 0;
}

int64_t ReadStored(ArchiveHandle &h, uint8_t *out, size_t size) {
    UnpackState &s = h.core;
    size_t copied = 0;
    while (copied < size) {
        const uint32_t buffered = BufferedEntryBytes(s);
        if (buffered != 0) {
            const uint32_t n = size - copied < buffered ? uint32_t(size - copied) : buffered;
            std::memcpy(out + copied, s.reader.cursor, n);
            TakeBufferedBytes(s, n);
            copied += n;
            continue;
        }
        if (s.remaining <= 0)
            break;
        // A chunk to read or a volume to open.
        uint8_t byte = 0;
        if (!NextDataByte(s, byte))
            break;
        out[copied++] = byte;
    }
    if (s.readError != kStatusOk)
        return Fail(h, VolumeFailure(h, uint32_t(s.volumeNumber)));
    if (copied != 0) {
        CrcUpdate(s.crcRegister, out, uint32_t(copied));
        h.produced += copied;
        Report(h, false);
        return int64_t(copied);
    }
    if (CrcValue(s.crcRegister) != s.crc)
        return FailEntry(h, QZ_E_CRC, "CRC-32 differs: the entry is damaged");
    return Verified(h);
}

int Verdict(ArchiveHandle &h, UnpackStatus status) {
    switch (status) {
    case kStatusOk:
        return Verified(h);
    case kStatusBadCrc:
        return FailEntry(h, QZ_E_CRC, "CRC-32 differs: the entry is damaged");
    case kStatusBadSize:
        return FailEntry(h, QZ_E_SIZE, "the entry decodes to another size than recorded");
    case kStatusNoMemory:
        return FailEntry(h, QZ_E_NOMEM, "out of memory");
    default:
        return FailEntry(h, QZ_E_DATA, "the compressed data is invalid or cut short");
    }
}

// Once the declared size is out, the stream is decoded on into scratch
// until it ends, fails or gives a byte more than its record says: a stream
// longer than the record, or one whose last bytes are damaged, must fail the
// end check, as it does for the legacy extraction, whose output slices run
// past the declared size. Only the entry's own input is decoded (the
// inflater stops a stream that decodes fillers), so the work is bounded by
// the compressed size.
void DecodeToEnd(ArchiveHandle &h) {
    UnpackState &s = h.core;
    for (;;) {
        const uint32_t n = InflateSlice(s.inflate, s.copier.staging, kStagingFlushSize);
        if (n == 0 || s.readError != kStatusOk || s.inflate.outputTotal > s.uncompressedSize)
            return;
    }
}

int64_t ReadCompressed(ArchiveHandle &h, uint8_t *out, size_t size) {
    UnpackState &s = h.core;
    const uint64_t declared = s.uncompressedSize;
    if (h.produced < declared) {
        uint64_t ask = declared - h.produced;
        if (ask > size)
            ask = size;
        if (ask > kStagingFlushSize * 256u)
            ask = kStagingFlushSize * 256u;
        const uint32_t n = InflateSlice(s.inflate, out, uint32_t(ask));
        if (s.readError != kStatusOk)
            return Fail(h, VolumeFailure(h, uint32_t(s.volumeNumber)));
        if (n != 0) {
            h.produced += n;
            Report(h, false);
            return n;
        }
    } else {
        DecodeToEnd(h);
    }
    const UnpackStatus verdict = FinishInflate(s.inflate, s.crc, s.uncompressedSize);
    if (s.readError != kStatusOk)
        return Fail(h, VolumeFailure(h, uint32_t(s.volumeNumber)));
    return Verdict(h, verdict);
}

}  // namespace

int64_t HandleRead(ArchiveHandle &h, void *buffer, size_t size) {
    switch (h.phase) {
    case EntryPhase::kNone:
        return HandleFail(h, QZ_E_STATE, h.open ? "no current entry: call qz_archive_next first" : "no archive is open");
    case EntryPhase::kVerified:
        return 0;
    case EntryPhase::kFailed:
        return h.failure;
    case EntryPhase::kFresh: {
        const int started = StartData(h);
        if (started != 0)
            return started;
        break;
    }
    case EntryPhase::kReading:
        break;
    }
    uint8_t *out = static_cast<uint8_t *>(buffer);
    return h.core.method == kMethodStored ? ReadStored(h, out, size) : ReadCompressed(h, out, size);
}

int HandleSkip(ArchiveHandle &h) {
    // Skipping an entry already left (skipped again) does nothing.
    if (h.phase == EntryPhase::kNone && h.open && h.advancePending)
        return 0;
    if (h.phase == EntryPhase::kNone)
        return HandleFail(h, QZ_E_STATE, h.open ? "no current entry: call qz_archive_next first" : "no archive is open");
    EndEntry(h);
    return 0;
}

int HandleExtract(ArchiveHandle &h, const char *path) {
    if (h.phase != EntryPhase::kFresh) {
        if (h.phase == EntryPhase::kNone)
            return HandleFail(h, QZ_E_STATE, h.open ? "no current entry: call qz_archive_next first" : "no archive is open");
        return HandleFail(h, QZ_E_STATE, "%s: the entry has been read from already", h.entry.name);
    }
    // The data is found and the password checked before the file is touched,
    // so that a refused entry leaves an existing file as it was.
    const int started = StartData(h);
    if (started != 0)
        return started;
    UnpackState &s = h.core;
    s.output = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (!IsOpenHandle(s.output)) {
        HandleFail(h, QZ_E_IO, "cannot create %s (error %lu)", path, static_cast<unsigned long>(GetLastError()));
        return Fail(h, QZ_E_IO);
    }
    ReserveOutputSpace(s.output, s.method == kMethodStored ? s.compressedSize : s.uncompressedSize);
    int64_t result;
    for (;;) {
        result = HandleRead(h, s.copier.staging, kStagingFlushSize);
        if (result <= 0)
            break;
        DWORD written = 0;
        if (!WriteFile(s.output, s.copier.staging, DWORD(result), &written, nullptr) || written != DWORD(result)) {
            HandleFail(h, QZ_E_IO, "writing %s failed (error %lu)", path, static_cast<unsigned long>(GetLastError()));
            result = Fail(h, QZ_E_IO);
            break;
        }
    }
    if (result != 0) {
        CloseIfOpen(s.output);
        DeleteFileA(path);
        return int(result);
    }
    StampOutput(s, path);
    CloseIfOpen(s.output);
    return 0;
}
