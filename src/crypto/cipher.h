// The traditional PKWARE entry cipher: three 32-bit keys advanced by every
// plain byte. This format restarts the keys from the password after the
// 12-byte encryption header has been checked, so the data's keystream
// depends on the password alone.
//
// The keys are the caller's (one set per entry being read, and the archive
// writer's own to encrypt).
#ifndef QZARC_CIPHER_H
#define QZARC_CIPHER_H

#include <cstdint>

struct CipherKeys {
    uint32_t key0;
    uint32_t key1;
    uint32_t key2;
};

void CipherInit(CipherKeys &keys, const char *password);
void CipherUpdate(CipherKeys &keys, uint8_t plain);
uint8_t CipherStreamByte(const CipherKeys &keys);

uint8_t DecryptByte(CipherKeys &keys, uint8_t cipherByte);
void DecryptBlock(CipherKeys &keys, uint8_t *bytes, uint32_t n);  // DecryptByte over n bytes in place

#endif // QZARC_CIPHER_H
