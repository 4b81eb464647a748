#include "deflate_builder.h"

#include <random>
#include <stdexcept>
#include <utility>

namespace qzt {

// Length symbols 257..284: base length and extra bits (symbol 285 is handled apart).
const uint32_t kLengthBase[28] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23,
                                  27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227};
const uint32_t kLengthExtra[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                   2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
// Distance codes 0..31; codes 30 and 31 reach 64 KiB back (Deflate64).
const uint32_t kDistanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,
                                    17,   25,   33,   49,   65,   97,    129,   193,
                                    257,  385,  513,  769,  1025, 1537,  2049,  3073,
                                    4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
const uint32_t kDistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2, 3,  3,  4,  4,  5,  5,  6,  6,
                                     7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

namespace {

// The order in which a dynamic header lists the code-length code's lengths.
const uint32_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                       11, 4,  12, 3, 13, 2, 14, 1, 15};

struct Coded {
    uint32_t symbol;
    uint32_t extraBits;
    uint32_t extra;
};

// Length 3..258 with the symbols both methods share (258 itself through 284
// plus 31 in Deflate64, through 285 in Deflate), longer ones through
// Deflate64's 285.
Coded LengthSymbol(uint32_t length, bool deflate64) {
    if (length < 3 || length > (deflate64 ? 65538u : 258u))
        throw std::invalid_argument("match length out of range");
    if (length == 258 && !deflate64)
        return {285, 0, 0};
    if (length >= 258)
        return {285, 16, length - 3};
    uint32_t i = 27;
    while (kLengthBase[i] > length)
        --i;
    return {257 + i, kLengthExtra[i], length - kLengthBase[i]};
}

Coded DistanceCode(uint32_t distance) {
    if (distance < 1 || distance > 65536)
        throw std::invalid_argument("match distance out of range");
    uint32_t i = 31;
    while (kDistanceBase[i] > distance)
        --i;
    return {i, kDistanceExtra[i], distance - kDistanceBase[i]};
}

uint32_t FixedCodeLength(uint32_t symbol) {
    if (symbol < 144)
        return 8;
    if (symbol < 256)
        return 9;
    if (symbol < 280)
        return 7;
    return 8;
}

// Appends a match to plain the way a decoder copies it: front to back, so a
// distance shorter than the length repeats the bytes just produced.
void CopyMatch(Bytes &plain, uint32_t length, uint32_t distance) {
    const size_t from = plain.size() - distance;
    for (uint32_t i = 0; i < length; ++i)
        plain.push_back(plain[from + i]);
}

// A final fixed-code block holding `zeros` zero bytes: one literal, then
// matches of 258 at distance 1, the rest as a shorter match or literals.
void ZeroBlock(size_t zeros, BitWriter &w) {
    w.BlockHeader(true, 1);
    size_t left = zeros;
    if (left > 0) {
        FixedSymbol(w, 0);
        --left;
    }
    while (left > 0) {
        if (left >= 3) {
            const uint32_t n = static_cast<uint32_t>(left < 258 ? left : 258);
            FixedMatch(w, n, 1, false);
            left -= n;
        } else {
            FixedSymbol(w, 0);
            --left;
        }
    }
    FixedSymbol(w, 256);
}

// The size of ZeroBlock(zeros) in bits, without writing it.
uint64_t ZeroBlockBits(size_t zeros) {
    uint64_t bits = 3 + FixedCodeLength(256);
    if (zeros == 0)
        return bits;
    bits += FixedCodeLength(0);
    const size_t left = zeros - 1;
    bits += uint64_t(left / 258) * (FixedCodeLength(285) + 5);
    const uint32_t rest = static_cast<uint32_t>(left % 258);
    if (rest >= 3) {
        const Coded c = LengthSymbol(rest, false);
        bits += FixedCodeLength(c.symbol) + c.extraBits + 5;
    } else {
        bits += uint64_t(rest) * FixedCodeLength(0);
    }
    return bits;
}

// Bytes taken by s random bytes in stored blocks of at most 65535 bytes.
size_t StoredBytes(size_t s) { return s + 5 * ((s + 65534) / 65535); }

}  // namespace

