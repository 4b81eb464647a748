// The stored-entry copier: method-0 data copied from the archive reader to
// the output file through a 64 KiB staging buffer, every written byte fed
// through the CRC register. Output goes out in writes of exactly 65536 bytes
// and one final shorter write.
#ifndef QZARC_ARCHIVE_STORED_COPIER_H
#define QZARC_ARCHIVE_STORED_COPIER_H

#include <cstdint>

#include "archive/unpack_state.h"

void ResetCopier(UnpackState &s);

// Makes block (kStagingBufferSize bytes, or null for none) the staging
// buffer and returns the buffer it replaces for its owner to free. With
// carryPending the bytes staged and not yet written move into the new block
// (at a volume switch inside a stored entry); otherwise it starts empty.
uint8_t *SwapStagingBuffer(UnpackState &s, uint8_t *block, bool carryPending);
void Put(UnpackState &s, uint8_t byte);
void Flush(UnpackState &s);
// Copies the entry's whole data, following the volume chain.
void CopyStored(UnpackState &s);

#endif // QZARC_ARCHIVE_STORED_COPIER_H
