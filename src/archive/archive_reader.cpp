#include "archive/archive_reader.h"

#include "archive/unpack_state.h"
#include "archive/volumes.h"
#include "crypto/cipher.h"

#if defined(QZARC_TEST_HOOKS)
bool gExactPathsOnly = false;
void (*gAfterSlice)(uint32_t count, uint32_t produced) = nullptr;
#endif

void ResetReader(UnpackState &s) {
    s.reader.cursor = nullptr;
    s.reader.left = 0;
}

uint8_t *SwapReadBuffer(UnpackState &s, uint8_t *block) {
    uint8_t *old = s.reader.readBuffer;
    s.reader.readBuffer = block;
    s.reader.cursor = block;
    s.reader.left = 0;
    return old;
}

bool ReadOne(UnpackState &s, uint8_t &out) {
    int64_t owed = s.remaining;
    s.remaining -= 1;
    if (owed <= 0)
        return false;

    if (s.reader.left == 0) {
        if (s.reader.readBuffer == nullptr || !IsOpenHandle(s.archive))
            return false;
        DWORD got = 0;
        if (!ReadFile(s.archive, s.reader.readBuffer, s.slice, &got, nullptr) || got == 0)
            return false;
        // The whole chunk is decrypted at once, including any bytes beyond the
        // entry's data; those are never handed out (the next record is read
        // afresh after a seek).
        if (s.encrypted)
            DecryptBlock(s.keys, s.reader.readBuffer, got);
        s.reader.cursor = s.reader.readBuffer;
        s.reader.left = static_cast<int32_t>(got);
    }

    out = *s.reader.cursor++;
    s.reader.left -= 1;
    s.reader.delivered += 1;
    return true;
}

bool NextDataByte(UnpackState &s, uint8_t &out) {
    if (s.readError != kStatusOk)
        return false;
    // remaining >= 0 after ReadOne's decrement: at least one byte was still
    // owed, so the current volume ended inside the entry's data. An empty
    // volume holds none of it and the data goes on in the volume after it,
    // so the switch repeats until a byte comes or a volume cannot be opened
    // (the numbers end at 999). Stopping at the empty volume would hand out
    // a filler in place of data and lose count of one owed byte: the entry
    // would never be wholly delivered, which is what ends the drain.
    while (!ReadOne(s, out)) {
        if (s.remaining < 0)
            return false;
        if (!OpenNextVolume(s)) {
            s.readError = kStatusVolumeMissing;
            return false;
        }
        s.remaining += 1;
    }
    s.consumed += 1;
    return true;
}

int ByteSource(UnpackState &s) {
    uint8_t byte = 0;
    if (NextDataByte(s, byte))
        return byte;
    return s.readError != kStatusOk ? -1 : 0;
}

namespace {

UnpackState &Owner(void *context) { return *static_cast<UnpackState *>(context); }

int NextByteOf(void *context) { return ByteSource(Owner(context)); }

// The view offered to the inflater. In test builds that ask for the exact
// paths it offers nothing, so every byte comes through ByteSource.
uint32_t ViewOfChunk(void *context, const uint8_t **at) {
    if (!FastPathsAllowed())
        return 0;
    UnpackState &s = Owner(context);
    *at = s.reader.cursor;
    return BufferedEntryBytes(s);
}

void TakeFromChunk(void *context, uint32_t n) { TakeBufferedBytes(Owner(context), n); }

void GiveBackToChunk(void *context, uint32_t n) { GiveBackBufferedBytes(Owner(context), n); }

// remaining counts down past zero with every call after the entry's data.
bool PastTheData(void *context) { return Owner(context).remaining < -4; }

uint64_t DataTaken(void *context) { return Owner(context).consumed; }

}  // namespace

InflateInput EntryInput(UnpackState &s) {
    return InflateInput{NextByteOf, ViewOfChunk, TakeFromChunk, GiveBackToChunk, PastTheData, DataTaken, &s};
}

bool SkipEntryBytes(UnpackState &s, uint32_t n) {
    const uint32_t buffered = BufferedEntryBytes(s);
    if (n <= buffered) {
        TakeBufferedBytes(s, n);
        return true;
    }
    if (!SeekArchiveBy(s, int64_t(n) - int64_t(s.reader.left)))
        return false;
    ResetReader(s);
    s.reader.delivered += n;
    s.remaining -= n;
    s.consumed += n;
    return true;
}
