#include "inflate/coded_blocks.h"

#include "inflate/bit_input.h"
#include "inflate/code_table.h"
#include "inflate/fast_decode.h"
#include "inflate/window.h"

const uint16_t LengthBase8[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                  35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
const uint16_t LengthExtra8[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,  2, 2,
                                   3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
const uint16_t LengthBase9[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19, 23, 27, 31,
                                  35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3,  0,  0};
const uint16_t LengthExtra9[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2,  2,  2, 2,
                                   3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16, 99, 99};

const uint16_t DistanceBase8[32] = {1,    2,    3,     4,     5,     7,     9,     13,
                                    17,   25,   33,    49,    65,    97,    129,   193,
                                    257,  385,  513,   769,   1025,  1537,  2049,  3073,
                                    4097, 6145, 8193,  12289, 16385, 24577, 1,     16385};
const uint16_t DistanceBase9[32] = {1,    2,    3,     4,     5,     7,     9,     13,
                                    17,   25,   33,    49,    65,    97,    129,   193,
                                    257,  385,  513,   769,   1025,  1537,  2049,  3073,
                                    4097, 6145, 8193,  12289, 16385, 24577, 32769, 49153};
const uint16_t DistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

const uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

namespace {

constexpr uint32_t kMaxLiteralCodes = 286;
constexpr uint32_t kMaxDistanceCodes = 32;
constexpr uint32_t kCodeLengthCodes = 19;

// Fails a block set-up: frees what was built and records kStatusBadData for a bad
// header, or keeps the kStatusNoMemory a table build recorded when memory ran out.
uint32_t FailSetUp(InflateStream &st, bool outOfMemory) {
    FreeBlockTables(st);
    if (!outOfMemory)
        st.status = kStatusBadData;
    return 0;
}

// Reads a dynamic block's code description and builds its two tables.
// Returns false (status set, slots empty) when the header is bad or memory
// runs out.
bool SetUpDynamicBlock(InflateStream &st) {
    const uint32_t nl = 257 + ReadBits(st, 5);
    const uint32_t nd = 1 + ReadBits(st, 5);
    const uint32_t nc = 4 + ReadBits(st, 4);
    if (nl > kMaxLiteralCodes) {
        FailSetUp(st, false);
        return false;
    }

    // Code-length code lengths first occupy the start of the same array.
    uint32_t lengths[kMaxLiteralCodes + kMaxDistanceCodes];
    for (uint32_t i = 0; i < kCodeLengthCodes; ++i)
        lengths[i] = 0;
    for (uint32_t i = 0; i < nc; ++i)
        lengths[CodeLengthOrder[i]] = ReadBits(st, 3);
    st.literals.bits = 7;
    int built = BuildCodeTable(st, lengths, kCodeLengthCodes, kCodeLengthCodes, nullptr, nullptr, &st.literals);
    if (built != kBuildComplete) {
        FailSetUp(st, built == kBuildNoMemory);
        return false;
    }

    // The code-length table has a single level: its width is its longest code.
    const uint32_t total = nl + nd;
    uint32_t previous = 0;
    uint32_t j = 0;
    while (j < total) {
        const uint32_t *table = st.literals.entries;
        if (table == nullptr) {
            FailSetUp(st, false);
            return false;
        }
        NeedBits(st, st.literals.bits);
        const uint32_t entry = table[LowBits(st.bitBuffer, st.literals.bits)];
        if (EntryOp(entry) == kOpInvalid) {
            FailSetUp(st, false);
            return false;
        }
        DropBits(st, EntryUsed(entry));
        const uint32_t sym = EntryValue(entry);
        if (sym < 16) {
            lengths[j++] = sym;
            previous = sym;
            continue;
        }
        uint32_t repeat;
        uint32_t value;
        if (sym == 16) {
            repeat = 3 + ReadBits(st, 2);
            value = previous;
        } else if (sym == 17) {
            repeat = 3 + ReadBits(st, 3);
            previous = 0;
            value = 0;
        } else {
            repeat = 11 + ReadBits(st, 7);
            previous = 0;
            value = 0;
        }
        // A repeat may run from the literal/length lengths into the distance
        // lengths, but not past the last of them.
        if (j + repeat > total) {
            FailSetUp(st, false);
            return false;
        }
        while (repeat-- != 0)
            lengths[j++] = value;
    }
    FreeCodeTable(&st.literals);

    st.literals.bits = 9;
    built = BuildCodeTable(st, lengths, nl, 257, st.lengthBase, st.lengthExtra, &st.literals, nullptr,
                           kLiteralLookupBits);
    if (built != kBuildComplete) {
        FailSetUp(st, built == kBuildNoMemory);
        return false;
    }
    st.distances.bits = 6;
    built = BuildCodeTable(st, lengths + nl, nd, 0, st.distanceBase, DistanceExtra, &st.distances,
                           &st.distancesComplete, kDistanceLookupBits);
    if (built != kBuildComplete) {
        FailSetUp(st, built == kBuildNoMemory);
        return false;
    }
    return true;
}

// Runs the block's data and frees its tables once the block is over (it has
// ended, it ended at once, or it failed).
uint32_t CodedBlockData(InflateStream &st, uint32_t count) {
    const uint32_t produced = CodedSlice(st, count);
    if (produced == 0 || (st.flags & kBlockReady) == 0)
        FreeBlockTables(st);
    return produced;
}

} // namespace

void FreeBlockTables(InflateStream &st) {
    FreeCodeTable(&st.literals);
    FreeCodeTable(&st.distances);
}

namespace {

bool SetUpFixedBlock(InflateStream &st) {
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
    st.literals.bits = 7;
    int built = BuildCodeTable(st, lengths, 288, 257, st.lengthBase, st.lengthExtra, &st.literals, nullptr,
                               kLiteralLookupBits);
    if (built != kBuildComplete) {
        FailSetUp(st, built == kBuildNoMemory);
        return false;
    }
    for (sym = 0; sym < 32; ++sym)
        lengths[sym] = 5;
    st.distances.bits = 5;
    built = BuildCodeTable(st, lengths, 32, 0, st.distanceBase, DistanceExtra, &st.distances, &st.distancesComplete,
                           kDistanceLookupBits);
    if (built != kBuildComplete) {
        FailSetUp(st, built == kBuildNoMemory);
        return false;
    }
    return true;
}

} // namespace

bool SetUpCodedBlock(InflateStream &st) {
    if ((st.flags & kBlockReady) != 0)
        return true;
    const bool built = (st.flags & kBlockKindMask) == kBlockFixed ? SetUpFixedBlock(st) : SetUpDynamicBlock(st);
    if (built)
        st.flags |= kBlockReady;
    return built;
}

uint32_t FixedBlockSlice(InflateStream &st, uint32_t count) {
    if (!SetUpCodedBlock(st))
        return 0;
    return CodedBlockData(st, count);
}

uint32_t DynamicBlockSlice(InflateStream &st, uint32_t count) {
    if (!SetUpCodedBlock(st))
        return 0;
    return CodedBlockData(st, count);
}

uint32_t CodedSlice(InflateStream &st, uint32_t count) {
    uint32_t produced = 0;
    do {
        // FastRun decodes as far as it may; it stops before a symbol that is
        // the exact decoder's, or after decoding a match that the chunk loop
        // below is to copy.
        const bool matchReady = (st.flags & kCopyPending) == 0 && FastRun(st, count, produced) == kStoppedAtMatch;
        if ((st.flags & kCopyPending) == 0 && !matchReady) {
            if (produced >= count)
                break;
            const uint32_t op = DecodeSymbol(st, st.literals, &st.copyLength);
            if (op == kOpInvalid) {
                st.status = kStatusBadData;
                return 0;
            }
            if (op == kOpLiteral) {
                PutWindowByte(st, uint8_t(st.copyLength));
                ++produced;
                continue;
            }
            if (op == kOpEndOfBlock) {
                st.flags &= kStreamFlags;
                break;
            }
            st.copyLength += ReadBits(st, op);
            const uint32_t dop = DecodeSymbol(st, st.distances, &st.copyFrom);
            if (dop == kOpInvalid) {
                st.status = kStatusBadData;
                return 0;
            }
            const uint32_t distance = st.copyFrom + ReadBits(st, dop);
            // Distances are not checked against the bytes produced so far:
            // before the stream's first byte the window holds zeros. None
            // is more than the history (coded_blocks.h), so the source lies
            // in the window.
            st.copyFrom = st.windowPos - distance;
        }

        // Copy the match in chunks that end at the area's end or at the count.
        st.flags = uint8_t(st.flags & ~kCopyPending);
        do {
            uint32_t chunk = st.windowLimit - st.windowPos;
            if (chunk > st.copyLength)
                chunk = st.copyLength;
            if (produced + chunk > count) {
                chunk = count - produced;
                st.flags |= kCopyPending;
            }
            st.copyLength -= chunk;
            produced += chunk;
            CopyInWindow(st.window, st.windowPos, st.copyFrom, chunk);
            st.windowPos += chunk;
            st.copyFrom += chunk;
            if (st.windowPos == st.windowLimit)
                SlideWindow(st);
        } while (st.copyLength != 0 && (st.flags & kCopyPending) == 0);
    } while (produced < count);
    FlushWindow(st);
    return produced;
}
