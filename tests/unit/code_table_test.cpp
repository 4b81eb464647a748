// The lookup-table builder decides every symbol the inflater decodes, and
// its sub-table layout is easy to get subtly wrong (a link in the wrong slot,
// a table one bit too narrow) in ways that only some code sets expose. The
// property tests build random complete and incomplete code sets at every
// root width and decode each symbol's canonical code through the tables;
// the remaining tests pin the edge cases of the build and of the readers.
#include "inflate/code_table.h"
#include "inflate/coded_blocks.h"
#include "deflate_builder.h"
#include "inflater_fixture.h"
#include "inflate/bit_input.h"
#include "platform/test_hooks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> gInput;
size_t gInputPos = 0;
size_t gSourceCalls = 0;

int VectorSource(void *) {
    ++gSourceCalls;
    return gInputPos < gInput.size() ? gInput[gInputPos++] : 0;
}

using qzt::BitWriter;
using qzt::CanonicalCodes;

class CodeTableTest : public qzt::InflaterTest {
protected:
    void SetUp() override {
        InflaterTest::SetUp();
        Feed({});
    }
    void TearDown() override {
        FreeCodeTable(&table_);
        gInflate.input = InflateInput{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
        gInflate.bitBuffer = 0;
        gInflate.bitCount = 0;
        InflaterTest::TearDown();
    }
    static void Feed(std::vector<uint8_t> bytes) {
        gInput = std::move(bytes);
        gInputPos = 0;
        gSourceCalls = 0;
        gInflate.input = InflateInput{VectorSource, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
        gInflate.bitBuffer = 0;
        gInflate.bitCount = 0;
    }
    // Builds into table_ with root width *bits wanted; *bits gets the width used.
    int Build(const std::vector<uint32_t> &lengths, uint32_t s, uint32_t *bits,
              const uint16_t *base = nullptr, const uint16_t *extra = nullptr, uint32_t mainBits = 0) {
        table_.bits = *bits;
        const int result =
            BuildCodeTable(gInflate, lengths.data(), uint32_t(lengths.size()), s, base, extra, &table_, nullptr, mainBits);
        *bits = table_.bits;
        return result;
    }
    uint32_t Entry(uint32_t i) const { return table_.entries[i]; }
    // Bits the readers have consumed so far.
    static uint64_t Consumed() { return gSourceCalls * 8 - gInflate.bitCount; }

    CodeTable table_ = {nullptr, 0, 0, nullptr, 0, nullptr};
};

// A random complete prefix code: split random leaves until there are
// `leaves` of them, never deeper than maxLen; lengths are dealt to random
// symbols among n.
std::vector<uint32_t> RandomCompleteLengths(std::mt19937 &rng, uint32_t n, uint32_t leaves,
                                            uint32_t maxLen) {
    std::vector<uint32_t> depths{0};
    while (depths.size() < leaves) {
        // Half the splits deepen the newest leaf, so long codes and several
        // table levels are common.
        size_t i = rng() % 2 ? depths.size() - 1 : rng() % depths.size();
        if (depths[i] >= maxLen)
            continue;
        ++depths[i];
        depths.push_back(depths[i]);
    }
    if (depths.size() == 1)
        depths[0] = 1;  // a lone code still needs one bit
    std::vector<uint32_t> lengths(n, 0);
    std::vector<uint32_t> symbols(n);
    for (uint32_t s = 0; s < n; ++s)
        symbols[s] = s;
    std::shuffle(symbols.begin(), symbols.end(), rng);
    for (size_t i = 0; i < depths.size(); ++i)
        lengths[symbols[i]] = depths[i];
    return lengths;
}

TEST_F(CodeTableTest, RandomCodeSetsDecodeEverySymbolAtEveryRootWidth) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        const uint32_t n = 2 + rng() % 287;
        const uint32_t maxLen = 1 + rng() % 15;
        const uint32_t most = std::min<uint32_t>(n, maxLen >= 9 ? n : 1u << maxLen);
        const uint32_t leaves = most == 2 ? 2 : 2 + rng() % (most - 1);
        std::vector<uint32_t> lengths = RandomCompleteLengths(rng, n, leaves, maxLen);
        // Every third set loses one code: it must then report itself incomplete,
        // still decode its real codes and reject the patterns left unused.
        const bool incomplete = round % 3 == 0 && leaves > 2;
        if (incomplete) {
            uint32_t dropped;
            do
                dropped = rng() % n;
            while (lengths[dropped] == 0);
            lengths[dropped] = 0;
        }
        const std::vector<uint32_t> codes = CanonicalCodes(lengths);
        const uint32_t wanted = 1 + rng() % 10;
        uint32_t rootBits = wanted;
        const long before = qzarc_test::LiveBlocks();
        const int result = Build(lengths, n, &rootBits);
        uint32_t shortest = 16, longest = 0;
        for (uint32_t len : lengths)
            if (len != 0) {
                shortest = std::min(shortest, len);
                longest = std::max(longest, len);
            }
        ASSERT_EQ(rootBits, std::min(std::max(wanted, shortest), longest)) << "round " << round;
        ASSERT_EQ(result, incomplete && longest > 1 ? kBuildIncomplete : kBuildComplete) << round;
        ASSERT_GT(qzarc_test::LiveBlocks(), before);

        // Every symbol, in random order, back to back in one bit stream.
        std::vector<uint32_t> order;
        for (uint32_t s = 0; s < n; ++s)
            if (lengths[s] != 0)
                order.push_back(s);
        std::shuffle(order.begin(), order.end(), rng);
        BitWriter w;
        uint64_t totalBits = 0;
        for (uint32_t s : order) {
            w.Code(codes[s], lengths[s]);
            totalBits += lengths[s];
        }
        Feed(w.bytes());
        std::vector<size_t> pulls;  // source calls after each symbol
        for (uint32_t s : order) {
            uint32_t value = 0;
            const uint32_t op = DecodeSymbol(gInflate, table_, &value);
            ASSERT_EQ(op, s < 256 ? uint32_t(kOpLiteral) : uint32_t(kOpEndOfBlock)) << round;
            ASSERT_EQ(value, s) << round;
            pulls.push_back(gSourceCalls);
        }
        EXPECT_EQ(Consumed(), totalBits) << round;

        // A wider main table resolves more codes at once but pulls every
        // byte at the same point: the root width asked decides that.
        {
            CodeTable wide = {nullptr, wanted, 0, nullptr, 0, nullptr};
            const uint32_t mainBits = 8 + rng() % 4;
            ASSERT_EQ(BuildCodeTable(gInflate, lengths.data(), n, n, nullptr, nullptr, &wide, nullptr, mainBits), result);
            EXPECT_EQ(wide.bits, rootBits);
            EXPECT_EQ(wide.lookupBits, std::max(mainBits, rootBits));
            Feed(w.bytes());
            for (size_t i = 0; i < order.size(); ++i) {
                uint32_t value = 0;
                DecodeSymbol(gInflate, wide, &value);
                ASSERT_EQ(value, order[i]) << round;
                ASSERT_EQ(gSourceCalls, pulls[i]) << round << " symbol " << i;
            }
            FreeCodeTable(&wide);
        }
        if (incomplete) {
            // Canonical codes fill the patterns from 0 up, so all ones of the
            // longest length is free; it must consume nothing.
            BitWriter gap;
            gap.Code((1u << longest) - 1, longest);
            Feed(gap.bytes());
            uint32_t value = 0;
            EXPECT_EQ(DecodeSymbol(gInflate, table_, &value), uint32_t(kOpInvalid)) << round;
            EXPECT_EQ(gInflate.bitCount, 0u);
        }
        FreeCodeTable(&table_);
        EXPECT_EQ(qzarc_test::LiveBlocks(), before);
    }
}

