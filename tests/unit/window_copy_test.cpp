// Match copies inside the window take words of 4, 8 and 16 bytes, a pattern
// fill for short distances and a byte loop only where nothing wider is
// exact. Whatever the way, the window must end up as a front-to-back byte
// loop leaves it, and nothing past the copy may change: the exact decoder's
// copies may end at the very end of the window's area.
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
    // Sources behind the destination, overlapping it or not.
    for (uint32_t n = 1; n <= 300; n = n < 40 ? n + 1 : n + 37) {
        for (uint32_t to = 0; to + n <= kSize; to += 131) {
            std::vector<uint32_t> sources;
            for (uint32_t d = 1; d <= 40 && d <= to; ++d)
                sources.push_back(to - d);
            for (uint32_t d : {64u, 100u, 257u, 600u})
                if (d <= to)
                    sources.push_back(to - d);
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
