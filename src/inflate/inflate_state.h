// The inflater's state, one per stream being decoded (its owner passes it
// to every call), and the codes and flags every part of it shares. Each part reads and writes the fields of its own
// concern: the bit input bitBuffer and bitCount, the block decoders the
// window, the copy state and the table slots, the stream driver the flags
// and the counters. status is the inflater's verdict register (in the
// vocabulary of common/unpack_status.h); the caller reads it after each call.
#ifndef QZARC_INFLATE_STATE_H
#define QZARC_INFLATE_STATE_H

#include <cstdint>

#include "common/methods.h"
#include "common/unpack_status.h"
#include "inflate/inflate_input.h"

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

// How far back a match may reach: the history the window keeps.
constexpr uint32_t kSmallWindow = 32768;  // Deflate
constexpr uint32_t kLargeWindow = 65536;  // Deflate64
// The window's block holds the history, then an area four times its size
// where output is produced (see window.h), then slack: a short match copy
// writes whole words and may run up to 29 bytes past its end. The larger
// the area, the less often the history moves: at four times, a quarter of
// the output is copied once more.
constexpr uint32_t kWindowAreaFactor = 4;
constexpr uint32_t kWindowSlack = 32;

// A code table is one heap block of 32-bit entries (code_table.h): the
// main table, indexed by the next `lookupBits` input bits, and its
// sub-tables; then a byte per entry.
struct CodeTable {
    uint32_t *entries;    // null: no table (none built, or a code set with no codes)
    uint32_t bits;        // root width of the byte-at-a-time rule: what a lookup asks first
    uint32_t lookupBits;  // width of the main table, at least `bits`
    // A stream that keeps its window (keepWindow) keeps its tables' block
    // too: the largest one built so far, which later tables reuse.
    uint32_t *block;
    uint32_t capacity;    // entries the block holds (and as many bytes after them)
    uint8_t *aheads;      // per leaf: how far beyond its code the byte-at-a-time rule asked
};

struct InflateStream {
    // kStatusOk, or the failure: kStatusNoMemory, kStatusBadMethod or
    // kStatusBadData while slicing, kStatusUnfinished, kStatusBadCrc or
    // kStatusBadSize from the end check.
    UnpackStatus status;
    uint8_t flags;
    uint16_t method;          // kMethodDeflate or kMethodDeflate64 (anything else fails the first slice)
    InflateInput input;
    // Bytes taken from the reader's view and not yet consumed: held only
    // while a slice runs, and given back before it returns.
    const uint8_t *viewAt;
    uint32_t viewLeft;
    uint8_t *window;          // heap block, or null
    uint32_t windowCapacity;  // history kept (32768 or 65536): the furthest a match reaches
    uint32_t windowLimit;     // where the history slides back to the front (window.h)
    uint32_t windowPos;       // next write position, windowCapacity..windowLimit - 1 between steps
    uint32_t flushStart;      // first produced byte not yet delivered
    uint8_t *outCursor;       // next write position in the caller's buffer
    uint32_t outputTotal;     // bytes delivered since StartInflate
    uint32_t bitBuffer;       // pending input bits, next bit in bit 0
    uint32_t bitCount;
    uint32_t storedLeft;      // bytes of the current stored block still to copy
    uint32_t copyLength;      // last literal/length value, then the rest of the match
    uint32_t copyFrom;        // window index of the next byte the match copies, below windowPos
    CodeTable literals;
    CodeTable distances;
    bool distancesComplete;   // every distance pattern of the block decodes
    const uint16_t *lengthBase;   // length and distance tables of the method
    const uint16_t *lengthExtra;
    const uint16_t *distanceBase;
    uint32_t crc;             // CRC-32 register of the bytes delivered (crc32.h)
    // Set by an owner that decodes stream after stream: the end check then
    // keeps the window for the next stream of the same size, and the code
    // tables reuse the largest block built so far, so that only
    // ReleaseInflate gives them back.
    bool keepWindow;
    // The history in front of the output area (window[0, capacity)) holds
    // a slid stream's bytes, not zeros: the next stream on a kept window
    // zeroes it again. Streams that never slide leave it as they found it.
    bool historyDirty;
    // An owner that wants to take over between blocks sets stopBit: a slice
    // then returns early, with stopped set, when it is between blocks and
    // the stream has consumed at least that many bits (the final block's
    // end excepted). kNoStop (StartInflate's setting) never stops.
    uint64_t stopBit;
    bool stopped;
    // Set when the last slice failed on an invalid block type: such a
    // failure voids the whole call, which returns 0 whatever the blocks
    // before it in the same call gave (their bytes are delivered and
    // counted all the same). An owner that splits one call into several
    // (stopBit) voids the rest of the call likewise.
    bool callVoided;
};

constexpr uint64_t kNoStop = ~uint64_t(0);


#endif // QZARC_INFLATE_STATE_H
