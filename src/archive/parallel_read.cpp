#include "archive/parallel_read.h"

#include <atomic>
#include <cstring>

#include "archive/archive_reader.h"
#include "archive/handle_state.h"
#include "crypto/crc32.h"
#include "inflate/bit_input.h"
#include "inflate/block_search.h"
#include "inflate/inflate_stream.h"
#include "inflate/marker_resolve.h"
#include "inflate/stretch_decode.h"
#include "inflate/window.h"
#include "platform/threads.h"


#if defined(QZARC_TEST_HOOKS)
uint32_t gParallelStretchBytes = 0;
ParallelJudging gParallelJudging = ParallelJudging::kJudgedAsBuilt;
bool gParallelInputFails = false;
ParallelTally gParallelTally = {};
#define TALLY(field, n) (gParallelTally.field += (n))
#define TALLY_CLOCK() ClockTicks()
#else
// The count is still evaluated (to nothing): the clock readings it uses
// are then not left unused.
#define TALLY(field, n) ((void)(n))
#define TALLY_CLOCK() uint64_t(0)
#endif

namespace {

// A stretch's output room (the chunk size of the memory bound). Stretches
// are cut to decode to a third of it on the entry's average ratio: large
// enough that the part decoded with markers, the search for a start and the
// hand-over are small beside it, small enough that the threads are busy
// early in an entry of a few tens of MiB. The rest is for marked symbols,
// which take two bytes each, and for stretches that shrank more than the
// entry as a whole: a stretch whose output does not fit ends early, and the
// reading thread decodes the rest of it. Measured on 2 cores with binary
// entries of 64 MiB (about 3:1), with room for twice the aim instead of
// three times, the entry took 1.07 to 1.17 times as long.
constexpr uint32_t kStretchRoom = uint32_t(4) << 20;
constexpr uint32_t kStretchAim = kStretchRoom / 3;
// Compressed bytes per stretch, whatever the entry's ratio.
constexpr uint32_t kLeastStretch = uint32_t(64) << 10;
// Stretches an entry must have for helpers to pay: below, the time to
// reach the first one is most of the entry.
constexpr uint32_t kLeastStretches = 3;
// The last stretch ends this far before the data's end at least, so that
// the reading thread never stops where the input's end is in reach.
constexpr uint32_t kTailBytes = 64;
// Helpers are let go once the output tells that taking their stretches
// costs the reading thread more than kMostTakingCost of what decoding them
// itself does, per byte. Taking is the symbol map, the window, filling in
// the markers as the stretch is handed out, and the plain bytes' copy (not
// the waits for helpers worth waiting for). Measured on 2 cores, entries
// of 64 MiB: taking cost 0.2 to 0.25 of decoding on binary data (the
// entries then took 0.67 to 0.74 times as long as on one thread), 0.45 on
// text (0.8 to 0.9 times). Judged early, on the first few stretches, the
// cost varies too much for a tighter bound.
constexpr uint32_t kJudgedAfter = uint32_t(8) << 20;
constexpr double kMostTakingCost = 0.9;
// Helpers are not started for entries whose data is nearly all stored
// blocks (a copy, far quicker than any taking), nor for those that shrink
// more than 7:1 (long matches decode cheaply and carry their markers
// along: a 64 MiB log file at 10:1 took 1.08 to 1.11 times as long with a
// helper as without), or, in Deflate64, more than 4.2:1: its 64 KiB window
// lets text's markers reach twice as far, and taking a stretch cost 0.7 of
// decoding it (text at 6:1 took 0.93 to 1.08 times as long). Compression
// ratios times 100; on 2 cores, entries of 64 MiB took, against one
// thread: binary data at 3:1 0.67 to 0.74 times as long, text at 5.5:1 in
// Deflate 0.76 to 0.9 times, stored data 1.7 times.
constexpr uint64_t kLeastRatio100 = 110;
constexpr uint64_t kMostRatio100 = 700;
constexpr uint64_t kMostRatio100Deflate64 = 420;

// A slot's stretch goes through these states in order; kFree again once it
// is handed out or passed over.
enum class SlotState : uint8_t {
    kFree,
    kQueued,     // input read, to be decoded
    kDecoding,
    kDecoded,    // result ready for the reading thread
    kTaken,      // taken: its markers are to be resolved through `map`
    kResolving,
    kResolved,   // output all bytes; resolvedCrc is the marked part's CRC-32
};

struct Slot {
    SlotState state;
    uint64_t index;        // stretch number: the stretch starts at index x stretchBytes
    uint8_t *input;
    uint32_t inputSize;
    bool inputPending;     // to be read by the helper that decodes it
    uint8_t *output;
    // Once taken, what each symbol stands for: a byte below 256 itself, a
    // marker 256 + k the byte k + 1 places before the stretch.
    uint8_t *map;
    StretchJob job;
    StretchResult result;
    uint32_t resolvedCrc;
    uint32_t crcMark;      // the decoder's outputTotal after the marked part
    bool abandoned;        // passed over while a helper was decoding it
    StretchWatch watch;    // the helper's progress, and the reading thread's cancelling
};

} // namespace

