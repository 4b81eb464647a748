// The many-file section of the benchmark: extracting, testing and
// overwriting a real tree of some ten thousand files (tree_corpus.h) with
// `qzarc`, Info-ZIP's unzip and 7-Zip; where the time of `qzarc x` goes
// (user, sys, waiting, and the system calls it makes per entry); and the
// memory of `qzarc x -c` streaming a 2 GiB entry to standard output. Wall
// time is what counts here: with threads, user+sys says how much work was
// done, not how long one waited for it.
#ifndef QZBENCH_TREE_BENCH_H
#define QZBENCH_TREE_BENCH_H

#include <cstdint>
#include <string>

namespace qzb {

// The section's heading: results.md holds the section from this line on.
constexpr const char *kTreeHeading = "## Many files";

struct TreeBenchOptions {
    std::string source;      // the source tree (for naming paths in the report)
    std::string work;        // build/bench
    std::string qzarc;       // the command-line tool measured
    int repeats = 5;         // runs of each command (the 2 GiB ones: at most 3)
    bool large = true;       // the 2 GiB streaming rows
    bool strace = true;      // the system call counts (when strace is installed)
    uint64_t textBytes = 0;  // size of the text corpus, which the 2 GiB entries repeat
};

// Runs the section and returns its Markdown, from kTreeHeading on.
std::string TreeSection(const TreeBenchOptions &options);

}  // namespace qzb

#endif  // QZBENCH_TREE_BENCH_H
