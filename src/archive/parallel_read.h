// Decoding one large Deflate or Deflate64 entry on several threads.
//
// A handle with more than one thread (qz_archive_set_threads) decodes a
// large entry's later parts ahead: helper threads each take a stretch of
// the compressed data, find where a block starts in it, and decode from
// there without the bytes before it, recording every reference into that
// unknown history as a marker. The reading thread decodes the entry in
// order as it always does, and wherever it reaches the very block a helper
// started at, it takes that helper's output instead of decoding it again:
// the markers become the bytes its own window holds, the CRC register and
// the counts move on over the whole stretch, and its decoder carries on
// from where the helper stopped. A helper that started at a false block
// start, or met anything it could not decode, is simply never taken: the
// reading thread decodes that stretch itself. The bytes handed out and
// the verdict are therefore those of one thread.
#ifndef QZARC_ARCHIVE_PARALLEL_READ_H
#define QZARC_ARCHIVE_PARALLEL_READ_H

#include <cstdint>

#if defined(QZARC_TEST_HOOKS)
// Test builds only: when not 0, the compressed bytes per stretch (instead
// of the size chosen by measurement), and entries of twice that or more
// are decoded on several threads, so that tests can put the seams between
// stretches anywhere.
extern uint32_t gParallelStretchBytes;
#endif

#endif // QZARC_ARCHIVE_PARALLEL_READ_H
