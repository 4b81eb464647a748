#include "settle.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qzb {

namespace {

constexpr const char *kDropCaches = "/proc/sys/vm/drop_caches";

}  // namespace

bool CanDropCaches() { return ::access(kDropCaches, W_OK) == 0; }

void Settle(const std::vector<std::string> &warm) {
    ::sync();
    if (CanDropCaches()) {
        std::ofstream drop(kDropCaches);
        drop << "1\n";  // the page cache only: dentries and inodes stay
    }
    ReadThrough(warm);
}

void ReadThrough(const std::vector<std::string> &paths) {
    std::vector<char> buffer(1 << 20);
    for (const std::string &path : paths) {
        std::ifstream in(path, std::ios::binary);
        while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0) {
        }
    }
}

std::string ProgramPath(const std::string &name) {
    if (name.find('/') != std::string::npos)
        return name;
    const char *path = std::getenv("PATH");
    std::istringstream dirs(path == nullptr ? "" : path);
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return "";
}

}  // namespace qzb
