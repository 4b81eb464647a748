#include "inflate/stretch_decode.h"

#include <cstring>

#include "crypto/crc32.h"
#include "inflate/bit_input.h"
#include "inflate/block_search.h"
#include "inflate/code_table.h"
#include "inflate/coded_blocks.h"
#include "inflate/inflate_stream.h"
#include "inflate/stored_block.h"

namespace {

// Candidate starts tried before a stretch is given up: a false start that
// survives the search fails within a few symbols as a rule, so more tries
// would mostly decode the same noise again.
constexpr uint32_t kMostAttempts = 4;
// The marked loop's input in view, at least, and the longest match.
constexpr uint32_t kFastInput = 32;
constexpr uint32_t kLongestMatch = 65538;
// Symbols between two rescans for markers in the marked loop.
constexpr uint32_t kRescanEvery = 16384;

// The stretch's bytes as the inflater's input: all of them in view; past
// their end, zeros (and the count goes on, so that the end check sees it).
struct MemoryInput {
    const uint8_t *data;
    uint32_t size;
    uint64_t position;
};

MemoryInput &Memory(void *context) { return *static_cast<MemoryInput *>(context); }

int MemoryByte(void *context) {
    MemoryInput &m = Memory(context);
    const uint64_t at = m.position++;
    return at < m.size ? m.data[at] : 0;
}

uint32_t MemoryView(void *context, const uint8_t **at) {
    MemoryInput &m = Memory(context);
    if (m.position >= m.size)
        return 0;
    *at = m.data + m.position;
    return uint32_t(m.size - m.position);
}

void MemoryTake(void *context, uint32_t n) { Memory(context).position += n; }
void MemoryGiveBack(void *context, uint32_t n) { Memory(context).position -= n; }
uint64_t MemoryPosition(void *context) { return Memory(context).position; }

enum class Step { kGoOn, kEnded, kFailed };

struct Decoder {
    InflateStream &st;
    const StretchJob &job;
    StretchResult &result;
    uint16_t *symbols;
    uint32_t marked;      // symbols so far (marked phase)
    uint32_t cleanFrom;   // the symbol after the last marker
    uint32_t reach;       // the furthest a match reaches back
    bool bytePhase;
    // The last block boundary met in the marked phase past the start, and
    // the symbols before it: where the stretch ends when the room is full.
    uint64_t boundaryBit;
    uint32_t boundaryMarked;
    bool roomFull;

    bool Clean() const { return marked - cleanFrom >= reach; }

    uint32_t SymbolRoom() const { return (job.outputSize / 2) - marked; }
    // False, noting that the room is full, when n more symbols do not fit.
    bool Fits(uint32_t n) {
        if (n <= SymbolRoom())
            return true;
        roomFull = true;
        return false;
    }

    // Appends a match of `length` from `distance` back, markers included.
    bool CopyMarked(uint32_t length, uint32_t distance) {
        if (!Fits(length))
            return false;
        for (uint32_t i = 0; i < length; ++i, ++marked) {
            uint32_t value;
            if (distance <= marked) {
                value = symbols[marked - distance];
                if (value < 256) {
                    symbols[marked] = value;
                    continue;
                }
            } else {
                value = 256 + (distance - marked - 1);
                if (value > 0xFFFFu)
                    return false;
            }
            symbols[marked] = uint16_t(value);
            cleanFrom = marked + 1;
        }
        return true;
    }

    // Lowers cleanFrom to just past the last marker the output really
    // holds within the reach (the fast loop keeps it only as a bound).
    void Rescan() {
        if (marked < reach || marked - cleanFrom >= reach)
            return;
        // Symbols from cleanFrom on hold no marker; below it they may.
        const uint32_t floor = marked - reach;
        for (uint32_t i = cleanFrom; i > floor;) {
            --i;
            if (symbols[i] >= 256) {
                cleanFrom = i + 1;
                return;
            }
        }
        cleanFrom = floor;
    }