struct ParallelEntry;

// What a helper thread is started with: its entry and its decoder.
struct Helper {
    ParallelEntry *p;
    uint32_t decoder;
};

struct ParallelEntry {
    ThreadLock lock;
    bool quit;
    uint32_t slotCount;
    Slot slots[2 * kMostDecodeThreads];
    uint32_t helperCount;
    uint32_t idleHelpers;  // helpers waiting for work
    ThreadRef threads[kMostDecodeThreads];
    Helper helperArguments[kMostDecodeThreads];
    // One decoder per helper, and the last for the reading thread.
    InflateStream decoders[kMostDecodeThreads];

    uint32_t stretchBytes;
    uint32_t inputCapacity;
    uint32_t outputCapacity;
    uint64_t lastStretch;  // stretches 1..lastStretch
    uint64_t expected;     // the next stretch the reading thread may take
    uint64_t dataStart;    // the data's offset in its volume
    HANDLE file;           // the volume, for helpers' reads (ReadFileAt)
    bool active;           // stretches may still be taken
    uint32_t leave;        // queued stretches helpers leave to the reading thread

    // Stretches taken and not yet handed out, in order: [firstTaken,
    // expected) minus those passed over, which are free.
    uint64_t firstTaken;
    // How the head's marked part is handed out: not yet decided
    // (kUnclaimed), copied from its slot where a thread has resolved it
    // there, or resolved by the reading thread straight into the caller's
    // buffer as it goes (one pass over the symbols instead of two), its
    // CRC-32 register `headCrc` running along.
    enum class Head : uint8_t { kUnclaimed, kCopied, kResolvedOut } head;
    uint32_t headCrc;
    bool crcAdded;         // the head's marked part is in the CRC register
    uint32_t handedOut;    // bytes of the head handed out
    uint8_t *tail;         // the last window of a stretch, resolved (kLargeWindow)

    // The reading thread's time (clock ticks) taking and handing out
    // stretches, and decoding itself, and the bytes each gave; of the
    // taking, the time spent waiting for helpers worth waiting for (which
    // costs less than decoding those stretches would have: not held
    // against taking).
    uint64_t takingTicks;
    uint64_t waitingTicks;
    uint64_t takingBytes;
    uint64_t decodingTicks;
    uint64_t decodingBytes;
    // The helpers' time decoding the stretches they finished, and how many
    // decoded and how many failed (not counting those the reading thread
    // cancelled), lock held.
    uint64_t helperTicks;
    uint64_t helperStretches;
    uint64_t helperGood;
    uint64_t helperFailed;
};