void BitWriter::Bits(uint32_t value, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (bits_ % 8 == 0)
            bytes_.push_back(0);
        bytes_.back() = static_cast<uint8_t>(bytes_.back() | (((value >> i) & 1u) << (bits_ % 8)));
        ++bits_;
    }
}

void BitWriter::Code(uint32_t code, uint32_t length) {
    while (length-- > 0)
        Bits(code >> length, 1);
}

void BitWriter::BlockHeader(bool final, uint32_t type) {
    Bits(final ? 1u : 0u, 1);
    Bits(type, 2);
}

void BitWriter::StoredBlock(bool final, const Bytes &data) {
    if (data.size() > 65535)
        throw std::invalid_argument("a stored block holds at most 65535 bytes");
    BlockHeader(final, 0);
    bits_ = bytes_.size() * 8;  // the rest of the byte is padding
    const uint32_t len = static_cast<uint32_t>(data.size());
    Bits(len, 16);
    Bits(~len & 0xFFFFu, 16);
    AppendBytes(data);
}

void BitWriter::AppendBytes(const Bytes &data) {
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    bits_ = bytes_.size() * 8;
}

std::vector<uint32_t> CanonicalCodes(const std::vector<uint32_t> &lengths) {
    uint32_t count[17] = {};
    uint32_t next[17] = {};
    for (uint32_t length : lengths)
        ++count[length];
    count[0] = 0;
    uint32_t code = 0;
    for (int length = 1; length <= 16; ++length) {
        code = (code + count[length - 1]) << 1;
        next[length] = code;
    }
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s] != 0)
            codes[s] = next[lengths[s]]++;
    return codes;
}

