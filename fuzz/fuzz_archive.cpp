// libFuzzer target: an input is one to three volume files (archive_input.h),
// walked through QZUnpack in walk mode with header-only and extract calls in
// turn, once with the exact paths only and once with the fast paths; any
// broken guarantee or any difference between the two walks
// (archive_walker.h) aborts the run.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <csignal>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "archive_walker.h"
#include "fuzz_files.h"

namespace {

// An entry may declare up to 4 GiB, and a few kilobytes of a sound stream
// can make a great deal of it (a damaged one stops a slice after its data is
// spent). Files of this process are capped, so such an input costs a failed
// write (4) rather than minutes.
constexpr rlim_t kOutputLimit = rlim_t{1} << 20;

// One private directory per process, removed at exit.
struct FuzzDirectory {
    std::string path;
    std::unique_ptr<qzfuzz::ArchiveWalker> walker;

    FuzzDirectory() : path(qzfuzz::MakePrivateDirectory("qzarc-fuzz")) {
        std::signal(SIGXFSZ, SIG_IGN);  // a write past the cap fails with EFBIG instead
        struct rlimit limit = {kOutputLimit, kOutputLimit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            std::perror("setrlimit");
            std::abort();
        }
        walker = std::make_unique<qzfuzz::ArchiveWalker>(path);
    }
    ~FuzzDirectory() {
        walker.reset();
        rmdir(path.c_str());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static FuzzDirectory directory;
    qzfuzz::WalkOptions options;
    options.writeFailures = true;
    const std::string fault = directory.walker->WalkBothWays(data, size, options);
    if (!fault.empty()) {
        std::fprintf(stderr, "fuzz_archive: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