    // Decodes literals and matches from the view with wide loads while there
    // is input and room, until the output is clean or a symbol needs the
    // exact decoder (the end of the block, an invalid code, a table the
    // loop does not take). False when the stretch fails.
    bool FastMarked() {
        const uint8_t *start = nullptr;
        const uint32_t available = ViewBytes(st, &start);
        if (available < kFastInput || !st.distancesComplete || st.literals.lookupBits != kLiteralLookupBits ||
            st.distances.lookupBits != kDistanceLookupBits)
            return true;
        constexpr uint32_t literalMask = (uint32_t(1) << kLiteralLookupBits) - 1u;
        constexpr uint32_t distanceMask = (uint32_t(1) << kDistanceLookupBits) - 1u;
        const uint32_t *const literals = st.literals.entries;
        const uint32_t *const distances = st.distances.entries;
        // Two refills per step read at most 16 bytes past the position.
        const uint8_t *const last = start + (available - 16);
        const uint8_t *in = start;
        uint64_t buffer = st.bitBuffer;
        uint32_t bits = st.bitCount;
        // Room for the longest match at every step.
        const uint32_t capacity = job.outputSize / 2;
        const uint32_t safe = capacity > kLongestMatch ? capacity - kLongestMatch : 0;
        bool ok = true;
        auto refill = [&] {
            uint64_t word;
            std::memcpy(&word, in, 8);
            buffer |= word << bits;
            in += (63u - bits) >> 3;
            bits |= 56u;
        };
        uint32_t rescanAt = marked + kRescanEvery;
        // The next symbol's main-table entry is looked up as soon as the bits
        // before it are consumed, before the refill (which only adds bits
        // above them): every step leaves at least kLiteralLookupBits bits.
        refill();
        uint32_t e = literals[uint32_t(buffer) & literalMask];
        while (in <= last && marked <= safe && !Clean()) {
            if (marked >= rescanAt) {
                Rescan();
                rescanAt = marked + kRescanEvery;
                continue;
            }
            refill();
            if (EntryIsLiteral(e)) {
                // A refill leaves 56 bits: up to three literals of the main
                // table (11 bits each) and the lookup after them.
                for (uint32_t k = 1;; ++k) {
                    buffer >>= EntryUsed(e);
                    bits -= EntryUsed(e);
                    symbols[marked++] = uint16_t(EntryValue(e));
                    e = literals[uint32_t(buffer) & literalMask];
                    if (k == 3 || !EntryIsLiteral(e))
                        break;
                }
                continue;
            }
            if (EntryIsLink(e)) {
                e = literals[(literalMask + 1) + EntryValue(e) +
                             ((uint32_t(buffer) >> kLiteralLookupBits) & ((uint32_t(1) << EntryLinkBits(e)) - 1u))];
                if (EntryIsLiteral(e)) {
                    buffer >>= EntryUsed(e);
                    bits -= EntryUsed(e);
                    symbols[marked++] = uint16_t(EntryValue(e));
                    e = literals[uint32_t(buffer) & literalMask];
                    continue;
                }
            }
            if (EntryIsSpecial(e))
                break;  // the end of the block or an invalid code: the exact decoder's
            const uint32_t lengthTaken = EntryUsed(e);
            const uint32_t length = EntryValue(e) + EntryExtra(e, uint32_t(buffer));
            buffer >>= lengthTaken;
            bits -= lengthTaken;
            // Room for the distance (15 + 14 bits) and the next lookup.
            if (bits < 15 + 14 + kLiteralLookupBits)
                refill();
            uint32_t d = distances[uint32_t(buffer) & distanceMask];
            if (EntryIsLink(d))
                d = distances[(distanceMask + 1) + EntryValue(d) +
                              ((uint32_t(buffer) >> kDistanceLookupBits) & ((uint32_t(1) << EntryLinkBits(d)) - 1u))];
            if (EntryIsSpecial(d)) {
                ok = false;
                break;
            }
            const uint32_t distanceTaken = EntryUsed(d);
            const uint32_t distance = EntryValue(d) + EntryExtra(d, uint32_t(buffer));
            buffer >>= distanceTaken;
            bits -= distanceTaken;
            e = literals[uint32_t(buffer) & literalMask];
            if (distance > marked) {
                if (!CopyMarked(length, distance)) {
                    ok = false;
                    break;
                }
                continue;
            }
            uint16_t *to = symbols + marked;
            const uint16_t *from = to - distance;
            // A source that reaches into the marked part may copy markers:
            // the match counts as marked until a rescan says otherwise.
            if (marked - distance < cleanFrom)
                cleanFrom = marked + length;
            if (distance >= 16 && length <= 32) {
                // Whole 16-symbol pieces: what they write past the match is
                // overwritten by the symbols after it (the room has slack).
                std::memcpy(to, from, 32);
                std::memcpy(to + 16, from + 16, 32);
            } else if (distance >= length) {
                std::memcpy(to, from, size_t(length) * 2);
            } else {
                // An overlapping copy repeats its first distance symbols.
                for (uint32_t i = 0; i < length; ++i)
                    to[i] = from[i];
            }
            marked += length;
        }
        // Whole bytes not consumed go back to the view, as far as they came
        // from it; those pending before stay pending.
        uint32_t back = bits >> 3;
        if (back > uint32_t(in - start))
            back = uint32_t(in - start);
        in -= back;
        bits -= back * 8;
        st.bitBuffer = bits < 32 ? uint32_t(buffer) & ((uint32_t(1) << bits) - 1u) : uint32_t(buffer);
        st.bitCount = bits;
        TakeView(st, uint32_t(in - start));
        return ok;
    }

