// Decoding one large Deflate or Deflate64 entry on several threads.
//
// A handle with more than one thread (qz_archive_set_threads) decodes a
// large entry's later parts ahead. The entry's compressed data is cut into
// stretches of equal size; stretch j (from 1 on) is decoded by whichever
// thread is free, from the first block start found in it to the first
// block boundary at or past the start of stretch j + 1, with the history
// before it unknown (inflate/stretch_decode.h). The reading thread decodes
// the entry in order as it always does, in the same slices, and asks its
// decoder to stop between blocks where the next stretch begins. Where it
// stops at the very block that stretch started at, it takes the stretch's
// output instead of decoding it again: the markers become the bytes of its
// own window, its CRC register moves on over the whole stretch (a combine
// with the stretch's own CRC), its window and counts move on as if it had
// decoded those bytes, and its reader passes over the stretch's input. A
// stretch that started at a false block start, failed, or would carry the
// output to the recorded size is passed over: the reading thread decodes
// that part itself. The bytes handed out, the slices they come in and the
// verdict are therefore those of one thread.
//
// Only entries that are not encrypted and whose data lies in one volume
// are decoded this way: decryption is a sequence by nature (each byte's key
// depends on all bytes before it), so an encrypted entry is read by one
// thread, as is one whose data runs on into further volumes.
//
// Memory: two slots per thread (a stretch being decoded while the one
// before it waits to be taken, resolved or handed out), each with the
// stretch's input (the stretch and a quarter again, to finish the block at
// its end), its output room (4 MiB: stretches are cut to decode to a third
// of that on the entry's average ratio; marked symbols take two bytes) and
// a 64 KiB symbol map; plus a 320 KiB decoder per thread: at most 8 MiB + n x 4 x 4 MiB.
#ifndef QZARC_ARCHIVE_PARALLEL_READ_H
#define QZARC_ARCHIVE_PARALLEL_READ_H

#include <cstdint>

struct ArchiveHandle;

// The compressed bytes read for a stretch of `stretch` bytes: the stretch
// and what follows it, to finish the block that crosses its end.
uint32_t StretchInputBytes(uint32_t stretch);

// Called once the entry's decoder is started: sets up the helpers when the
// handle has threads to spare and the entry is large enough to gain from
// them. Without memory or threads the entry is simply read by one thread.
void BeginParallel(ArchiveHandle &h);

// The next count bytes of the entry into out, as InflateSlice gives them
// to the handle's one-thread reading (fewer only when the stream ends or
// fails), with stretches taken where they fit.
uint32_t ParallelSlice(ArchiveHandle &h, uint8_t *out, uint32_t count);

// Stops the helpers and frees everything; the handle's decoder goes on
// alone. Nothing to do when no helpers are set up.
void EndParallel(ArchiveHandle &h);

// Leaves the current entry (what is left of it is not read), stopping its
// helpers.
void EndEntry(ArchiveHandle &h);

#if defined(QZARC_TEST_HOOKS)
// Test builds only: when not 0, the compressed bytes per stretch (instead
// of the size chosen by measurement), and entries of twice that size or
// more are decoded on several threads, so that tests can put the seams
// between stretches anywhere.
extern uint32_t gParallelStretchBytes;
// Test builds only: whether helpers are judged on what they pay. As built
// (kJudgedAsBuilt), they are not started for entries that shrink too little
// or too much, and are let go when taking their stretches costs too much;
// tests start them for every entry (kNeverJudged), and let them go as soon
// as a stretch has been handed out (kLetGoEarly).
enum class ParallelJudging { kJudgedAsBuilt, kNeverJudged, kLetGoEarly };
extern ParallelJudging gParallelJudging;
// Test builds only: when set, every read of a stretch's input fails (the
// stretches are then the reading thread's to decode).
extern bool gParallelInputFails;
// Test builds only: what became of the stretches of the entries read since
// it was last cleared, and where the threads' time went (nanoseconds), for
// the benchmark's account of the parallel path.
struct ParallelTally {
    uint64_t taken;          // decoded by a helper and taken
    uint64_t abandoned;      // the reading thread came to it while a helper was decoding it
    uint64_t waited;         // ... and waited for the helper to finish it
    uint64_t unstarted;      // the reading thread came to it before any helper had started it
    uint64_t passedOver;     // not taken, for whatever reason (the two above included)
    uint64_t helperDecodeNs;
    uint64_t helperResolveNs;
    uint64_t helperIdleNs;   // helpers waiting for work
    uint64_t readerResolveNs;
    uint64_t readerWaitNs;   // the reading thread waiting for a helper or a resolution
    uint64_t readerDecodeNs; // the reading thread decoding itself
    uint64_t readerTakeNs;   // taking and handing out, its resolving and waiting included
};
extern ParallelTally gParallelTally;
#endif

#endif // QZARC_ARCHIVE_PARALLEL_READ_H
