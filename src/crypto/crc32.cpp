#include "crypto/crc32.h"

#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define QZARC_CRC_CLMUL 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

// Slicing by eight: Slice[k][b] is the register contribution of byte b
// followed by k zero bytes, so eight bytes fold in with eight independent
// lookups instead of a chain of eight dependent ones. Slice[0] is CrcTable.
struct SliceTables {
    uint32_t t[8][256];
};

constexpr SliceTables MakeSliceTables() {
    SliceTables s{};
    for (uint32_t b = 0; b < 256; ++b)
        s.t[0][b] = CrcTable[b];
    for (uint32_t k = 1; k < 8; ++k)
        for (uint32_t b = 0; b < 256; ++b)
            s.t[k][b] = (s.t[k - 1][b] >> 8) ^ s.t[0][s.t[k - 1][b] & 0xFFu];
    return s;
}

constexpr SliceTables Slice = MakeSliceTables();

inline uint32_t Load32(const uint8_t *p) {
    // Little-endian assembly; compilers turn it into one load on x86.
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

#if defined(QZARC_CRC_CLMUL)

// Carry-less multiplication folds the data into 128-bit accumulators: an
// accumulator that stands D bits before the data it is folded into is split
// into its two 64-bit halves, each multiplied by the matching power of x
// (x^(D+32) for the low half, x^(D-32) for the high one, taken modulo the
// bit-reflected polynomial, reflected and shifted left by one), and the two
// products are added (XOR) to that data. At the end the accumulators are
// folded into one, which is reduced to 32 bits (Barrett reduction). All of it
// works on the register as kept (not complemented).
alignas(16) const uint64_t kFold64[2] = {0x0154442bd4ull, 0x01c6e41596ull};   // D = 512
alignas(16) const uint64_t kFold16[2] = {0x01751997d0ull, 0x00ccaa009eull};   // D = 128
alignas(16) const uint64_t kFold8[2] = {0x0163cd6124ull, 0};                  // x^64
alignas(16) const uint64_t kBarrett[2] = {0x01db710641ull, 0x01f7011641ull};
// The fold pairs repeated for each 128-bit lane of a 512-bit register.
alignas(64) const uint64_t kWideFold256[8] = {0x011542778aull, 0x01322d1430ull, 0x011542778aull, 0x01322d1430ull,
                                              0x011542778aull, 0x01322d1430ull, 0x011542778aull, 0x01322d1430ull};
alignas(64) const uint64_t kWideFold64[8] = {0x0154442bd4ull, 0x01c6e41596ull, 0x0154442bd4ull, 0x01c6e41596ull,
                                             0x0154442bd4ull, 0x01c6e41596ull, 0x0154442bd4ull, 0x01c6e41596ull};

#if defined(__i386__)
// A 32-bit caller may hand over a stack aligned to 4 bytes only.
#define QZARC_ALIGN_STACK , force_align_arg_pointer
#else
#define QZARC_ALIGN_STACK
#endif
#define QZARC_CLMUL_ATTRIBUTES __attribute__((target("pclmul,sse4.1") QZARC_ALIGN_STACK))
#define QZARC_WIDE_CLMUL_ATTRIBUTES \
    __attribute__((target("avx512f,avx512vl,vpclmulqdq,pclmul,sse4.1") QZARC_ALIGN_STACK))

inline const __m128i *At(const uint8_t *p) { return reinterpret_cast<const __m128i *>(p); }

// Four accumulators holding 64 consecutive bytes, folded into one, then the
// remaining 16-byte blocks of p (n is a multiple of 16), then the reduction.
__attribute__((target("pclmul,sse4.1"), always_inline)) inline uint32_t
FinishFour(__m128i x1, __m128i x2, __m128i x3, __m128i x4, const uint8_t *p, size_t n) {
    __m128i k = _mm_load_si128(At(reinterpret_cast<const uint8_t *>(kFold16)));
    __m128i lo = _mm_clmulepi64_si128(x1, k, 0x00);
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x11), x2), lo);
    lo = _mm_clmulepi64_si128(x1, k, 0x00);
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x11), x3), lo);
    lo = _mm_clmulepi64_si128(x1, k, 0x00);
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x11), x4), lo);
    while (n >= 16) {
        lo = _mm_clmulepi64_si128(x1, k, 0x00);
        x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x11), _mm_loadu_si128(At(p))), lo);
        p += 16;
        n -= 16;
    }

    // 128 bits to 64.
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    x2 = _mm_clmulepi64_si128(x1, k, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    k = _mm_loadl_epi64(At(reinterpret_cast<const uint8_t *>(kFold8)));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x00), x2);

    // Barrett reduction to 32 bits.
    k = _mm_load_si128(At(reinterpret_cast<const uint8_t *>(kBarrett)));
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, low32), k, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return uint32_t(_mm_extract_epi32(x1, 1));
}

