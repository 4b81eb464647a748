// Decoding a stretch of a Deflate or Deflate64 stream that starts in the
// middle, without the bytes that came before it.
//
// The stretch's compressed bytes are in memory. The decoder looks for a
// block start in the first part of them (block_search.h), decodes whole
// blocks from there and ends at the first block boundary at or past a
// given bit, or before the final block, which it leaves alone.
//
// A match may reach back before the stretch, into history it does not
// have. Until that can no longer happen, output is kept as 16-bit symbols:
// a value below 256 is a byte, and 256 + k stands for the byte k + 1
// places before the stretch, to be filled in by whoever holds that history
// (a marker; a match that copies a marker copies the marker). Deflate64's
// furthest 256 distances have no marker: a stretch that reaches that far
// back before its start fails. Once the
// last window's worth of output (32 KiB for Deflate, 64 KiB for Deflate64)
// holds no marker, no later match can reach one: the decoder puts those
// bytes in its window and goes on as the ordinary inflater, bytes out and
// CRC-32 alongside.
//
// Anything the decoder cannot vouch for fails the stretch: an invalid code,
// a block that does not end within the output room, input running out, a
// start that was not a block start after all. A stretch that fails is
// simply not used; the stream's own decoder decodes that part instead.
// When the whole blocks decoded before such a block reach past the
// stretch's middle, the stretch ends after them instead (text, whose
// symbols keep their markers to the end, may fill the room early).
#ifndef QZARC_INFLATE_STRETCH_DECODE_H
#define QZARC_INFLATE_STRETCH_DECODE_H

#include <atomic>
#include <cstdint>

#include "inflate/inflate_state.h"

// What another thread may see of a stretch's decoding, and say to it:
// how far it is (the compressed bytes passed, set at every block
// boundary), and that its result is no longer wanted (the decoding then
// fails at the next block boundary).
struct StretchWatch {
    std::atomic<uint32_t> progress;
    std::atomic<bool> cancelled;
};

struct StretchJob {
    const uint8_t *data;  // compressed bytes, from the stretch's first byte on
    uint32_t size;
    uint64_t searchEnd;   // block starts are looked for in bits [0, searchEnd)
    uint64_t stopBit;     // decoding ends at the first block boundary at or past it
    uint16_t method;      // kMethodDeflate or kMethodDeflate64
    uint8_t *output;      // room for the result (2 bytes per symbol, 1 per byte)
    uint32_t outputSize;
    // Where a block starts, when known (the stretch before it ended
    // there), tried before any search; kNoBlockStart when not known.
    uint64_t knownStart;
    // Another thread's view of the decoding, or null.
    StretchWatch *watch;
};

struct StretchResult {
    bool ok;
    uint64_t startBit;    // where the first block's header is (bits from data[0])
    bool startsStored;    // the first block is a stored one (see StoredLengthByte)
    uint64_t endBit;      // the block boundary where decoding ended
    bool finalNext;       // the final block starts at endBit
    // The output: markedCount symbols at the start of output (as uint16_t),
    // then byteCount bytes right after them, whose CRC-32 value is bytesCrc.
    uint32_t markedCount;
    uint32_t byteCount;
    uint32_t bytesCrc;
};

// Decodes the job's stretch with st (any stream state; it is started
// afresh, its window and table blocks are kept for the next stretch when
// st.keepWindow is set). Returns result.ok; at most a few candidate starts
// are tried. ReleaseInflate frees what st holds.
bool DecodeStretch(InflateStream &st, const StretchJob &job, StretchResult &result);

// Where the marked symbols of a result are, and the bytes after them.
inline uint16_t *StretchSymbols(const StretchJob &job) { return reinterpret_cast<uint16_t *>(job.output); }

#endif // QZARC_INFLATE_STRETCH_DECODE_H
