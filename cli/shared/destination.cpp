#include "destination.h"

#include "console.h"
#include "files.h"

namespace qzcli {

Refusal PrepareTarget(const std::string &root, const EntryPath &entry, Target *target,
                      std::string *reason) {
    *target = Target();
    const size_t directories = entry.directory ? entry.components.size() : entry.components.size() - 1;
    std::string path = root;
    for (size_t i = 0; i < directories; ++i) {
        path = JoinPath(path, entry.components[i]);
        switch (KindOf(path)) {
        case FileKind::Directory:
            break;
        case FileKind::Missing: {
            std::string error;
            if (!MakeDirectory(path, &error)) {
                *reason = "cannot create the directory " + Printable(path) + ": " + error;
                return Refusal::Failed;
            }
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
