// The file-system operations of the tool, one implementation per platform:
// POSIX calls on Linux, the Win32 ANSI calls on Windows (the same narrow
// paths the library takes).
#ifndef QZARC_CLI_FILES_H
#define QZARC_CLI_FILES_H

#include <cstdint>
#include <string>
#include <vector>

namespace qzcli {

enum class FileKind {
    Missing,
    File,
    Directory,
    Link,   // a symbolic link (or, on Windows, any reparse point), not followed
    Other,  // devices, pipes, sockets
};

// What is at path, without following a final symbolic link.
FileKind KindOf(const std::string &path);

// The separator this platform's paths use.
char PathSeparator();
std::string JoinPath(const std::string &directory, const std::string &name);

// Creates one directory; true when it exists afterwards. On failure *error
// says why.
bool MakeDirectory(const std::string &path, std::string *error);
// Creates a directory and its missing parents (for the destination itself).
bool MakeDirectories(const std::string &path, std::string *error);

// Removes a file, clearing its read-only mark first.
bool RemoveFile(const std::string &path);
// Removes an empty directory.
bool RemoveEmptyDirectory(const std::string &path);
// Moves `from` over `to`, replacing it (and its read-only mark).
bool MoveOver(const std::string &from, const std::string &to, std::string *error);

// A new private directory for temporary files.
bool MakeTempDirectory(std::string *path, std::string *error);
// A new empty file among the temporary files.
bool MakeTempFile(std::string *path, std::string *error);

// A file's details as an archive records them: times as FILETIMEs (100 ns
// ticks since 1601) in local time, attributes as Win32 attribute bits.
struct SourceDetails {
    FileKind kind = FileKind::Missing;  // after following links
    uint64_t size = 0;
    uint64_t creationTime = 0;
    uint64_t accessTime = 0;
    uint64_t writeTime = 0;
    uint32_t attributes = 0;
};

// Follows links. False with *error when path cannot be examined.
bool ReadSourceDetails(const std::string &path, SourceDetails *details, std::string *error);
// The names in a directory (without "." and ".."), sorted.
bool ListDirectory(const std::string &path, std::vector<std::string> *names, std::string *error);
// A file's whole contents.
bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *contents, std::string *error);
// True when both paths name the same existing file.
bool SameFile(const std::string &a, const std::string &b);

}  // namespace qzcli

#endif  // QZARC_CLI_FILES_H
