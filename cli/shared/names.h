// Entry names and where they may be written. Archives record names relative,
// with '\' between directories; on extraction both '\' and '/' separate. A
// name is written only below the destination directory: absolute names,
// drive letters and '..' components are refused, as are names with control
// characters and names the library could not hand over whole.
#ifndef QZARC_CLI_NAMES_H
#define QZARC_CLI_NAMES_H

#include <cstdint>
#include <string>
#include <vector>

namespace qzcli {

// Names of 260 bytes or more reach the host cut to 259 bytes.
constexpr size_t kMaxNameLength = 259;

// A name from an archive taken apart for writing.
struct EntryPath {
    std::vector<std::string> components;  // never empty, never "." or ".."
    bool directory = false;               // the name ends with a separator
};

// Splits `name` (as the library handed it out; `recordedLength` is the
// record's name length) into components. Returns "" when it may be written
// below the destination, otherwise the reason it is refused. Empty
// components and "." are dropped.
std::string SplitEntryName(const std::string &name, uint32_t recordedLength, EntryPath *path);

// For creating archives: "" when a file or directory name (one component
// from the file system) can be recorded and extracted again as it is, else
// the reason it cannot.
std::string CheckSourceComponent(const std::string &component);

// Components joined with '\', the form recorded in archives.
std::string JoinArchiveName(const std::vector<std::string> &components);

}  // namespace qzcli

#endif  // QZARC_CLI_NAMES_H
