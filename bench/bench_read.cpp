// bench_read ARCHIVE DIR: the benchmark's host of the handle API. Walks
// ARCHIVE with qz_archive_next, reads each entry with qz_archive_read into
// one 64 KiB buffer and writes every buffer out with one write() to the file
// the entry's name gives under DIR ('\' and '/' both separate), the same
// work as the legacy calls' hosts do. Every entry must end verified (0).
// Like bench_host it trusts the names: it only sees the benchmark's archives.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "qzarc.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kBuffer = 65536;

bool WriteAll(int fd, const unsigned char *data, size_t n) {
    while (n > 0) {
        const ssize_t done = ::write(fd, data, n);
        if (done <= 0)
            return false;
        data += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_read ARCHIVE DIR\n");
        return 2;
    }
    const fs::path dir = argv[2];
    static unsigned char buffer[kBuffer];
    qz_archive *a = qz_archive_new();
    if (a == nullptr || qz_archive_open(a, argv[1], 0) != QZ_ARCHIVE_OK) {
        std::fprintf(stderr, "bench_read: %s: %s\n", argv[1], a != nullptr ? qz_archive_error(a) : "no memory");
        qz_archive_free(a);
        return 1;
    }
    int failures = 0;
    const qz_entry *entry = nullptr;
    int next;
    while ((next = qz_archive_next(a, &entry)) == QZ_ARCHIVE_OK) {
        std::string relative = entry->name;
        for (char &c : relative)
            if (c == '\\')
                c = '/';
        const fs::path target = dir / fs::path(relative);
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            std::perror(target.c_str());
            ++failures;
            continue;
        }
        // The size is known before the first write: reserved as the legacy
        // extraction reserves it (and qz_archive_extract), so that both rows
        // write alike.
        if (entry->uncompressed_size >= 65536)
            (void)::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(entry->uncompressed_size));
        int64_t r;
        bool written = true;
        while ((r = qz_archive_read(a, buffer, kBuffer)) > 0)
            written = written && WriteAll(fd, buffer, static_cast<size_t>(r));
        ::close(fd);
        if (r != 0 || !written) {
            std::fprintf(stderr, "bench_read: %s: %s\n", entry->name, r != 0 ? qz_archive_error(a) : "write failed");
            ++failures;
        }
    }
    if (next != QZ_ARCHIVE_END) {
        std::fprintf(stderr, "bench_read: %s: %s\n", argv[1], qz_archive_error(a));
        ++failures;
    }
    qz_archive_free(a);
    return failures == 0 ? 0 : 1;
}
