// Putting the file system in the same state before every timed run of the
// many-file section.
//
// This machine's ext4 has no journal, and such an ext4 avoids handing out
// an inode freed in the last 30 seconds or so while the block holding it is
// still in the buffer cache: it steps over each one, looking the block up
// every time. Right after 15 000 files were removed, creating 15 000 new
// ones then costs seconds of system time in that scan alone, whichever
// program creates them, and the first command of a round (or the one after
// a tool that replaces files) would be measured against a different file
// system than the next. So before each run: write everything out (sync),
// drop the page cache (which takes those blocks with it; needs root), and
// read back what the command reads (its program and its archive), so that
// every run starts with warm inputs and a settled file system.
#ifndef QZBENCH_SETTLE_H
#define QZBENCH_SETTLE_H

#include <string>
#include <vector>

namespace qzb {

// Whether Settle can drop the page cache (root, with /proc writable).
bool CanDropCaches();

// sync, drop the page cache when allowed, then read each of `warm` through.
void Settle(const std::vector<std::string> &warm);

// The shared libraries a program loads (as ldd lists them), so that they
// are read back in with it: otherwise the runs of a dynamically linked
// program pay for reading them from the disk, and its short runs look slower
// than they are.
std::vector<std::string> SharedLibraries(const std::string &program);

// Reads each file through, so that its pages are in the page cache.
void ReadThrough(const std::vector<std::string> &paths);

// The file a command name runs: itself when it has a '/', else the first
// match in PATH; empty when none.
std::string ProgramPath(const std::string &name);

}  // namespace qzb

#endif  // QZBENCH_SETTLE_H
