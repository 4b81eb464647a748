// The resumable inflater: turns one entry's Deflate (method 8) or Deflate64
// (method 9) stream into plain bytes, a caller-sized slice at a time.
//
// Each InflateSlice call delivers at most the requested number of bytes and
// stops there, even inside a block or a match; the next call carries on from
// that point. Input comes one byte per call from a byte source; output passes
// through the sliding window and, on its way to the caller, through the CRC
// register, and is counted so that FinishInflate can compare the result with
// the entry's record.
//
// All state is one process-wide InflateStream. Its status is not a field of
// its own: failures are recorded in gUnpack.status, the register the
// extraction call reads, so both always see the same verdict.
#ifndef QZARC_INFLATE_STREAM_H
#define QZARC_INFLATE_STREAM_H

#include <cstdint>

#include "code_table.h"

// Returns the next input byte (0..255), -1 once a needed volume has failed to
// open, or a filler once the entry's data is spent.
typedef int (*InflateSource)();

// InflateStream::flags
constexpr uint8_t kBlockKindMask = 0x03;  // 0 between blocks, else BTYPE + 1
constexpr uint8_t kBlockStored = 1;
constexpr uint8_t kBlockFixed = 2;
constexpr uint8_t kBlockDynamic = 3;
constexpr uint8_t kCopyPending = 0x10;    // a match was cut by the count; its rest comes first
constexpr uint8_t kBlockReady = 0x20;     // stored length read / code tables built
constexpr uint8_t kStreamStarted = 0x40;  // the first InflateSlice of this stream has run
constexpr uint8_t kFinalSeen = 0x80;      // the final block's header has been read
// What survives the end of a block.
constexpr uint8_t kStreamFlags = kStreamStarted | kFinalSeen;

// Status codes the inflater records in gUnpack.status.
constexpr int kInflateOk = 0;
constexpr int kInflateNoMemory = 1;
constexpr int kInflateBadMethod = 3;
constexpr int kInflateBadData = 5;
constexpr int kInflateUnfinished = 6;  // the final block's header was never read
constexpr int kInflateBadSize = 7;
constexpr int kInflateBadCrc = 8;

constexpr uint32_t kSmallWindow = 32768;  // Deflate
constexpr uint32_t kLargeWindow = 65536;  // Deflate64

struct InflateStream {
    uint8_t flags;
    InflateSource source;
    uint8_t *window;          // heap block, or null
    uint32_t windowCapacity;  // bytes allocated for window
    uint32_t windowSize;      // bytes of the window in use for the current method
    uint32_t windowPos;       // next write position; below windowSize between steps
    uint16_t flushStart;      // first produced byte not yet delivered
    uint8_t *outCursor;       // next write position in the caller's buffer
    uint32_t outputTotal;     // bytes delivered since StartInflate
    uint32_t bitBuffer;       // pending input bits, next bit in bit 0
    uint32_t bitCount;
    uint32_t storedLeft;      // bytes of the current stored block still to copy
    uint32_t copyLength;      // last literal/length value, then the rest of the match
    uint32_t copyFrom;        // window index of the next byte the match copies
    CodeTable literalTable;
    uint32_t literalBits;
    CodeTable distanceTable;
    uint32_t distanceBits;
    const uint16_t *lengthBase;   // length tables of the current method
    const uint16_t *lengthExtra;
};

extern InflateStream gInflate;

// Prepares a new stream. Returns 0, or 1 (status 1) when the window cannot
// be allocated. largeWindow must be set for Deflate64.
int StartInflate(bool largeWindow, InflateSource source);

// Decodes up to count (>= 1) bytes into out. Fewer than count means the final
// block has ended (status 0) or the stream failed (status set); every later
// call then returns 0 without pulling input.
uint32_t InflateSlice(uint8_t *out, uint32_t count);

// End check: 0, 6 (final block never reached), 8 (CRC differs) or 7 (size
// differs), also left in the status register. Always releases the stream.
int FinishInflate(uint32_t expectedCrc, uint32_t expectedSize);

// Frees the window and both code tables. Safe to repeat.
void ReleaseInflate();

// Delivers the window bytes produced since the last flush to outCursor,
// through the CRC register.
void FlushWindow();

// Stores one produced byte in the window; a full window is flushed and wraps.
void PutWindowByte(uint8_t byte);

// Makes at least n (<= 16) bits available in bitBuffer, pulling one source
// byte per call and only as many as needed.
void NeedBits(uint32_t n);

// Consumes n bits from bitBuffer.
inline void DropBits(uint32_t n) {
    gInflate.bitBuffer >>= n;
    gInflate.bitCount -= n;
}

// The decoder of a stored block; produces at most count bytes.
uint32_t StoredBlockSlice(uint32_t count);

#endif // QZARC_INFLATE_STREAM_H
