// Hand-built Deflate and Deflate64 streams, for the shapes no general
// encoder produces on request: matches longer than 258 bytes, a stored block
// that directly follows a dynamic block which had read input ahead, streams
// of an exact compressed size, and code sets with long codes.
#ifndef QZARC_DEFLATE_BUILDER_H
#define QZARC_DEFLATE_BUILDER_H

#include <cstdint>
#include <utility>
#include <vector>

#include "writer/writer.h"

namespace qzt {

// Length symbols 257..284 and distance codes 0..31 (30 and 31 reaching 64 KiB
// back, for Deflate64): base values and extra bits.
extern const uint32_t kLengthBase[28];
extern const uint32_t kLengthExtra[28];
extern const uint32_t kDistanceBase[32];
extern const uint32_t kDistanceExtra[32];

using qzw::Bytes;

// Writes fields least significant bit first and Huffman codes most
// significant bit first, the bit order of Deflate.
class BitWriter {
public:
    void Bits(uint32_t value, uint32_t count);
    void Code(uint32_t code, uint32_t length);
    // BFINAL and BTYPE (0 stored, 1 fixed, 2 dynamic).
    void BlockHeader(bool final, uint32_t type);
    // A whole stored block: header, padding to the byte, LEN, NLEN, data.
    void StoredBlock(bool final, const Bytes &data);
    // Padding to the byte, then data as whole bytes: the rest of a block
    // written by hand, such as a stored block whose NLEN is wrong.
    void AppendBytes(const Bytes &data);

    uint64_t bitCount() const { return bits_; }
    const Bytes &bytes() const { return bytes_; }

private:
    Bytes bytes_;
    uint64_t bits_ = 0;
};

// Canonical codes for a list of code lengths (0 = symbol absent).
std::vector<uint32_t> CanonicalCodes(const std::vector<uint32_t> &lengths);

// Symbols of a fixed-code block (type 1).
void FixedSymbol(BitWriter &w, uint32_t symbol);
// A match in a fixed-code block. Lengths above 258 exist only in Deflate64,
// through symbol 285 with 16 extra bits (lengths 3 to 65538).
void FixedMatch(BitWriter &w, uint32_t length, uint32_t distance, bool deflate64);
// A match in a fixed-code block given by its codes rather than by length and
// distance, for the codes an encoder would not choose: Deflate's distance
// codes 30 and 31, symbol 285 with Deflate64's 16 extra bits. The distance's
// extra bits are as many as its code has.
void FixedMatchCodes(BitWriter &w, uint32_t lengthSymbol, uint32_t lengthExtraBits,
                     uint32_t lengthExtra, uint32_t distanceCode, uint32_t distanceExtra);

// A dynamic block's code sets. Its header's code-length code is complete:
// lengths 0..15 take five bits each, the repeat symbol 16 two, and the zero
// runs 17 and 18 three, so any sequence of code-length symbols can be written.
class DynamicCodes {
public:
    // (code-length symbol, value of its extra bits); the extra bits of 16,
    // 17 and 18 are 2, 3 and 7 wide, the others have none.
    using LengthSymbols = std::vector<std::pair<uint32_t, uint32_t>>;

    DynamicCodes(std::vector<uint32_t> literalLengths, std::vector<uint32_t> distanceLengths);
    // The header of these code sets, listing every code length one by one.
    void Header(BitWriter &w, bool final) const;
    // A header of literalCount and distanceCount codes whose lengths are
    // given by `symbols` as they stand: runs, and sequences that do not add
    // up to the counts.
    static void ExplicitHeader(BitWriter &w, bool final, uint32_t literalCount,
                               uint32_t distanceCount, const LengthSymbols &symbols);
    void Symbol(BitWriter &w, uint32_t symbol) const;
    // A distance code with `extra` in its extra bits.
    void Distance(BitWriter &w, uint32_t code, uint32_t extra) const;
    // A length symbol with its extra bits, then a distance code with its extra bits.
    void Match(BitWriter &w, uint32_t length, uint32_t distance) const;

private:
    std::vector<uint32_t> literal_, distance_;
    std::vector<uint32_t> literalCodes_, distanceCodes_;
};

// A valid Deflate stream: a non-final dynamic block whose literal/length code
// is decoded through a 9-bit lookup but holds a 1-bit literal ('A') and a
// 2-bit end-of-block code, with `literals` 'A's, followed by a final stored
// block holding `tail`. Depending on `literals`, whole bytes of the stored
// block's LEN already sit in the bit buffer when its header has been read;
// readAhead tells whether this stream is such a case.
Bytes StoredAfterReadAhead(int literals, const Bytes &tail, Bytes *plain, bool *readAhead);

// A valid Deflate stream of one final dynamic block with `literals` 'A's
// (1-bit code) and a 2-bit end-of-block code under a 9-bit lookup. Decoding
// its last code makes the inflater ask for one byte beyond the stream unless
// that code happens to start exactly 9 bits before the end (readsBeyond).
Bytes EndsWithShortCode(int literals, Bytes *plain, bool *readsBeyond);

// A valid Deflate stream of exactly compressedSize bytes that inflates to
// plainSize bytes: random bytes in non-final stored blocks, then a final
// fixed-code block of zeros written as 258-byte matches (about 20 zeros per
// compressed byte). False when no split gives exactly that size.
bool ExactSizeStream(size_t compressedSize, size_t plainSize, uint32_t seed, Bytes *stream,
                     Bytes *plain);

// A Deflate64 stream with matches far beyond Deflate's limits: lengths up to
// 65538 and distances up to 65536, each cut by 64 KiB output slices.
Bytes LongMatchDeflate64(Bytes *plain);

// A Deflate64 stream of one dynamic block whose codes are as long as codes
// get: length symbol 285 and distance code 30 have 15-bit codes, so that
// with their extra bits a match takes 31 + 29 bits, between literals of
// codes from 1 to 13 bits.
Bytes LongCodesDeflate64(Bytes *plain);

}  // namespace qzt

#endif  // QZARC_DEFLATE_BUILDER_H
