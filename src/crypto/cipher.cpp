#include "crypto/cipher.h"

#include "crypto/crc32.h"

void CipherInit(CipherKeys &keys, const char *password) {
    keys.key0 = 0x12345678u;
    keys.key1 = 0x23456789u;
    keys.key2 = 0x34567890u;
    for (const char *p = password; *p != '\0'; ++p)
        CipherUpdate(keys, static_cast<uint8_t>(*p));
}

void CipherUpdate(CipherKeys &keys, uint8_t plain) {
    keys.key0 = CrcTable[(keys.key0 ^ plain) & 0xFFu] ^ (keys.key0 >> 8);
    // Multiplication modulo 2^32 is intended: unsigned arithmetic wraps.
    keys.key1 = (keys.key1 + (keys.key0 & 0xFFu)) * 134775813u + 1u;
    keys.key2 = CrcTable[(keys.key2 ^ (keys.key1 >> 24)) & 0xFFu] ^ (keys.key2 >> 8);
}

uint8_t CipherStreamByte(const CipherKeys &keys) {
    // Only the low 16 bits of the product matter; keep the arithmetic in 32 bits.
    uint32_t t = (keys.key2 | 2u) & 0xFFFFu;
    return static_cast<uint8_t>(((t * (t ^ 1u)) >> 8) & 0xFFu);
}

uint8_t DecryptByte(CipherKeys &keys, uint8_t cipherByte) {
    uint8_t plain = static_cast<uint8_t>(cipherByte ^ CipherStreamByte(keys));
    CipherUpdate(keys, plain);
    return plain;
}

void DecryptBlock(CipherKeys &keys, uint8_t *bytes, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        bytes[i] = DecryptByte(keys, bytes[i]);
}
