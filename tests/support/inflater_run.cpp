#include "inflater_run.h"

#include <algorithm>
#include <vector>

#include <zlib.h>

#include "inflate/inflate_stream.h"
#include "platform/test_hooks.h"
#include "archive/unpack_state.h"

namespace qzfuzz {
namespace {

// Output slice sizes, used in turn; the extractor's own slice is the entry's
// compressed size + 4, at most 65536.
const std::vector<uint32_t> kSlicePatterns[8] = {
    {65536}, {1}, {3, 5, 7}, {4096}, {100, 1, 65536}, {32768}, {257, 258, 259}, {13, 65535},
};

struct Source {
    const uint8_t *data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    size_t pulls = 0;  // calls, including those past the end
    int filler = 0;
};
Source gSource;

int PullByte() {
    ++gSource.pulls;
    if (gSource.pos < gSource.size)
        return gSource.data[gSource.pos++];
    return gSource.filler;
}

// zlib's raw inflate of the whole stream: true when it reaches the stream's
// end with at most cap bytes of output.
bool ZlibInflate(const uint8_t *data, size_t size, size_t cap, std::vector<uint8_t> &out) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    out.resize(cap + 1);  // kept between runs: no new zero-filled block each time
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&z, Z_FINISH);
    const size_t total = z.total_out;
    inflateEnd(&z);
    out.resize(total);
    return rc == Z_STREAM_END && total <= cap;
}

// zlib's raw deflate of plain data, with options taken from its first byte.
std::vector<uint8_t> ZlibDeflate(const uint8_t *data, size_t size) {
    const uint8_t options = size > 0 ? data[0] : 0;
    const int level = options % 10;
    const int strategy = (options / 10) % 5;  // default, filtered, Huffman only, RLE, fixed
    const int memLevel = 1 + (options / 50) % 9;
    std::vector<uint8_t> out;
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy) != Z_OK)
        return out;
    out.resize(deflateBound(&z, static_cast<uLong>(size)) + 16);
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(rc == Z_STREAM_END ? z.total_out : 0);
    deflateEnd(&z);
    return out;
}

}  // namespace

InflaterRun RunInflater(const uint8_t *data, size_t size) {
    InflaterRun run;
    if (size == 0)
        return run;
    const uint8_t control = data[0];
    const bool compressHere = (control & 0x40u) != 0;
    const uint16_t method = (control & 1u) != 0 && !compressHere ? 9 : 8;
    const std::vector<uint32_t> &pattern = kSlicePatterns[(control >> 1) & 7u];
    const bool failedVolume = (control & 0x10u) != 0;
    const bool smallWindow = (control & 0x20u) != 0;

    const uint8_t *stream = data + 1;
    size_t streamSize = size - 1;
    static std::vector<uint8_t> compressed;
    if (compressHere) {
        compressed = ZlibDeflate(stream, streamSize);
        stream = compressed.data();
        streamSize = compressed.size();
    }

    gSource = Source{};
    gSource.data = stream;
    gSource.size = streamSize;
    gSource.filler = failedVolume ? -1 : 0;

    const long blocks = qzarc_test::LiveBlocks();
    if (StartInflate(!smallWindow, method, InflateInput{PullByte, nullptr, nullptr, nullptr}) != 0) {
        run.fault = "StartInflate failed without an injected allocation failure";
        return run;
    }

    // Slices of a few bytes cost a call each: their runs stop sooner.
    const size_t cap = pattern[0] < 100 ? kInflateOutputCap / 8 : kInflateOutputCap;
    static std::vector<uint8_t> out;
    static std::vector<uint8_t> slice(65536);
    static std::vector<uint8_t> reference;
    out.clear();
    bool ended = false;
    for (size_t call = 0; !ended && out.size() <= cap; ++call) {
        const uint32_t count = pattern[call % pattern.size()];
        // The slice ends where the heap block ends, so that a byte written
        // past count is an out-of-bounds write for the sanitizer.
        uint8_t *const into = slice.data() + slice.size() - count;
        const uint32_t n = InflateSlice(into, count);
        const int status = InflateStatus();
        if (n > count) {
            run.fault = "a slice delivered more than asked";
            break;
        }
        out.insert(out.end(), into, into + n);
        if (status != 0 && status != 3 && status != 5) {
            run.fault = "status " + std::to_string(status) + " while slicing";
            break;
        }
        if (n < count) {
            ended = true;
            // Ended or failed: from now on nothing is decoded or pulled.
            const size_t pulls = gSource.pulls;
            if (InflateSlice(into, count) != 0 || gSource.pulls != pulls) {
                run.fault = "a slice after the end decoded or pulled input";
                break;
            }
            if (status == 3 && !(method == 9 && smallWindow)) {
                run.fault = "status 3 for a supported method";
                break;
            }
        }
    }
    run.produced = out.size();

    const bool zlibDone = !run.fault.empty() || method != 8 || failedVolume
                              ? false
                              : ZlibInflate(stream, streamSize, cap, reference);
    uint32_t crc = 0;
    uint32_t expectedSize = 0;
    if (zlibDone) {
        run.compared = true;
        crc = static_cast<uint32_t>(crc32(0L, reference.data(), static_cast<uInt>(reference.size())));
        expectedSize = static_cast<uint32_t>(reference.size());
        if (!ended || out != reference) {
            size_t at = 0;
            while (at < out.size() && at < reference.size() && out[at] == reference[at])
                ++at;
            run.fault = "output differs from zlib's at byte " + std::to_string(at) + " (ours " +
                        std::to_string(out.size()) + " bytes, zlib's " +
                        std::to_string(reference.size()) + ")";
        }
    }
    run.verdict = FinishInflate(crc, expectedSize);
    if (run.fault.empty() && run.verdict != 0 && run.verdict != 6 && run.verdict != 7 &&
        run.verdict != 8)
        run.fault = "end check gave " + std::to_string(run.verdict);
    if (run.fault.empty() && zlibDone && run.verdict != 0)
        run.fault = "end check gave " + std::to_string(run.verdict) + " for a stream zlib decodes";
    if (run.fault.empty() && InflateStatus() != run.verdict)
        run.fault = "status register differs from the end check's verdict";
    if (run.fault.empty() && qzarc_test::LiveBlocks() != blocks)
        run.fault = "heap blocks left after the end check";
    if (!run.fault.empty())
        ReleaseInflate();
    return run;
}

}  // namespace qzfuzz
