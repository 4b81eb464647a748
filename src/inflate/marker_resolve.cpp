#include "inflate/marker_resolve.h"

#include <atomic>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#define QZARC_RESOLVE_WIDE 1
#include <immintrin.h>
#endif

void FillSymbolMap(uint8_t *map, const uint8_t *historyEnd) {
    for (uint32_t v = 0; v < 256; ++v)
        map[v] = uint8_t(v);
    // Marker 256 + k is historyEnd[-1 - k]: the history reversed, eight
    // bytes at a time (a byte swap reverses a word).
    static_assert((kSymbolMapSize - 256) % 8 == 0, "whole words");
    for (uint32_t k = 0; k < kSymbolMapSize - 256; k += 8) {
        uint64_t word;
        std::memcpy(&word, historyEnd - k - 8, 8);
        word = __builtin_bswap64(word);
        std::memcpy(map + 256 + k, &word, 8);
    }
}

void ResolveSymbolsPlain(const uint16_t *symbols, uint8_t *bytes, const uint8_t *map, uint32_t i, uint32_t end) {
    // Eight at a time: all eight symbols are read before their bytes are
    // written, as one word (little-endian: the first byte lowest). Runs of
    // eight bytes without a marker are only narrowed.
    constexpr uint64_t kHighBytes = 0xFF00FF00FF00FF00u;
    for (; i + 8 <= end; i += 8) {
        uint64_t low;
        uint64_t high;
        std::memcpy(&low, symbols + i, 8);
        std::memcpy(&high, symbols + i + 4, 8);
        uint64_t word;
        if (((low | high) & kHighBytes) == 0) {
            low = (low | (low >> 8)) & 0x0000FFFF0000FFFFu;
            high = (high | (high >> 8)) & 0x0000FFFF0000FFFFu;
            word = ((low | (low >> 16)) & 0xFFFFFFFFu) | ((high | (high >> 16)) << 32);
        } else {
            word = 0;
            for (uint32_t k = 0; k < 4; ++k) {
                word |= uint64_t(map[(low >> (16 * k)) & 0xFFFFu]) << (8 * k);
                word |= uint64_t(map[(high >> (16 * k)) & 0xFFFFu]) << (8 * (k + 4));
            }
        }
        std::memcpy(bytes + i, &word, 8);
    }
    for (; i < end; ++i)
        bytes[i] = map[symbols[i]];
}

#if defined(QZARC_TEST_HOOKS)
int gResolveLevelCap = 2;
#endif

#if defined(QZARC_RESOLVE_WIDE)

namespace {

constexpr uint32_t kWideStep = 64;
constexpr uint32_t kBatch = 4096;

#define QZARC_WIDE_TARGET "avx512f,avx512bw,avx512vl,bmi"

// 64 symbols at a time: all are narrowed to their low bytes and stored,
// then the markers among them (above 255, a bit each in a 64-bit mask) are
// looked up in the map one by one. A fifth of a binary stretch's symbols
// are markers, spread all over it: looking up only those beats gathering
// every lane (twice as fast as 16-lane gathers on the processors measured).
// In place, the bytes stored cover symbols [i / 2, i / 2 + 32), which the
// lookups after them read again when i < 64: callers start in place at 64
// or later. (The zero-masked form of the conversion, all lanes on: the
// plain one starts from an undefined register, which some compilers warn
// of.) Returns where it stopped: fewer than 64 symbols before `end`.
__attribute__((target(QZARC_WIDE_TARGET), always_inline)) inline uint32_t
ResolveGroups(const uint16_t *symbols, uint8_t *bytes, const uint8_t *map, uint32_t i, uint32_t end) {
    constexpr __mmask32 kAll32 = 0xFFFFFFFFu;
    const __m512i largestByte = _mm512_set1_epi16(255);
    for (; i + kWideStep <= end; i += kWideStep) {
        const __m512i first = _mm512_loadu_si512(symbols + i);
        const __m512i second = _mm512_loadu_si512(symbols + i + 32);
        uint64_t markers = uint64_t(_mm512_cmpgt_epu16_mask(first, largestByte)) |
                           uint64_t(_mm512_cmpgt_epu16_mask(second, largestByte)) << 32;
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(bytes + i), _mm512_maskz_cvtepi16_epi8(kAll32, first));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(bytes + i + 32), _mm512_maskz_cvtepi16_epi8(kAll32, second));
        for (; markers != 0; markers &= markers - 1) {
            const uint32_t k = i + uint32_t(__builtin_ctzll(markers));
            bytes[k] = map[symbols[k]];
        }
    }
    return i;
}

