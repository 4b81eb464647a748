#include "archive/parallel_read.h"

#include <cstring>
#include <cstdio>
#include <cstdlib>
int gDbgTaken, gDbgFailed, gDbgMismatch, gDbgMarked;

#include "archive/archive_reader.h"
#include "archive/handle_state.h"
#include "crypto/crc32.h"
#include "inflate/bit_input.h"
#include "inflate/block_search.h"
#include "inflate/inflate_stream.h"
#include "inflate/stretch_decode.h"
#include "inflate/window.h"
#include "platform/threads.h"

#if defined(QZARC_TEST_HOOKS)
uint32_t gParallelStretchBytes = 0;
#endif

namespace {

// A stretch's output room (the chunk size of the memory bound). Stretches
// are cut to decode to half of it on the entry's average ratio: large
// enough that the part decoded with markers, the search for a start and the
// hand-over are small beside it, small enough that the threads are busy
// early in an entry of a few tens of MiB; the other half is for stretches
// that compress worse than the average and for marked symbols, which take
// two bytes each.
constexpr uint32_t kStretchRoom = uint32_t(4) << 20;
// Compressed bytes per stretch, whatever the entry's ratio.
constexpr uint32_t kLeastStretch = uint32_t(64) << 10;
// Input read past a stretch's end to finish the block that crosses it.
constexpr uint32_t kLeastLookahead = uint32_t(64) << 10;
// Stretches an entry must have for helpers to pay: below, the time to
// reach the first one is most of the entry.
constexpr uint32_t kLeastStretches = 3;
// The last stretch ends this far before the data's end at least, so that
// the reading thread never stops where the input's end is in reach.
constexpr uint32_t kTailBytes = 64;

enum class SlotState : uint8_t { kFree, kQueued, kRunning, kDone };

struct Slot {
    SlotState state;
    uint64_t index;        // stretch number: the stretch starts at index x stretchBytes
    uint8_t *input;
    uint32_t inputSize;
    uint8_t *output;
    StretchJob job;
    StretchResult result;
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
    ThreadRef threads[kMostDecodeThreads];
    Helper helperArguments[kMostDecodeThreads];
    // One decoder per helper, and the last for the reading thread.
    InflateStream decoders[kMostDecodeThreads];

    uint32_t stretchBytes;
    uint32_t inputCapacity;
    uint32_t outputCapacity;
    uint64_t lastStretch;  // stretches 1..lastStretch
    uint64_t expected;     // the next stretch the reading thread may take
    uint64_t nextToFill;   // the next stretch to read in
    uint64_t dataStart;    // the data's offset in its volume
    bool active;           // stretches may still be taken

