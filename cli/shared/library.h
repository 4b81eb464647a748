// The extraction library as the command-line tool sees it: the handle API,
// bound at run time on Windows (QZARC.dll by ordinal, as any host would
// load it) and at link time on Linux (libqzarc.so). Every thread of the
// tool works on handles of its own; the table itself is read-only once
// bound.
#ifndef QZARC_CLI_LIBRARY_H
#define QZARC_CLI_LIBRARY_H

#include <string>

#include "qzarc.h"

namespace qzcli {

struct Library {
    qz_archive *(QZ_CDECL *archiveNew)() = nullptr;
    void(QZ_CDECL *archiveFree)(qz_archive *a) = nullptr;
    int(QZ_CDECL *setPassword)(qz_archive *a, const char *password) = nullptr;
    int(QZ_CDECL *setVolumeHandler)(qz_archive *a, qz_volume_handler fn, void *user) = nullptr;
    int(QZ_CDECL *setProgressHandler)(qz_archive *a, qz_progress_handler fn, void *user) = nullptr;
    int(QZ_CDECL *open)(qz_archive *a, const char *path, uint64_t startOffset) = nullptr;
    int(QZ_CDECL *close)(qz_archive *a) = nullptr;
    int(QZ_CDECL *next)(qz_archive *a, const qz_entry **entry) = nullptr;
    int64_t(QZ_CDECL *read)(qz_archive *a, void *buffer, size_t size) = nullptr;
    int(QZ_CDECL *extract)(qz_archive *a, const char *path) = nullptr;
    int(QZ_CDECL *seek)(qz_archive *a, uint64_t index) = nullptr;
    const char *(QZ_CDECL *error)(const qz_archive *a) = nullptr;
    // Null when the library predates it (a DLL before 1.2.0): every entry
    // is then decoded on its worker's thread alone.
    int(QZ_CDECL *setThreads)(qz_archive *a, int threads) = nullptr;
};

// Binds the entry points. False, with the reason in *error, when the library
// (or one of its ordinals) cannot be found.
bool BindLibrary(Library *library, std::string *error);

}  // namespace qzcli

#endif  // QZARC_CLI_LIBRARY_H