TEST_F(CodeTableTest, EmptySetHasNoTableAndDecodesNothing) {
    uint32_t bits = 9;
    EXPECT_EQ(Build(std::vector<uint32_t>(30, 0), 0, &bits, DistanceBase9, DistanceExtra), kBuildComplete);
    EXPECT_EQ(table_.entries, nullptr);
    EXPECT_EQ(bits, 0u);
    Feed({0xFF});
    uint32_t value = 0;
    EXPECT_EQ(DecodeSymbol(gInflate, table_, &value), uint32_t(kOpInvalid));
    EXPECT_EQ(gSourceCalls, 0u);
}

TEST_F(CodeTableTest, SingleOneBitCodeIsAcceptedWithItsOtherPatternInvalid) {
    std::vector<uint32_t> lengths(30, 0);
    lengths[12] = 1;
    uint32_t bits = 6;
    EXPECT_EQ(Build(lengths, 0, &bits, DistanceBase9, DistanceExtra), kBuildComplete);
    EXPECT_EQ(bits, 1u);
    EXPECT_EQ(EntryOp(Entry(0)), DistanceExtra[12]);
    EXPECT_EQ(EntryValue(Entry(0)), DistanceBase9[12]);
    EXPECT_EQ(EntryCodeBits(Entry(0)), 1u);
    EXPECT_EQ(EntryUsed(Entry(0)), 1u + DistanceExtra[12]);  // the code and its extra bits
    EXPECT_EQ(EntryOp(Entry(1)), kOpInvalid);
}

