// The stored-entry copier: method-0 data copied from the archive reader to
// the output file through a 64 KiB staging buffer, every written byte fed
// through the CRC register. Output goes out in writes of exactly 65536 bytes
// and one final shorter write.
#ifndef QZARC_ARCHIVE_STORED_COPIER_H
#define QZARC_ARCHIVE_STORED_COPIER_H

#include <cstdint>

struct StoredCopier {
    uint8_t *staging;   // 65537 bytes from the process heap, or null
    uint8_t *cursor;    // where the next byte goes
    uint32_t count;     // bytes in staging not yet written
    bool writeFailed;   // a WriteFile of this entry failed; nothing more is written
};

extern StoredCopier gCopier;

constexpr uint32_t kStagingBufferSize = 65537;
constexpr uint32_t kStagingFlushSize = 65536;

void ResetCopier();

// Makes block (kStagingBufferSize bytes, or null for none) the staging
// buffer and returns the buffer it replaces for its owner to free. With
// carryPending the bytes staged and not yet written move into the new block
// (at a volume switch inside a stored entry); otherwise it starts empty.
uint8_t *SwapStagingBuffer(uint8_t *block, bool carryPending);
void Put(uint8_t byte);
void Flush();
// Copies the entry's whole data, following the volume chain.
void CopyStored();

#endif // QZARC_ARCHIVE_STORED_COPIER_H