// Four 128-bit accumulators, 64 bytes per step. Needs n >= 64, a multiple
// of 16.
QZARC_CLMUL_ATTRIBUTES
uint32_t ClmulAccumulate(uint32_t reg, const uint8_t *p, size_t n) {
    __m128i x1 = _mm_xor_si128(_mm_loadu_si128(At(p)), _mm_cvtsi32_si128(int(reg)));
    __m128i x2 = _mm_loadu_si128(At(p + 16));
    __m128i x3 = _mm_loadu_si128(At(p + 32));
    __m128i x4 = _mm_loadu_si128(At(p + 48));
    const __m128i k = _mm_load_si128(At(reinterpret_cast<const uint8_t *>(kFold64)));
    p += 64;
    n -= 64;
    while (n >= 64) {
        const __m128i x5 = _mm_clmulepi64_si128(x1, k, 0x00);
        const __m128i x6 = _mm_clmulepi64_si128(x2, k, 0x00);
        const __m128i x7 = _mm_clmulepi64_si128(x3, k, 0x00);
        const __m128i x8 = _mm_clmulepi64_si128(x4, k, 0x00);
        x1 = _mm_clmulepi64_si128(x1, k, 0x11);
        x2 = _mm_clmulepi64_si128(x2, k, 0x11);
        x3 = _mm_clmulepi64_si128(x3, k, 0x11);
        x4 = _mm_clmulepi64_si128(x4, k, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), _mm_loadu_si128(At(p)));
        x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), _mm_loadu_si128(At(p + 16)));
        x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), _mm_loadu_si128(At(p + 32)));
        x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), _mm_loadu_si128(At(p + 48)));
        p += 64;
        n -= 64;
    }
    return FinishFour(x1, x2, x3, x4, p, n);
}

// The same folding four lanes wide: four 512-bit accumulators, 256 bytes per
// step, each 128-bit lane folded exactly as above. Needs n >= 256, a
// multiple of 16.
__attribute__((target("avx512f,avx512vl,vpclmulqdq"), always_inline)) inline __m512i
WideFold(__m512i acc, __m512i k, __m512i data) {
    // 0x96: the XOR of all three operands.
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(acc, k, 0x00), _mm512_clmulepi64_epi128(acc, k, 0x11),
                                     data, 0x96);
}

QZARC_WIDE_CLMUL_ATTRIBUTES
uint32_t WideClmulAccumulate(uint32_t reg, const uint8_t *p, size_t n) {
    __m512i z1 = _mm512_xor_si512(_mm512_loadu_si512(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(int(reg))));
    __m512i z2 = _mm512_loadu_si512(p + 64);
    __m512i z3 = _mm512_loadu_si512(p + 128);
    __m512i z4 = _mm512_loadu_si512(p + 192);
    __m512i k = _mm512_load_si512(kWideFold256);
    p += 256;
    n -= 256;
    while (n >= 256) {
        z1 = WideFold(z1, k, _mm512_loadu_si512(p));
        z2 = WideFold(z2, k, _mm512_loadu_si512(p + 64));
        z3 = WideFold(z3, k, _mm512_loadu_si512(p + 128));
        z4 = WideFold(z4, k, _mm512_loadu_si512(p + 192));
        p += 256;
        n -= 256;
    }
    k = _mm512_load_si512(kWideFold64);
    z1 = WideFold(z1, k, z2);
    z1 = WideFold(z1, k, z3);
    z1 = WideFold(z1, k, z4);
    while (n >= 64) {
        z1 = WideFold(z1, k, _mm512_loadu_si512(p));
        p += 64;
        n -= 64;
    }
    return FinishFour(_mm512_maskz_extracti32x4_epi32(0xF, z1, 0), _mm512_maskz_extracti32x4_epi32(0xF, z1, 1),
                      _mm512_maskz_extracti32x4_epi32(0xF, z1, 2), _mm512_maskz_extracti32x4_epi32(0xF, z1, 3), p, n);
}

