// Traces for comparing the library's fast paths with the exact ones.
//
// The decode fast path, the bulk stored copy and the read-ahead with its
// give-back must leave every observable exactly as the byte-at-a-time paths
// leave it. Test builds of the library can switch the fast paths off
// (SetExactPathsOnly); a trace records, after every InflateSlice call, what
// the call produced and every count it could have disturbed, so that the
// same input run both ways can be compared step by step. Whole extractions
// are traced call by call: result, name, CRC text, the output file, the
// size of every write, the host notifications and each slice.
//
// Used by the unit tests and the fuzz targets alike; linked against the
// library's sources built with their test instruments (QZARC_TEST_HOOKS).
#ifndef QZARC_SLICE_TRACE_H
#define QZARC_SLICE_TRACE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qztrace {

using Bytes = std::vector<uint8_t>;

// The state after one InflateSlice call.
struct SliceStep {
    uint32_t count = 0;     // bytes asked for
    uint32_t produced = 0;  // bytes delivered
    int status = 0;         // the inflater's status register
    int readError = 0;
    uint32_t consumed = 0;  // entry bytes taken through the byte source
    int64_t remaining = 0;  // compressed bytes not yet handed out (below 0 past the data)
    uint32_t delivered = 0; // bytes the reader handed out
    uint32_t bitBuffer = 0;
    uint32_t bitCount = 0;
    uint8_t flags = 0;      // the stream's block kind and state bits
    uint32_t crcRegister = 0;

    bool operator==(const SliceStep &o) const;
    bool operator!=(const SliceStep &o) const { return !(*this == o); }
    std::string Describe() const;
};

// What the state is now, after a call that asked for count and gave produced.
SliceStep Capture(uint32_t count, uint32_t produced);

// Test builds of the library only: with exact set, every loop takes its
// input one byte at a time and stored data is copied byte by byte.
void SetExactPathsOnly(bool exact);

// ---- one entry's stream through the archive reader ----------------------

// An entry's data in a volume file, and how it is read and sliced.
struct ReaderRun {
    std::string path;         // the first volume (later ones: last three characters 001, 002, ...)
    uint64_t dataOffset = 0;  // where the entry's data starts in it
    uint16_t method = 8;
    bool largeWindow = true;
    uint32_t declared = 0;    // the entry's compressed size
    uint32_t chunk = 0;       // the reader's chunk size (ReadChunk), 1..65536
    std::vector<uint32_t> counts;  // slice counts (1..65536), used in turn
    uint32_t crc = 0;         // for the end check
    uint32_t size = 0;
    size_t outputBound = 0;   // no further slice once this much is out
};

struct InflateTrace {
    bool started = false;  // StartInflate succeeded
    std::vector<SliceStep> steps;
    Bytes output;
    uint32_t crc = 0;      // CrcValue() before the end check
    int finish = -1;       // the end check's verdict
    int statusAfter = -1;  // the status register after it
};

// Starts the inflater on the reader over run.path at run.dataOffset, slices
// until two calls after the first short one (which must pull nothing), until
// a needed volume fails to open, or until the bound; then runs the end check
// and closes everything.
InflateTrace RunThroughReader(const ReaderRun &run, bool exact);

// On a 64-bit machine the decode fast path keeps its bits in a 64-bit word,
// and a test-build switch runs the 32-bit one that 32-bit processors take;
// there RunNarrow is a third way to compare. On a 32-bit machine the fast
// path is the narrow one already.
constexpr bool kNarrowIsAnotherWay = UINTPTR_MAX > 0xFFFFFFFFu;
InflateTrace RunNarrow(const ReaderRun &run);

// The first difference between two traces, or "" when they agree.
std::string Difference(const InflateTrace &exact, const InflateTrace &fast);

// ---- whole extractions through QZUnpack -----------------------------------

struct HostNote {
    int kind = 0;
    int value = 0;
    std::string text;
    bool operator==(const HostNote &o) const { return kind == o.kind && value == o.value && text == o.text; }
};

struct CallTrace {
    int flags = 0;
    int result = 0;
    std::string name;  // nameOut after the call
    std::string crc;   // crcOut after the call
    bool outputLeft = false;
    uint64_t outputSize = 0;
    uint32_t outputCrc = 0;
    std::vector<uint32_t> writes;  // the size of every WriteFile call
    std::vector<HostNote> notes;
    std::vector<SliceStep> slices;
};

struct WalkTrace {
    std::vector<CallTrace> calls;
};

// Fills a WalkTrace around QZUnpack calls: BeginCall before each, the
// callback's Note for every notification, EndCall after it. While a call
// runs every slice of its extraction loop is captured.
class WalkTracer {
public:
    explicit WalkTracer(WalkTrace &trace) : trace_(trace) {}
    ~WalkTracer();
    WalkTracer(const WalkTracer &) = delete;
    WalkTracer &operator=(const WalkTracer &) = delete;

    void BeginCall(int flags);
    void Note(int kind, int value, const char *text);
    // nameOut and crcOut as the call left them (null-safe, read up to their
    // terminator or their size), and the output file the call was given.
    void EndCall(int result, const char *nameOut, size_t nameSize, const char *crcOut, size_t crcSize,
                 const std::string &outputPath);

private:
    WalkTrace &trace_;
    bool inCall_ = false;
};

std::string Difference(const WalkTrace &exact, const WalkTrace &fast);

}  // namespace qztrace

#endif  // QZARC_SLICE_TRACE_H
