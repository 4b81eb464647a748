// The stored-entry copier: method-0 data copied from the archive reader to
// the output file through a 64 KiB staging buffer, every written byte fed
// through the CRC register. Output goes out in writes of exactly 65536 bytes
// and one final shorter write.
#ifndef QZARC_STORED_COPIER_H
#define QZARC_STORED_COPIER_H

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
void Put(uint8_t byte);
void Flush();
// Copies the entry's whole data, following the volume chain.
void CopyStored();

#endif // QZARC_STORED_COPIER_H
