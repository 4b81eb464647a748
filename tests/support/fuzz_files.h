// Files of the fuzz harnesses: the volumes they write for every input, and
// the private directory each process keeps them in.
#ifndef QZARC_FUZZ_FILES_H
#define QZARC_FUZZ_FILES_H

#include <cstdint>
#include <string>
#include <vector>

namespace qzfuzz {

// Writes a fresh file: truncating the old one and closing it again would
// make some file systems flush it to disk (the "replace by truncation" rule).
bool WriteWhole(const std::string &path, const std::vector<uint8_t> &bytes);

// Makes a new directory below $TMPDIR (or /tmp) whose name starts with
// prefix; aborts the process when it cannot.
std::string MakePrivateDirectory(const char *prefix);

}  // namespace qzfuzz

#endif  // QZARC_FUZZ_FILES_H