    // A stored block's data in the marked phase, a byte at a time.
    bool StoredMarked() {
        DropBits(st, st.bitCount & 7u);
        const uint32_t len = ReadBits(st, 16);
        const uint32_t nlen = ReadBits(st, 16);
        if (len != (nlen ^ 0xFFFFu) || !Fits(len))
            return false;
        for (uint32_t i = 0; i < len; ++i)
            symbols[marked++] = uint16_t(ReadBits(st, 8));
        st.flags &= kStreamFlags;
        return true;
    }

    // A coded block's symbols in the marked phase, until the block ends or
    // the output is clean (the block then goes on in the byte phase).
    bool CodedMarked() {
        if (!SetUpCodedBlock(st))
            return false;
        for (;;) {
            if (Clean())
                return true;
            if (!FastMarked())
                return false;
            if (Clean())
                return true;
            uint32_t value = 0;
            const uint32_t op = DecodeSymbol(st, st.literals, &value);
            if (op == kOpLiteral) {
                if (!Fits(1))
                    return false;
                symbols[marked++] = uint16_t(value);
                continue;
            }
            if (op == kOpEndOfBlock) {
                st.flags &= kStreamFlags;
                FreeBlockTables(st);
                return true;
            }
            if (op == kOpInvalid)
                return false;
            const uint32_t length = value + ReadBits(st, op);
            uint32_t base = 0;
            const uint32_t dop = DecodeSymbol(st, st.distances, &base);
            if (dop == kOpInvalid)
                return false;
            if (!CopyMarked(length, base + ReadBits(st, dop)))
                return false;
        }
    }

    // From the marked phase to the byte phase: the clean output becomes the
    // window's history.
    void EnterBytePhase() {
        const uint32_t capacity = st.windowCapacity;
        for (uint32_t k = 1; k <= capacity; ++k) {
            const uint32_t value = k <= marked ? symbols[marked - k] : 0;
            st.window[capacity - k] = value < 256 ? uint8_t(value) : 0;
        }
        st.historyDirty = true;
        st.windowPos = capacity;
        st.flushStart = capacity;
        st.outCursor = job.output + size_t(marked) * 2;
        st.outputTotal = 0;
        CrcReset(st.crc);
        bytePhase = true;
    }

    // One block, or the rest of one, in the byte phase.
    bool BlockBytes() {
        const uint32_t used = marked * 2 + st.outputTotal;
        if (used >= job.outputSize)
            return false;
        const uint32_t room = job.outputSize - used;
        switch (st.flags & kBlockKindMask) {
        case kBlockStored:
            StoredBlockSlice(st, room);
            break;
        case kBlockFixed:
            FixedBlockSlice(st, room);
            break;
        default:
            DynamicBlockSlice(st, room);
            break;
        }
        // A block still open has run out of room.
        return st.status == kStatusOk && (st.flags & kBlockKindMask) == 0;
    }

