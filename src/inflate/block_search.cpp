#include "inflate/block_search.h"

#include <cstring>

#include "inflate/coded_blocks.h"

namespace {

// 57 or more bits from bit p on, least significant first; zeros past the data.
inline uint64_t BitsAt(const uint8_t *data, uint32_t size, uint64_t p) {
    const uint64_t at = p >> 3;
    uint64_t word = 0;
    if (at + 8 <= size) {
        // Both targets are little-endian: the first byte is the low one.
        std::memcpy(&word, data + at, 8);
    } else {
        for (uint64_t i = 0; at + i < size && i < 8; ++i)
            word |= uint64_t(data[at + i]) << (8 * i);
    }
    return word >> (p & 7);
}

// Sum of 2^(limit - length) over the non-zero lengths: 2^limit exactly when
// the code is complete, less when it leaves patterns unused.
uint32_t KraftSum(const uint8_t *lengths, uint32_t n, uint32_t limit) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < n; ++i)
        if (lengths[i] != 0)
            sum += uint32_t(1) << (limit - lengths[i]);
    return sum;
}

uint32_t CodesIn(const uint8_t *lengths, uint32_t n) {
    uint32_t codes = 0;
    for (uint32_t i = 0; i < n; ++i)
        codes += lengths[i] != 0 ? 1u : 0u;
    return codes;
}

// The Kraft sum of four 3-bit code lengths (each length l > 0 counting
// 2^(7 - l)), by the 12 bits that hold them: most positions fail the
// code-length code's completeness, and this tells in five lookups.
struct QuadSums {
    uint16_t sum[4096];
    constexpr QuadSums() : sum() {
        for (uint32_t bits = 0; bits < 4096; ++bits) {
            uint32_t total = 0;
            for (uint32_t k = 0; k < 4; ++k) {
                const uint32_t length = (bits >> (3 * k)) & 7u;
                total += length != 0 ? uint32_t(1) << (7 - length) : 0u;
            }
            sum[bits] = uint16_t(total);
        }
    }
};
constexpr QuadSums kQuadSums;

// A dynamic block header at p, checked as far as its code lengths.
bool DynamicHeaderAt(const uint8_t *data, uint32_t size, uint64_t p, uint64_t head, bool deflate64) {
    const uint32_t hlit = uint32_t(head >> 3) & 31u;
    const uint32_t hdist = uint32_t(head >> 8) & 31u;
    if (hlit > 29 || hdist > (deflate64 ? 31u : 29u))
        return false;
    const uint32_t nl = 257 + hlit;
    const uint32_t nd = 1 + hdist;
    const uint32_t nc = 4 + (uint32_t(head >> 13) & 15u);
    uint64_t at = p + 17;
    const uint64_t described = BitsAt(data, size, at);
    {
        // The lengths past the nc-th are not sent: masked to zero.
        const uint64_t sent = nc == 19 ? described & ((uint64_t(1) << 57) - 1u) : described & ((uint64_t(1) << (3 * nc)) - 1u);
        const uint32_t kraft = kQuadSums.sum[sent & 4095u] + kQuadSums.sum[(sent >> 12) & 4095u] +
                               kQuadSums.sum[(sent >> 24) & 4095u] + kQuadSums.sum[(sent >> 36) & 4095u] +
                               kQuadSums.sum[(sent >> 48) & 4095u];
        if (kraft != 128)
            return false;
    }
    uint8_t codeLengths[19] = {};
    for (uint32_t i = 0; i < nc; ++i)
        codeLengths[CodeLengthOrder[i]] = uint8_t((described >> (3 * i)) & 7u);
    if (KraftSum(codeLengths, 19, 7) != 128)
        return false;
    at += 3 * nc;

    // The code-length code as a table of the next 7 bits: symbol and length.
    // Canonical codes are sent most significant bit first, so each code's
    // bits are reversed into the table's index order.
    uint8_t symbolOf[128];
    uint8_t lengthOf[128];
    uint32_t code = 0;
    for (uint32_t length = 1; length <= 7; ++length) {
        for (uint32_t sym = 0; sym < 19; ++sym) {
            if (codeLengths[sym] != length)
                continue;
            uint32_t reversed = 0;
            for (uint32_t b = 0; b < length; ++b)
                reversed |= ((code >> b) & 1u) << (length - 1 - b);
            for (uint32_t fill = reversed; fill < 128; fill += uint32_t(1) << length) {
                symbolOf[fill] = uint8_t(sym);
                lengthOf[fill] = uint8_t(length);
            }
            ++code;
        }
        code <<= 1;
    }

    uint8_t lengths[286 + 32];
    uint32_t j = 0;
    const uint32_t total = nl + nd;
    while (j < total) {
        if (at + 14 > uint64_t(size) * 8)
            return false;
        const uint64_t bits = BitsAt(data, size, at);
        const uint32_t index = uint32_t(bits) & 127u;
        const uint32_t sym = symbolOf[index];
        const uint32_t used = lengthOf[index];
        if (sym < 16) {
            lengths[j++] = uint8_t(sym);
            at += used;
            continue;
        }
        uint32_t repeat;
        uint8_t value = 0;
        if (sym == 16) {
            if (j == 0)
                return false;
            repeat = 3 + (uint32_t(bits >> used) & 3u);
            value = lengths[j - 1];
            at += used + 2;
        } else if (sym == 17) {
            repeat = 3 + (uint32_t(bits >> used) & 7u);
            at += used + 3;
        } else {
            repeat = 11 + (uint32_t(bits >> used) & 127u);
            at += used + 7;
        }
        if (j + repeat > total)
            return false;
        while (repeat-- != 0)
            lengths[j++] = value;
    }
    if (lengths[256] == 0 || KraftSum(lengths, nl, 15) != 32768)
        return false;
    const uint32_t distanceCodes = CodesIn(lengths + nl, nd);
    return distanceCodes <= 1 || KraftSum(lengths + nl, nd, 15) == 32768;
}

