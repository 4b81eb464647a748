#include "archive/archive_reader.h"

#include "archive/unpack_state.h"
#include "archive/volumes.h"
#include "crypto/cipher.h"

ArchiveReader gReader = {nullptr, nullptr, 0, 0};

#if defined(QZARC_TEST_HOOKS)
bool gExactPathsOnly = false;
void (*gAfterSlice)(uint32_t count, uint32_t produced) = nullptr;
#endif

void ResetReader() {
    gReader.cursor = nullptr;
    gReader.left = 0;
}

uint8_t *SwapReadBuffer(uint8_t *block) {
    uint8_t *old = gReader.readBuffer;
    gReader.readBuffer = block;
    gReader.cursor = block;
    gReader.left = 0;
    return old;
}

bool ReadOne(uint8_t &out) {
    int64_t owed = gUnpack.remaining;
    gUnpack.remaining -= 1;
    if (owed <= 0)
        return false;

    if (gReader.left == 0) {
        if (gReader.readBuffer == nullptr || !IsOpenHandle(gUnpack.archive))
            return false;
        DWORD got = 0;
        if (!ReadFile(gUnpack.archive, gReader.readBuffer, gUnpack.slice, &got, nullptr) || got == 0)
            return false;
        // The whole chunk is decrypted at once, including any bytes beyond the
        // entry's data; those are never handed out (the next record is read
        // afresh after a seek).
        if (gUnpack.encrypted)
            DecryptBlock(gReader.readBuffer, got);
        gReader.cursor = gReader.readBuffer;
        gReader.left = static_cast<int32_t>(got);
    }

    out = *gReader.cursor++;
    gReader.left -= 1;
    gReader.delivered += 1;
    return true;
}

bool NextDataByte(uint8_t &out) {
    if (gUnpack.readError != kStatusOk)
        return false;
    // remaining >= 0 after ReadOne's decrement: at least one byte was still
    // owed, so the current volume ended inside the entry's data. An empty
    // volume holds none of it and the data goes on in the volume after it,
    // so the switch repeats until a byte comes or a volume cannot be opened
    // (the numbers end at 999). Stopping at the empty volume would hand out
    // a filler in place of data and lose count of one owed byte: the entry
    // would never be wholly delivered, which is what ends the drain.
    while (!ReadOne(out)) {
        if (gUnpack.remaining < 0)
            return false;
        if (!OpenNextVolume()) {
            gUnpack.readError = kStatusVolumeMissing;
            return false;
        }
        gUnpack.remaining += 1;
    }
    gUnpack.consumed += 1;
    return true;
}

int ByteSource() {
    uint8_t byte = 0;
    if (NextDataByte(byte))
        return byte;
    return gUnpack.readError != kStatusOk ? -1 : 0;
}

namespace {

// The view offered to the inflater. In test builds that ask for the exact
// paths it offers nothing, so every byte comes through ByteSource.
uint32_t ViewOfChunk(const uint8_t **at) {
    if (!FastPathsAllowed())
        return 0;
    *at = gReader.cursor;
    return BufferedEntryBytes();
}

void TakeFromChunk(uint32_t n) { TakeBufferedBytes(n); }

void GiveBackToChunk(uint32_t n) { GiveBackBufferedBytes(n); }

// remaining counts down past zero with every call after the entry's data.
bool PastTheData() { return gUnpack.remaining < -4; }

}  // namespace

const InflateInput kEntryInput = {ByteSource, ViewOfChunk, TakeFromChunk, GiveBackToChunk, PastTheData};
