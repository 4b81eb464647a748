// Drives the inflater directly over a raw Deflate (method 8) or Deflate64
// (method 9) stream and checks its contract:
//  - a slice delivers at most the bytes asked for, and fewer only when the
//    stream has ended (status 0) or failed (status 3 or 5; 1 needs a heap
//    that runs out);
//  - after that every slice returns 0 and pulls no input;
//  - the end check gives 0, 6, 7 or 8 and releases every heap block;
//  - for method 8, whenever zlib decodes the stream completely, the output
//    equals zlib's byte for byte and the end check with zlib's CRC-32 and
//    size passes.
//
// Input layout:
//   byte 0   bit 0:    method 9 (else 8)
//            bits 1-3: slice pattern (see kSlicePatterns)
//            bit 4:    past the stream's end the source answers -1 (a volume
//                      that failed to open) instead of the filler 0
//            bit 5:    start with the small (32 KiB) window instead of the
//                      64 KiB one the extractor uses
//            bit 6:    the rest is not a stream but plain data, compressed
//                      here by zlib (level, strategy and memory level from
//                      its first byte) into a method 8 stream; bit 0 is then
//                      ignored. Every such input is compared with zlib.
//   rest     the stream
// Shared by the libFuzzer target and the fault tests' replay of
// fuzz/regressions.
#ifndef QZARC_FUZZ_INFLATER_RUN_H
#define QZARC_FUZZ_INFLATER_RUN_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace qzfuzz {

// Output beyond this is not decoded (an eighth of it with slices of under
// 100 bytes); zlib's result is compared only when it is no longer.
constexpr size_t kInflateOutputCap = size_t{1} << 20;

struct InflaterRun {
    std::string fault;      // "" when every check held
    bool compared = false;  // zlib decoded the stream and the outputs were compared
    size_t produced = 0;    // bytes the inflater delivered
    int verdict = 0;        // the end check's result
};

InflaterRun RunInflater(const uint8_t *data, size_t size);

}  // namespace qzfuzz

#endif  // QZARC_FUZZ_INFLATER_RUN_H
