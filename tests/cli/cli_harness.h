// Runs the qzarc program of the same build tree (beside this test program)
// as a user would: through the shell (cmd.exe on Windows), with standard
// input from the null device and both outputs captured.
#ifndef QZARC_CLI_HARNESS_H
#define QZARC_CLI_HARNESS_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"
#include "writer/writer.h"

namespace qzct {

namespace fs = std::filesystem;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// The qzarc program beside the running test program.
fs::path QzarcProgram();

// Runs qzarc with args in directory cwd (default: the current directory).
CliRun Qzarc(const std::vector<std::string> &args, const fs::path &cwd = {});

// A run's status and both outputs, for failure messages.
inline std::string Describe(const CliRun &run) {
    return "status " + std::to_string(run.status) + "\nstdout:\n" + run.out + "stderr:\n" + run.err;
}
inline bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}
// How often part occurs in text.
inline size_t Count(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Writes bytes to path, creating its directories.
void WriteBytes(const fs::path &path, const qzw::Bytes &bytes);
std::string ReadText(const fs::path &path);

// Every file and directory below root, as paths relative to it ('/'), sorted.
std::vector<std::string> TreeListing(const fs::path &root);

// A file's last-write and last-access times as UTC FILETIMEs (100 ns ticks
// since 1601).
uint64_t WriteTicks(const fs::path &path);
uint64_t AccessTicks(const fs::path &path);
void SetTimes(const fs::path &path, uint64_t writeTicks, uint64_t accessTicks);
bool IsReadOnly(const fs::path &path);
void MakeReadOnly(const fs::path &path);

// Sets an environment variable (inherited by the programs run) for the
// object's lifetime.
class ScopedEnvironment {
public:
    ScopedEnvironment(const std::string &name, const std::string &value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

// The committed sample archive, copied (both volumes) into dir.
fs::path CopySample(const fs::path &dir);
constexpr const char *kSamplePassword = "qzarc-sample";

}  // namespace qzct

#endif  // QZARC_CLI_HARNESS_H
