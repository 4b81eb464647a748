// The resumable inflater: turns one entry's Deflate (method 8) or Deflate64
// (method 9) stream into plain bytes, a caller-sized slice at a time.
//
// Each InflateSlice call delivers at most the requested number of bytes and
// stops there, even inside a block or a match; the next call carries on from
// that point. Input comes through the InflateInput the stream was started
// with (inflate_input.h); output passes through the sliding window and, on
// its way to the caller, through the CRC register, and is counted so that
// FinishInflate can compare the result with the entry's record.
//
// All state is one InflateStream (inflate_state.h) that the caller owns and
// passes to every call: streams in different states are independent, and
// may run on different threads. Failures are recorded in its status, which
// the caller reads after each call.
#ifndef QZARC_INFLATE_STREAM_H
#define QZARC_INFLATE_STREAM_H

#include <cstdint>

#include "inflate/inflate_input.h"
#include "inflate/inflate_state.h"

// Prepares a new stream for kMethodDeflate or kMethodDeflate64 (another
// method fails the first slice with kStatusBadMethod). Returns kStatusOk, or
// kStatusNoMemory (also the status) when the window cannot be allocated.
// largeWindow must be set for Deflate64.
UnpackStatus StartInflate(InflateStream &st, bool largeWindow, uint16_t method, const InflateInput &input);

// Decodes up to count (>= 1) bytes into out. Fewer than count means the final
// block has ended (status kStatusOk) or the stream failed (status set); every later
// call then returns 0 without pulling input.
uint32_t InflateSlice(InflateStream &st, uint8_t *out, uint32_t count);

// End check: kStatusOk, kStatusUnfinished (final block never reached),
// kStatusBadCrc or kStatusBadSize, also left in status. Always releases the
// stream's tables, and its window unless keepWindow is set.
UnpackStatus FinishInflate(InflateStream &st, uint32_t expectedCrc, uint32_t expectedSize);

// The bits of input the stream has consumed (its reader must count them:
// InflateInput::position). Exact between blocks and between slices.
uint64_t ConsumedBits(const InflateStream &st);

// Points the length and distance tables at the stream's method; false for
// a method the stream cannot decode.
bool SelectMethodTables(InflateStream &st);

// Frees the window, both code tables and their kept blocks. Safe to repeat.
void ReleaseInflate(InflateStream &st);

// The inflater's status: kStatusOk, or the code of its failure.
inline UnpackStatus InflateStatus(InflateStream &st) { return st.status; }

#endif // QZARC_INFLATE_STREAM_H
