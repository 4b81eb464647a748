#include "inflater_run.h"

#include <algorithm>
#include <unistd.h>
#include <vector>

#include <zlib.h>

#include "fuzz_files.h"
#include "platform/test_hooks.h"
#include "slice_trace.h"

namespace qzfuzz {
namespace {

using Bytes = std::vector<uint8_t>;

// Output slice sizes, used in turn; the extractor's own slice is the entry's
// compressed size + 4, at most 65536.
const std::vector<uint32_t> kSlicePatterns[8] = {
    {65536}, {1}, {3, 5, 7}, {4096}, {100, 1, 65536}, {32768}, {257, 258, 259}, {13, 65535},
};

constexpr uint32_t kMaxChunk = 65536;
constexpr uint8_t kFinalSeen = 0x80;
constexpr uint8_t kBlockKindMask = 0x03;

enum EndMode { kExact = 0, kCutShort = 1, kMissingVolume = 2, kSplit = 3 };

void PutLe(Bytes &b, size_t at, uint32_t value, int bytes) {
    for (int k = 0; k < bytes; ++k)
        b[at + k] = static_cast<uint8_t>(value >> (8 * k));
}

// The record's magic, header and name; its data follows.
Bytes RecordHead(uint16_t method, uint32_t declared) {
    static const char kName[] = "entry.bin";
    const size_t nameLength = sizeof kName - 1;
    Bytes head(62 + nameLength, 0);
    PutLe(head, 0, 0x04035A51u, 4);
    PutLe(head, 4 + 4, method, 2);
    PutLe(head, 4 + 38, declared, 4);
    PutLe(head, 4 + 54, static_cast<uint32_t>(nameLength), 2);
    std::copy(kName, kName + nameLength, head.begin() + 62);
    return head;
}

// What a following record would put behind the data.
void AppendNextRecord(Bytes &volume) {
    const Bytes next = RecordHead(8, 100);
    volume.insert(volume.end(), next.begin(), next.end());
}

uint32_t ChunkSize(uint8_t selector, uint32_t declared) {
    if (selector == 0)
        return declared >= kMaxChunk - 4 ? kMaxChunk : declared + 4;
    if (selector < 64)
        return selector;
    return 64 + static_cast<uint32_t>(selector - 64) * (kMaxChunk - 64) / 191;
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

// The fast run's own guarantees; "" when they hold.
std::string CheckContract(const qztrace::InflateTrace &trace, uint16_t method, bool smallWindow) {
    if (!trace.started)
        return "StartInflate failed without an injected allocation failure";
    bool ended = false;
    for (size_t i = 0; i < trace.steps.size(); ++i) {
        const qztrace::SliceStep &step = trace.steps[i];
        const std::string at = "slice " + std::to_string(i) + ": ";
        if (step.produced > step.count)
            return at + "delivered more than asked";
        if (step.status != 0 && step.status != 3 && step.status != 5)
            return at + "status " + std::to_string(step.status) + " while slicing";
        if (step.status == 3 && !(method == 9 && smallWindow))
            return at + "status 3 for a supported method";
        if (i > 0) {
            const qztrace::SliceStep &before = trace.steps[i - 1];
            if (ended && (step.produced != 0 || step.consumed != before.consumed ||
                          step.remaining != before.remaining || step.delivered != before.delivered ||
                          step.status != before.status))
                return at + "a slice after the end decoded or pulled input";
            const bool finished = (before.flags & (kFinalSeen | kBlockKindMask)) == kFinalSeen;
            if (!ended && before.status == 0 && !finished && before.readError == 0 && before.remaining < -4 &&
                (step.produced != 0 || step.status != 5))
                return at + "decoded on although more than 4 bytes past the data were pulled";
        }
        if (step.produced < step.count)
            ended = true;
    }
    if (trace.finish != 0 && trace.finish != 6 && trace.finish != 7 && trace.finish != 8)
        return "end check gave " + std::to_string(trace.finish);
    if (trace.statusAfter != trace.finish)
        return "status register differs from the end check's verdict";
    return "";
}

}  // namespace

InflaterRun RunInflater(const uint8_t *data, size_t size, const std::string &dir) {
    InflaterRun run;
    if (size < kInflaterInputHeader)
        return run;
    const uint8_t control = data[0];
    const uint8_t chunkSelector = data[1];
    const uint8_t parameter = data[2];
    const bool compressHere = (control & 0x40u) != 0;
    const uint16_t method = (control & 1u) != 0 && !compressHere ? 9 : 8;
    const std::vector<uint32_t> &pattern = kSlicePatterns[(control >> 1) & 7u];
    const EndMode mode = static_cast<EndMode>(((control >> 4) & 1u) | ((control >> 6) & 2u));
    const bool smallWindow = (control & 0x20u) != 0;

    const uint8_t *stream = data + kInflaterInputHeader;
    size_t streamSize = size - kInflaterInputHeader;
    static std::vector<uint8_t> compressed;
    if (compressHere) {
        compressed = ZlibDeflate(stream, streamSize);
        stream = compressed.data();
        streamSize = compressed.size();
    }

    // The volumes: the record with the data (or its first part), and for a
    // split stream the second volume with the rest.
    uint32_t declared = static_cast<uint32_t>(streamSize);
    size_t firstPart = streamSize;
    if (mode == kCutShort)
        declared = streamSize > parameter + 1u ? static_cast<uint32_t>(streamSize - parameter - 1) : 0;
    else if (mode == kMissingVolume)
        declared = static_cast<uint32_t>(streamSize + parameter + 1);
    else if (mode == kSplit)
        firstPart = streamSize * parameter / 256;
    const std::string first = dir + "/entry.qza";
    const std::string second = dir + "/entry.001";
    Bytes volume = RecordHead(method, declared);
    const size_t dataOffset = volume.size();
    volume.insert(volume.end(), stream, stream + firstPart);
    if (mode != kMissingVolume && mode != kSplit)
        AppendNextRecord(volume);
    if (!WriteWhole(first, volume)) {
        run.fault = "cannot write " + first;
        return run;
    }
    unlink(second.c_str());
    if (mode == kSplit) {
        Bytes rest(stream + firstPart, stream + streamSize);
        AppendNextRecord(rest);
        if (!WriteWhole(second, rest)) {
            run.fault = "cannot write " + second;
            return run;
        }
    }

    qztrace::ReaderRun reading;
    reading.path = first;
    reading.dataOffset = dataOffset;
    reading.method = method;
    reading.largeWindow = !smallWindow;
    reading.declared = declared;
    reading.chunk = ChunkSize(chunkSelector, declared);
    reading.counts = pattern;
    // Slices of a few bytes cost a call each: their runs stop sooner.
    const size_t cap = pattern[0] < 100 ? kInflateOutputCap / 8 : kInflateOutputCap;
    reading.outputBound = cap + 1;

    // zlib's verdict on the bytes the reader can hand out.
    static std::vector<uint8_t> reference;
    const size_t available = std::min<size_t>(declared, streamSize);
    const bool zlibDone = method == 8 && ZlibInflate(stream, available, cap, reference);
    if (zlibDone) {
        reading.crc = static_cast<uint32_t>(crc32(0L, reference.data(), static_cast<uInt>(reference.size())));
        reading.size = static_cast<uint32_t>(reference.size());
    }

    const long blocks = qzarc_test::LiveBlocks();
    const long handles = qzarc_test::LiveHandles();
    const qztrace::InflateTrace exact = qztrace::RunThroughReader(reading, true);
    const qztrace::InflateTrace fast = qztrace::RunThroughReader(reading, false);
    run.produced = fast.output.size();
    run.verdict = fast.finish;

    std::string difference = qztrace::Difference(exact, fast);
    if (!difference.empty()) {
        run.fault = "fast and exact paths differ: " + difference;
        return run;
    }
    if (qztrace::kNarrowIsAnotherWay) {
        difference = qztrace::Difference(exact, qztrace::RunNarrow(reading));
        if (!difference.empty()) {
            run.fault = "the 32-bit fast path and the exact one differ: " + difference;
            return run;
        }
    }
    run.fault = CheckContract(fast, method, smallWindow);
    if (run.fault.empty() && zlibDone) {
        run.compared = true;
        if (fast.output != reference) {
            size_t at = 0;
            while (at < fast.output.size() && at < reference.size() && fast.output[at] == reference[at])
                ++at;
            run.fault = "output differs from zlib's at byte " + std::to_string(at) + " (ours " +
                        std::to_string(fast.output.size()) + " bytes, zlib's " +
                        std::to_string(reference.size()) + ")";
        } else if (fast.finish != 0) {
            run.fault = "end check gave " + std::to_string(fast.finish) + " for a stream zlib decodes";
        }
    }
    if (run.fault.empty() && qzarc_test::LiveBlocks() != blocks)
        run.fault = "heap blocks left after the end check";
    if (run.fault.empty() && qzarc_test::LiveHandles() != handles)
        run.fault = "handles left after the run";
    return run;
}

}  // namespace qzfuzz