namespace {

Slot &SlotOf(ParallelEntry &p, uint64_t index) { return p.slots[(index - 1) % p.slotCount]; }

// Symbols resolved, and then added to the CRC, at a time: small enough
// that the bytes are still in the cache when the CRC reads them.
constexpr uint32_t kResolvePiece = uint32_t(64) << 10;

// Resolves a taken stretch's markers in place through its symbol map, and
// the CRC-32 of the marked part.
void Resolve(Slot &slot) {
    const uint16_t *symbols = reinterpret_cast<const uint16_t *>(slot.output);
    uint8_t *bytes = slot.output;
    const uint32_t n = slot.result.markedCount;
    uint32_t reg;
    CrcReset(reg);
    for (uint32_t i = 0; i < n;) {
        const uint32_t end = n - i > kResolvePiece ? i + kResolvePiece : n;
        ResolveSymbols(symbols, bytes, slot.map, i, end);
        CrcUpdate(reg, bytes + i, end - i);
        i = end;
    }
    slot.resolvedCrc = CrcValue(reg);
}

// Reads a stretch's input on the thread about to decode it, beside the
// reading thread's own reads. A stretch whose input cannot be read fails
// (the reading thread then decodes that part itself and meets whatever
// the trouble is).
bool ReadInput(ParallelEntry &p, Slot &slot) {
    slot.inputPending = false;
#if defined(QZARC_TEST_HOOKS)
    if (gParallelInputFails)
        return false;
#endif
    return ReadFileAt(p.file, slot.input, slot.inputSize, p.dataStart + slot.index * p.stretchBytes);
}

// Where the stretch's first block starts, lock held, when the stretch
// before it was decoded and ended past the stretch's own start: there, at
// the first block boundary past it (the search would look for that block).
uint64_t KnownStart(ParallelEntry &p, const Slot &slot) {
    if (slot.index < 2)
        return kNoBlockStart;
    // A free slot is being filled by the reading thread, unlocked: its
    // state is looked at first.
    const Slot &before = SlotOf(p, slot.index - 1);
    if (before.state < SlotState::kDecoded || before.index != slot.index - 1 || !before.result.ok ||
        before.result.finalNext)
        return kNoBlockStart;
    const uint64_t end = (slot.index - 1) * p.stretchBytes * 8 + before.result.endBit;
    const uint64_t origin = slot.index * p.stretchBytes * 8;
    return end >= origin ? end - origin : kNoBlockStart;
}

// The work a thread does next, lock held: resolving a taken stretch (the
// reading thread hands those out in order), else, for a helper, decoding
// a queued stretch. The reading thread decodes the lowest queued ones
// itself as it comes to them, in order and faster than a helper can
// without the history: helpers leave it `leave` of them (more each time it
// had to wait for a helper) while there are others. False when there is
// nothing to do.
bool WorkOnce(ParallelEntry &p, InflateStream &decoder, bool helper) {
    Slot *best = nullptr;
    uint64_t lowest = UINT64_MAX;
    for (uint32_t i = 0; i < p.slotCount; ++i) {
        Slot &slot = p.slots[i];
        if (slot.state == SlotState::kTaken && (best == nullptr || slot.index < best->index))
            best = &slot;
        else if (slot.state == SlotState::kQueued && slot.index < lowest)
            lowest = slot.index;
    }
    if (best == nullptr && helper && lowest != UINT64_MAX) {
        Slot *furthest = nullptr;
        for (uint32_t i = 0; i < p.slotCount; ++i) {
            Slot &slot = p.slots[i];
            if (slot.state != SlotState::kQueued)
                continue;
            if (slot.index >= lowest + p.leave && (best == nullptr || slot.index < best->index))
                best = &slot;
            if (furthest == nullptr || slot.index > furthest->index)
                furthest = &slot;
        }
        if (best == nullptr)
            best = furthest;
    }
    if (best == nullptr)
        return false;
    const bool resolve = best->state == SlotState::kTaken;
    if (!resolve)
        best->job.knownStart = KnownStart(p, *best);
    best->state = resolve ? SlotState::kResolving : SlotState::kDecoding;
    Unlock(p.lock);
    const uint64_t start = ClockTicks();
    if (resolve)
        Resolve(*best);
    else if (best->inputPending && !ReadInput(p, *best))
        best->result = StretchResult{};
    else
        DecodeStretch(decoder, best->job, best->result);
    const uint64_t spent = ClockTicks() - start;
    Lock(p.lock);
    if (!helper) {
        TALLY(readerResolveNs, spent);
    } else if (resolve) {
        TALLY(helperResolveNs, spent);
    } else {
        TALLY(helperDecodeNs, spent);
        p.helperTicks += spent;
        p.helperStretches += 1;
        if (best->result.ok)
            p.helperGood += 1;
        else if (!best->watch.cancelled.load(std::memory_order_relaxed))
            p.helperFailed += 1;
    }
    best->state = resolve ? SlotState::kResolved : SlotState::kDecoded;
    SignalChange(p.lock);
    return true;
}

void HelperMain(void *argument) {
    Helper *helper = static_cast<Helper *>(argument);
    ParallelEntry &p = *helper->p;
    InflateStream &decoder = p.decoders[helper->decoder];
    Lock(p.lock);
    while (!p.quit) {
        if (!WorkOnce(p, decoder, true)) {
            const uint64_t start = TALLY_CLOCK();
            ++p.idleHelpers;
            WaitForChange(p.lock);
            --p.idleHelpers;
            TALLY(helperIdleNs, TALLY_CLOCK() - start);
        }
    }
    Unlock(p.lock);
}

// Waits until the slot has reached `state`, resolving taken stretches
// meanwhile.
void AwaitState(ParallelEntry &p, Slot &slot, SlotState state) {
    Lock(p.lock);
    while (slot.state < state) {
        if (!WorkOnce(p, p.decoders[p.helperCount], false)) {
            const uint64_t start = TALLY_CLOCK();
            WaitForChange(p.lock);
            TALLY(readerWaitNs, TALLY_CLOCK() - start);
        }
    }
    Unlock(p.lock);
}

void SetState(ParallelEntry &p, Slot &slot, SlotState state) {
    Lock(p.lock);
    slot.state = state;
    SignalChange(p.lock);
    Unlock(p.lock);
}

// Queues stretch `index` in its slot. Its input is read by the helper that
// decodes it where the platform reads at an offset beside the reading
// thread, else here, by the reading thread, which owns the archive file; a
// stretch whose input cannot be read is queued as failed (it is then never
// taken).
void Fill(ArchiveHandle &h, ParallelEntry &p, uint64_t index) {
    UnpackState &s = h.core;
    Slot &slot = SlotOf(p, index);
    const uint64_t origin = index * p.stretchBytes;
    uint64_t size = p.inputCapacity;
    if (origin + size > s.compressedSize)
        size = s.compressedSize - origin;
    slot.index = index;
    slot.inputSize = uint32_t(size);
    slot.watch.progress.store(0, std::memory_order_relaxed);
    slot.watch.cancelled.store(false, std::memory_order_relaxed);
    slot.job = StretchJob{slot.input,   uint32_t(size), uint64_t(p.stretchBytes) * 8, uint64_t(p.stretchBytes) * 8,
                          s.method,     slot.output,    p.outputCapacity,             kNoBlockStart,
                          &slot.watch};
    slot.result = StretchResult{};
    slot.inputPending = kReadsAtOffset;
    if (kReadsAtOffset) {
        SetState(p, slot, SlotState::kQueued);
        return;
    }
    const uint64_t back = ArchivePosition(s);
    bool failed = false;
    bool read = back != UINT64_MAX && SeekArchive(s, p.dataStart + origin) &&
                ReadArchiveExact(s, slot.input, uint32_t(size), &failed);
#if defined(QZARC_TEST_HOOKS)
    read = read && !gParallelInputFails;
#endif
    // The reader goes on from where it was; if it cannot, the stretch is
    // of no use anyway and the reader's own next read reports the trouble.
    if (back != UINT64_MAX)
        SeekArchive(s, back);
    SetState(p, slot, read ? SlotState::kQueued : SlotState::kDecoded);
}

// Frees the slot of a stretch handed out or passed over, for the stretch
// that takes its place in the ring.
void Release(ArchiveHandle &h, ParallelEntry &p, Slot &slot) {
    // The slot's next stretch in the ring, skipping those already passed.
    uint64_t next = slot.index + p.slotCount;
    if (next < p.expected)
        next += (p.expected - next + p.slotCount - 1) / p.slotCount * p.slotCount;
    SetState(p, slot, SlotState::kFree);
    if (next <= p.lastStretch && p.active)
        Fill(h, p, next);
}

// Passes over the expected stretch; its slot is let go too when `release`
// (not while a helper is still decoding into it).
void PassOver(ArchiveHandle &h, ParallelEntry &p, bool release) {
    Slot &slot = SlotOf(p, p.expected);
    TALLY(passedOver, 1);
    ++p.expected;
    if (p.expected > p.lastStretch)
        p.active = false;
    // Nothing taken is waiting in front of it: the hand-out moves on.
    if (p.firstTaken == p.expected - 1)
        ++p.firstTaken;
    if (release)
        Release(h, p, slot);
}

// Lets go of the slots of stretches passed over while a helper was still
// decoding them, once the helper is done.
void Reclaim(ArchiveHandle &h, ParallelEntry &p) {
    for (uint32_t i = 0; i < p.slotCount; ++i) {
        Slot &slot = p.slots[i];
        Lock(p.lock);
        const bool done = slot.abandoned && slot.state == SlotState::kDecoded;
        Unlock(p.lock);
        if (done) {
            slot.abandoned = false;
            Release(h, p, slot);
        }
    }
}

uint64_t StretchBit(const ParallelEntry &p, const Slot &slot, uint64_t bit) {
    return slot.index * p.stretchBytes * 8 + bit;
}

// Whether the stretch starts with the very block the reading thread's
// decoder stopped before, at bit `at`. A stored block's header may be
// found a few bits early: zero bits before a header read as another header
// of the same block (see StoredLengthByte).
bool StartsAt(const ParallelEntry &p, const Slot &slot, uint64_t at) {
    const uint64_t start = StretchBit(p, slot, slot.result.startBit);
    if (at == start)
        return true;
    if (!slot.result.startsStored || at < start)
        return false;
    const uint64_t local = at - slot.index * p.stretchBytes * 8;
    if (StoredLengthByte(local) != StoredLengthByte(slot.result.startBit))
        return false;
    const uint32_t header = (uint32_t(slot.input[local / 8]) |
                             (local / 8 + 1 < slot.inputSize ? uint32_t(slot.input[local / 8 + 1]) << 8 : 0u)) >>
                            (local & 7u);
    return (header & 7u) == 0;
}

// Takes the expected stretch at the reading thread's decoder: its window's
// history fills the stretch's symbol map for the resolution (which a free
// thread does), the decoder's window, counts and input move on to the stretch's
// end, and the CRC register moves on over it, the marked part as zeros for
// now (its CRC is added once resolved: HandOut). False (nothing changed)
// when the stretch would carry the output to the recorded size, or its
// input cannot be passed.
bool Take(ArchiveHandle &h, ParallelEntry &p, Slot &slot) {
    UnpackState &s = h.core;
    InflateStream &st = s.inflate;
    const StretchResult &r = slot.result;
    const uint64_t total = uint64_t(r.markedCount) + r.byteCount;
    // What reaches the recorded size is left to the one-thread decoding,
    // which judges the stream's length.
    if (uint64_t(st.outputTotal) + total >= s.uncompressedSize)
        return false;
    const uint64_t endBit = StretchBit(p, slot, r.endBit);
    const uint64_t endByte = (endBit + 7) / 8;
    const uint64_t taken = s.consumed;
    // A stretch that ends past the entry's input (its input was read past
    // the data, where the one-thread reading has fillers) is not taken.
    if (endByte < taken || s.remaining < 0 || endByte - taken > uint64_t(s.remaining) ||
        !SkipEntryBytes(s, uint32_t(endByte - taken)))
        return false;

    // The symbol map, from the window's history.
    FillSymbolMap(slot.map, st.window + st.windowPos);
    // The end of the marked part, as much as a window holds (all that
    // AppendToWindow reads), resolved here; the free thread resolves it
    // all again with the rest.
    const uint32_t kept = r.markedCount < kLargeWindow ? r.markedCount : kLargeWindow;
    const uint16_t *symbols = reinterpret_cast<const uint16_t *>(slot.output);
    ResolveSymbols(symbols + (r.markedCount - kept), p.tail, slot.map, 0, kept);
    st.crc = ~CrcCombine(~st.crc, 0, r.markedCount);
    AppendToWindow(st, p.tail + kept, r.markedCount);
    slot.crcMark = st.outputTotal;
    st.crc = ~CrcCombine(~st.crc, r.bytesCrc, r.byteCount);
    const uint8_t *bytes = slot.output + size_t(r.markedCount) * 2;
    AppendToWindow(st, bytes + r.byteCount, r.byteCount);
    const uint32_t partial = uint32_t(endBit & 7u);
    SetPendingBits(st, partial != 0 ? uint32_t(slot.input[endBit / 8 - slot.index * p.stretchBytes]) >> partial : 0u,
                   partial != 0 ? 8 - partial : 0);
    SetState(p, slot, SlotState::kTaken);
    TALLY(taken, 1);
    ++p.expected;
    if (p.expected > p.lastStretch)
        p.active = false;
    return true;
}

// The reading thread's time taking stretches, its waits for helpers left
// out.
uint64_t OwnTakingTicks(const ParallelEntry &p) {
    return p.takingTicks > p.waitingTicks ? p.takingTicks - p.waitingTicks : 0;
}

// Whether the reading thread, come to a stretch a helper is still
// decoding, had better wait for it than decode it itself, lock held: when
// what is left of the helper's work (at the pace of the helpers' stretches
// so far) is shorter than the reading thread's own decoding of a stretch
// less its taking of one (at its own pace so far, per byte, on a stretch's
// worth of the entry's average output). Before a helper has finished a
// stretch, or before the reading thread has decoded and taken enough to
// tell, it waits for a helper past the middle of its stretch.
bool WorthWaiting(const ArchiveHandle &h, const ParallelEntry &p, const Slot &slot) {
    const double done = double(slot.watch.progress.load(std::memory_order_relaxed)) / double(p.stretchBytes);
    const double left = done < 1.0 ? 1.0 - done : 0.0;
    if (p.helperStretches == 0 || p.decodingBytes < kJudgedAfter / 4 || p.takingBytes == 0)
        return left < 0.5;
    const double output = double(p.stretchBytes) * double(h.core.uncompressedSize) / double(h.core.compressedSize);
    const double own = double(p.decodingTicks) / double(p.decodingBytes) * output;
    const double taking = double(OwnTakingTicks(p)) / double(p.takingBytes) * output;
    const double helper = double(p.helperTicks) / double(p.helperStretches);
    return left * helper < own - taking;
}

// Takes the expected stretch if it is decoded and starts where the
// decoder stands; passes over those that cannot be taken any more. With
// `wait` (the decoder has stopped for the expected stretch), the one it
// has come to is passed over too when not decoded yet, unless the helper
// on it is worth waiting for. True when one was taken.
bool TakeNext(ArchiveHandle &h, ParallelEntry &p, bool wait) {
    const uint64_t at = ConsumedBits(h.core.inflate);
    while (p.active) {
        Slot &slot = SlotOf(p, p.expected);
        // The decoder has come to this stretch when it stands at or past
        // the stretch's first byte: only then is the stretch its own to
        // decode. The stretches after it are the helpers' still.
        const bool reached = wait && p.expected * p.stretchBytes * 8 <= at;
        if (slot.index != p.expected) {
            // Its slot is still held by a stretch passed over earlier:
            // this one was never read in.
            if (!reached)
                return false;
            PassOver(h, p, false);
            continue;
        }
        Lock(p.lock);
        const SlotState state = slot.state;
        if (reached && state == SlotState::kQueued) {
            // No helper has started it: the reading thread decodes it, as
            // it goes on.
            slot.result.ok = false;
            slot.state = SlotState::kDecoded;
            TALLY(unstarted, 1);
        } else if (reached && state == SlotState::kDecoding) {
            // A helper is on it: helpers are left more stretches from now
            // on, so that theirs are ready when the reading thread comes to
            // them.
            if (p.leave + 1 < p.slotCount)
                ++p.leave;
            if (WorthWaiting(h, p, slot)) {
                // The helper will be done sooner than the reading thread
                // could decode the stretch itself.
                const uint64_t start = ClockTicks();
                while (slot.state == SlotState::kDecoding)
                    WaitForChange(p.lock);
                const uint64_t waited = ClockTicks() - start;
                p.waitingTicks += waited;
                TALLY(readerWaitNs, waited);
                TALLY(waited, 1);
                Unlock(p.lock);
                continue;
            }
            // The reading thread decodes the stretch itself, and the
            // helper drops it at its next block boundary.
            TALLY(abandoned, 1);
            slot.abandoned = true;
            slot.watch.cancelled.store(true, std::memory_order_relaxed);
        }
        Unlock(p.lock);
        if (state == SlotState::kDecoding || (!reached && state != SlotState::kDecoded)) {
            if (!reached)
                return false;
            PassOver(h, p, false);
            return false;
        }
        if (slot.result.ok) {
            if (StartsAt(p, slot, at)) {
                if (Take(h, p, slot))
                    return true;
                // Near the recorded size or unreadable: the rest is the
                // one-thread decoder's.
                p.active = false;
                return false;
            }
            if (StretchBit(p, slot, slot.result.startBit) > at)
                return false;  // it may still start ahead
        }
        PassOver(h, p, true);
    }
    return false;
}

// Adds the head's marked part to the CRC register, moved on over what has
// followed it.
void AddHeadCrc(ArchiveHandle &h, ParallelEntry &p, const Slot &slot) {
    InflateStream &st = h.core.inflate;
    st.crc ^= CrcCombine(slot.resolvedCrc, 0, uint32_t(st.outputTotal - slot.crcMark));
    p.crcAdded = true;
}

// Decides how the head is handed out. A taken stretch nobody is resolving
// is the reading thread's to resolve as it hands it out, while every
// helper is busy; with a helper idle, the helper resolves it in its slot
// (the reading thread, which paces the whole entry, then only copies it).
// One a helper is resolving is waited for. False when the reading thread
// took another stretch meanwhile instead (it runs ahead while it would
// wait).
bool ClaimHead(ArchiveHandle &h, ParallelEntry &p, Slot &slot) {
    Lock(p.lock);
    const SlotState state = slot.state;
    const bool mine = state == SlotState::kTaken && p.idleHelpers == 0;
    if (mine)
        slot.state = SlotState::kResolving;
    Unlock(p.lock);
    if (mine) {
        p.head = ParallelEntry::Head::kResolvedOut;
        CrcReset(p.headCrc);
        return true;
    }
    if (state != SlotState::kResolved) {
        if (TakeNext(h, p, false))
            return false;
        AwaitState(p, slot, SlotState::kResolved);
    }
    p.head = ParallelEntry::Head::kCopied;
    AddHeadCrc(h, p, slot);
    return true;
}

// Hands out up to count bytes of the taken stretches, in order, taking more
// of them meanwhile where they follow on; 0 when none is taken.
uint32_t HandOut(ArchiveHandle &h, ParallelEntry &p, uint8_t *out, uint32_t count) {
    uint32_t done = 0;
    while (done < count && p.firstTaken < p.expected) {
        Slot &slot = SlotOf(p, p.firstTaken);
        if (p.head == ParallelEntry::Head::kUnclaimed && !ClaimHead(h, p, slot))
            continue;
        const StretchResult &r = slot.result;
        const uint32_t total = r.markedCount + r.byteCount;
        while (done < count && p.handedOut < r.markedCount) {
            const uint32_t at = p.handedOut;
            uint32_t n = r.markedCount - at;
            if (n > count - done)
                n = count - done;
            if (p.head == ParallelEntry::Head::kCopied) {
                std::memcpy(out + done, slot.output + at, n);
            } else {
                if (n > kResolvePiece)
                    n = kResolvePiece;
                ResolveSymbols(reinterpret_cast<const uint16_t *>(slot.output) + at, out + done, slot.map, 0, n);
                CrcUpdate(p.headCrc, out + done, n);
            }
            done += n;
            p.handedOut += n;
        }
        if (!p.crcAdded && p.handedOut == r.markedCount) {
            slot.resolvedCrc = CrcValue(p.headCrc);
            AddHeadCrc(h, p, slot);
        }
        if (done < count && p.handedOut < total) {
            const uint32_t at = p.handedOut - r.markedCount;
            uint32_t n = r.byteCount - at;
            if (n > count - done)
                n = count - done;
            std::memcpy(out + done, slot.output + size_t(r.markedCount) * 2 + at, n);
            done += n;
            p.handedOut += n;
        }
        if (p.handedOut == total) {
            p.handedOut = 0;
            p.head = ParallelEntry::Head::kUnclaimed;
            p.crcAdded = false;
            ++p.firstTaken;
            Release(h, p, slot);
            // Stretches passed over between taken ones have let their
            // slots go already (free, or filled with a later stretch).
            Lock(p.lock);
            while (p.firstTaken < p.expected && (SlotOf(p, p.firstTaken).index != p.firstTaken ||
                                                 SlotOf(p, p.firstTaken).state < SlotState::kTaken))
                ++p.firstTaken;
            Unlock(p.lock);
        }
    }
    return done;
}

// Where the reading thread's decoder is to stop next: where the expected
// stretch starts, or, while it is still being decoded, where it may start.
uint64_t NextStop(ArchiveHandle &h, ParallelEntry &p) {
    Reclaim(h, p);
    while (p.active) {
        Slot &slot = SlotOf(p, p.expected);
        if (slot.index != p.expected) {
            PassOver(h, p, false);
            continue;
        }
        Lock(p.lock);
        const bool decoded = slot.state == SlotState::kDecoded;
        Unlock(p.lock);
        if (!decoded)
            return slot.index * p.stretchBytes * 8;
        if (slot.result.ok)
            return StretchBit(p, slot, slot.result.startBit);
        PassOver(h, p, true);
    }
    return kNoStop;
}

// Whether taking stretches has proved to cost the reading thread too much
// against decoding them itself.
bool TakingDoesNotPay(ParallelEntry &p) {
#if defined(QZARC_TEST_HOOKS)
    if (gParallelJudging == ParallelJudging::kNeverJudged)
        return false;
    if (gParallelJudging == ParallelJudging::kLetGoEarly)
        return p.takingBytes != 0;
#endif
    // Judged once two stretches' worth have been taken. Before that, when
    // the reading thread has decoded many: at once if more of the helpers'
    // stretches failed than decoded, later if they decode but come too late
    // (a helper starts slower than the reading thread: its memory is fresh).
    if (p.takingBytes < kJudgedAfter / 2) {
        if (p.decodingBytes < kJudgedAfter * 2)
            return false;
        if (p.decodingBytes >= kJudgedAfter * 4)
            return true;
        Lock(p.lock);
        const bool failing = p.helperFailed > p.helperGood;
        Unlock(p.lock);
        return failing;
    }
    if (p.decodingBytes < kJudgedAfter / 4)
        return false;
    const double taking = double(OwnTakingTicks(p)) / double(p.takingBytes);
    const double decoding = double(p.decodingTicks) / double(p.decodingBytes);
    return taking > kMostTakingCost * decoding;
}

// Lets the helpers go: no more stretches are read or taken, and those
// taken are resolved by the reading thread as it hands them out.
void LetHelpersGo(ParallelEntry &p) {
    p.active = false;
    Lock(p.lock);
    p.quit = true;
    SignalChange(p.lock);
    Unlock(p.lock);
}

void StopHelpers(ParallelEntry &p) {
    Lock(p.lock);
    p.quit = true;
    SignalChange(p.lock);
    Unlock(p.lock);
    for (uint32_t i = 0; i < p.helperCount; ++i)
        JoinThread(p.threads[i]);
}

void FreeEntry(ParallelEntry *p) {
    for (uint32_t i = 0; i < p->slotCount; ++i) {
        HandleFree(p->slots[i].input);
        HandleFree(p->slots[i].output);
        HandleFree(p->slots[i].map);
    }
    HandleFree(p->tail);
    for (uint32_t i = 0; i <= p->helperCount; ++i)
        ReleaseInflate(p->decoders[i]);
    FreeThreadLock(p->lock);
    HandleFree(p);
}

} // namespace

