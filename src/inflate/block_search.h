// Finding where a block may start in the middle of a Deflate or Deflate64
// stream, for a decoder that begins there without what came before.
//
// Nothing marks a block boundary: a block starts at any bit, right after
// the previous block's end-of-block code. The search therefore reads a
// block header at every bit position and keeps the first one that holds up:
//   - a dynamic block (BFINAL 0, BTYPE 2) whose literal/length count is at
//     most 286 (and distance count at most 30, or 32 for Deflate64), whose
//     code-length code and literal/length code are complete, whose
//     end-of-block symbol has a code, whose code lengths are described
//     without a repeat running past their end, and whose distance code is
//     complete, a single code, or empty;
//   - a stored block (BFINAL 0, BTYPE 0) whose padding bits are zero and
//     whose LEN and NLEN are each other's complement. This is also how a
//     sync-flush point looks (an empty stored block), so streams made with
//     them are found at those points at once.
// Fixed-code blocks cannot be told from noise and are never reported. A
// position found is only a candidate: the decoder started there confirms
// it, or the stream's own decoder reaching it does.
#ifndef QZARC_INFLATE_BLOCK_SEARCH_H
#define QZARC_INFLATE_BLOCK_SEARCH_H

#include <cstdint>

constexpr uint64_t kNoBlockStart = ~uint64_t(0);

// The first bit position p, from <= p < to, at which the bytes
// data[0, size) hold a header that passes; kNoBlockStart if none does. Bits
// past the data read as zeros, and a header that needs them fails.
uint64_t FindBlockStart(const uint8_t *data, uint32_t size, uint64_t from, uint64_t to, bool deflate64);

// For a stored block whose header was found at bit p: the byte where its
// LEN lies. A stored block's header may sit at any of several bits before
// that byte (the padding after it is what differs), and every one of them
// starts the same block.
inline uint64_t StoredLengthByte(uint64_t p) { return (p + 3 + 7) / 8; }

#endif // QZARC_INFLATE_BLOCK_SEARCH_H
