// Raw Deflate (method 8) and Deflate64 (method 9) streams shared by the
// test programs and the fuzz targets, each with the CRC-32 and size of what
// it decodes to:
//  - the inflater target's seed streams: zlib in every strategy, with flush
//    points and stored blocks, the Deflate64 fixtures and the hand-built
//    shapes of deflate_builder.h;
//  - decoys for a search of where blocks start: streams whose bytes hold
//    things that decode as blocks but are none, and block layouts that leave
//    such a search little to hold on to (see BlockStartDecoys).
#ifndef QZARC_RAW_STREAMS_H
#define QZARC_RAW_STREAMS_H

#include <cstdint>
#include <string>
#include <vector>

#include "writer/writer.h"

namespace qzt {

using qzw::Bytes;

struct RawStream {
    std::string label;
    uint16_t method = 8;  // 8 Deflate, 9 Deflate64
    Bytes stream;
    uint32_t crc = 0;     // of the plain bytes
    uint32_t size = 0;    // plain bytes
};

// Text with a byte changed every 97 (words alone compress too well).
Bytes MixedData(size_t size, uint32_t seed);

// The raw streams of the inflater target's seeds, in the order make_seeds
// writes them (without zlib, its streams are empty).
std::vector<RawStream> InflaterSeedStreams();

// Streams that put false block starts everywhere a search might look, and
// few true ones:
//  - stored blocks whose payload is itself a Deflate stream (ours and
//    zlib's, shifted by every bit count), later matched into;
//  - stored payloads full of copies of real dynamic block headers;
//  - fixed-code blocks only; thousands of tiny blocks of every type; one
//    block of a few hundred kilobytes; runs of empty stored blocks;
//  - Deflate64 with length symbol 285 (lengths up to 65538) and distance
//    codes 30 and 31 (up to 64 KiB back) throughout, and the same stream
//    read as Deflate, where those codes are invalid halfway through;
//  - a match that reaches back past the stream's start, far into it.
// Every stream but the last two is valid. Each is at most about 100 KB.
std::vector<RawStream> BlockStartDecoys();

}  // namespace qzt

#endif  // QZARC_RAW_STREAMS_H