uint32_t StretchInputBytes(uint32_t stretch) {
    // Input read past a stretch's end to finish the block that crosses it:
    // a quarter of a stretch, and 64 KiB at least. Blocks crossing the end
    // reached at most 28 KiB past it in the streams measured (zlib -6,
    // 7-Zip's Deflate64, our own writer's); a block that reaches further
    // ends the stretch at the boundary before it (stretch_decode.h).
    const uint32_t leastLookahead = uint32_t(64) << 10;
    return stretch + (stretch / 4 > leastLookahead ? stretch / 4 : leastLookahead);
}

void BeginParallel(ArchiveHandle &h) {
    UnpackState &s = h.core;
    // (A record may claim output from no data at all: nothing to share.)
    if (h.threads < 2 || s.encrypted || (s.method != kMethodDeflate && s.method != kMethodDeflate64) ||
        s.uncompressedSize == 0 || s.compressedSize == 0)
        return;
    // Entries that decode too cheaply on one thread for helpers to pay.
    const uint64_t ratio100 = uint64_t(s.uncompressedSize) * 100 / s.compressedSize;
    bool cheap = ratio100 < kLeastRatio100 ||
                 ratio100 > (s.method == kMethodDeflate64 ? kMostRatio100Deflate64 : kMostRatio100);
#if defined(QZARC_TEST_HOOKS)
    if (gParallelJudging != ParallelJudging::kJudgedAsBuilt)
        cheap = false;
#endif
    if (cheap)
        return;
    // The data must lie in the volume the reader is in.
    if (uint32_t(s.volumeNumber) != h.dataPlace.volume || h.dataPlace.offset + s.compressedSize > s.volumeSize)
        return;

    uint32_t stretch = uint32_t(uint64_t(kStretchAim) * s.compressedSize / s.uncompressedSize);
    if (stretch < kLeastStretch)
        stretch = kLeastStretch;
    if (stretch > kStretchRoom / 4)
        stretch = kStretchRoom / 4;
    uint32_t room = kStretchRoom;
    uint32_t leastStretches = kLeastStretches;
#if defined(QZARC_TEST_HOOKS)
    if (gParallelStretchBytes != 0) {
        stretch = gParallelStretchBytes;
        // Stretches of the sizes the library cuts have its room (the
        // benchmark's model is checked with them); the tests' small ones
        // 512 KiB.
        const uint32_t least = stretch >= kLeastStretch ? kStretchRoom : uint32_t(512) << 10;
        room = stretch * 8 > least ? stretch * 8 : least;
        leastStretches = 2;
    }
#endif
    if (s.compressedSize < uint64_t(stretch) * leastStretches || s.compressedSize < kTailBytes + uint64_t(stretch) * 2)
        return;
    const uint64_t lastStretch = (s.compressedSize - kTailBytes) / stretch - 1;
    if (lastStretch < 1)
        return;

    ParallelEntry *p = static_cast<ParallelEntry *>(HandleAlloc(sizeof(ParallelEntry)));
    if (p == nullptr)
        return;
    std::memset(static_cast<void *>(p), 0, sizeof(ParallelEntry));
    InitThreadLock(p->lock);
    p->stretchBytes = stretch;
    p->inputCapacity = StretchInputBytes(stretch);
    p->outputCapacity = room;
    p->lastStretch = lastStretch;
    p->expected = 1;
    p->firstTaken = 1;
    p->leave = 1;
    p->dataStart = h.dataPlace.offset;
    p->file = s.archive;
    p->active = true;
    // Two slots per thread: one stretch being decoded while the one before
    // it waits to be taken or is being handed out.
    const uint64_t slots = uint64_t(h.threads) * 2;
    p->slotCount = uint32_t(lastStretch < slots ? lastStretch : slots);
    for (uint32_t i = 0; i < p->slotCount; ++i) {
        p->slots[i].input = static_cast<uint8_t *>(HandleAlloc(p->inputCapacity));
        p->slots[i].output = static_cast<uint8_t *>(HandleAlloc(p->outputCapacity));
        p->slots[i].map = static_cast<uint8_t *>(HandleAlloc(kSymbolMapSize));
        if (p->slots[i].input == nullptr || p->slots[i].output == nullptr || p->slots[i].map == nullptr) {
            p->slotCount = i + 1;
            FreeEntry(p);
            return;
        }
    }
    for (uint32_t i = 0; i <= h.threads - 1 && i < kMostDecodeThreads; ++i)
        p->decoders[i].keepWindow = true;
    p->tail = static_cast<uint8_t *>(HandleAlloc(kLargeWindow));
    if (p->tail == nullptr) {
        FreeEntry(p);
        return;
    }
    h.parallel = p;
    for (uint32_t i = 0; i < p->slotCount; ++i)
        Fill(h, *p, i + 1);
    // Helpers: one thread fewer than asked for (the reading thread is the
    // last), and no more than there are slots to work on.
    for (uint32_t i = 0; i + 1 < h.threads && i < p->slotCount; ++i) {
        p->helperArguments[i] = Helper{p, i};
        if (!StartThread(p->threads[i], HelperMain, &p->helperArguments[i]))
            break;
        ++p->helperCount;
    }
}