// A stored block header at p: zero padding, then LEN and NLEN.
bool StoredHeaderAt(const uint8_t *data, uint32_t size, uint64_t p, uint64_t head) {
    const uint64_t lengthByte = StoredLengthByte(p);
    const uint32_t padding = uint32_t(lengthByte * 8 - (p + 3));
    if (((head >> 3) & ((uint64_t(1) << padding) - 1u)) != 0)
        return false;
    if (lengthByte + 4 > size)
        return false;
    const uint32_t len = uint32_t(data[lengthByte]) | uint32_t(data[lengthByte + 1]) << 8;
    const uint32_t nlen = uint32_t(data[lengthByte + 2]) | uint32_t(data[lengthByte + 3]) << 8;
    return len == (nlen ^ 0xFFFFu);
}

// Whether some byte b, first <= b <= last, starts a LEN followed by its
// complement NLEN within the data.
bool StoredLengthsBetween(const uint8_t *data, uint32_t size, uint64_t first, uint64_t last) {
    for (uint64_t b = first; b <= last && b + 4 <= size; ++b) {
        const uint32_t len = uint32_t(data[b]) | uint32_t(data[b + 1]) << 8;
        const uint32_t nlen = uint32_t(data[b + 2]) | uint32_t(data[b + 3]) << 8;
        if (len == (nlen ^ 0xFFFFu))
            return true;
    }
    return false;
}

} // namespace

uint64_t FindBlockStart(const uint8_t *data, uint32_t size, uint64_t from, uint64_t to, bool deflate64) {
    const uint64_t end = uint64_t(size) * 8;
    if (to > end)
        to = end;
    // 56 positions at a time: BFINAL 0 and BTYPE 2 read as 0b100 (bits
    // 0, 0, 1 from the position on), BFINAL 0 and BTYPE 0 as three zeros;
    // only the positions where one of them starts are looked at closely.
    for (uint64_t base = from; base < to; base += 56) {
        const uint64_t word = BitsAt(data, size, base);
        const uint64_t zeros = ~word & ~(word >> 1);
        const uint64_t span = to - base < 56 ? to - base : 56;
        uint64_t stored = zeros & ~(word >> 2);
        // A stored header's LEN and NLEN lie at the byte boundary after its
        // three bits: when no byte those positions lead to holds a LEN and
        // its complement (nearly always, in coded data), none of them is
        // looked at one by one.
        if (stored != 0 && !StoredLengthsBetween(data, size, StoredLengthByte(base),
                                                 StoredLengthByte(base + span - 1)))
            stored = 0;
        uint64_t candidates = (zeros & (word >> 2)) | stored;
        candidates &= (uint64_t(1) << span) - 1u;
        while (candidates != 0) {
            const uint64_t p = base + uint64_t(__builtin_ctzll(candidates));
            candidates &= candidates - 1u;
            const uint64_t head = BitsAt(data, size, p);
            if ((head & 7u) == 4u ? DynamicHeaderAt(data, size, p, head, deflate64)
                                  : StoredHeaderAt(data, size, p, head))
                return p;
        }
    }
    return kNoBlockStart;
}
