// The one-large-entry section of the benchmark: one 64 MiB entry (the text
// and the binary corpus) decoded by `qzarc x` with its default threads,
// which share the entry between them (qz_archive_set_threads), against
// `qzarc x -T 1` and against two fast single-threaded decoders of raw
// Deflate, libdeflate and ISA-L. Each corpus comes as three streams: zlib's
// level 6 as one stream (no flush points), 7-Zip's Deflate64 (which the two
// peers do not decode: 7zz stands in), and what `qzarc a` writes (1 MiB
// pieces ending in sync-flush points). Wall time is what counts. Then the
// serial decoder alone: `qzarc t -T 1` against the two peers decoding to
// /dev/null, user time and, for libdeflate, the instruction count under
// callgrind.
#ifndef QZBENCH_BIG_ENTRY_H
#define QZBENCH_BIG_ENTRY_H

#include <cstdint>
#include <string>

namespace qzb {

// The section's heading: results.md holds the section from this line on.
constexpr const char *kBigEntryHeading = "## One large entry";

struct BigEntryOptions {
    std::string work;        // build/bench
    std::string linuxDir;    // the build tree: qzarc, libdeflate_ref, isal_ref
    std::string qzarc;       // the command-line tool measured
    int repeats = 15;        // runs of each command, all commands taking turns
    uint64_t corpusBytes = 0;  // the corpora's size (--mib)
    bool callgrind = true;   // the instruction counts
};

// Runs the section and returns its Markdown, from kBigEntryHeading on.
std::string BigEntrySection(const BigEntryOptions &options);

}  // namespace qzb

#endif  // QZBENCH_BIG_ENTRY_H