    // The stretch being handed out: the resolved marked part, then bytes.
    Slot *pending;
    const uint8_t *pieceAt[2];
    uint32_t pieceLeft[2];
};

namespace {

Slot &SlotOf(ParallelEntry &p, uint64_t index) { return p.slots[(index - 1) % p.slotCount]; }

// Runs one queued stretch; the lock is held on entry and on return.
void RunStretch(ParallelEntry &p, Slot &slot, InflateStream &decoder) {
    slot.state = SlotState::kRunning;
    Unlock(p.lock);
    DecodeStretch(decoder, slot.job, slot.result);
    Lock(p.lock);
    slot.state = SlotState::kDone;
    SignalChange(p.lock);
}

// The queued stretch of lowest index, or null.
Slot *FirstQueued(ParallelEntry &p) {
    Slot *first = nullptr;
    for (uint32_t i = 0; i < p.slotCount; ++i) {
        Slot &slot = p.slots[i];
        if (slot.state == SlotState::kQueued && (first == nullptr || slot.index < first->index))
            first = &slot;
    }
    return first;
}

void HelperMain(void *argument) {
    Helper *helper = static_cast<Helper *>(argument);
    ParallelEntry &p = *helper->p;
    InflateStream &decoder = p.decoders[helper->decoder];
    Lock(p.lock);
    while (!p.quit) {
        Slot *slot = FirstQueued(p);
        if (slot == nullptr) {
            WaitForChange(p.lock);
            continue;
        }
        RunStretch(p, *slot, decoder);
    }
    Unlock(p.lock);
}

// Reads stretch `index`'s input into its slot and queues it; a stretch
// whose input cannot be read is queued as failed (it is then never taken).
// Called by the reading thread, which owns the archive file.
void Fill(ArchiveHandle &h, ParallelEntry &p, uint64_t index) {
    UnpackState &s = h.core;
    Slot &slot = SlotOf(p, index);
    const uint64_t origin = index * p.stretchBytes;
    uint64_t size = p.inputCapacity;
    if (origin + size > s.compressedSize)
        size = s.compressedSize - origin;
    slot.index = index;
    slot.inputSize = uint32_t(size);
    slot.job = StretchJob{slot.input,         uint32_t(size), uint64_t(p.stretchBytes) * 8,
                          uint64_t(p.stretchBytes) * 8, s.method, slot.output, p.outputCapacity};
    slot.result = StretchResult{};
    const uint64_t back = ArchivePosition(s);
    bool failed = false;
    const bool read = back != UINT64_MAX && SeekArchive(s, p.dataStart + origin) &&
                      ReadArchiveExact(s, slot.input, uint32_t(size), &failed);
    // The reader goes on from where it was; if it cannot, the stretch is
    // of no use anyway and the reader's own next read reports the trouble.
    if (back != UINT64_MAX)
        SeekArchive(s, back);
    Lock(p.lock);
    slot.state = read ? SlotState::kQueued : SlotState::kDone;
    SignalChange(p.lock);
    Unlock(p.lock);
}

// Frees the slot of the stretch just passed and reads in the next one.
void Advance(ArchiveHandle &h, ParallelEntry &p) {
    Lock(p.lock);
    SlotOf(p, p.expected).state = SlotState::kFree;
    Unlock(p.lock);
    ++p.expected;
    if (p.nextToFill <= p.lastStretch)
        Fill(h, p, p.nextToFill++);
    if (p.expected > p.lastStretch)
        p.active = false;
}

// Waits for the expected stretch, decoding queued ones meanwhile.
Slot &AwaitExpected(ParallelEntry &p) {
    Slot &slot = SlotOf(p, p.expected);
    Lock(p.lock);
    while (slot.state != SlotState::kDone) {
        Slot *queued = slot.state == SlotState::kQueued ? &slot : FirstQueued(p);
        if (queued != nullptr)
            RunStretch(p, *queued, p.decoders[p.helperCount]);
        else
            WaitForChange(p.lock);
    }
    Unlock(p.lock);
    return slot;
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

// Takes the stretch's output at the reading thread's decoder: resolves its
// markers from the decoder's window, moves the CRC register, the window,
// the counts and the input on to the stretch's end, and makes its bytes the
// next to be handed out. False (nothing changed) when the stretch would
// carry the output to the recorded size, or its input cannot be passed.
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
    if (endByte < taken)
        return false;

    // Markers: 256 + k is the byte k + 1 places before the stretch, which
    // is the decoder's history. Resolved in place: byte i is written at
    // offset i, never past symbol i's own two bytes.
    const uint16_t *symbols = reinterpret_cast<const uint16_t *>(slot.output);
    uint8_t *resolved = slot.output;
    const uint8_t *history = st.window + st.windowPos;
    for (uint32_t i = 0; i < r.markedCount; ++i) {
        const uint32_t value = symbols[i];
        resolved[i] = value < 256 ? uint8_t(value) : history[-int64_t(value - 255)];
    }
    const uint8_t *bytes = slot.output + size_t(r.markedCount) * 2;

    if (!SkipEntryBytes(s, uint32_t(endByte - taken)))
        return false;
    CrcUpdate(st.crc, resolved, r.markedCount);
    st.crc = ~CrcCombine(~st.crc, r.bytesCrc, r.byteCount);
    AppendToWindow(st, resolved, r.markedCount);
    AppendToWindow(st, bytes, r.byteCount);
    const uint32_t partial = uint32_t(endBit & 7u);
    SetPendingBits(st, partial != 0 ? uint32_t(slot.input[endBit / 8 - slot.index * p.stretchBytes]) >> partial : 0u,
                   partial != 0 ? 8 - partial : 0);

    ++gDbgTaken; gDbgMarked += r.markedCount;
    p.pending = &slot;
    p.pieceAt[0] = resolved;
    p.pieceLeft[0] = r.markedCount;
    p.pieceAt[1] = bytes;
    p.pieceLeft[1] = r.byteCount;
    return true;
}

// Copies what is left of the stretch being handed out, up to count bytes;
// once it is all out, its slot goes to the next stretch.
uint32_t HandOut(ArchiveHandle &h, ParallelEntry &p, uint8_t *out, uint32_t count) {
    if (p.pending == nullptr)
        return 0;
    uint32_t done = 0;
    for (int k = 0; k < 2 && done < count; ++k) {
        uint32_t n = p.pieceLeft[k];
        if (n > count - done)
            n = count - done;
        std::memcpy(out + done, p.pieceAt[k], n);
        p.pieceAt[k] += n;
        p.pieceLeft[k] -= n;
        done += n;
    }
    if (p.pieceLeft[0] == 0 && p.pieceLeft[1] == 0) {
        p.pending = nullptr;
        Advance(h, p);
    }
    return done;
}

// Where the reading thread's decoder is to stop next: where the expected
// stretch starts, or, while it is still being decoded, where it may start.
uint64_t NextStop(ArchiveHandle &h, ParallelEntry &p) {
    while (p.active) {
        Slot &slot = SlotOf(p, p.expected);
        Lock(p.lock);
        const bool done = slot.state == SlotState::kDone;
        Unlock(p.lock);
        if (!done)
            return slot.index * p.stretchBytes * 8;
        if (slot.result.ok)
            return StretchBit(p, slot, slot.result.startBit);
        Advance(h, p);
    }
    return kNoStop;
}

// The decoder has stopped between blocks at or past NextStop: takes the
// expected stretch if it starts here, and passes over those that cannot
// be taken any more.
void AtStop(ArchiveHandle &h, ParallelEntry &p) {
    const uint64_t at = ConsumedBits(h.core.inflate);
    while (p.active) {
        Slot &slot = AwaitExpected(p);
        if (slot.result.ok) {
            if (StartsAt(p, slot, at)) {
                if (Take(h, p, slot))
                    return;
                // Near the recorded size or unreadable: the rest is the
                // one-thread decoder's.
                p.active = false;
                return;
            }
            if (StretchBit(p, slot, slot.result.startBit) > at)
                return;  // it may still start ahead
            ++gDbgMismatch;
        } else ++gDbgFailed;
        Advance(h, p);
    }
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
    }
    for (uint32_t i = 0; i <= p->helperCount; ++i)
        ReleaseInflate(p->decoders[i]);
    FreeThreadLock(p->lock);
    HandleFree(p);
}

} // namespace

