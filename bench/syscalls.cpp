#include "syscalls.h"

#include <fstream>
#include <sstream>

#include "measure.h"

namespace qzb {

bool CountSyscalls(const std::vector<std::string> &argv, const std::string &log, SyscallCounts &counts) {
    std::vector<std::string> traced = {"strace", "-c", "-f", "-o", log};
    traced.insert(traced.end(), argv.begin(), argv.end());
    if (RunPlain(traced, "", log + ".err") != 0)
        return false;
    // The summary's rows: "% time, seconds, usecs/call, calls, [errors,]
    // syscall", between two dashed lines, then the total.
    std::ifstream in(log);
    counts = {};
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string word; fields >> word;)
            f.push_back(word);
        if ((f.size() != 5 && f.size() != 6) || f[0].find_first_not_of("0123456789.") != std::string::npos)
            continue;
        const uint64_t calls = std::stoull(f[3]);
        if (f.back() == "total")
            counts.total = calls;
        else
            counts.calls[f.back()] += calls;
    }
    return counts.total != 0;
}

}  // namespace qzb
