#include "python_section.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "bench_files.h"
#include "measure.h"

namespace qzb {

std::string PythonSection(const PythonSectionOptions &o) {
    std::ostringstream s;
    s << kPythonHeading << "\n\n";
    const std::string pieces = o.linuxDir + "/bench_pieces";
    const std::string library = o.linuxDir + "/libqzarc.so.1";
    if (!Exists(pieces) || !Exists(library)) {
        s << "Skipped: " << o.linuxDir << " has no bench_pieces or libqzarc.so.1.\n";
        return s.str();
    }
    // The package of the source tree and the library of the build tree.
    setenv("QZARC_LIBRARY", library.c_str(), 1);
    setenv("PYTHONPATH", (o.source + "/python").c_str(), 1);
    const std::string table = o.linuxDir + "/python_read.md";
    const int status = RunPlain({"python3", o.source + "/bench/python_read.py", "--pieces", pieces, "--archive",
                                 o.archive, "--zip", o.zip, "--repeats", std::to_string(o.repeats)},
                                table, o.linuxDir + "/python_read.err");
    unsetenv("QZARC_LIBRARY");
    unsetenv("PYTHONPATH");
    if (status != 0) {
        s << "Failed: bench/python_read.py exited with " << status << " (see " << o.linuxDir
          << "/python_read.err).\n";
        return s.str();
    }
    s << "The binary corpus's entry (method 8, zlib level 6 through the writer) read in 1 MiB pieces, "
         "from opening the archive to the verified end, timed inside each process (no start-up counted); "
         "the three alternate. zipfile reads a zip of the very same Deflate stream.\n\n";
    std::ifstream in(table);
    s << in.rdbuf();
    return s.str();
}

}  // namespace qzb
