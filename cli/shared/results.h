// Results of the library's handle API, and the Win32 error numbers its
// messages carry, in words for messages.
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
    std::string message;           // the library's message for the failure
};

// The reason an entry failed, e.g. "wrong password" or "CRC mismatch: ...".
std::string DescribeResult(int result, const ResultContext &context = {});

// A Win32 error number (the library reports those on every platform).
std::string DescribeSystemError(uint32_t error);

// The Win32 error a library message ends with ("... (error 5)"), in words;
// "" when it names none.
std::string SystemErrorOf(const std::string &message);

// True when the library's message says a file could not be created (the
// entry's output, as opposed to a write into it failing).
bool IsCreateFailure(int result, const std::string &message);

}  // namespace qzcli

#endif  // QZARC_CLI_RESULTS_H