uint32_t ParallelSlice(ArchiveHandle &h, uint8_t *out, uint32_t count) {
    ParallelEntry &p = *h.parallel;
    InflateStream &st = h.core.inflate;
    uint32_t done = 0;
    for (;;) {
        const uint64_t handing = ClockTicks();
        const uint32_t handed = HandOut(h, p, out + done, count - done);
        done += handed;
        p.takingBytes += handed;
        if (p.active && TakingDoesNotPay(p))
            LetHelpersGo(p);
        if (done == count) {
            p.takingTicks += ClockTicks() - handing;
            return done;
        }
        st.stopBit = NextStop(h, p);
        const uint64_t decoding = ClockTicks();
        p.takingTicks += decoding - handing;
        const uint32_t got = InflateSlice(st, out + done, count - done);
        const uint64_t taking = ClockTicks();
        p.decodingTicks += taking - decoding;
        p.decodingBytes += got;
        // One call of the one-thread reading, split at the stops.
        if (st.callVoided)
            return 0;
        done += got;
        if (!st.stopped)
            return done;
        TakeNext(h, p, true);
        p.takingTicks += ClockTicks() - taking;
    }
}

void EndEntry(ArchiveHandle &h) {
    EndParallel(h);
    h.phase = EntryPhase::kNone;
}

void EndParallel(ArchiveHandle &h) {
    ParallelEntry *p = h.parallel;
    if (p == nullptr)
        return;
    StopHelpers(*p);
    TALLY(readerDecodeNs, p->decodingTicks);
    TALLY(readerTakeNs, p->takingTicks);
    h.core.inflate.stopBit = kNoStop;
    FreeEntry(p);
    h.parallel = nullptr;
}
