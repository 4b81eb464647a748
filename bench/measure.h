// Running one command as a child process and measuring the whole process:
// user+sys CPU time and peak RSS from wait4's resource usage, wall time
// from a monotonic clock around fork and wait. The measuring is done by
// bench_spawn (bench_spawn.c), a small separate program.
#ifndef QZBENCH_MEASURE_H
#define QZBENCH_MEASURE_H

#include <cstdint>
#include <string>
#include <vector>

namespace qzb {

struct Sample {
    double cpu = 0;     // user + sys seconds
    double wall = 0;    // seconds
    double rssMiB = 0;  // peak resident set size
    double user = 0;    // the two parts of cpu
    double sys = 0;
};

// A contestant's samples, one per round, and their medians.
struct Samples {
    std::vector<Sample> samples;

    double Median(double Sample::*field) const;
    double wall() const { return Median(&Sample::wall); }
    double user() const { return Median(&Sample::user); }
    double sys() const { return Median(&Sample::sys); }
    double cpu() const { return Median(&Sample::cpu); }
    double rss() const { return Median(&Sample::rssMiB); }
};

struct Command {
    std::string label;              // shown in the table
    std::vector<std::string> argv;  // argv[0] is looked up in PATH
    std::string stdoutPath;         // empty: /dev/null
    std::string cwd;                // empty: the benchmark's own
};

// Where bench_spawn is (default: found in PATH).
void SetSpawner(const std::string &path);

// Runs the command once through bench_spawn. Exits the benchmark with the command's stderr when
// it fails, since a table of failed runs would mean nothing.
Sample RunMeasured(const Command &command, const std::string &errorLog);

// Runs the command and returns its exit status; stdout and stderr go to the
// given files (empty: /dev/null).
int RunPlain(const std::vector<std::string> &argv, const std::string &stdoutPath,
             const std::string &stderrPath, const std::string &cwd = "");

double Median(std::vector<double> values);

// The instructions (callgrind's Ir total) of the whole command run once
// under valgrind --tool=callgrind, its output files named from logPrefix
// (logPrefix.out, logPrefix.err); 0 when valgrind failed or gave no count.
uint64_t CallgrindInstructions(const std::vector<std::string> &argv, const std::string &logPrefix);

// 757442755 as "757,442,755".
std::string GroupDigits(uint64_t value);

}  // namespace qzb

#endif  // QZBENCH_MEASURE_H
