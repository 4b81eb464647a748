// The benchmark's Python section: the binary corpus's entry read in 1 MiB
// pieces by the C handle API, by the Python package (qzarc.QzFile) and by
// Python's zipfile on the same Deflate stream, each timed inside its own
// process (bench/python_read.py does the measuring).
#ifndef QZBENCH_PYTHON_SECTION_H
#define QZBENCH_PYTHON_SECTION_H

#include <string>

namespace qzb {

// The section's heading: results.md holds the section from this line on.
constexpr const char *kPythonHeading = "## Reading from Python";

struct PythonSectionOptions {
    std::string source;    // the source tree: python/ and bench/python_read.py
    std::string linuxDir;  // the build tree: libqzarc.so.1 and bench_pieces
    std::string archive;   // the binary corpus's method-8 archive
    std::string zip;       // the same stream as a zip
    int repeats = 7;
};

// Runs the section and returns its Markdown, from kPythonHeading on.
std::string PythonSection(const PythonSectionOptions &options);

}  // namespace qzb

#endif  // QZBENCH_PYTHON_SECTION_H
