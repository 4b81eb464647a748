#if defined(_WIN32)

#include <windows.h>

#include <algorithm>

#include "files.h"
#include "results.h"

namespace qzcli {
namespace {

// Attributes an archive keeps; the others (directory, compressed, reparse
// point, ...) describe the storage, not the file.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::string LastErrorText() { return DescribeSystemError(static_cast<uint32_t>(GetLastError())); }

uint64_t Ticks(const FILETIME &time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Archives record local time; the library turns it back with the same
// (current) bias, so a round trip is exact.
uint64_t LocalTicks(const FILETIME &utc) {
    FILETIME local;
    if (!FileTimeToLocalFileTime(&utc, &local))
        return Ticks(utc);
    return Ticks(local);
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

FileKind KindOf(const std::string &path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FileKind::Missing;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return FileKind::Link;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return FileKind::Directory;
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0)
        return FileKind::Other;
    return FileKind::File;
}

char PathSeparator() { return '\\'; }

std::string JoinPath(const std::string &directory, const std::string &name) {
    if (directory.empty())
        return name;
    if (IsSeparator(directory.back()) || directory.back() == ':')
        return directory + name;
    return directory + "\\" + name;
}

bool MakeDirectory(const std::string &path, std::string *error) {
    if (CreateDirectoryA(path.c_str(), nullptr))
        return true;
    const DWORD err = GetLastError();
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (err == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return true;
    *error = DescribeSystemError(err);
    return false;
}

bool MakeDirectories(const std::string &path, std::string *error) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && !IsSeparator(path[i]))
            continue;
        const std::string prefix = path.substr(0, i);
        // "C:" and "\\server" prefixes are not directories to create.
        if (prefix.empty() || IsSeparator(prefix.back()) || prefix.back() == ':' ||
            (prefix.size() >= 2 && IsSeparator(prefix[0]) && IsSeparator(prefix[1]) &&
             std::count_if(prefix.begin() + 2, prefix.end(), IsSeparator) < 2))
            continue;
        if (!MakeDirectory(prefix, error)) {
            *error = prefix + ": " + *error;
            return false;
        }
    }
    return true;
}

bool RemoveFile(const std::string &path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) != 0;
}

bool RemoveEmptyDirectory(const std::string &path) { return RemoveDirectoryA(path.c_str()) != 0; }

bool MoveOver(const std::string &from, const std::string &to, std::string *error) {
    SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    *error = LastErrorText();
    return false;
}

bool MakeTempDirectory(std::string *path, std::string *error) {
    char base[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, base);
    if (length == 0 || length >= MAX_PATH) {
        *error = "no directory for temporary files";
        return false;
    }
    const DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (DWORD attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate =
            JoinPath(base, "qzarc-" + std::to_string(GetCurrentProcessId()) + "-" +
                               std::to_string((seed + attempt * 7919u) % 1000000u));
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            *path = candidate;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    *error = LastErrorText();
    return false;
}

bool MakeTempFile(std::string *path, std::string *error) {
    char base[MAX_PATH];
    char name[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, base);
    if (length == 0 || length >= MAX_PATH || GetTempFileNameA(base, "qza", 0, name) == 0) {
        *error = LastErrorText();
        return false;
    }
    *path = name;
    return true;
}

bool ReadSourceDetails(const std::string &path, SourceDetails *details, std::string *error) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        *error = LastErrorText();
        return false;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        details->kind = FileKind::Directory;
    else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0)
        details->kind = FileKind::Other;
    else
        details->kind = FileKind::File;
    details->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    details->creationTime = LocalTicks(data.ftCreationTime);
    details->accessTime = LocalTicks(data.ftLastAccessTime);
    details->writeTime = LocalTicks(data.ftLastWriteTime);
    const DWORD kept = data.dwFileAttributes & kKeptAttributes;
    details->attributes = kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
    return true;
}

bool ListDirectory(const std::string &path, std::vector<std::string> *names, std::string *error) {
    names->clear();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(JoinPath(path, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;  // an empty drive root has not even "."
        *error = LastErrorText();
        return false;
    }
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..")
            names->push_back(name);
    } while (FindNextFileA(search, &found));
    const DWORD err = GetLastError();
    FindClose(search);
    if (err != ERROR_NO_MORE_FILES) {
        *error = DescribeSystemError(err);
        return false;
    }
    std::sort(names->begin(), names->end());
    return true;
}

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *contents, std::string *error) {
    contents->clear();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = LastErrorText();
        return false;
    }
    uint8_t buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != 0) && got > 0)
        contents->insert(contents->end(), buffer, buffer + got);
    if (!ok)
        *error = LastErrorText();
    CloseHandle(file);
    return ok;
}

bool SameFile(const std::string &a, const std::string &b) {
    BY_HANDLE_FILE_INFORMATION info[2];
    const std::string *paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        HANDLE file = CreateFileA(paths[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                                            FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        const bool ok = GetFileInformationByHandle(file, &info[i]) != 0;
        CloseHandle(file);
        if (!ok)
            return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
           info[0].nFileIndexLow == info[1].nFileIndexLow;
}

}  // namespace qzcli

#endif  // _WIN32
