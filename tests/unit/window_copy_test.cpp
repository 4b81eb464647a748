// Match copies inside the window take words of 4, 8 and 16 bytes, a pattern
// fill for short distances and a byte loop only where nothing wider is
// exact. Whatever the way, the window must end up as a front-to-back byte
// loop leaves it, and nothing past the copy may change: those bytes are
// history later matches read.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "inflate/window.h"

namespace {

using Bytes = std::vector<uint8_t>;

void ByteLoop(uint8_t *window, uint32_t to, uint32_t from, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        window[to + i] = window[from + i];
}

TEST(WindowCopyTest, EveryDistanceAndLengthGivesTheByteLoopsResult) {
    constexpr uint32_t kSize = 1024;
    std::mt19937 rng(5);
    Bytes history(kSize);
    for (uint8_t &b : history)
        b = uint8_t(rng());
    // Sources behind the destination (overlapping or not, the distance of
    // the window's size included) and after it (a distance that wrapped).
    for (uint32_t n = 1; n <= 300; n = n < 40 ? n + 1 : n + 37) {
        for (uint32_t to = 0; to + n <= kSize; to += 131) {
            std::vector<uint32_t> sources;
            for (uint32_t d = 0; d <= 40 && d <= to; ++d)
                sources.push_back(to - d);
            for (uint32_t d : {64u, 100u, 257u, 600u})
                if (d <= to)
                    sources.push_back(to - d);
            for (uint32_t after : {1u, 2u, 7u, 8u, 15u, 16u, 17u, 300u})
                if (to + after + n <= kSize)
                    sources.push_back(to + after);
            for (uint32_t from : sources) {
                Bytes expected = history;
                Bytes got = history;
                ByteLoop(expected.data(), to, from, n);
                CopyInWindow(got.data(), to, from, n);
                ASSERT_TRUE(got == expected) << "to " << to << ", from " << from << ", " << n << " bytes";
            }
        }
    }
}

}  // namespace