// Which carry-less path the processor and the operating system allow:
// 0 none, 1 the 128-bit one, 2 the 512-bit one as well (which also needs the
// system to save the wide registers, as XCR0 tells).
int DetectClmul() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_PCLMUL) == 0 || (c & bit_SSE4_1) == 0)
        return 0;
    const bool osxsave = (c & bit_OSXSAVE) != 0;
    if (!osxsave || __get_cpuid_max(0, nullptr) < 7)
        return 1;
    __cpuid_count(7, 0, a, b, c, d);
    if ((b & bit_AVX512F) == 0 || (b & bit_AVX512VL) == 0 || (c & bit_VPCLMULQDQ) == 0)
        return 1;
    uint32_t xcr0 = 0, xcr0High = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    // SSE, AVX, opmask, upper halves of ZMM0-15 and ZMM16-31.
    constexpr uint32_t kWideState = 0x02u | 0x04u | 0x20u | 0x40u | 0x80u;
    return (xcr0 & kWideState) == kWideState ? 2 : 1;
}

// Decided once, on the first update of any size that could use it.
// Threads that race here all store the same value.
std::atomic<int> gClmulState{-1};  // -1 unknown, else as DetectClmul

int ClmulLevel() {
    int level = gClmulState.load(std::memory_order_relaxed);
    if (level < 0) {
        level = DetectClmul();
        gClmulState.store(level, std::memory_order_relaxed);
    }
    return level;
}

#endif  // QZARC_CRC_CLMUL

// Below these many bytes a carry-less path's fixed cost outweighs its speed.
constexpr size_t kClmulThreshold = 256;
constexpr size_t kWideClmulThreshold = 1024;

}  // namespace

uint32_t CrcAccumulateTables(uint32_t reg, const uint8_t *bytes, size_t n) {
    while (n != 0 && (reinterpret_cast<uintptr_t>(bytes) & 3u) != 0) {
        reg = CrcTable[(reg ^ *bytes++) & 0xFFu] ^ (reg >> 8);
        --n;
    }
    while (n >= 8) {
        const uint32_t one = Load32(bytes) ^ reg;
        const uint32_t two = Load32(bytes + 4);
        reg = Slice.t[7][one & 0xFFu] ^ Slice.t[6][(one >> 8) & 0xFFu] ^ Slice.t[5][(one >> 16) & 0xFFu] ^
              Slice.t[4][one >> 24] ^ Slice.t[3][two & 0xFFu] ^ Slice.t[2][(two >> 8) & 0xFFu] ^
              Slice.t[1][(two >> 16) & 0xFFu] ^ Slice.t[0][two >> 24];
        bytes += 8;
        n -= 8;
    }
    while (n-- != 0)
        reg = CrcTable[(reg ^ *bytes++) & 0xFFu] ^ (reg >> 8);
    return reg;
}

int CrcCarrylessLevel() {
#if defined(QZARC_CRC_CLMUL)
    return ClmulLevel();
#else
    return 0;
#endif
}

uint32_t CrcAccumulateAtLevel(int level, uint32_t reg, const uint8_t *bytes, size_t n) {
#if defined(QZARC_CRC_CLMUL)
    if (level > ClmulLevel())
        level = ClmulLevel();
    const size_t bulk = n & ~size_t(15);
    if (level >= 2 && n >= kWideClmulThreshold)
        reg = WideClmulAccumulate(reg, bytes, bulk);
    else if (level >= 1 && n >= kClmulThreshold)
        reg = ClmulAccumulate(reg, bytes, bulk);
    else
        return CrcAccumulateTables(reg, bytes, n);
    bytes += bulk;
    n -= bulk;
#else
    (void)level;
#endif
    return CrcAccumulateTables(reg, bytes, n);
}

uint32_t CrcAccumulate(uint32_t reg, const uint8_t *bytes, size_t n) {
    return CrcAccumulateAtLevel(n >= kClmulThreshold ? CrcCarrylessLevel() : 0, reg, bytes, n);
}



namespace {

// a * b modulo the polynomial, both in the reflected order of the register
// (bit 31 the coefficient of x^0).
uint32_t MultiplyModulo(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (uint32_t bit = 0x80000000u; bit != 0; bit >>= 1) {
        if ((a & bit) != 0)
            product ^= b;
        b = (b & 1u) != 0 ? (b >> 1) ^ 0xEDB88320u : b >> 1;
    }
    return product;
}

} // namespace

uint32_t CrcCombine(uint32_t crcA, uint32_t crcB, uint64_t lenB) {
    uint32_t shift = 0x80000000u;  // x^0
    uint32_t power = 0x00800000u;  // x^8: one byte
    for (; lenB != 0; lenB >>= 1) {
        if ((lenB & 1u) != 0)
            shift = MultiplyModulo(shift, power);
        power = MultiplyModulo(power, power);
    }
    return MultiplyModulo(shift, crcA) ^ crcB;
}
