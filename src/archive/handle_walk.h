// The handle API's walk: opening an archive, finding its records by
// position (handle_state.h), and moving about them by index.
#ifndef QZARC_ARCHIVE_HANDLE_WALK_H
#define QZARC_ARCHIVE_HANDLE_WALK_H

#include <cstdint>

#include "archive/handle_state.h"

// Sets up a zeroed handle (false: no memory) and gives everything back.
bool HandleInit(ArchiveHandle &h);
void HandleRelease(ArchiveHandle &h);

int HandleOpen(ArchiveHandle &h, const char *path, uint64_t startOffset);
void HandleClose(ArchiveHandle &h);
int HandleNext(ArchiveHandle &h, const qz_entry **entry);
int HandleSeek(ArchiveHandle &h, uint64_t index);
int64_t HandleCount(ArchiveHandle &h);

// The name volume k was last looked for under, for messages.
const char *VolumeShownName(ArchiveHandle &h, uint32_t k, char *buffer);
// Records that volume k cannot be opened; returns QZ_E_VOLUME.
int VolumeFailure(ArchiveHandle &h, uint32_t k);
// The size of volume k (opened through the scan file when not yet known);
// false (failure recorded) when it cannot be opened.
bool VolumeSize(ArchiveHandle &h, uint32_t k, uint32_t *size);

#endif // QZARC_ARCHIVE_HANDLE_WALK_H
