// The handle API's reading of the current entry: its bytes into the caller's
// buffer, checked at the end, or the entry written to a file.
#ifndef QZARC_ARCHIVE_HANDLE_READ_H
#define QZARC_ARCHIVE_HANDLE_READ_H

#include <cstddef>
#include <cstdint>

#include "archive/handle_state.h"

// Up to size (>= 1) bytes: > 0, 0 at the verified end, or a failure.
int64_t HandleRead(ArchiveHandle &h, void *buffer, size_t size);
int HandleSkip(ArchiveHandle &h);
int HandleExtract(ArchiveHandle &h, const char *path);

#endif // QZARC_ARCHIVE_HANDLE_READ_H
