// CRC-32 register and the entry cipher's process-wide key state.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/crc32.h"

namespace {

const uint8_t kDigits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

// One register and one key state, as an entry being read has them.
uint32_t gRegister = 0;
CipherKeys gKeys{};
void CrcReset() { ::CrcReset(gRegister); }
void CrcUpdate(const uint8_t *bytes, uint32_t n) { ::CrcUpdate(gRegister, bytes, n); }
uint32_t CrcValue() { return ::CrcValue(gRegister); }
void KeysInit(const char *password) { CipherInit(gKeys, password); }
void KeysUpdate(uint8_t plain) { CipherUpdate(gKeys, plain); }
uint8_t KeystreamByte() { return CipherStreamByte(gKeys); }
uint8_t DecryptByte(uint8_t b) { return ::DecryptByte(gKeys, b); }
void DecryptBlock(uint8_t *bytes, uint32_t n) { ::DecryptBlock(gKeys, bytes, n); }

TEST(CrcRegister, StandardCheckValueWholeAndSplit) {
    CrcReset();
    EXPECT_EQ(CrcValue(), 0u);  // no bytes
    CrcUpdate(kDigits, 0);
    EXPECT_EQ(CrcValue(), 0u);

    CrcUpdate(kDigits, 9);
    EXPECT_EQ(CrcValue(), 0xCBF43926u);

    CrcReset();
    CrcUpdate(kDigits, 4);
    CrcUpdate(kDigits + 4, 0);
    CrcUpdate(kDigits + 4, 5);
    EXPECT_EQ(CrcValue(), 0xCBF43926u);
}

TEST(EntryCipher, EmptyPasswordLeavesTheInitialKeys) {
    KeysInit("");
    CipherKeys byHand{0x12345678u, 0x23456789u, 0x34567890u};
    // The first keystream byte depends on key2 alone; feeding the same bytes
    // to both states afterwards brings key0 and key1 into play too.
    EXPECT_EQ(KeystreamByte(), 0xABu);
    for (unsigned i = 0; i < 64; ++i) {
        ASSERT_EQ(KeystreamByte(), CipherStreamByte(byHand)) << "byte " << i;
        const uint8_t plain = static_cast<uint8_t>(i * 37u + 5u);
        KeysUpdate(plain);
        CipherUpdate(byHand, plain);
    }
}

TEST(EntryCipher, DecryptsKnownKeystream) {
    // Each plain byte feeds the keys: decrypting zeros under "qz" gives the
    // keystream of that chain (values from an independent implementation).
    const uint8_t expected[] = {0x51, 0xB4, 0x96, 0x6C, 0xE7, 0x2D, 0x93, 0xE8};
    uint8_t bytes[8] = {};
    KeysInit("qz");
    DecryptBlock(bytes, 8);
    EXPECT_EQ(std::memcmp(bytes, expected, sizeof bytes), 0);

    KeysInit("qz");
    for (size_t i = 0; i < sizeof bytes; ++i)
        EXPECT_EQ(DecryptByte(0), expected[i]) << "byte " << i;
}

// The data's keystream starts from the password alone, not from the state
// the 12-byte encryption header left behind.
TEST(EntryCipher, DataKeystreamRestartsAfterTheHeader) {
    const char *password = "restart";
    std::vector<uint8_t> header = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0xAA, 0xCB};
    const std::vector<uint8_t> plain = {'s', 't', 'o', 'r', 'e', 'd', ' ', 'd', 'a', 't', 'a'};
    std::vector<uint8_t> data = plain;
    for (std::vector<uint8_t> *part : {&header, &data}) {
        CipherKeys keys;
        CipherInit(keys, password);
        for (uint8_t &b : *part) {
            const uint8_t p = b;
            b = static_cast<uint8_t>(p ^ CipherStreamByte(keys));
            CipherUpdate(keys, p);
        }
    }

    KeysInit(password);
    std::vector<uint8_t> h = header;
    DecryptBlock(h.data(), static_cast<uint32_t>(h.size()));
    EXPECT_EQ(h.back(), 0xCB);
    std::vector<uint8_t> continued = data;
    DecryptBlock(continued.data(), static_cast<uint32_t>(continued.size()));
    EXPECT_NE(continued, plain);

    KeysInit(password);
    std::vector<uint8_t> restarted = data;
    DecryptBlock(restarted.data(), static_cast<uint32_t>(restarted.size()));
    EXPECT_EQ(restarted, plain);
}

}  // namespace
