// Deflate in independent pieces, so that two processor cores can share an
// entry. Each piece is a raw Deflate stream primed with the 32 KiB of data
// before it (matches may reach back into the previous piece) and ended with
// a sync flush, which leaves it byte-aligned and not final; the last piece
// ends with a final block. Their concatenation is one valid Deflate stream,
// a few bytes per piece longer than a single stream would be.
#ifndef QZARC_CLI_PIECE_DEFLATE_H
#define QZARC_CLI_PIECE_DEFLATE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qzcli {

// The size of a piece (the last one of an entry may be shorter).
constexpr size_t kDeflatePiece = 1 << 20;
// How much of the data before a piece primes it.
constexpr size_t kDeflateWindow = 1 << 15;

// Compresses data (following `dictionary`, at most kDeflateWindow bytes)
// into *out. False when the encoder cannot start (out of memory).
bool DeflatePiece(int level, const std::vector<uint8_t> &dictionary, const std::vector<uint8_t> &data,
                  bool final, std::vector<uint8_t> *out);

// The last kDeflateWindow bytes of data.
std::vector<uint8_t> WindowOf(const std::vector<uint8_t> &data);

}  // namespace qzcli

#endif  // QZARC_CLI_PIECE_DEFLATE_H
