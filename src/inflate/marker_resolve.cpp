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

// 32 symbols at a time: all are narrowed to their low bytes, and those that
// are markers (above 255) are looked up in the map with two 16-lane
// gathers, each lane reading the four bytes at its entry (the map's room)
// and keeping the first. The 32 bytes are stored after the 32 symbols are
// loaded; in place, they cover symbols already read. (The zero-masked
// forms of the conversions, all lanes on: the plain ones start from an
// undefined register, which some compilers warn of.)
__attribute__((target("avx512f,avx512bw,avx512vl"))) void ResolveWide(const uint16_t *symbols, uint8_t *bytes,
                                                                        const uint8_t *map, uint32_t i,
                                                                        uint32_t end) {
    constexpr __mmask32 kAll32 = 0xFFFFFFFFu;
    constexpr __mmask16 kAll16 = 0xFFFFu;
    const __m512i largestByte = _mm512_set1_epi16(255);
    for (; i + 32 <= end; i += 32) {
        const __m512i v = _mm512_loadu_si512(symbols + i);
        const __mmask32 markers = _mm512_cmpgt_epu16_mask(v, largestByte);
        __m256i out = _mm512_maskz_cvtepi16_epi8(kAll32, v);
        if (markers != 0) {
            const __m512i low = _mm512_maskz_cvtepu16_epi32(kAll16, _mm512_maskz_extracti64x4_epi64(0xFF, v, 0));
            const __m512i high = _mm512_maskz_cvtepu16_epi32(kAll16, _mm512_maskz_extracti64x4_epi64(0xFF, v, 1));
            const __m512i lowBytes =
                _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), __mmask16(markers), low, map, 1);
            const __m512i highBytes =
                _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), __mmask16(markers >> 16), high, map, 1);
            const __m256i found =
                _mm256_inserti128_si256(_mm256_castsi128_si256(_mm512_maskz_cvtepi32_epi8(kAll16, lowBytes)),
                                        _mm512_maskz_cvtepi32_epi8(kAll16, highBytes), 1);
            out = _mm256_mask_blend_epi8(markers, out, found);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(bytes + i), out);
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
