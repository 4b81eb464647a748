#include "crc32.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define QZARC_CRC_CLMUL 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

uint32_t gCrcRegister = 0;

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

// Carry-less multiplication folds 64 bytes per step with four 128-bit
// accumulators, then folds those to one and reduces it to 32 bits (Barrett
// reduction). The constants are powers of x modulo the bit-reflected
// polynomial: x^(4*128+32) and x^(4*128-32) for the 64-byte fold,
// x^(128+32) and x^(128-32) for the 16-byte fold, x^64 for the last fold,
// and the polynomial with its Barrett quotient. Needs n >= 64, a multiple
// of 16; works on the register as kept (not complemented).
alignas(16) const uint64_t kFold64[2] = {0x0154442bd4ull, 0x01c6e41596ull};
alignas(16) const uint64_t kFold16[2] = {0x01751997d0ull, 0x00ccaa009eull};
alignas(16) const uint64_t kFold8[2] = {0x0163cd6124ull, 0};
alignas(16) const uint64_t kBarrett[2] = {0x01db710641ull, 0x01f7011641ull};

#if defined(__i386__)
// A 32-bit caller may hand over a stack aligned to 4 bytes only.
#define QZARC_CLMUL_ATTRIBUTES __attribute__((target("pclmul,sse4.1"), force_align_arg_pointer))
#else
#define QZARC_CLMUL_ATTRIBUTES __attribute__((target("pclmul,sse4.1")))
#endif

QZARC_CLMUL_ATTRIBUTES
uint32_t ClmulAccumulate(uint32_t reg, const uint8_t *p, size_t n) {
    __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16));
    __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 32));
    __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 48));
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(int(reg)));
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i *>(kFold64));
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
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
        x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16)));
        x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 32)));
        x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 48)));
        p += 64;
        n -= 64;
    }

    k = _mm_load_si128(reinterpret_cast<const __m128i *>(kFold16));
    __m128i lo = _mm_clmulepi64_si128(x1, k, 0x00);
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x11), x2), lo);
    lo = _mm_clmulepi64_si128(x1, k, 0x00);
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x11), x3), lo);
    lo = _mm_clmulepi64_si128(x1, k, 0x00);
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x11), x4), lo);
    while (n >= 16) {
        lo = _mm_clmulepi64_si128(x1, k, 0x00);
        x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x11),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i *>(p))),
                           lo);
        p += 16;
        n -= 16;
    }

    // 128 bits to 64.
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    x2 = _mm_clmulepi64_si128(x1, k, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(kFold8));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x00), x2);

    // Barrett reduction to 32 bits.
    k = _mm_load_si128(reinterpret_cast<const __m128i *>(kBarrett));
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, low32), k, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return uint32_t(_mm_extract_epi32(x1, 1));
}

bool DetectClmul() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0)
        return false;
    return (c & bit_PCLMUL) != 0 && (c & bit_SSE4_1) != 0;
}

// Decided once, on the first update of any size that could use it.
int gClmulState = -1;  // -1 unknown, 0 no, 1 yes

#endif  // QZARC_CRC_CLMUL

// Below this many bytes the carry-less path's fixed cost outweighs its speed.
constexpr size_t kClmulThreshold = 256;

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

bool CrcHasCarrylessPath() {
#if defined(QZARC_CRC_CLMUL)
    if (gClmulState < 0)
        gClmulState = DetectClmul() ? 1 : 0;
    return gClmulState == 1;
#else
    return false;
#endif
}

uint32_t CrcAccumulate(uint32_t reg, const uint8_t *bytes, size_t n) {
#if defined(QZARC_CRC_CLMUL)
    if (n >= kClmulThreshold && CrcHasCarrylessPath()) {
        const size_t bulk = n & ~size_t(15);
        reg = ClmulAccumulate(reg, bytes, bulk);
        bytes += bulk;
        n -= bulk;
    }
#endif
    return CrcAccumulateTables(reg, bytes, n);
}

void CrcReset() { gCrcRegister = 0xFFFFFFFFu; }

void CrcUpdate(const uint8_t *bytes, uint32_t n) { gCrcRegister = CrcAccumulate(gCrcRegister, bytes, n); }

uint32_t CrcValue() { return ~gCrcRegister; }