void BeginParallel(ArchiveHandle &h) {
    UnpackState &s = h.core;
    if (h.threads < 2 || s.encrypted || (s.method != kMethodDeflate && s.method != kMethodDeflate64) ||
        s.uncompressedSize == 0)
        return;
    // The data must lie in the volume the reader is in.
    if (uint32_t(s.volumeNumber) != h.dataPlace.volume || h.dataPlace.offset + s.compressedSize > s.volumeSize)
        return;

    uint32_t stretch = uint32_t(uint64_t(kStretchRoom / 2) * s.compressedSize / s.uncompressedSize);
    if (stretch < kLeastStretch)
        stretch = kLeastStretch;
    if (stretch > kStretchRoom / 4)
        stretch = kStretchRoom / 4;
    uint32_t room = kStretchRoom;
    uint32_t leastStretches = kLeastStretches;
#if defined(QZARC_TEST_HOOKS)
    if (gParallelStretchBytes != 0) {
        stretch = gParallelStretchBytes;
        room = stretch * 8 > (uint32_t(512) << 10) ? stretch * 8 : uint32_t(512) << 10;
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
    std::memset(p, 0, sizeof(ParallelEntry));
    InitThreadLock(p->lock);
    p->stretchBytes = stretch;
    const uint32_t lookahead = stretch / 2 > kLeastLookahead ? stretch / 2 : kLeastLookahead;
    p->inputCapacity = stretch + lookahead;
    p->outputCapacity = room;
    p->lastStretch = lastStretch;
    p->expected = 1;
    p->nextToFill = 1;
    p->dataStart = h.dataPlace.offset;
    p->active = true;
    // Two slots per thread: one stretch being decoded while the one before
    // it waits to be taken or is being handed out.
    const uint64_t slots = uint64_t(h.threads) * 2;
    p->slotCount = uint32_t(lastStretch < slots ? lastStretch : slots);
    for (uint32_t i = 0; i < p->slotCount; ++i) {
        p->slots[i].input = static_cast<uint8_t *>(HandleAlloc(p->inputCapacity));
        p->slots[i].output = static_cast<uint8_t *>(HandleAlloc(p->outputCapacity));
        if (p->slots[i].input == nullptr || p->slots[i].output == nullptr) {
            p->slotCount = i + 1;
            FreeEntry(p);
            return;
        }
    }
    for (uint32_t i = 0; i <= h.threads - 1 && i < kMostDecodeThreads; ++i)
        p->decoders[i].keepWindow = true;
    h.parallel = p;
    for (uint32_t i = 0; i < p->slotCount; ++i)
        Fill(h, *p, p->nextToFill++);
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
        done += HandOut(h, p, out + done, count - done);
        if (done == count)
            return done;
        st.stopBit = NextStop(h, p);
        const uint32_t got = InflateSlice(st, out + done, count - done);
        done += got;
        if (!st.stopped)
            return done;
        AtStop(h, p);
    }
}

void EndParallel(ArchiveHandle &h) {
    ParallelEntry *p = h.parallel;
    if (p == nullptr)
        return;
    StopHelpers(*p);
    if (getenv("QZDBG")) fprintf(stderr, "stretch %u taken %d failed %d mismatch %d marked %d last %llu\n", p->stretchBytes, gDbgTaken, gDbgFailed, gDbgMismatch, gDbgMarked, (unsigned long long)p->lastStretch);
    h.core.inflate.stopBit = kNoStop;
    FreeEntry(p);
    h.parallel = nullptr;
}
