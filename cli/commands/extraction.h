// Extraction of the selected entries of an archive, shared by 'x' (into a
// destination directory, or to standard output) and 't' (each entry decoded
// and checked, nothing written). Entries are worked on by several threads,
// each with its own handle on the archive; what is printed stays in archive
// order.
#ifndef QZARC_CLI_EXTRACTION_H
#define QZARC_CLI_EXTRACTION_H

#include <optional>
#include <string>
#include <vector>

namespace qzcli {

enum class ExistingFiles { Ask, Overwrite, Skip };

struct ExtractionJob {
    std::string archive;
    std::vector<std::string> patterns;   // none: every entry
    std::optional<std::string> password;
    bool testOnly = false;
    std::string destination = ".";       // extraction only
    ExistingFiles existing = ExistingFiles::Ask;
    std::vector<std::string> excludes;   // entries matching one are left out
    bool junkPaths = false;              // every file straight into the destination
    bool toStdout = false;               // the data to standard output, nothing on disk
    bool scan = false;                   // search past damage for further records
    unsigned threads = 1;                // entries worked on at once
};

// Returns the exit status.
int RunExtraction(const ExtractionJob &job);

}  // namespace qzcli

#endif  // QZARC_CLI_EXTRACTION_H
