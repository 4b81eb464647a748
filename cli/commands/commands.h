// The four commands. Each returns the process exit status.
#ifndef QZARC_CLI_COMMANDS_H
#define QZARC_CLI_COMMANDS_H

#include "options.h"

namespace qzcli {

constexpr int kExitOk = 0;
constexpr int kExitSomeFailed = 1;  // some entries failed or were skipped for safety
constexpr int kExitUsage = 2;       // bad usage, or the archive cannot be opened

int RunList(const Options &options);
int RunTest(const Options &options);
int RunExtract(const Options &options);
int RunAdd(const Options &options);

}  // namespace qzcli

#endif  // QZARC_CLI_COMMANDS_H
