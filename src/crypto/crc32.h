// CRC-32 (the reflected polynomial 0xEDB88320 of ZIP and IEEE 802.3).
//
// Each entry being read has a CRC register of its own (a uint32_t in its
// owner's state): reset at the start of the entry, updated by whichever path
// produces the entry's bytes, and compared with the record's crc at the end.
// CrcAccumulate is the same step on a register value.
#ifndef QZARC_CRC32_H
#define QZARC_CRC32_H

#include <array>
#include <cstddef>
#include <cstdint>

constexpr std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

// One table serves the CRC register and the entry cipher.
inline constexpr std::array<uint32_t, 256> CrcTable = MakeCrcTable();
static_assert(CrcTable[1] == 0x77073096u && CrcTable[255] == 0x2D02EF8Du, "CRC-32 table");

// The register after feeding n bytes. Long runs go through carry-less
// multiplication when the processor has it (decided once, at run time), 512
// bits at a time where the processor and system allow it; the rest goes
// through slicing-by-8 tables. Every path gives the same register.
uint32_t CrcAccumulate(uint32_t reg, const uint8_t *bytes, size_t n);
// The paths one by one: the tables alone; the carry-less level in use here
// (0 none, 1 128-bit, 2 512-bit too); the update with the level capped.
uint32_t CrcAccumulateTables(uint32_t reg, const uint8_t *bytes, size_t n);
int CrcCarrylessLevel();
uint32_t CrcAccumulateAtLevel(int level, uint32_t reg, const uint8_t *bytes, size_t n);

// The CRC-32 value of A followed by B, from the values of A and of B and
// B's length: A's value moved on over lenB zero bytes (a multiplication by
// x^(8 lenB) modulo the polynomial), then B's added. The register's initial
// and final inversions cancel out, so no byte of either is needed.
uint32_t CrcCombine(uint32_t crcA, uint32_t crcB, uint64_t lenB);

inline void CrcReset(uint32_t &reg) { reg = 0xFFFFFFFFu; }
inline void CrcUpdate(uint32_t &reg, const uint8_t *bytes, uint32_t n) { reg = CrcAccumulate(reg, bytes, n); }
inline uint32_t CrcValue(uint32_t reg) { return ~reg; }

#endif // QZARC_CRC32_H
