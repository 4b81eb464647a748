// A stretch's marked symbols become bytes through the map: every path
// (the plain one, the 512-bit one, and with the 16-bit compress) must give
// what a symbol-by-symbol lookup gives, in place or into other memory,
// whatever the count (the vector paths' 64- and 4096-symbol steps and what
// is left after them) and wherever markers fall (none, some, all; the
// furthest marker, whose lookup reads the map's last entry).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "inflate/marker_resolve.h"

namespace {

using Resolver = void (*)(const uint16_t *, uint8_t *, const uint8_t *, uint32_t, uint32_t);

TEST(MarkerResolveTest, EveryPathGivesTheLookupsBytesInPlaceAndApart) {
    std::mt19937 rng(11);
    std::vector<uint8_t> map(kSymbolMapSize);
    for (uint32_t v = 0; v < kSymbolMapSize; ++v)
        map[v] = v < 256 ? uint8_t(v) : uint8_t(rng());
    // Every path this processor has: ResolveSymbols capped at each width,
    // and the plain one called directly. The cap is lifted again however
    // the test ends.
    struct LiftCap {
        ~LiftCap() { gResolveLevelCap = 2; }
    } lift;
    for (int cap : {2, 1, 0, -1}) {
        gResolveLevelCap = cap < 0 ? 2 : cap;
        const Resolver resolve = cap < 0 ? &ResolveSymbolsPlain : &ResolveSymbols;
        for (uint32_t share : {0u, 1u, 16u, 100u}) {  // markers per 100 symbols
            for (uint32_t n : {0u, 1u, 7u, 33u, 63u, 64u, 65u, 191u, 200u, 1000u, 4099u, 13000u, 30000u}) {
                std::vector<uint16_t> symbols(n);
                for (uint16_t &s : symbols) {
                    const bool marker = rng() % 100 < share;
                    s = marker ? uint16_t(256 + rng() % (kSymbolMapSize - 256)) : uint16_t(rng() % 256);
                }
                if (n > 3 && share != 0) {
                    symbols[0] = 0xFFFF;
                    symbols[n - 1] = 0xFFFF;
                }
                std::vector<uint8_t> expected(n);
                for (uint32_t i = 0; i < n; ++i)
                    expected[i] = map[symbols[i]];
                // From a symbol on, into memory of its own.
                const uint32_t from = n / 3;
                std::vector<uint8_t> apart(n, 0x55);
                resolve(symbols.data(), apart.data(), map.data(), from, n);
                for (uint32_t i = 0; i < n; ++i)
                    ASSERT_EQ(apart[i], i < from ? 0x55 : expected[i]) << "apart, n " << n << " at " << i;
                // In place, in two calls as the hand-over makes them.
                std::vector<uint16_t> place = symbols;
                uint8_t *bytes = reinterpret_cast<uint8_t *>(place.data());
                resolve(place.data(), bytes, map.data(), 0, from);
                resolve(place.data(), bytes, map.data(), from, n);
                for (uint32_t i = 0; i < n; ++i)
                    ASSERT_EQ(bytes[i], expected[i]) << "in place, n " << n << " at " << i;
            }
        }
    }
}

} // namespace
