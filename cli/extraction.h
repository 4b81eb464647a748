// Extraction of the selected entries of an archive, shared by 'x' (into a
// destination directory) and 't' (into a private temporary directory whose
// files are removed as soon as they are checked).
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
};

// Returns the exit status.
int RunExtraction(const ExtractionJob &job);

}  // namespace qzcli

#endif  // QZARC_CLI_EXTRACTION_H