// A 16-bit code with 16 extra bits would take 32 bits, more than a lookup's
// field holds: no Deflate stream has one (codes stop at 15 bits), and the
// table makes it invalid rather than decode it wrong.
TEST_F(CodeTableTest, LengthOfThirtyTwoBitsIsInvalid) {
    std::vector<uint32_t> lengths(288, 0);
    for (uint32_t s = 0; s < 15; ++s)
        lengths[s] = s + 1;
    lengths[284] = 16;  // 5 extra bits: 21 in all
    lengths[285] = 16;  // 16 extra bits in Deflate64
    uint32_t bits = 9;
    ASSERT_EQ(Build(lengths, 257, &bits, LengthBase9, LengthExtra9, kLiteralLookupBits), kBuildComplete);
    uint32_t value = 0;
    BitWriter w;
    w.Code(0xFFFE, 16);
    w.Bits(0, 5);
    w.Code(0xFFFF, 16);
    Feed(w.bytes());
    EXPECT_EQ(DecodeSymbol(gInflate, table_, &value), 5u);
    EXPECT_EQ(ReadBits(gInflate, 5), 0u);
    EXPECT_EQ(DecodeSymbol(gInflate, table_, &value), uint32_t(kOpInvalid));
}

TEST_F(CodeTableTest, OversubscribedSetAllocatesNothingAndLeavesTheSlot) {
    qzarc_test::ResetCounters();
    uint32_t marker = 0;
    table_.entries = &marker;
    uint32_t bits = 7;
    EXPECT_EQ(Build({1, 1, 1}, 3, &bits), kBuildOversubscribed);
    EXPECT_EQ(table_.entries, &marker);
    // Over by one at the longest length only.
    EXPECT_EQ(Build({1, 2, 3, 3, 3}, 5, &bits), kBuildOversubscribed);
    EXPECT_EQ(table_.entries, &marker);
    EXPECT_EQ(qzarc_test::AllocationCount(), 0u);
    table_.entries = nullptr;
}

