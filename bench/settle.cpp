#include "settle.h"

#include <unistd.h>

#include <cstdio>
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

std::vector<std::string> SharedLibraries(const std::string &program) {
    std::vector<std::string> found;
    FILE *listing = ::popen(("ldd '" + program + "' 2>/dev/null").c_str(), "r");
    if (listing == nullptr)
        return found;
    char line[4096];
    while (std::fgets(line, sizeof line, listing) != nullptr) {
        // "\tlibqzarc.so.1 => /path/libqzarc.so.1 (0x...)" or "\t/lib64/ld-linux-x86-64.so.2 (0x...)"
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            if (!word.empty() && word[0] == '/') {
                found.push_back(word);
                break;
            }
        }
    }
    ::pclose(listing);
    return found;
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
