#include "slice_trace.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "archive/archive_reader.h"
#include "archive/open_archive.h"
#include "archive/unpack_state.h"
#include "export/legacy_state.h"
#include "crypto/crc32.h"
#include "inflate/fast_decode.h"
#include "inflate/inflate_stream.h"
#include "platform/test_hooks.h"
#include "qzarc.h"

namespace qztrace {

bool SliceStep::operator==(const SliceStep &o) const {
    return count == o.count && produced == o.produced && status == o.status && readError == o.readError &&
           consumed == o.consumed && remaining == o.remaining && delivered == o.delivered &&
           bitBuffer == o.bitBuffer && bitCount == o.bitCount && flags == o.flags && crcRegister == o.crcRegister;
}

std::string SliceStep::Describe() const {
    std::ostringstream s;
    s << "count " << count << " -> " << produced << ", status " << status << ", readError " << readError
      << ", consumed " << consumed << ", remaining " << remaining << ", delivered " << delivered << ", bits "
      << bitCount << ":" << std::hex << bitBuffer << ", flags " << unsigned(flags) << ", crc " << crcRegister;
    return s.str();
}

SliceStep Capture(uint32_t count, uint32_t produced) {
    SliceStep step;
    step.count = count;
    step.produced = produced;
    step.status = InflateStatus(gUnpack.inflate);
    step.readError = gUnpack.readError;
    step.consumed = gUnpack.consumed;
    step.remaining = gUnpack.remaining;
    step.delivered = gUnpack.reader.delivered;
    step.bitBuffer = gUnpack.inflate.bitBuffer;
    step.bitCount = gUnpack.inflate.bitCount;
    step.flags = gUnpack.inflate.flags;
    step.crcRegister = CrcValue(gUnpack.inflate.crc);
    return step;
}

void SetExactPathsOnly(bool exact) { gExactPathsOnly = exact; }

namespace {

void CloseNow() { QZUnpack(nullptr, nullptr, nullptr, nullptr, 0, nullptr, QZ_CLOSE_NOW); }

}  // namespace

InflateTrace RunThroughReader(const ReaderRun &run, bool exact) {
    InflateTrace trace;
    CloseNow();
    SetExactPathsOnly(exact);
    lstrcpynA(gUnpack.archivePath, run.path.c_str(), MAX_PATH);
    gUnpack.volumeNumber = 0;
    gUnpack.archive = CreateFileA(run.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!IsOpenHandle(gUnpack.archive) || !AllocateBuffers(gUnpack) || !SeekArchive(gUnpack, run.dataOffset)) {
        CloseNow();
        SetExactPathsOnly(false);
        return trace;
    }
    gUnpack.volumeSize = GetFileSize(gUnpack.archive, nullptr);
    gUnpack.method = run.method;
    gUnpack.encrypted = false;
    gUnpack.switched = false;
    gUnpack.headerSize = uint32_t(run.dataOffset);
    gUnpack.compressedSize = run.declared;
    gUnpack.remaining = run.declared;
    gUnpack.consumed = 0;
    gUnpack.readError = kStatusOk;
    gUnpack.status = kStatusOk;
    gUnpack.slice = run.chunk;
    ResetReader(gUnpack);
    gUnpack.reader.delivered = 0;
    trace.started = StartInflate(gUnpack.inflate, run.largeWindow, run.method, EntryInput(gUnpack)) == 0;
    if (trace.started) {
        Bytes out(kMaxChunk);
        int afterEnd = 0;
        for (size_t call = 0; afterEnd < 2 && trace.output.size() < run.outputBound; ++call) {
            const uint32_t count = run.counts[call % run.counts.size()];
            const uint32_t n = InflateSlice(gUnpack.inflate, out.data(), count);
            trace.output.insert(trace.output.end(), out.begin(), out.begin() + std::min(n, count));
            trace.steps.push_back(Capture(count, n));
            // After a short slice two more calls show that nothing more is
            // decoded or pulled. A volume that failed to open ends the run
            // as it ends the extraction loop: what follows are -1 bytes.
            if (n < count || afterEnd > 0)
                ++afterEnd;
            if (gUnpack.readError != kStatusOk)
                break;
        }
        trace.crc = CrcValue(gUnpack.inflate.crc);
        trace.finish = FinishInflate(gUnpack.inflate, run.crc, run.size);
        trace.statusAfter = InflateStatus(gUnpack.inflate);
    }
    ReleaseInflate(gUnpack.inflate);
    CloseNow();
    SetExactPathsOnly(false);
    return trace;
}

InflateTrace RunNarrow(const ReaderRun &run) {
    gNarrowBitBuffer = true;
    InflateTrace trace = RunThroughReader(run, false);
    gNarrowBitBuffer = false;
    return trace;
}

std::string Difference(const InflateTrace &exact, const InflateTrace &fast) {
    if (exact.started != fast.started)
        return "the inflater started only one way";
    const size_t steps = std::min(exact.steps.size(), fast.steps.size());
    for (size_t i = 0; i < steps; ++i)
        if (exact.steps[i] != fast.steps[i])
            return "call " + std::to_string(i) + ": exact " + exact.steps[i].Describe() + "; fast " +
                   fast.steps[i].Describe();
    if (exact.steps.size() != fast.steps.size())
        return "exact made " + std::to_string(exact.steps.size()) + " calls, fast " +
               std::to_string(fast.steps.size());
    if (exact.output != fast.output) {
        size_t at = 0;
        while (at < exact.output.size() && at < fast.output.size() && exact.output[at] == fast.output[at])
            ++at;
        return "output differs at byte " + std::to_string(at);
    }
    if (exact.crc != fast.crc)
        return "CRC register differs";
    if (exact.finish != fast.finish || exact.statusAfter != fast.statusAfter)
        return "end check " + std::to_string(exact.finish) + " vs " + std::to_string(fast.finish);
    return "";
}

// ---- whole extractions ------------------------------------------------------

namespace {

CallTrace *gTracedCall = nullptr;

void RecordSlice(uint32_t count, uint32_t produced) {
    if (gTracedCall != nullptr)
        gTracedCall->slices.push_back(Capture(count, produced));
}

std::string Text(const char *p, size_t size) {
    if (p == nullptr)
        return "<null>";
    const char *end = std::find(p, p + size, '\0');
    return std::string(p, end);
}

}  // namespace

WalkTracer::~WalkTracer() {
    if (inCall_) {
        gAfterSlice = nullptr;
        gTracedCall = nullptr;
    }
}

void WalkTracer::BeginCall(int flags) {
    trace_.calls.emplace_back();
    trace_.calls.back().flags = flags;
    qzarc_test::ResetCounters();
    gTracedCall = &trace_.calls.back();
    gAfterSlice = RecordSlice;
    inCall_ = true;
}

void WalkTracer::Note(int kind, int value, const char *text) {
    if (inCall_)
        trace_.calls.back().notes.push_back({kind, value, Text(text, MAX_PATH)});
}

void WalkTracer::EndCall(int result, const char *nameOut, size_t nameSize, const char *crcOut, size_t crcSize,
                         const std::string &outputPath) {
    gAfterSlice = nullptr;
    gTracedCall = nullptr;
    inCall_ = false;
    CallTrace &call = trace_.calls.back();
    call.result = result;
    call.name = Text(nameOut, nameSize);
    call.crc = Text(crcOut, crcSize);
    call.writes = qzarc_test::WriteSizes();
    std::ifstream in(outputPath, std::ios::binary);
    if (in) {
        call.outputLeft = true;
        uint32_t reg = 0xFFFFFFFFu;
        std::vector<char> buffer(1 << 16);
        while (in) {
            in.read(buffer.data(), std::streamsize(buffer.size()));
            const size_t got = size_t(in.gcount());
            reg = CrcAccumulate(reg, reinterpret_cast<const uint8_t *>(buffer.data()), got);
            call.outputSize += got;
        }
        call.outputCrc = ~reg;
    }
}

std::string Difference(const WalkTrace &exact, const WalkTrace &fast) {
    const size_t calls = std::min(exact.calls.size(), fast.calls.size());
    for (size_t i = 0; i < calls; ++i) {
        const CallTrace &a = exact.calls[i];
        const CallTrace &b = fast.calls[i];
        const std::string at = "call " + std::to_string(i) + ": ";
        const size_t slices = std::min(a.slices.size(), b.slices.size());
        for (size_t k = 0; k < slices; ++k)
            if (a.slices[k] != b.slices[k])
                return at + "slice " + std::to_string(k) + ": exact " + a.slices[k].Describe() + "; fast " +
                       b.slices[k].Describe();
        if (a.slices.size() != b.slices.size())
            return at + "exact made " + std::to_string(a.slices.size()) + " slices, fast " +
                   std::to_string(b.slices.size());
        if (a.flags != b.flags || a.result != b.result)
            return at + "result " + std::to_string(a.result) + " vs " + std::to_string(b.result);
        if (a.name != b.name)
            return at + "name \"" + a.name + "\" vs \"" + b.name + "\"";
        if (a.crc != b.crc)
            return at + "CRC text \"" + a.crc + "\" vs \"" + b.crc + "\"";
        if (a.outputLeft != b.outputLeft || a.outputSize != b.outputSize || a.outputCrc != b.outputCrc)
            return at + "output file differs";
        if (a.writes != b.writes)
            return at + "write sizes differ (" + std::to_string(a.writes.size()) + " vs " +
                   std::to_string(b.writes.size()) + " writes)";
        if (a.notes.size() != b.notes.size() || !std::equal(a.notes.begin(), a.notes.end(), b.notes.begin()))
            return at + "host notifications differ";
    }
    if (exact.calls.size() != fast.calls.size())
        return "exact made " + std::to_string(exact.calls.size()) + " calls, fast " +
               std::to_string(fast.calls.size());
    return "";
}

}  // namespace qztrace