TEST_F(CodeTableTest, IncompleteSetIsBuiltWithInvalidGaps) {
    uint32_t bits = 7;
    EXPECT_EQ(Build({0, 2, 0, 2}, 4, &bits), kBuildIncomplete);
    ASSERT_NE(table_.entries, nullptr);
    EXPECT_EQ(bits, 2u);
    // Codes 00 and 01 (first bit first): indexes 0 and 2 of the bit-reversed table.
    EXPECT_EQ(EntryValue(Entry(0)), 1u);
    EXPECT_EQ(EntryValue(Entry(2)), 3u);
    EXPECT_EQ(EntryOp(Entry(1)), kOpInvalid);
    EXPECT_EQ(EntryOp(Entry(3)), kOpInvalid);
}

TEST_F(CodeTableTest, RootWidthIsClampedToTheCodeLengths) {
    std::vector<uint32_t> sevens(128, 7);
    uint32_t bits = 9;
    EXPECT_EQ(Build(sevens, 128, &bits), kBuildComplete);
    EXPECT_EQ(bits, 7u);
    FreeCodeTable(&table_);
    std::vector<uint32_t> eights(256, 8);
    bits = 7;
    EXPECT_EQ(Build(eights, 256, &bits), kBuildComplete);
    EXPECT_EQ(bits, 8u);
}

TEST_F(CodeTableTest, FixedLiteralSetLayoutAndLengthSymbols) {
    std::vector<uint32_t> lengths(288);
    for (uint32_t s = 0; s < 288; ++s)
        lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    for (int method : {8, 9}) {
        const long before = qzarc_test::LiveBlocks();
        uint32_t bits = 7;
        ASSERT_EQ(Build(lengths, 257, &bits, method == 8 ? LengthBase8 : LengthBase9,
                        method == 8 ? LengthExtra8 : LengthExtra9),
                  kBuildComplete);
        EXPECT_EQ(bits, 7u);
        int leaves = 0, oneBitLinks = 0, twoBitLinks = 0;
        for (uint32_t i = 0; i < 128; ++i) {
            const uint32_t e = Entry(i);
            leaves += EntryOp(e) <= kOpLiteral && EntryCodeBits(e) == 7;
            oneBitLinks += EntryOp(e) == kOpLink && EntryUsed(e) == 7 && EntryLinkBits(e) == 1;
            twoBitLinks += EntryOp(e) == kOpLink && EntryUsed(e) == 7 && EntryLinkBits(e) == 2;
        }
        EXPECT_EQ(leaves, 24);
        EXPECT_EQ(oneBitLinks, 76);
        EXPECT_EQ(twoBitLinks, 28);
        // Root and sub-tables in one block.
        EXPECT_EQ(qzarc_test::LiveBlocks() - before, 1);

        // 285, 286 and 287 are the 8-bit codes 11000101..11000111.
        const uint32_t codes[3] = {0xC5, 0xC6, 0xC7};
        uint32_t ops[3], values[3];
        for (int k = 0; k < 3; ++k) {
            BitWriter w;
            w.Code(codes[k], 8);
            Feed(w.bytes());
            ops[k] = DecodeSymbol(gInflate, table_, &values[k]);
        }
        EXPECT_EQ(ops[0], method == 8 ? 0u : 16u);
        EXPECT_EQ(values[0], method == 8 ? 258u : 3u);
        EXPECT_EQ(ops[1], uint32_t(kOpInvalid));
        EXPECT_EQ(ops[2], uint32_t(kOpInvalid));
        FreeCodeTable(&table_);

        // As the blocks build it, with the wide main table: every code is a
        // main-table leaf, and asks no further than the 7-bit root and its
        // sub-tables did (the 9-bit codes fill the 2-bit sub-tables, so
        // every code asks exactly its own bits).
        bits = 7;
        ASSERT_EQ(Build(lengths, 257, &bits, method == 8 ? LengthBase8 : LengthBase9,
                        method == 8 ? LengthExtra8 : LengthExtra9, kLiteralLookupBits),
                  kBuildComplete);
        EXPECT_EQ(table_.lookupBits, kLiteralLookupBits);
        int links = 0, asksFurther = 0;
        for (uint32_t i = 0; i < (1u << kLiteralLookupBits); ++i) {
            links += EntryOp(Entry(i)) == kOpLink;
            asksFurther += table_.aheads[i] != 0;
        }
        EXPECT_EQ(links, 0);
        EXPECT_EQ(asksFurther, 0);
        EXPECT_EQ(qzarc_test::LiveBlocks() - before, 1);
        FreeCodeTable(&table_);
    }
}

