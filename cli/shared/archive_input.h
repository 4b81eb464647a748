// The archive as the library reads it. The library seeks, so it needs a
// regular file; an archive given as a pipe or a device (`l /dev/stdin <
// a.qza` from another program) is first copied into a temporary file,
// which goes away with this object (and on interrupt).
#ifndef QZARC_CLI_ARCHIVE_INPUT_H
#define QZARC_CLI_ARCHIVE_INPUT_H

#include <string>

#include "library.h"

namespace qzcli {

class ArchiveInput {
public:
    ArchiveInput() = default;
    ~ArchiveInput();
    ArchiveInput(const ArchiveInput &) = delete;
    ArchiveInput &operator=(const ArchiveInput &) = delete;

    // False with the reason when the archive cannot be used at all (it is
    // missing, a directory, or not a QZ archive).
    bool Prepare(const std::string &archive, std::string *error);
    // The path to hand to the library.
    const std::string &path() const { return path_; }

private:
    std::string path_;
    std::string copy_;  // the temporary copy, if one was made
};

// What every command that reads an archive does first: binds the library and
// prepares the archive for it. On failure the reason is on standard error and
// the command exits with bad usage.
bool BindLibraryAndArchive(const std::string &archive, Library *library, ArchiveInput *input);

}  // namespace qzcli

#endif  // QZARC_CLI_ARCHIVE_INPUT_H