    Step Next() {
        if ((st.flags & kBlockKindMask) == 0) {
            const uint64_t bit = ConsumedBits(st);
            if (job.watch != nullptr) {
                job.watch->progress.store(uint32_t(bit / 8), std::memory_order_relaxed);
                if (job.watch->cancelled.load(std::memory_order_relaxed))
                    return Step::kFailed;
            }
            if (!bytePhase && bit > result.startBit) {
                boundaryBit = bit;
                boundaryMarked = marked;
            }
            if (bit >= job.stopBit || bit > uint64_t(job.size) * 8) {
                result.endBit = bit;
                return Step::kEnded;
            }
            NeedBits(st, 1);
            if ((st.bitBuffer & 1u) != 0) {
                result.endBit = bit;
                result.finalNext = true;
                return Step::kEnded;
            }
            DropBits(st, 1);
            const uint32_t type = ReadBits(st, 2);
            if (type == 3)
                return Step::kFailed;
            st.flags = uint8_t(st.flags | (type + 1));
        }
        if (!bytePhase) {
            const bool stored = (st.flags & kBlockKindMask) == kBlockStored;
            if (!(stored ? StoredMarked() : CodedMarked()))
                return Step::kFailed;
            if (!Clean())
                return Step::kGoOn;
            EnterBytePhase();
            if ((st.flags & kBlockKindMask) == 0)
                return Step::kGoOn;
        }
        return BlockBytes() ? Step::kGoOn : Step::kFailed;
    }

    bool From(uint64_t start, MemoryInput &memory) {
        memory.position = start / 8;
        if (StartInflate(st, true, job.method, InflateInput{MemoryByte, MemoryView, MemoryTake, MemoryGiveBack,
                                                            nullptr, MemoryPosition, &memory}) != kStatusOk)
            return false;
        st.flags |= kStreamStarted;
        if (!SelectMethodTables(st))
            return false;
        reach = job.method == kMethodDeflate64 ? kLargeWindow : kSmallWindow;
        marked = 0;
        cleanFrom = 0;
        bytePhase = false;
        boundaryBit = 0;
        roomFull = false;
        result.startBit = start;
        result.finalNext = false;
        // The search saw a header there: its BTYPE bits lie in the data.
        const uint32_t at = uint32_t(start / 8);
        const uint32_t head = uint32_t(job.data[at]) | (at + 1 < job.size ? uint32_t(job.data[at + 1]) << 8 : 0u);
        result.startsStored = ((head >> (start & 7u) >> 1) & 3u) == 0;
        if ((start & 7u) != 0) {
            NeedBits(st, 8);
            DropBits(st, uint32_t(start & 7u));
        }
        bool standing = false;
        for (;;) {
            const Step step = Next();
            if (step == Step::kFailed) {
                // A block the room cannot hold: the whole blocks before it
                // stand, the stretch ends there, and the stream's own
                // decoder goes on from it. Only when they reach past the
                // stretch's middle: a false start may well decode a block
                // or two of noise, but not half a stretch.
                standing = roomFull && boundaryBit != 0 && boundaryBit <= uint64_t(job.size) * 8 &&
                           job.stopBit > start && boundaryBit - start >= (job.stopBit - start) / 2;
                if (standing) {
                    result.endBit = boundaryBit;
                    result.finalNext = false;
                    result.markedCount = boundaryMarked;
                    result.byteCount = 0;
                    result.bytesCrc = 0;
                }
                break;
            }
            if (step == Step::kEnded) {
                // Input the stretch does not have was read as zeros.
                if (memory.position > memory.size || result.endBit <= start)
                    break;
                result.markedCount = marked;
                result.byteCount = bytePhase ? st.outputTotal : 0;
                result.bytesCrc = CrcValue(st.crc);
                ReleaseView(st);
                FreeBlockTables(st);
                return true;
            }
        }
        ReleaseView(st);
        FreeBlockTables(st);
        st.status = kStatusOk;
        return standing;
    }
};

} // namespace

bool DecodeStretch(InflateStream &st, const StretchJob &job, StretchResult &result) {
    result = StretchResult{};
    MemoryInput memory{job.data, job.size, 0};
    Decoder decoder{st, job, result, StretchSymbols(job), 0, 0, 0, false, 0, 0, false};
    if (job.knownStart < uint64_t(job.size) * 8 && decoder.From(job.knownStart, memory)) {
        result.ok = true;
        return true;
    }
    uint64_t from = 0;
    for (uint32_t attempt = 0; attempt < kMostAttempts; ++attempt) {
        const uint64_t start = FindBlockStart(job.data, job.size, from, job.searchEnd, job.method == kMethodDeflate64);
        if (start == kNoBlockStart)
            break;
        if (decoder.From(start, memory)) {
            result.ok = true;
            return true;
        }
        if (job.watch != nullptr && job.watch->cancelled.load(std::memory_order_relaxed))
            break;
        from = start + 1;
    }
    result.ok = false;
    return false;
}
