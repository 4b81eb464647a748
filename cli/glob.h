// Shell-style patterns on archive names: '*' any run of characters (also
// across directories), '?' one character, [abc], [a-z], [!a-z] one character
// of (or not of) a set. '/' and '\' are the same separator on both sides.
#ifndef QZARC_CLI_GLOB_H
#define QZARC_CLI_GLOB_H

#include <string>

namespace qzcli {

bool GlobMatch(const std::string &pattern, const std::string &name);

}  // namespace qzcli

#endif  // QZARC_CLI_GLOB_H
