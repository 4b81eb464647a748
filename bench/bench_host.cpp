// bench_host ARCHIVE DIR: extracts every entry of ARCHIVE under DIR.
//
// A small stand-in host for the benchmark, built in both trees: a first walk
// reads the records header-only to learn the names, a second walk extracts
// them in order, each to the path its name gives ('\' and '/' both separate).
// It does no safety checks on names; it only ever sees the benchmark's own
// archives.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "qzarc.h"

namespace fs = std::filesystem;

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_host ARCHIVE DIR\n");
        return 2;
    }
    const char *archive = argv[1];
    const fs::path dir = argv[2];
    char name[260];
    char crc[260];

    std::vector<std::string> names;
    int flags = QZ_KEEP_OPEN | QZ_HEADER_ONLY;
    int result;
    for (;;) {
        name[0] = '\0';
        result = QZUnpack(archive, "", name, "", 0, crc, flags);
        if (result != QZ_OK)
            break;
        names.emplace_back(name);
        flags = QZ_HEADER_ONLY;
    }
    if (result != QZ_END_OF_ARCHIVE) {
        std::fprintf(stderr, "bench_host: %s: walk stopped with %d\n", archive, result);
        QZUnpack(archive, "", name, "", 0, crc, QZ_CLOSE_NOW);
        return 1;
    }

    int failures = 0;
    flags = QZ_KEEP_OPEN;
    for (const std::string &entry : names) {
        std::string relative = entry;
        for (char &c : relative)
            if (c == '\\')
                c = '/';
        const fs::path target = dir / fs::path(relative);
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        result = QZUnpack(archive, target.string().c_str(), name, "", 0, crc, flags);
        flags = 0;
        if (result != QZ_OK) {
            std::fprintf(stderr, "bench_host: %s: result %d\n", entry.c_str(), result);
            ++failures;
            if (result < 0 || result == QZ_BAD_RECORD || result == QZ_END_OF_ARCHIVE)
                break;
        }
    }
    QZUnpack(archive, "", name, "", 0, crc, QZ_CLOSE_NOW);
    return failures == 0 ? 0 : 1;
}
