// libFuzzer target: an input is a control byte and a raw Deflate or
// Deflate64 stream, driven through the inflater in varying slices and, for
// Deflate, compared with zlib (inflater_run.h); any broken guarantee aborts.
#include <cstdio>
#include <cstdlib>

#include "inflater_run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const qzfuzz::InflaterRun run = qzfuzz::RunInflater(data, size);
    if (!run.fault.empty()) {
        std::fprintf(stderr, "fuzz_inflater: %s\n", run.fault.c_str());
        std::abort();
    }
    return 0;
}
