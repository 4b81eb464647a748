// qzarc x: extraction into a destination directory.
#include "commands.h"
#include "extraction.h"
#include "processors.h"

namespace qzcli {

int RunExtract(const Options &options) {
    ExtractionJob job;
    job.archive = options.archive;
    job.patterns = options.operands;
    job.password = options.password;
    job.destination = options.outputDir.value_or(".");
    job.excludes = options.excludes;
    job.junkPaths = options.junkPaths;
    job.toStdout = options.toStdout;
    job.scan = options.scan;
    job.threads = options.threads.value_or(UsableProcessors());
    job.existing = options.overwrite      ? ExistingFiles::Overwrite
                   : options.skipExisting ? ExistingFiles::Skip
                                          : ExistingFiles::Ask;
    return RunExtraction(job);
}

}  // namespace qzcli
