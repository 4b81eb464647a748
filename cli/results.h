// Results of the extraction library, and the Win32 error numbers some of them
// carry, in words for messages.
#ifndef QZARC_CLI_RESULTS_H
#define QZARC_CLI_RESULTS_H

#include <cstdint>
#include <string>

namespace qzcli {

// What else is known when a result is put into words.
struct ResultContext {
    uint32_t method = 0;           // the entry's compression method
    std::string missingVolume;     // the volume file last reported missing, if any
    bool encrypted = false;        // a wrong password can look like damage
};

// The reason an entry failed, e.g. "wrong password" or "CRC mismatch: ...".
std::string DescribeResult(int result, const ResultContext &context = {});

// A Win32 error number (the library reports those on every platform).
std::string DescribeSystemError(uint32_t error);

// True for -100000000 - e: the archive's first volume cannot be opened.
bool IsOpenFailure(int result);
// True for -200000000 - e: the output file cannot be created.
bool IsCreateFailure(int result);

}  // namespace qzcli

#endif  // QZARC_CLI_RESULTS_H
