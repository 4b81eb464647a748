#include "crc32.h"

namespace {
uint32_t gCrcRegister = 0;
}

uint32_t CrcAccumulate(uint32_t reg, const uint8_t *bytes, size_t n) {
    for (size_t i = 0; i < n; ++i)
        reg = CrcTable[(reg ^ bytes[i]) & 0xFFu] ^ (reg >> 8);
    return reg;
}

void CrcReset() { gCrcRegister = 0xFFFFFFFFu; }

void CrcUpdate(const uint8_t *bytes, uint32_t n) { gCrcRegister = CrcAccumulate(gCrcRegister, bytes, n); }

uint32_t CrcValue() { return ~gCrcRegister; }
