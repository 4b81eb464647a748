// What an open archive holds besides its volume handle: the byte source's
// read buffer (65540 bytes) and the stored copier's staging buffer (65537
// bytes), allocated together from the process heap when the archive is
// opened, replaced together at every volume switch and released together
// when the walk ends.
#ifndef QZARC_ARCHIVE_OPEN_ARCHIVE_H
#define QZARC_ARCHIVE_OPEN_ARCHIVE_H

#include "archive/unpack_state.h"

// Allocates both buffers; false when either cannot be had (then neither is
// held). From then on every volume switch renews them.
bool AllocateBuffers(UnpackState &s);
// Releasing what is already released does nothing.
void ReleaseBuffers(UnpackState &s);
// Replaces both buffers with new blocks (at a volume switch), carrying the
// staging buffer's pending bytes over; false (and neither held) when memory
// runs out.
bool RenewBuffers(UnpackState &s);

// Gives back the buffers and the open volume, and starts the volume count
// again (the output file is the caller's).
void ReleaseArchive(UnpackState &s);

#endif // QZARC_ARCHIVE_OPEN_ARCHIVE_H
