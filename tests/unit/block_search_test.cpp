// The search for a block start looks at 56 bit positions at a time and
// passes over stored-block candidates wholesale when no byte they lead to
// holds a LEN and its complement. Whatever the position of a stored
// block's header within those 56 (its LEN at the first or the last byte a
// word's positions can lead to), the search must come to the very position
// a search of each bit on its own comes to.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "deflate_builder.h"
#include "inflate/block_search.h"

namespace {

// Every position that a search of that one position accepts.
std::vector<bool> Accepted(const qzt::Bytes &data, bool deflate64) {
    const uint32_t size = uint32_t(data.size());
    std::vector<bool> accepted(uint64_t(size) * 8);
    for (uint64_t p = 0; p < accepted.size(); ++p)
        accepted[p] = FindBlockStart(data.data(), size, p, p + 1, deflate64) == p;
    return accepted;
}

uint64_t FirstAccepted(const std::vector<bool> &accepted, uint64_t from, uint64_t to) {
    for (uint64_t p = from; p < to; ++p)
        if (accepted[p])
            return p;
    return kNoBlockStart;
}

TEST(BlockSearchTest, StoredHeadersAreFoundWhereverTheyFallInASearchWord) {
    std::mt19937 rng(5);
    for (uint32_t lead = 0; lead < 72; ++lead) {
        // Noise, a stored block (its header at bit `lead` of the noise's
        // end), more noise, a second stored block, and a tail.
        qzt::BitWriter w;
        for (uint32_t i = 0; i < 40 + lead; ++i)
            w.Bits(rng() & 1u, 1);
        const uint64_t first = w.bitCount();
        qzt::Bytes body(1 + rng() % 300);
        for (uint8_t &b : body)
            b = uint8_t(rng());
        w.StoredBlock(false, body);
        for (uint32_t i = 0; i < 57 + 3 * lead; ++i)
            w.Bits(rng() & 1u, 1);
        w.StoredBlock(false, {});
        w.AppendBytes(qzt::Bytes(8, 0xA5));
        const qzt::Bytes &data = w.bytes();
        const uint64_t end = uint64_t(data.size()) * 8;
        for (const bool deflate64 : {false, true}) {
            const std::vector<bool> accepted = Accepted(data, deflate64);
            ASSERT_LE(FirstAccepted(accepted, 0, end), first) << "lead " << lead;
            for (uint64_t from = 0; from < end; from += 1 + rng() % 5) {
                const uint64_t to = from + 1 + rng() % (end - from);
                EXPECT_EQ(FindBlockStart(data.data(), uint32_t(data.size()), from, to, deflate64),
                          FirstAccepted(accepted, from, to))
                    << "lead " << lead << ", from " << from << " to " << to;
            }
        }
    }
}

}  // namespace
