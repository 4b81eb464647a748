#include "archive/stored_copier.h"

#include <cstring>

#include "archive/archive_reader.h"
#include "archive/unpack_state.h"
#include "crypto/crc32.h"

void ResetCopier(UnpackState &s) {
    s.copier.count = 0;
    s.copier.cursor = s.copier.staging;
    s.copier.writeFailed = false;
}

uint8_t *SwapStagingBuffer(UnpackState &s, uint8_t *block, bool carryPending) {
    uint8_t *old = s.copier.staging;
    const uint32_t pending = block != nullptr && carryPending ? s.copier.count : 0;
    if (pending != 0)
        std::memcpy(block, old, pending);
    s.copier.staging = block;
    s.copier.cursor = block == nullptr ? nullptr : block + pending;
    s.copier.count = pending;
    return old;
}

void Put(UnpackState &s, uint8_t byte) {
    *s.copier.cursor++ = byte;
    s.copier.count += 1;
    if (s.copier.count == kStagingFlushSize)
        Flush(s);
}

namespace {

// One write of the entry's output, its bytes fed through the CRC register.
void WriteOut(UnpackState &s, const uint8_t *bytes, uint32_t n) {
    CrcUpdate(s.crcRegister, bytes, n);
    if (!s.copier.writeFailed) {
        DWORD written = 0;
        if (!WriteFile(s.output, bytes, n, &written, nullptr) || written != n)
            s.copier.writeFailed = true;
    }
}

}  // namespace

void Flush(UnpackState &s) {
    if (s.copier.count == 0)
        return;
    WriteOut(s, s.copier.staging, s.copier.count);
    s.copier.count = 0;
    s.copier.cursor = s.copier.staging;
}

void CopyStored(UnpackState &s) {
    if (s.copier.staging == nullptr)
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
        const uint32_t buffered = bulk ? BufferedEntryBytes(s) : 0;
        if (buffered >= kStagingFlushSize && s.copier.count == 0) {
            // A whole write's worth in the chunk and nothing staged: the
            // same write, straight from the read buffer.
            const uint8_t *run = s.reader.cursor;
            TakeBufferedBytes(s, kStagingFlushSize);
            WriteOut(s, run, kStagingFlushSize);
            continue;
        }
        if (buffered != 0) {
            uint32_t run = kStagingFlushSize - s.copier.count;
            if (run > buffered)
                run = buffered;
            std::memcpy(s.copier.cursor, s.reader.cursor, run);
            TakeBufferedBytes(s, run);
            s.copier.cursor += run;
            s.copier.count += run;
            if (s.copier.count == kStagingFlushSize)
                Flush(s);
            continue;
        }
        uint8_t byte = 0;
        if (!NextDataByte(s, byte))
            break;
        Put(s, byte);
    }
    Flush(s);
}
