// Placing an entry below the destination directory: its directories are
// created one component at a time, and the walk down never goes through a
// symbolic link (or any reparse point) found inside the destination, so a
// link planted there cannot redirect a write outside it.
#ifndef QZARC_CLI_DESTINATION_H
#define QZARC_CLI_DESTINATION_H

#include <string>

#include "names.h"

namespace qzcli {

struct Target {
    std::string path;     // the file (or, for a directory entry, the directory)
    bool exists = false;  // a regular file is there already
};

enum class Refusal { None, Unsafe, Failed };

// Prepares `entry` below `root`. On success returns Refusal::None; otherwise
// *reason says why (Unsafe: a link or similar is in the way; Failed: a
// directory cannot be made, or something that is not a regular file has the
// file's name).
Refusal PrepareTarget(const std::string &root, const EntryPath &entry, Target *target,
                      std::string *reason);

}  // namespace qzcli

#endif  // QZARC_CLI_DESTINATION_H
