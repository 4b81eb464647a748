// The archive byte source: entry data read from the open volume in chunks of
// the entry's slice size (s.slice), decrypted in place when the entry is encrypted, and handed
// out one byte at a time, exactly compressedSize bytes per entry.
#ifndef QZARC_ARCHIVE_ARCHIVE_READER_H
#define QZARC_ARCHIVE_ARCHIVE_READER_H

#include <cstdint>

#include "archive/unpack_state.h"
#include "inflate/inflate_input.h"


void ResetReader(UnpackState &s);

// Makes block (kReadBufferSize bytes, or null for none) the read buffer, with
// no chunk in it, and returns the buffer it replaces for its owner to free.
uint8_t *SwapReadBuffer(UnpackState &s, uint8_t *block);

// The next data byte from the current volume only; false once the entry's
// compressed bytes are spent or the volume has nothing more to give.
bool ReadOne(UnpackState &s, uint8_t &out);

// The next data byte, following the volume chain: when the current volume
// ends while the entry still owes bytes, the next volume is opened (and
// passed over when it is empty, until one holds a byte). False
// when the entry's bytes are spent or a needed volume cannot be opened
// (readError is then kStatusVolumeMissing).
bool NextDataByte(UnpackState &s, uint8_t &out);

// The inflater's input: the next data byte (0-255), -1 once a needed volume
// has failed to open, and 0 as a filler when asked past the entry's data.
int ByteSource(UnpackState &s);

// ByteSource with the view of the read chunk (inflate_input.h): the entry's
// bytes the chunk still holds, taken and given back with every count
// (delivered, consumed, remaining) kept as ByteSource would keep it; and the
// overrun query, true once remaining has fallen below -4.
InflateInput EntryInput(UnpackState &s);

// Passes over the entry's next n bytes, as n calls of ByteSource would,
// within the current volume: the caller knows that they all lie in it, and
// that the entry is not encrypted (the keystream is not advanced). False
// when the volume cannot seek (nothing is then passed over).
bool SkipEntryBytes(UnpackState &s, uint32_t n);

// Bulk access for the copy and decode loops. While a chunk still holds bytes
// of the entry and no volume has failed, handing out a byte is only pointer
// and counter arithmetic: these let a loop take a run of such bytes at once,
// with exactly the effect of as many ByteSource (or NextDataByte) calls. The
// calls that have to read a chunk, switch volumes or give fillers are left to
// the byte-at-a-time functions above.

// How many of the entry's bytes can be taken from the current chunk now.
inline uint32_t BufferedEntryBytes(UnpackState &s) {
    if (s.readError != kStatusOk || s.reader.left <= 0 || s.remaining <= 0)
        return 0;
    return s.remaining < s.reader.left ? uint32_t(s.remaining) : uint32_t(s.reader.left);
}

// Takes n <= BufferedEntryBytes(s) bytes, which start at s.reader.cursor.
inline void TakeBufferedBytes(UnpackState &s, uint32_t n) {
    s.reader.cursor += n;
    s.reader.left -= int32_t(n);
    s.reader.delivered += n;
    s.remaining -= n;
    s.consumed += n;
}

// Undoes the last n bytes taken from the current chunk.
inline void GiveBackBufferedBytes(UnpackState &s, uint32_t n) {
    s.reader.cursor -= n;
    s.reader.left += int32_t(n);
    s.reader.delivered -= n;
    s.remaining += n;
    s.consumed -= n;
}

#if defined(QZARC_TEST_HOOKS)
// Test builds only: when set, every loop takes its input one byte at a time
// through the functions above, so that tests can compare the bulk and
// decode fast paths with the plain ones.
extern bool gExactPathsOnly;
inline bool FastPathsAllowed() { return !gExactPathsOnly; }
// Test builds only: when set, called after every InflateSlice call of the
// extraction loop and its drain, so that tests can trace each slice.
extern void (*gAfterSlice)(uint32_t count, uint32_t produced);
inline void AfterSlice(uint32_t count, uint32_t produced) {
    if (gAfterSlice != nullptr)
        gAfterSlice(count, produced);
}
#else
inline bool FastPathsAllowed() { return true; }
inline void AfterSlice(uint32_t, uint32_t) {}
#endif

#endif // QZARC_ARCHIVE_ARCHIVE_READER_H
