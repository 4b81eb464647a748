#include "destination.h"

#include <mutex>
#include <unordered_set>

#include "console.h"
#include "files.h"

namespace qzcli {
namespace {

// Directories this process has made, or found to be directories (not
// links), below a destination: each is looked at once per run, not once
// per entry below it. Shared by the worker threads.
std::mutex gKnownMutex;
std::unordered_set<std::string> gKnownDirectories;

bool KnownDirectory(const std::string &path) {
    std::lock_guard<std::mutex> lock(gKnownMutex);
    return gKnownDirectories.count(path) != 0;
}

void RememberDirectory(const std::string &path) {
    std::lock_guard<std::mutex> lock(gKnownMutex);
    gKnownDirectories.insert(path);
}

}  // namespace

Refusal PrepareTarget(const std::string &root, const EntryPath &entry, Target *target,
                      std::string *reason) {
    *target = Target();
    const size_t directories = entry.directory ? entry.components.size() : entry.components.size() - 1;
    std::string path = root;
    for (size_t i = 0; i < directories; ++i) {
        path = JoinPath(path, entry.components[i]);
        if (KnownDirectory(path))
            continue;
        switch (KindOf(path)) {
        case FileKind::Directory:
            RememberDirectory(path);
            break;
        case FileKind::Missing: {
            std::string error;
            if (!MakeDirectory(path, &error)) {
                *reason = "cannot create the directory " + Printable(path) + ": " + error;
                return Refusal::Failed;
            }
            RememberDirectory(path);
            break;
        }
        case FileKind::Link:
            *reason = "the path goes through the symbolic link " + Printable(path) +
                      ", which is not followed";
            return Refusal::Unsafe;
        case FileKind::File:
        case FileKind::Other:
            *reason = Printable(path) + " is in the way: it is not a directory";
            return Refusal::Failed;
        }
    }
    if (entry.directory) {
        target->path = path;
        return Refusal::None;
    }
    target->path = JoinPath(path, entry.components.back());
    switch (KindOf(target->path)) {
    case FileKind::Missing:
        return Refusal::None;
    case FileKind::File:
        target->exists = true;
        return Refusal::None;
    case FileKind::Link:
        *reason = Printable(target->path) + " is a symbolic link, which is not written through";
        return Refusal::Unsafe;
    case FileKind::Directory:
        *reason = "a directory of that name exists";
        return Refusal::Failed;
    case FileKind::Other:
        *reason = Printable(target->path) + " exists and is not a regular file";
        return Refusal::Failed;
    }
    return Refusal::None;
}

}  // namespace qzcli