void FixedSymbol(BitWriter &w, uint32_t symbol) {
    if (symbol < 144)
        w.Code(0x30 + symbol, 8);
    else if (symbol < 256)
        w.Code(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        w.Code(symbol - 256, 7);
    else
        w.Code(0xC0 + symbol - 280, 8);
}

void FixedMatch(BitWriter &w, uint32_t length, uint32_t distance, bool deflate64) {
    const Coded l = LengthSymbol(length, deflate64);
    const Coded d = DistanceCode(distance);
    FixedMatchCodes(w, l.symbol, l.extraBits, l.extra, d.symbol, d.extra);
}

void FixedMatchCodes(BitWriter &w, uint32_t lengthSymbol, uint32_t lengthExtraBits,
                     uint32_t lengthExtra, uint32_t distanceCode, uint32_t distanceExtra) {
    if (distanceCode > 31)
        throw std::invalid_argument("a fixed distance code has five bits");
    FixedSymbol(w, lengthSymbol);
    w.Bits(lengthExtra, lengthExtraBits);
    w.Code(distanceCode, 5);
    w.Bits(distanceExtra, kDistanceExtra[distanceCode]);
}

DynamicCodes::DynamicCodes(std::vector<uint32_t> literalLengths,
                           std::vector<uint32_t> distanceLengths)
    : literal_(std::move(literalLengths)),
      distance_(std::move(distanceLengths)),
      literalCodes_(CanonicalCodes(literal_)),
      distanceCodes_(CanonicalCodes(distance_)) {}

void DynamicCodes::Header(BitWriter &w, bool final) const {
    LengthSymbols symbols;
    for (const auto *set : {&literal_, &distance_})
        for (uint32_t length : *set)
            symbols.push_back({length, 0});
    ExplicitHeader(w, final, static_cast<uint32_t>(literal_.size()),
                   static_cast<uint32_t>(distance_.size()), symbols);
}

void DynamicCodes::ExplicitHeader(BitWriter &w, bool final, uint32_t literalCount,
                                  uint32_t distanceCount, const LengthSymbols &symbols) {
    // Code-length code: 0..15 five bits each, 16 two bits, 17 and 18 three:
    // 16/32 + 1/4 + 2/8, a complete code.
    std::vector<uint32_t> cl(19, 5);
    cl[16] = 2;
    cl[17] = cl[18] = 3;
    static const uint32_t kRunExtraBits[3] = {2, 3, 7};
    const std::vector<uint32_t> clCodes = CanonicalCodes(cl);
    w.BlockHeader(final, 2);
    w.Bits(literalCount - 257, 5);
    w.Bits(distanceCount - 1, 5);
    w.Bits(19 - 4, 4);
    for (uint32_t symbol : kCodeLengthOrder)
        w.Bits(cl[symbol], 3);
    for (const auto &[symbol, extra] : symbols) {
        w.Code(clCodes.at(symbol), cl[symbol]);
        if (symbol >= 16)
            w.Bits(extra, kRunExtraBits[symbol - 16]);
    }
}

void DynamicCodes::Symbol(BitWriter &w, uint32_t symbol) const {
    if (literal_.at(symbol) == 0)
        throw std::invalid_argument("symbol has no code in this block");
    w.Code(literalCodes_[symbol], literal_[symbol]);
}

void DynamicCodes::Distance(BitWriter &w, uint32_t code, uint32_t extra) const {
    if (distance_.at(code) == 0)
        throw std::invalid_argument("distance code has no code in this block");
    w.Code(distanceCodes_[code], distance_[code]);
    w.Bits(extra, kDistanceExtra[code]);
}

void DynamicCodes::Match(BitWriter &w, uint32_t length, uint32_t distance) const {
    const Coded l = LengthSymbol(length, false);
    Symbol(w, l.symbol);
    w.Bits(l.extra, l.extraBits);
    const Coded d = DistanceCode(distance);
    Distance(w, d.symbol, d.extra);
}

namespace {

// Lengths 1..9 and a second 9: complete, longest 9, so the literal/length
// lookup is 9 bits wide although 'A' and end-of-block take 1 and 2 bits.
DynamicCodes ShortCodes() {
    std::vector<uint32_t> lit(257, 0);
    lit['A'] = 1;
    lit[256] = 2;
    for (uint32_t length = 3; length <= 9; ++length)
        lit['B' + length - 3] = length;
    lit['J'] = 9;
    return DynamicCodes(lit, {0});  // no distance codes: literals only
}

}  // namespace

Bytes EndsWithShortCode(int literals, Bytes *plain, bool *readsBeyond) {
    const DynamicCodes codes = ShortCodes();
    BitWriter w;
    codes.Header(w, true);
    plain->assign(static_cast<size_t>(literals), 'A');
    for (int i = 0; i < literals; ++i)
        codes.Symbol(w, 'A');
    const uint64_t endOfBlock = w.bitCount();
    codes.Symbol(w, 256);
    *readsBeyond = endOfBlock + 9 > w.bytes().size() * 8;
    return w.bytes();
}

Bytes StoredAfterReadAhead(int literals, const Bytes &tail, Bytes *plain, bool *readAhead) {
    const DynamicCodes codes = ShortCodes();
    BitWriter w;
    codes.Header(w, false);
    plain->clear();
    for (int i = 0; i < literals; ++i) {
        codes.Symbol(w, 'A');
        plain->push_back('A');
    }
    // Decoding the end-of-block code pulls whole bytes until 9 bits are
    // available; the stored block's 3-bit header follows the 2-bit code.
    const uint64_t endOfBlock = w.bitCount();
    codes.Symbol(w, 256);
    const uint64_t pulled = (endOfBlock + 9 + 7) / 8 * 8;
    *readAhead = pulled - (endOfBlock + 2 + 3) >= 8;
    w.StoredBlock(true, tail);
    plain->insert(plain->end(), tail.begin(), tail.end());
    return w.bytes();
}

bool ExactSizeStream(size_t compressedSize, size_t plainSize, uint32_t seed, Bytes *stream,
                     Bytes *plain) {
    // s random bytes in non-final stored blocks, then the zeros block.
    for (size_t s = 0; s <= plainSize && StoredBytes(s) <= compressedSize; ++s) {
        if (StoredBytes(s) + (ZeroBlockBits(plainSize - s) + 7) / 8 != compressedSize)
            continue;
        std::mt19937 rng(seed);
        plain->resize(s);
        for (uint8_t &x : *plain)
            x = static_cast<uint8_t>(rng());
        BitWriter w;
        for (size_t at = 0; at < s; at += 65535) {
            const size_t n = s - at < 65535 ? s - at : 65535;
            w.StoredBlock(false, Bytes(plain->begin() + long(at), plain->begin() + long(at + n)));
        }
        ZeroBlock(plainSize - s, w);
        plain->resize(plainSize, 0);
        *stream = w.bytes();
        return stream->size() == compressedSize;
    }
    return false;
}

Bytes LongMatchDeflate64(Bytes *plain) {
    BitWriter w;
    Bytes &p = *plain;
    p.clear();
    auto literal = [&](uint8_t c) {
        FixedSymbol(w, c);
        p.push_back(c);
    };
    auto match = [&](uint32_t length, uint32_t distance) {
        FixedMatch(w, length, distance, true);
        CopyMatch(p, length, distance);
    };
    w.BlockHeader(true, 1);
    for (const char *s = "Deflate64 "; *s != '\0'; ++s)
        literal(static_cast<uint8_t>(*s));
    match(65538, 1);      // the longest match: one byte repeated
    literal('!');
    match(65538, 10);     // a 10-byte pattern repeated
    match(300, 65536);    // the window's full size back
    match(4000, 40000);   // beyond Deflate's 32 KiB
    match(259, 32769);    // the first distance Deflate cannot express
    literal('.');
    FixedSymbol(w, 256);
    return w.bytes();
}

Bytes LongCodesDeflate64(Bytes *plain) {
    // Complete codes of lengths 1, 2, ..., 14 and a second 15: 'A'..'M' take
    // 1..13 bits, end-of-block 14; 284 and 285 take 15.
    std::vector<uint32_t> lit(286, 0);
    for (uint32_t i = 0; i < 13; ++i)
        lit['A' + i] = i + 1;
    lit[256] = 14;
    lit[284] = 15;
    lit[285] = 15;
    // Distance codes 0..13 take 1..14 bits, 29 and 30 take 15.
    std::vector<uint32_t> dist(31, 0);
    for (uint32_t i = 0; i < 14; ++i)
        dist[i] = i + 1;
    dist[29] = 15;
    dist[30] = 15;
    const DynamicCodes codes(lit, dist);

    BitWriter w;
    Bytes &p = *plain;
    p.clear();
    std::mt19937 rng(29);
    auto literals = [&](int n) {
        for (int i = 0; i < n; ++i) {
            const uint8_t c = uint8_t('A' + rng() % 13);
            codes.Symbol(w, c);
            p.push_back(c);
        }
    };
    codes.Header(w, true);
    literals(50000);
    for (int i = 0; i < 400; ++i) {
        // 285 with 16 extra bits: 3 + extra; code 30 with 14: 32769 + extra.
        const uint32_t length = 3 + rng() % 600;
        const uint32_t distance = 32769 + rng() % 16384;
        codes.Symbol(w, 285);
        w.Bits(length - 3, 16);
        codes.Distance(w, 30, distance - 32769);
        CopyMatch(p, length, distance);
        literals(1 + int(rng() % 5));
    }
    codes.Symbol(w, 256);
    return w.bytes();
}

}  // namespace qzt
