// libFuzzer target of reading on several threads: an input is four
// parameter bytes and a raw Deflate or Deflate64 stream (the layout is in
// parallel_check.h). The stream becomes an entry of an archive, as it is or
// encrypted, cut, running on, split over volumes, with a volume missing, a
// wrong CRC or size; the archive is walked by a handle with one thread and
// by one with the threads and the stretch size the parameters give (reads
// of one size, extraction, partial reads, a handle freed halfway, threads
// switched midway). Any difference between the two walks' transcripts
// (bytes, read sizes, verdicts, messages, progress, volume requests, what
// the freed handle left) aborts.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "fuzz_files.h"
#include "parallel_check.h"

namespace {

// One private directory per process for the volumes and the extracted file.
struct FuzzDirectory {
    std::string path;

    FuzzDirectory() : path(qzfuzz::MakePrivateDirectory("qzarc-parallel")) {}
    ~FuzzDirectory() {
        for (const char *name : {"parallel.qza", "parallel.001", "extracted.bin"})
            unlink((path + "/" + name).c_str());
        rmdir(path.c_str());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static FuzzDirectory directory;
    const std::string fault = qzt::RunParallelInput(data, size, directory.path);
    if (!fault.empty()) {
        std::fprintf(stderr, "fuzz_parallel: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
