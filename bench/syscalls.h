// Counting the system calls of a whole command, its threads and the
// children it starts included, with strace's summary (strace -c -f): how
// many of each kind, not how long they took (strace slows every call, so
// its times say little).
#ifndef QZBENCH_SYSCALLS_H
#define QZBENCH_SYSCALLS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qzb {

struct SyscallCounts {
    std::map<std::string, uint64_t> calls;  // by system call name
    uint64_t total = 0;
};

// Runs argv under strace, its summary written to `log`. False when strace
// or the command failed (the summary is then not to be trusted).
bool CountSyscalls(const std::vector<std::string> &argv, const std::string &log, SyscallCounts &counts);

}  // namespace qzb

#endif  // QZBENCH_SYSCALLS_H
