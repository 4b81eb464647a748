#if !defined(_WIN32)

#define _FILE_OFFSET_BITS 64

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files.h"

namespace qzcli {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000u;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeArchive = 0x20;

std::string ErrnoText(int err) { return std::strerror(err); }

// The offset of local time from UTC in force now. The library turns recorded
// local times back into UTC with the offset in force when it extracts, so
// adding today's offset (not the one of the file's date) makes a round trip
// exact.
int64_t CurrentUtcOffsetSeconds() {
    const time_t now = time(nullptr);
    struct tm parts;
    if (localtime_r(&now, &parts) == nullptr)
        return 0;
    return parts.tm_gmtoff;
}

uint64_t LocalFileTime(const struct timespec &utc) {
    const int64_t seconds = static_cast<int64_t>(utc.tv_sec) + kSecondsFrom1601To1970 +
                            CurrentUtcOffsetSeconds();
    if (seconds < 0)
        return 0;  // before 1601: not representable
    return static_cast<uint64_t>(seconds) * kTicksPerSecond +
           static_cast<uint64_t>(utc.tv_nsec) / 100u;
}

FileKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode))
        return FileKind::File;
    if (S_ISDIR(mode))
        return FileKind::Directory;
    if (S_ISLNK(mode))
        return FileKind::Link;
    return FileKind::Other;
}

}  // namespace

FileKind KindOf(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return FileKind::Missing;
    return KindOfMode(st.st_mode);
}

char PathSeparator() { return '/'; }

std::string JoinPath(const std::string &directory, const std::string &name) {
    if (directory.empty())
        return name;
    if (directory.back() == '/')
        return directory + name;
    return directory + "/" + name;
}

bool MakeDirectory(const std::string &path, std::string *error) {
    if (mkdir(path.c_str(), 0777) == 0)
        return true;
    const int err = errno;
    struct stat st;
    if (err == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return true;
    *error = ErrnoText(err);
    return false;
}

bool MakeDirectories(const std::string &path, std::string *error) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/')
            continue;
        const std::string prefix = path.substr(0, i);
        if (!prefix.empty() && prefix.back() != '/' && !MakeDirectory(prefix, error)) {
            *error = prefix + ": " + *error;
            return false;
        }
    }
    return true;
}

bool RemoveFile(const std::string &path) { return unlink(path.c_str()) == 0; }

bool RemoveEmptyDirectory(const std::string &path) { return rmdir(path.c_str()) == 0; }

bool MoveOver(const std::string &from, const std::string &to, std::string *error) {
    if (rename(from.c_str(), to.c_str()) == 0)
        return true;
    *error = ErrnoText(errno);
    return false;
}

// "$TMPDIR/qzarc-XXXXXX" as a writable, terminated buffer for mkdtemp and mkstemp.
std::vector<char> TempPattern() {
    const char *base = std::getenv("TMPDIR");
    const std::string pattern =
        JoinPath(base != nullptr && *base != '\0' ? base : "/tmp", "qzarc-XXXXXX");
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    return buffer;
}

bool MakeTempDirectory(std::string *path, std::string *error) {
    std::vector<char> buffer = TempPattern();
    if (mkdtemp(buffer.data()) == nullptr) {
        *error = ErrnoText(errno);
        return false;
    }
    *path = buffer.data();
    return true;
}

bool MakeTempFile(std::string *path, std::string *error) {
    std::vector<char> buffer = TempPattern();
    const int fd = mkstemp(buffer.data());
    if (fd < 0) {
        *error = ErrnoText(errno);
        return false;
    }
    close(fd);
    *path = buffer.data();
    return true;
}

bool ReadSourceDetails(const std::string &path, SourceDetails *details, std::string *error) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        *error = ErrnoText(errno);
        return false;
    }
    details->kind = KindOfMode(st.st_mode);
    details->size = static_cast<uint64_t>(st.st_size);
    details->writeTime = LocalFileTime(st.st_mtim);
    details->accessTime = LocalFileTime(st.st_atim);
    // POSIX file systems keep no creation time that could be set again.
    details->creationTime = details->writeTime;
    const bool writable = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
    details->attributes = kAttributeArchive | (writable ? 0u : kAttributeReadOnly);
    return true;
}

bool ListDirectory(const std::string &path, std::vector<std::string> *names, std::string *error) {
    names->clear();
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr) {
        *error = ErrnoText(errno);
        return false;
    }
    errno = 0;
    while (struct dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names->push_back(name);
    }
    const int err = errno;
    closedir(dir);
    if (err != 0) {
        *error = ErrnoText(err);
        return false;
    }
    std::sort(names->begin(), names->end());
    return true;
}

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *contents, std::string *error) {
    contents->clear();
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = ErrnoText(errno);
        return false;
    }
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        contents->insert(contents->end(), buffer, buffer + n);
    const bool failed = std::ferror(file) != 0;
    const int err = errno;
    std::fclose(file);
    if (failed) {
        *error = ErrnoText(err);
        return false;
    }
    return true;
}

bool SameFile(const std::string &a, const std::string &b) {
    struct stat sa;
    struct stat sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace qzcli

#endif  // !_WIN32
