// Shell-style patterns on archive names: '*' any run of characters (also
// across directories), '?' one character, [abc], [a-z], [!a-z] one character
// of (or not of) a set. '/' and '\' are the same separator on both sides.
#ifndef QZARC_CLI_GLOB_H
#define QZARC_CLI_GLOB_H

#include <string>
#include <vector>

namespace qzcli {

bool GlobMatch(const std::string &pattern, const std::string &name);

// Whether a command given these patterns (none: every name) and excludes
// handles `name`; marks in *used (one flag per pattern) the patterns that
// matched.
bool Selected(const std::string &name, const std::vector<std::string> &patterns,
              const std::vector<std::string> &excludes, std::vector<bool> *used);

}  // namespace qzcli

#endif  // QZARC_CLI_GLOB_H
