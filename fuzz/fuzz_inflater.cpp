// libFuzzer target: an input is a few control bytes and a raw Deflate or
// Deflate64 stream, put into a record and driven through the archive reader
// and the inflater in varying chunks and slices, once with the fast paths,
// once with the exact ones and, on a 64-bit machine, once with the 32-bit
// fast loop of 32-bit processors; the traces must agree, and Deflate output
// is compared with zlib (inflater_run.h). Any difference or broken guarantee
// aborts.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "fuzz_files.h"
#include "inflater_run.h"

namespace {

// One private directory per process for the volume files, removed at exit.
struct FuzzDirectory {
    std::string path;

    FuzzDirectory() : path(qzfuzz::MakePrivateDirectory("qzarc-inflate")) {}
    ~FuzzDirectory() {
        unlink((path + "/entry.qza").c_str());
        unlink((path + "/entry.001").c_str());
        rmdir(path.c_str());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static FuzzDirectory directory;
    const qzfuzz::InflaterRun run = qzfuzz::RunInflater(data, size, directory.path);
    if (!run.fault.empty()) {
        std::fprintf(stderr, "fuzz_inflater: %s\n", run.fault.c_str());
        std::abort();
    }
    return 0;
}