TEST_F(CodeTableTest, RunningOutOfMemoryLeavesNothing) {
    std::vector<uint32_t> lengths(288);
    for (uint32_t s = 0; s < 288; ++s)
        lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    qzarc_test::FailAllocation(1);
    uint32_t bits = 7;
    EXPECT_EQ(Build(lengths, 257, &bits, LengthBase8, LengthExtra8), kBuildNoMemory);
    EXPECT_EQ(gInflate.status, 1);
    EXPECT_EQ(table_.entries, nullptr);
    EXPECT_EQ(qzarc_test::LiveBlocks(), liveAtStart_);
    // The whole table is that one block: a later failure cannot hit it.
    qzarc_test::FailAllocation(2);
    gInflate.status = kStatusOk;
    EXPECT_EQ(Build(lengths, 257, &bits, LengthBase8, LengthExtra8), kBuildComplete);
    EXPECT_EQ(gInflate.status, 0);
    FreeCodeTable(&table_);
    qzarc_test::FailAllocation(0);
}

// An invalid pattern found in a sub-table leaves the pending bits as they
// were at the call, those of the root level included; the byte pulled for
// the lookup is dropped with them (the source was still asked for it).
TEST_F(CodeTableTest, InvalidCodeInASubTableLeavesThePendingBits) {
    // 1-, 2- and one 10-bit code: with a 9-bit root the 10-bit code lives in
    // a sub-table whose other pattern is unused.
    std::vector<uint32_t> lengths{1, 2, 10};
    uint32_t bits = 9;
    ASSERT_EQ(Build(lengths, 3, &bits), kBuildIncomplete);
    const std::vector<uint32_t> codes = CanonicalCodes(lengths);
    BitWriter w;
    w.Code(codes[2] | 1u, 10);  // the 10-bit pattern next to the real one
    w.Code(0, 6);
    Feed(w.bytes());
    NeedBits(gInflate, 8);  // the first byte is pending already
    const uint32_t pending = gInflate.bitBuffer;
    ASSERT_EQ(gSourceCalls, 1u);
    uint32_t value = 0;
    EXPECT_EQ(DecodeSymbol(gInflate, table_, &value), uint32_t(kOpInvalid));
    EXPECT_EQ(gInflate.bitBuffer, pending);
    EXPECT_EQ(gInflate.bitCount, 8u);
    EXPECT_EQ(gSourceCalls, 2u);  // one byte more for the 9-bit root, none for the sub-table

    BitWriter ok;
    ok.Code(codes[2], 10);
    Feed(ok.bytes());
    EXPECT_EQ(DecodeSymbol(gInflate, table_, &value), uint32_t(kOpLiteral));
    EXPECT_EQ(value, 2u);
    EXPECT_EQ(Consumed(), 10u);
}

TEST_F(CodeTableTest, ReadBitsPullsOnlyWhatTheFieldNeeds) {
    Feed({0xAB, 0xCD});
    gInflate.bitBuffer = 0x5555;
    gInflate.bitCount = 15;
    EXPECT_EQ(ReadBits(gInflate, 16), 0x5555u | (1u << 15));
    EXPECT_EQ(gSourceCalls, 1u);
    EXPECT_EQ(gInflate.bitCount, 7u);
    EXPECT_EQ(ReadBits(gInflate, 7), 0xABu >> 1);
    EXPECT_EQ(ReadBits(gInflate, 0), 0u);
    EXPECT_EQ(gSourceCalls, 1u);
}

} // namespace
