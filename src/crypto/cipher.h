// The traditional PKWARE entry cipher: three 32-bit keys advanced by every
// plain byte. This format restarts the keys from the password after the
// 12-byte encryption header has been checked, so the data's keystream
// depends on the password alone.
//
// The library decrypts with one process-wide key state (KeysInit ...
// DecryptByte). CipherKeys and the Cipher* steps are the same arithmetic on
// a caller's own state, which the archive writer uses to encrypt.
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

void KeysInit(const char *password);
void KeysUpdate(uint8_t plain);
uint8_t KeystreamByte();
uint8_t DecryptByte(uint8_t cipherByte);
void DecryptBlock(uint8_t *bytes, uint32_t n);  // DecryptByte over n bytes in place

#endif // QZARC_CIPHER_H
