// qzarc t: every selected entry decoded and checked by the library against
// its size and CRC; nothing is written.
#include "commands.h"
#include "extraction.h"
#include "processors.h"

namespace qzcli {

int RunTest(const Options &options) {
    ExtractionJob job;
    job.archive = options.archive;
    job.patterns = options.operands;
    job.password = options.password;
    job.testOnly = true;
    job.excludes = options.excludes;
    job.scan = options.scan;
    job.threads = options.threads.value_or(UsableProcessors());
    return RunExtraction(job);
}

}  // namespace qzcli
