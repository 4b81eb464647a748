// Drives the inflater over a Deflate (method 8) or Deflate64 (method 9)
// stream the way an extraction does: the stream is an entry's data in a
// record of a volume file, read by the archive reader in chunks and sliced
// at varying counts. Each input runs with the fast paths allowed, with the
// exact paths only and, on a 64-bit machine, with the 32-bit fast loop of
// 32-bit processors, and the traces must agree after every slice
// (slice_trace.h). The fast run's contract is checked as well:
//  - a slice delivers at most the bytes asked for, and fewer only when the
//    stream has ended (status 0) or failed (3 or 5; 1 needs a heap that runs
//    out);
//  - after that every slice returns 0 and pulls no input;
//  - a slice that starts more than 4 bytes past the entry's data, before
//    the final block has ended, fails at once (status 5, nothing produced);
//  - the end check gives 0, 6, 7 or 8 and releases every heap block and
//    handle;
//  - for method 8, whenever zlib decodes the bytes the reader can hand out
//    completely, the output equals zlib's byte for byte and the end check
//    with zlib's CRC-32 and size passes.
//
// Input layout:
//   byte 0   bit 0:    method 9 (else 8)
//            bits 1-3: slice pattern (see kSlicePatterns)
//            bits 4,7: where the data ends (bit 4 + 2 * bit 7):
//                      0  the declared size is the stream's
//                      1  declared 1 + byte 2 bytes short: the stream is cut
//                         and decodes on the reader's fillers
//                      2  declared 1 + byte 2 bytes long, and the volume
//                         that would hold them is missing (-1 from the source)
//                      3  the stream goes on in a second volume, from
//                         byte 2 / 256 of its length
//            bit 5:    start with the small (32 KiB) window instead of the
//                      64 KiB one the extractor uses
//            bit 6:    the rest is not a stream but plain data, compressed
//                      here by zlib (level, strategy and memory level from
//                      its first byte) into a method 8 stream; bit 0 is then
//                      ignored
//   byte 1   the reader's chunk: 0 as the extractor sizes it (declared + 4,
//            at most 65536), 1-63 that many bytes (chunks end inside codes
//            all the time), else spread over 64..65536
//   byte 2   the parameter of bits 4 and 7
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

// Bytes of an inflater input before the stream.
constexpr size_t kInflaterInputHeader = 3;

struct InflaterRun {
    std::string fault;      // "" when every check held and every way agreed
    bool compared = false;  // zlib decoded the stream and the outputs were compared
    size_t produced = 0;    // bytes the inflater delivered
    int verdict = 0;        // the end check's result
};

// dir: a directory of the caller's own, for the volume files.
InflaterRun RunInflater(const uint8_t *data, size_t size, const std::string &dir);

}  // namespace qzfuzz

#endif  // QZARC_FUZZ_INFLATER_RUN_H
