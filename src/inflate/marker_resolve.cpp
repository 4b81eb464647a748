#include "inflate/marker_resolve.h"

#include <atomic>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#define QZARC_RESOLVE_WIDE 1
#include <immintrin.h>
#endif

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

#if defined(QZARC_RESOLVE_WIDE)

namespace {

constexpr uint32_t kWideStep = 64;

// 64 symbols at a time: all are narrowed to their low bytes and stored,
// then the markers among them (above 255, a bit each in a 64-bit mask) are
// looked up in the map one by one. A fifth of a binary stretch's symbols
// are markers, spread all over it: looking up only those beats gathering
// every lane (twice as fast as 16-lane gathers on the processors measured).
// In place, the bytes stored cover symbols [i / 2, i / 2 + 32), which the
// lookups after them read again when i < 64: those first symbols take the
// plain path. (The zero-masked form of the conversion, all lanes on: the
// plain one starts from an undefined register, which some compilers warn
// of.)
__attribute__((target("avx512f,avx512bw,avx512vl,bmi"))) void ResolveWide(const uint16_t *symbols, uint8_t *bytes,
                                                                             const uint8_t *map, uint32_t i,
                                                                             uint32_t end) {
    if (bytes == reinterpret_cast<const uint8_t *>(symbols) && i < kWideStep) {
        const uint32_t plainEnd = end < kWideStep ? end : kWideStep;
        ResolveSymbolsPlain(symbols, bytes, map, i, plainEnd);
        i = plainEnd;
    }
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
    ResolveSymbolsPlain(symbols, bytes, map, i, end);
}

// Whether the processor has them, decided on first use: -1 unknown, 0 or
// 1. Threads that race here all store the same value. (An atomic rather
// than a guarded static: the library needs no C++ runtime support.)
std::atomic<int> gWideBytes{-1};

bool HasWideBytes() {
    int known = gWideBytes.load(std::memory_order_relaxed);
    if (known < 0) {
        // The compiler's check covers the operating system's saving of the
        // wide registers as well as the processor.
        __builtin_cpu_init();
        known = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                __builtin_cpu_supports("avx512vl");
        gWideBytes.store(known, std::memory_order_relaxed);
    }
    return known != 0;
}

} // namespace

void ResolveSymbols(const uint16_t *symbols, uint8_t *bytes, const uint8_t *map, uint32_t i, uint32_t end) {
    if (HasWideBytes())
        ResolveWide(symbols, bytes, map, i, end);
    else
        ResolveSymbolsPlain(symbols, bytes, map, i, end);
}

#else

void ResolveSymbols(const uint16_t *symbols, uint8_t *bytes, const uint8_t *map, uint32_t i, uint32_t end) {
    ResolveSymbolsPlain(symbols, bytes, map, i, end);
}

#endif
