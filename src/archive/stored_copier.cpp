#include "archive/stored_copier.h"

#include <cstring>

#include "archive/archive_reader.h"
#include "archive/unpack_state.h"
#include "crypto/crc32.h"

StoredCopier gCopier = {nullptr, nullptr, 0, false};

void ResetCopier() {
    gCopier.count = 0;
    gCopier.cursor = gCopier.staging;
    gCopier.writeFailed = false;
}

uint8_t *SwapStagingBuffer(uint8_t *block, bool carryPending) {
    uint8_t *old = gCopier.staging;
    const uint32_t pending = block != nullptr && carryPending ? gCopier.count : 0;
    if (pending != 0)
        std::memcpy(block, old, pending);
    gCopier.staging = block;
    gCopier.cursor = block == nullptr ? nullptr : block + pending;
    gCopier.count = pending;
    return old;
}

void Put(uint8_t byte) {
    *gCopier.cursor++ = byte;
    gCopier.count += 1;
    if (gCopier.count == kStagingFlushSize)
        Flush();
}

namespace {

// One write of the entry's output, its bytes fed through the CRC register.
void WriteOut(const uint8_t *bytes, uint32_t n) {
    CrcUpdate(bytes, n);
    if (!gCopier.writeFailed) {
        DWORD written = 0;
        if (!WriteFile(gUnpack.output, bytes, n, &written, nullptr) || written != n)
            gCopier.writeFailed = true;
    }
}

}  // namespace

void Flush() {
    if (gCopier.count == 0)
        return;
    WriteOut(gCopier.staging, gCopier.count);
    gCopier.count = 0;
    gCopier.cursor = gCopier.staging;
}

void CopyStored() {
    if (gCopier.staging == nullptr)
        return;
    // After a failed write the rest of the data is still read (and not
    // written), so that a walk finds the next record even when this entry
    // runs on into later volumes.
    const bool bulk = FastPathsAllowed();
    for (;;) {
        // Runs already in the read chunk are copied whole, cut where the
        // staging buffer fills so that every write is still 65536 bytes. A
        // chunk read, a volume switch or the end of the data is met one
        // byte at a time, as before.
        const uint32_t buffered = bulk ? BufferedEntryBytes() : 0;
        if (buffered >= kStagingFlushSize && gCopier.count == 0) {
            // A whole write's worth in the chunk and nothing staged: the
            // same write, straight from the read buffer.
            const uint8_t *run = gReader.cursor;
            TakeBufferedBytes(kStagingFlushSize);
            WriteOut(run, kStagingFlushSize);
            continue;
        }
        if (buffered != 0) {
            uint32_t run = kStagingFlushSize - gCopier.count;
            if (run > buffered)
                run = buffered;
            std::memcpy(gCopier.cursor, gReader.cursor, run);
            TakeBufferedBytes(run);
            gCopier.cursor += run;
            gCopier.count += run;
            if (gCopier.count == kStagingFlushSize)
                Flush();
            continue;
        }
        uint8_t byte = 0;
        if (!NextDataByte(byte))
            break;
        Put(byte);
    }
    Flush();
}
