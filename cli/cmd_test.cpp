// qzarc t: every selected entry extracted into a private temporary
// directory, checked by the library against its size and CRC, and removed.
#include "commands.h"
#include "extraction.h"

namespace qzcli {

int RunTest(const Options &options) {
    ExtractionJob job;
    job.archive = options.archive;
    job.patterns = options.operands;
    job.password = options.password;
    job.testOnly = true;
    job.excludes = options.excludes;
    job.scan = options.scan;
    return RunExtraction(job);
}

}  // namespace qzcli