// With the processor's 16-bit compress as well: kBatch symbols at a time
// are narrowed and stored, the positions of their markers packed into a
// list on the way, and the markers then looked up in one loop over the
// list. One loop per batch instead of one per 64 symbols: its end is the
// only branch the processor cannot foresee (a quarter less time than
// ResolveGroups on binary stretches, a third less on text). In place, a
// batch's bytes cover symbols it reads again when i < kBatch: callers
// start in place at kBatch or later. Returns where it stopped: fewer than
// kBatch symbols before `end`.
__attribute__((target(QZARC_WIDE_TARGET ",avx512vbmi2,popcnt"))) uint32_t
ResolveBatches(const uint16_t *symbols, uint8_t *bytes, const uint8_t *map, uint32_t i, uint32_t end) {
    constexpr __mmask32 kAll32 = 0xFFFFFFFFu;
    const __m512i largestByte = _mm512_set1_epi16(255);
    const __m512i lanes = _mm512_set_epi16(31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13,
                                           12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    const __m512i step = _mm512_set1_epi16(32);
    // Room for a whole vector stored at the last count.
    uint16_t positions[kBatch + 32];
    for (; i + kBatch <= end; i += kBatch) {
        uint32_t count = 0;
        __m512i at = lanes;
        for (uint32_t j = 0; j < kBatch; j += 32) {
            const __m512i v = _mm512_loadu_si512(symbols + i + j);
            const __mmask32 markers = _mm512_cmpgt_epu16_mask(v, largestByte);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(bytes + i + j), _mm512_maskz_cvtepi16_epi8(kAll32, v));
            _mm512_storeu_si512(positions + count, _mm512_maskz_compress_epi16(markers, at));
            count += uint32_t(__builtin_popcount(markers));
            at = _mm512_add_epi16(at, step);
        }
        const uint16_t *from = symbols + i;
        uint8_t *to = bytes + i;
        for (uint32_t k = 0; k < count; ++k)
            to[positions[k]] = map[from[positions[k]]];
    }
    return i;
}

// Markers resolved with the processor's 512-bit instructions; `batches`
// when it has the 16-bit compress too.
__attribute__((target(QZARC_WIDE_TARGET))) void ResolveWide(const uint16_t *symbols, uint8_t *bytes,
                                                          const uint8_t *map, uint32_t i, uint32_t end,
                                                          bool batches) {
    const bool inPlace = bytes == reinterpret_cast<const uint8_t *>(symbols);
    // In place, the first symbols go one step at a time until the bytes a
    // step stores can no longer cover symbols it has yet to read.
    if (inPlace && i < kWideStep) {
        const uint32_t plainEnd = end < kWideStep ? end : kWideStep;
        ResolveSymbolsPlain(symbols, bytes, map, i, plainEnd);
        i = plainEnd;
    }
    if (batches) {
        if (inPlace && i < kBatch) {
            const uint32_t groupsEnd = end < kBatch ? end : kBatch;
            i = ResolveGroups(symbols, bytes, map, i, groupsEnd);
            ResolveSymbolsPlain(symbols, bytes, map, i, groupsEnd);
            i = groupsEnd;
        }
        i = ResolveBatches(symbols, bytes, map, i, end);
    }
    i = ResolveGroups(symbols, bytes, map, i, end);
    ResolveSymbolsPlain(symbols, bytes, map, i, end);
}

// What the processor has, decided on first use: -1 unknown, 0 nothing
// wide, 1 the 512-bit byte instructions, 2 the 16-bit compress as well.
// Threads that race here all store the same value. (An atomic rather than
// a guarded static: the library needs no C++ runtime support.)
std::atomic<int> gWideLevel{-1};

int WideLevel() {
    int known = gWideLevel.load(std::memory_order_relaxed);
    if (known < 0) {
        // The compiler's check covers the operating system's saving of the
        // wide registers as well as the processor.
        __builtin_cpu_init();
        known = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                __builtin_cpu_supports("avx512vl");
        if (known != 0 && __builtin_cpu_supports("avx512vbmi2"))
            known = 2;
        gWideLevel.store(known, std::memory_order_relaxed);
    }
    return known;
}

} // namespace

void ResolveSymbols(const uint16_t *symbols, uint8_t *bytes, const uint8_t *map, uint32_t i, uint32_t end) {
    int level = WideLevel();
#if defined(QZARC_TEST_HOOKS)
    if (level > gResolveLevelCap)
        level = gResolveLevelCap;
#endif
    if (level != 0)
        ResolveWide(symbols, bytes, map, i, end, level == 2);
    else
        ResolveSymbolsPlain(symbols, bytes, map, i, end);
}

#else

void ResolveSymbols(const uint16_t *symbols, uint8_t *bytes, const uint8_t *map, uint32_t i, uint32_t end) {
    ResolveSymbolsPlain(symbols, bytes, map, i, end);
}

#endif
