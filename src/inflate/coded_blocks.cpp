#include "coded_blocks.h"

#include <cstring>

#include "archive_reader.h"
#include "code_table.h"
#include "inflate_stream.h"
#include "unpack_state.h"

const uint16_t LengthBase8[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                  35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
const uint16_t LengthExtra8[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,  2, 2,
                                   3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
const uint16_t LengthBase9[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19, 23, 27, 31,
                                  35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3,  0,  0};
const uint16_t LengthExtra9[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2,  2,  2, 2,
                                   3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16, 99, 99};

const uint16_t DistanceBase[32] = {1,     2,     3,     4,     5,     7,     9,     13,
                                   17,    25,    33,    49,    65,    97,    129,   193,
                                   257,   385,   513,   769,   1025,  1537,  2049,  3073,
                                   4097,  6145,  8193,  12289, 16385, 24577, 32769, 49153};
const uint16_t DistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

const uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

namespace {

constexpr uint32_t kMaxLiteralCodes = 286;
constexpr uint32_t kMaxDistanceCodes = 32;
constexpr uint32_t kCodeLengthCodes = 19;

void FreeBlockTables() {
    FreeCodeTable(&gInflate.literalTable);
    FreeCodeTable(&gInflate.distanceTable);
}

// Fails a block set-up: frees what was built and records status 5 for a bad
// header, or keeps the 1 a table build recorded when memory ran out.
uint32_t FailSetUp(bool outOfMemory) {
    FreeBlockTables();
    if (!outOfMemory)
        gUnpack.status = kInflateBadData;
    return 0;
}

// Reads a dynamic block's code description and builds its two tables.
// Returns false (status set, slots empty) when the header is bad or memory
// runs out.
bool SetUpDynamicBlock() {
    const uint32_t nl = 257 + ReadBits(5);
    const uint32_t nd = 1 + ReadBits(5);
    const uint32_t nc = 4 + ReadBits(4);
    if (nl > kMaxLiteralCodes) {
        FailSetUp(false);
        return false;
    }

    // Code-length code lengths first occupy the start of the same array.
    uint32_t lengths[kMaxLiteralCodes + kMaxDistanceCodes];
    for (uint32_t i = 0; i < kCodeLengthCodes; ++i)
        lengths[i] = 0;
    for (uint32_t i = 0; i < nc; ++i)
        lengths[CodeLengthOrder[i]] = ReadBits(3);
    gInflate.literalBits = 7;
    int built = BuildCodeTable(lengths, kCodeLengthCodes, kCodeLengthCodes, nullptr, nullptr,
                               &gInflate.literalTable, &gInflate.literalBits);
    if (built != kBuildComplete) {
        FailSetUp(built == kBuildNoMemory);
        return false;
    }

    // The code-length table has a single level: its width is its longest code.
    const uint32_t total = nl + nd;
    uint32_t previous = 0;
    uint32_t j = 0;
    while (j < total) {
        const CodeEntry *table = gInflate.literalTable;
        if (table == nullptr) {
            FailSetUp(false);
            return false;
        }
        NeedBits(gInflate.literalBits);
        const CodeEntry &entry = table[gInflate.bitBuffer & BitMask[gInflate.literalBits]];
        if (entry.op == kOpInvalid) {
            FailSetUp(false);
            return false;
        }
        DropBits(entry.bits);
        const uint32_t sym = entry.value;
        if (sym < 16) {
            lengths[j++] = sym;
            previous = sym;
            continue;
        }
        uint32_t repeat;
        uint32_t value;
        if (sym == 16) {
            repeat = 3 + ReadBits(2);
            value = previous;
        } else if (sym == 17) {
            repeat = 3 + ReadBits(3);
            previous = 0;
            value = 0;
        } else {
            repeat = 11 + ReadBits(7);
            previous = 0;
            value = 0;
        }
        // A repeat may run from the literal/length lengths into the distance
        // lengths, but not past the last of them.
        if (j + repeat > total) {
            FailSetUp(false);
            return false;
        }
        while (repeat-- != 0)
            lengths[j++] = value;
    }
    FreeCodeTable(&gInflate.literalTable);

    gInflate.literalBits = 9;
    built = BuildCodeTable(lengths, nl, 257, gInflate.lengthBase, gInflate.lengthExtra,
                           &gInflate.literalTable, &gInflate.literalBits);
    if (built != kBuildComplete) {
        FailSetUp(built == kBuildNoMemory);
        return false;
    }
    gInflate.distanceBits = 6;
    built = BuildCodeTable(lengths + nl, nd, 0, DistanceBase, DistanceExtra, &gInflate.distanceTable,
                           &gInflate.distanceBits);
    if (built != kBuildComplete) {
        FailSetUp(built == kBuildNoMemory);
        return false;
    }
    return true;
}

// Runs the block's data and frees its tables once the block is over (it has
// ended, it ended at once, or it failed).
uint32_t CodedBlockData(uint32_t count) {
    const uint32_t produced = CodedSlice(count);
    if (produced == 0 || (gInflate.flags & kBlockReady) == 0)
        FreeBlockTables();
    return produced;
}

// Copies one chunk of a match inside the window. When the source starts less
// than the chunk's length before the destination, the copy has to run byte
// by byte so that the bytes it has just written are repeated.
void CopyChunk(uint32_t chunk) {
    uint8_t *window = gInflate.window;
    const uint32_t from = gInflate.copyFrom;
    const uint32_t to = gInflate.windowPos;
    if (to - from >= chunk) {
        // Disjoint, or the destination lies before the source: front-to-back
        // order gives the same bytes as memmove.
        std::memmove(window + to, window + from, chunk);
    } else {
        for (uint32_t i = 0; i < chunk; ++i)
            window[to + i] = window[from + i];
    }
}

// ---- The decode fast path -------------------------------------------------
//
// While the read chunk still holds plenty of the entry's bytes, CodedSlice
// hands the decoding to FastRun. It loads the input eight bytes at a time,
// straight from the chunk, into a 64-bit bit buffer, resolves codes through
// flat lookup tables derived from the block's own tables, and copies matches
// a word at a time. Its output, window and CRC are those of the plain path;
// what differs is only how far ahead it has read.
//
// That is undone when it leaves. The plain path pulls a byte only when a
// step asks for more bits than are pending: a table lookup asks for its
// table's width at each level, a field for its own width. So the bytes it
// would have pulled are fixed by the furthest bit any step asked for, and
// FastRun keeps that as `demand`, counted from the current bit position. On
// leaving it gives back every whole byte beyond it, and the bit buffer, the
// reader's cursor and all the byte counts are what the plain path would
// have left.

// A fast-table entry, one 32-bit word:
//   bits  0-5   the bits the symbol takes: its code and, for a length or
//               a distance, the op extra bits after it
//   bits  6-10  the furthest bit, from the code's start, that the plain
//               path asks for while reading the symbol (its `demand`)
//   bits 11-15  the op of the leaf (0..18), or kFastLong / kFastInvalid
//   bits 16-31  the leaf's value; a literal's byte is in bits 16-23 and
//               bit 31 is set, so that one sign test finds literals
constexpr uint32_t kFastLong = 30;     // longer than the flat table resolves
constexpr uint32_t kFastInvalid = 31;  // decodes to op 99: left to the plain path
constexpr uint32_t kFastLiteralBits = 11;
constexpr uint32_t kFastDistanceBits = 8;

inline uint32_t FastEntry(uint32_t op, uint32_t length, uint32_t demand, uint32_t value) {
    const uint32_t literal = op == kOpLiteral ? 0x80000000u : 0u;
    return length | demand << 6 | op << 11 | value << 16 | literal;
}

// The entry of a leaf reached after codeLength bits, its lookups having
// asked for `demand` bits. A length or distance takes its extra bits too,
// which the plain path reads as a field of exactly that width.
inline uint32_t LeafEntry(uint32_t op, uint32_t codeLength, uint32_t demand, uint32_t value) {
    if (op > 16)
        return FastEntry(op, codeLength, demand, value);
    const uint32_t total = codeLength + op;
    return FastEntry(op, total, demand > total ? demand : total, value);
}
inline bool FastIsLiteral(uint32_t e) { return int32_t(e) < 0; }
inline uint32_t FastLength(uint32_t e) { return e & 63u; }
inline uint32_t FastDemand(uint32_t e) { return (e >> 6) & 31u; }
inline uint32_t FastOp(uint32_t e) { return (e >> 11) & 31u; }
inline uint32_t FastValue(uint32_t e) { return e >> 16; }
inline uint8_t FastLiteral(uint32_t e) { return uint8_t(e >> 16); }

struct FastTables {
    uint32_t literal[1u << kFastLiteralBits];
    uint32_t distance[1u << kFastDistanceBits];
    // Every distance pattern decodes: the block has a complete distance
    // code set. (The builder lets through only one incomplete kind, a
    // single code of 1 bit, and an empty set; FastRun leaves such blocks to
    // the plain path, since a bad distance shows only after its length.)
    bool distancesComplete;
};
FastTables gFast;

// Resolves, through a block's lookup tables, the code that starts with the
// `known` bits of `bits`, walking the levels as DecodeSymbol does. kFastLong
// when the unknown bits beyond `known` would decide the entry.
uint32_t ResolveCode(const CodeEntry *table, uint32_t width, uint32_t bits, uint32_t known) {
    if (table == nullptr)
        return FastEntry(kFastInvalid, 0, 0, 0);
    uint32_t used = 0;
    for (;;) {
        const uint32_t visible = known - used < width ? known - used : width;
        // Index bits not yet known are taken as 0: the entry found is the
        // right one only if its code ends within the known bits.
        const CodeEntry &entry = table[(bits >> used) & ((1u << visible) - 1u)];
        if (entry.bits > visible)
            return FastEntry(kFastLong, 0, 0, 0);
        if (entry.op == kOpInvalid)
            return FastEntry(kFastInvalid, 0, 0, 0);
        const uint32_t demand = used + width;
        used += entry.bits;
        if (entry.op > kOpLinkBase) {
            table = entry.next;
            width = entry.op - kOpLinkBase;
            continue;
        }
        return LeafEntry(entry.op, used, demand, entry.value);
    }
}

// One flat table from a code set's root table of width rootBits: the root's
// entries resolved once and repeated through the flat table's width, then
// the entries behind each link resolved with the extra bits.
void FillFastTable(uint32_t *fast, uint32_t fastBits, const CodeEntry *root, uint32_t rootBits) {
    const uint32_t size = 1u << fastBits;
    if (root == nullptr || rootBits > fastBits) {
        for (uint32_t i = 0; i < size; ++i)
            fast[i] = ResolveCode(root, rootBits, i, fastBits);
        return;
    }
    const uint32_t rootSize = 1u << rootBits;
    for (uint32_t i = 0; i < rootSize; ++i) {
        // The root's own entries: leaves, invalid patterns and links.
        const CodeEntry &entry = root[i];
        if (entry.op == kOpInvalid)
            fast[i] = FastEntry(kFastInvalid, 0, 0, 0);
        else if (entry.op > kOpLinkBase)
            fast[i] = FastEntry(kFastLong, 0, 0, 0);
        else
            fast[i] = LeafEntry(entry.op, entry.bits, rootBits, entry.value);
    }
    for (uint32_t filled = rootSize; filled < size; filled *= 2)
        std::memcpy(fast + filled, fast, filled * sizeof(uint32_t));
    for (uint32_t i = 0; i < rootSize; ++i)
        if (root[i].op > kOpLinkBase && root[i].op != kOpInvalid)
            for (uint32_t j = i; j < size; j += rootSize)
                fast[j] = ResolveCode(root, rootBits, j, fastBits);
}

// Derives the flat tables from the block's tables; run once per block set-up.
void BuildFastTables() {
    FillFastTable(gFast.literal, kFastLiteralBits, gInflate.literalTable, gInflate.literalBits);
    FillFastTable(gFast.distance, kFastDistanceBits, gInflate.distanceTable, gInflate.distanceBits);
    gFast.distancesComplete = gInflate.distanceTable != nullptr;
    for (uint32_t e : gFast.distance)
        if (FastOp(e) == kFastInvalid)
            gFast.distancesComplete = false;
}

inline uint64_t Load64(const uint8_t *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

inline void Copy8(uint8_t *to, const uint8_t *from) {
    uint64_t v;
    std::memcpy(&v, from, 8);
    std::memcpy(to, &v, 8);
}

inline void Copy4(uint8_t *to, const uint8_t *from) {
    uint32_t v;
    std::memcpy(&v, from, 4);
    std::memcpy(to, &v, 4);
}

// A whole match inside the window, with the plain path's result: a front-
// to-back copy, so a source less than n bytes before the destination
// repeats the bytes just written. Neither run crosses the window's end.
inline void CopyMatch(uint8_t *window, uint32_t to, uint32_t from, uint32_t n) {
    uint8_t *d = window + to;
    const uint8_t *s = window + from;
    const uint32_t ahead = to - from;  // wraps when the source lies after the destination
    const uint32_t behind = from - to;
    if ((from < to && ahead >= n) || (from > to && behind >= n)) {
        // Disjoint runs: whole words, the last one overlapping the one
        // before (it rewrites bytes of this match with the same values).
        if (n >= 8) {
            for (uint32_t i = 0; i + 8 < n; i += 8)
                Copy8(d + i, s + i);
            Copy8(d + n - 8, s + n - 8);
        } else if (n >= 4) {
            Copy4(d, s);
            Copy4(d + n - 4, s + n - 4);
        } else {
            for (uint32_t i = 0; i < n; ++i)
                d[i] = s[i];
        }
        return;
    }
    if (from < to && ahead == 1) {
        std::memset(d, *s, n);
        return;
    }
    // Overlapping runs. Word steps stay exact when each word is read before
    // any byte of it is written: a source at least a word back, or a
    // destination before the source.
    uint32_t i = 0;
    if (from > to || ahead >= 8) {
        for (; i + 8 <= n; i += 8)
            Copy8(d + i, s + i);
    } else if (ahead >= 4) {
        for (; i + 4 <= n; i += 4)
            Copy4(d + i, s + i);
    }
    for (; i < n; ++i)
        d[i] = s[i];
}

// Input FastRun needs in the chunk on entry, and keeps unread while it runs:
// two refills of eight bytes each per symbol at most.
constexpr uint32_t kFastInputReserve = 16;
constexpr uint32_t kFastMinInput = 32;

enum FastStop {
    kStoppedAtSymbol,  // the next symbol is the plain path's
    kStoppedAtMatch,   // a match is decoded (copyLength, copyFrom) for the chunk loop
};

// Decodes while the chunk has input and the count has room; see above.
FastStop FastRun(uint32_t count, uint32_t &produced) {
    InflateStream &st = gInflate;
    const uint32_t *const literals = gFast.literal;
    const uint32_t *const distances = gFast.distance;
    const uint8_t *const start = gReader.cursor;
    const uint8_t *const last = start + (BufferedEntryBytes() - kFastInputReserve);
    const uint8_t *in = start;
    uint64_t buffer = st.bitBuffer;
    uint32_t bits = st.bitCount;
    uint32_t demand = bits;
    uint8_t *const window = st.window;
    const uint32_t windowSize = st.windowSize;
    uint8_t *out = window + st.windowPos;
    // Output goes in stretches that end at the window's end or where the
    // call's count is reached, whichever comes first.
    uint32_t room = count - produced;
    uint8_t *stretch = out;
    uint8_t *end = out + (room < windowSize - st.windowPos ? room : windowSize - st.windowPos);
    FastStop stop = kStoppedAtSymbol;

    // Branch-free refill to 56..63 bits: the byte only partly loaded sits
    // above `bits` and is loaded again, whole, by the next refill.
#define QZARC_REFILL()                                                   \
    do {                                                                 \
        buffer |= Load64(in) << bits;                                    \
        in += (63u - bits) >> 3;                                         \
        bits |= 56u;                                                     \
    } while (0)
    // Consumes a symbol whose plain reading asked for FastDemand(e) bits.
#define QZARC_TAKE_CODE(e)                                               \
    do {                                                                 \
        if (demand < FastDemand(e))                                      \
            demand = FastDemand(e);                                      \
        demand -= FastLength(e);                                         \
        buffer >>= FastLength(e);                                        \
        bits -= FastLength(e);                                           \
    } while (0)
    // At the end of a stretch: count it, wrap a full window (flushing it,
    // as the plain path does) and start the next one, or stop.
#define QZARC_END_STRETCH()                                              \
    do {                                                                 \
        const uint32_t done = uint32_t(out - stretch);                   \
        produced += done;                                                \
        room -= done;                                                    \
        if (out == window + windowSize) {                                \
            st.windowPos = windowSize;                                   \
            FlushWindow();                                               \
            st.flushStart = 0;                                           \
            out = window;                                                \
        }                                                                \
        stretch = out;                                                   \
        if (room == 0)                                                   \
            goto finish;                                                 \
        end = out + (room < windowSize - uint32_t(out - window)          \
                         ? room                                          \
                         : windowSize - uint32_t(out - window));         \
    } while (0)

    // Puts a literal symbol out, ending the stretch when it fills.
#define QZARC_PUT_LITERAL(e)                                             \
    do {                                                                 \
        QZARC_TAKE_CODE(e);                                              \
        *out++ = FastLiteral(e);                                         \
        if (out == end)                                                  \
            QZARC_END_STRETCH();                                         \
    } while (0)

    while (in <= last) {
        // With the index bits already there, the lookup does not wait for
        // the refill.
        uint32_t e;
        if (bits >= kFastLiteralBits) {
            e = literals[buffer & ((1u << kFastLiteralBits) - 1u)];
            QZARC_REFILL();
        } else {
            QZARC_REFILL();
            e = literals[buffer & ((1u << kFastLiteralBits) - 1u)];
        }
        if (FastIsLiteral(e)) {
            QZARC_PUT_LITERAL(e);
            // Codes from the flat table are short enough to leave bits for
            // two more lookups before the next refill.
#pragma GCC unroll 2
            for (int more = 0; more < 2; ++more) {
                e = literals[buffer & ((1u << kFastLiteralBits) - 1u)];
                if (!FastIsLiteral(e))
                    break;
                QZARC_PUT_LITERAL(e);
            }
            continue;
        }
        if (FastOp(e) == kFastLong) {
            e = ResolveCode(st.literalTable, st.literalBits, uint32_t(buffer), 16);
            if (FastIsLiteral(e)) {
                QZARC_PUT_LITERAL(e);
                continue;
            }
        }
        const uint32_t op = FastOp(e);
        if (op > 16)
            break;  // end of block or an invalid code: the plain path takes it

        // A length, then its distance, which always decodes here. Each
        // takes its extra bits with its code.
        const uint32_t length =
            FastValue(e) + (uint32_t(buffer >> (FastLength(e) - op)) & ((1u << op) - 1u));
        QZARC_TAKE_CODE(e);
        if (bits < 32)
            QZARC_REFILL();  // Deflate64: up to 16 length bits came before
        uint32_t d = distances[buffer & ((1u << kFastDistanceBits) - 1u)];
        if (FastOp(d) == kFastLong)
            d = ResolveCode(st.distanceTable, st.distanceBits, uint32_t(buffer), 16);
        const uint32_t dop = FastOp(d);
        const uint32_t distance =
            FastValue(d) + (uint32_t(buffer >> (FastLength(d) - dop)) & ((1u << dop) - 1u));
        QZARC_TAKE_CODE(d);

        const uint32_t pos = uint32_t(out - window);
        const uint32_t from = (pos - distance) & (windowSize - 1u);
        if (length > uint32_t(end - out) || length > windowSize - from) {
            // Cut by the count or by the window's end: the chunk loop copies it.
            st.copyLength = length;
            st.copyFrom = pos - distance;
            stop = kStoppedAtMatch;
            break;
        }
        CopyMatch(window, pos, from, length);
        out += length;
        if (out == end)
            QZARC_END_STRETCH();
    }
    produced += uint32_t(out - stretch);

finish:
#undef QZARC_REFILL
#undef QZARC_TAKE_CODE
#undef QZARC_END_STRETCH
#undef QZARC_PUT_LITERAL
    // Keep what the plain path would have pulled: the smallest whole number
    // of bytes covering `demand` (pending bits and pulled bytes always
    // differ by a multiple of 8); give back the rest.
    const uint32_t keep = demand + ((bits - demand) & 7u);
    in -= (bits - keep) >> 3;
    st.bitBuffer = uint32_t(buffer & ((uint64_t(1) << keep) - 1u));
    st.bitCount = keep;
    st.windowPos = uint32_t(out - window);
    TakeBufferedBytes(uint32_t(in - start));
    return stop;
}

bool FastRunUsable() {
    return gInflate.source == ByteSource && FastPathsAllowed() && gFast.distancesComplete &&
           BufferedEntryBytes() >= kFastMinInput;
}

} // namespace

uint32_t FixedBlockSlice(uint32_t count) {
    if ((gInflate.flags & kBlockReady) == 0) {
        uint32_t lengths[288];
        uint32_t sym = 0;
        for (; sym < 144; ++sym)
            lengths[sym] = 8;
        for (; sym < 256; ++sym)
            lengths[sym] = 9;
        for (; sym < 280; ++sym)
            lengths[sym] = 7;
        for (; sym < 288; ++sym)
            lengths[sym] = 8;
        gInflate.literalBits = 7;
        int built = BuildCodeTable(lengths, 288, 257, gInflate.lengthBase, gInflate.lengthExtra,
                                   &gInflate.literalTable, &gInflate.literalBits);
        if (built != kBuildComplete)
            return FailSetUp(built == kBuildNoMemory);
        for (sym = 0; sym < 32; ++sym)
            lengths[sym] = 5;
        gInflate.distanceBits = 5;
        built = BuildCodeTable(lengths, 32, 0, DistanceBase, DistanceExtra, &gInflate.distanceTable,
                               &gInflate.distanceBits);
        if (built != kBuildComplete)
            return FailSetUp(built == kBuildNoMemory);
        gInflate.flags |= kBlockReady;
        if (gInflate.source == ByteSource)
            BuildFastTables();
    }
    return CodedBlockData(count);
}

uint32_t DynamicBlockSlice(uint32_t count) {
    if ((gInflate.flags & kBlockReady) == 0) {
        if (!SetUpDynamicBlock())
            return 0;
        gInflate.flags |= kBlockReady;
        if (gInflate.source == ByteSource)
            BuildFastTables();
    }
    return CodedBlockData(count);
}

uint32_t CodedSlice(uint32_t count) {
    InflateStream &st = gInflate;
    uint32_t produced = 0;
    do {
        // FastRun decodes as far as it may; it stops before a symbol that is
        // the plain path's, or after decoding a match that the chunk loop
        // below is to copy.
        const bool matchReady = (st.flags & kCopyPending) == 0 && FastRunUsable() &&
                                FastRun(count, produced) == kStoppedAtMatch;
        if ((st.flags & kCopyPending) == 0 && !matchReady) {
            if (produced >= count)
                break;
            const uint32_t op = DecodeSymbol(st.literalBits, st.literalTable, &st.copyLength);
            if (op == kOpInvalid) {
                gUnpack.status = kInflateBadData;
                return 0;
            }
            if (op == kOpLiteral) {
                PutWindowByte(uint8_t(st.copyLength));
                ++produced;
                continue;
            }
            if (op == kOpEndOfBlock) {
                st.flags &= kStreamFlags;
                break;
            }
            st.copyLength += ReadBits(op);
            const uint32_t dop = DecodeSymbol(st.distanceBits, st.distanceTable, &st.copyFrom);
            if (dop == kOpInvalid) {
                gUnpack.status = kInflateBadData;
                return 0;
            }
            const uint32_t distance = st.copyFrom + ReadBits(dop);
            // Distances are not checked against the bytes produced so far; a
            // distance beyond the window wraps modulo its size below.
            st.copyFrom = st.windowPos - distance;
        }

        // Copy the match in chunks that end at the window's end or at the count.
        st.flags = uint8_t(st.flags & ~kCopyPending);
        do {
            st.copyFrom &= st.windowSize - 1;
            const uint32_t further = st.copyFrom > st.windowPos ? st.copyFrom : st.windowPos;
            uint32_t chunk = st.windowSize - further;
            if (chunk > st.copyLength)
                chunk = st.copyLength;
            if (produced + chunk > count) {
                chunk = count - produced;
                st.flags |= kCopyPending;
            }
            st.copyLength -= chunk;
            produced += chunk;
            CopyChunk(chunk);
            st.windowPos += chunk;
            st.copyFrom += chunk;
            if (st.windowPos == st.windowSize) {
                FlushWindow();
                st.windowPos = 0;
                st.flushStart = 0;
            }
        } while (st.copyLength != 0 && (st.flags & kCopyPending) == 0);
    } while (produced < count);
    FlushWindow();
    return produced;
}
