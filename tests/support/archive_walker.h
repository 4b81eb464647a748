// Walks an archive fuzz input (see archive_input.h) through QZUnpack and
// checks what every extractor must guarantee whatever the bytes are:
//  - each call ends with a result the call's mode can give;
//  - the walk ends with 50 or 99 within one call per 62 input bytes (the
//    smallest record) and a few more;
//  - an extract call that fails leaves no output file and no CRC text; one
//    that succeeds leaves the file, and its CRC-32 is the one reported;
//  - a header-only call creates no file and empties the CRC text;
//  - the name handed out fits the 260-byte buffer;
//  - once the walk has ended, and again after a close-now call, no heap
//    block and no file handle of the library is left;
//  - walked both ways (WalkBothWays), the fast paths give what the exact
//    ones give, slice by slice.
// Shared by the libFuzzer target, the fault tests (which replay the inputs
// kept in fuzz/regressions and run their sweeps through it) and nothing else.
#ifndef QZARC_FUZZ_ARCHIVE_WALKER_H
#define QZARC_FUZZ_ARCHIVE_WALKER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive_input.h"
#include "slice_trace.h"

namespace qzfuzz {

enum class WalkMode {
    kAlternate,      // header-only and extract calls in turn (the input says which comes first)
    kExtractAll,     // every call extracts
    kHeaderOnlyAll,  // every call is header-only
};

struct WalkOptions {
    WalkMode mode = WalkMode::kAlternate;
    // Heap allocations are being made to fail: the opening call may fail
    // with -100000008 and an extract call with -1.
    bool injectedFailures = false;
    // Writes may fail (the fuzz target caps the size of files it may write,
    // so that an entry declaring gigabytes ends soon): extract calls may
    // return 4.
    bool writeFailures = false;
    // Runs before call i (0 = the opening call), e.g. to change a volume.
    std::function<void(int call)> beforeCall;
    // The library's fast paths are switched off for the walk.
    bool exactPathsOnly = false;
    // When set, every call is traced into it (slice_trace.h).
    qztrace::WalkTrace *trace = nullptr;
};

struct CallRecord {
    int flags;
    int result;
    std::string name;  // nameOut after the call
};

class ArchiveWalker {
public:
    // dir must exist and belong to this walker: its volume files and the
    // output file are rewritten for every input.
    explicit ArchiveWalker(std::string dir);
    ~ArchiveWalker();
    ArchiveWalker(const ArchiveWalker &) = delete;
    ArchiveWalker &operator=(const ArchiveWalker &) = delete;

    // Writes the input's volumes and walks them; "" when every check held,
    // otherwise the first violation.
    std::string Walk(const uint8_t *data, size_t size, const WalkOptions &options = {});
    std::string Walk(const ArchiveInput &input, const WalkOptions &options = {});

    // Walks twice, with the exact paths only and with the fast paths, and
    // compares the traces: "" when both walks kept every guarantee and
    // agree in every call and every slice.
    std::string WalkBothWays(const uint8_t *data, size_t size, const WalkOptions &options = {});
    std::string WalkBothWays(const ArchiveInput &input, const WalkOptions &options = {});

    // The calls of the last Walk, without the closing close-now call.
    const std::vector<CallRecord> &log() const { return log_; }

    const std::string &archivePath() const { return archive_; }
    // Volume k's file (k = 0: the archive path).
    std::string volumePath(int k) const;
    const std::string &outputPath() const { return output_; }

private:
    std::string dir_;
    std::string archive_;
    std::string output_;
    std::vector<CallRecord> log_;
};

}  // namespace qzfuzz

#endif  // QZARC_FUZZ_ARCHIVE_WALKER_H
