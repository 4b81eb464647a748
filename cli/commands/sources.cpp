#include "sources.h"

#include <set>

#include "codepage.h"
#include "console.h"
#include "names.h"

namespace qzcli {
namespace {

// The largest size a record's 32-bit size fields can hold.
constexpr uint64_t kMaxEntrySize = 0xFFFFFFFFu;

bool IsSeparator(char c) { return c == '/' || (PathSeparator() == '\\' && c == '\\'); }

bool IsAbsolute(const std::string &path) {
    if (!path.empty() && IsSeparator(path[0]))
        return true;
    // "C:..." is rooted on a drive on Windows.
    return PathSeparator() == '\\' && path.size() >= 2 && path[1] == ':';
}

class Collector {
public:
    Collector(const std::vector<std::string> &exclude, size_t *skipped)
        : exclude_(exclude), skipped_(skipped) {}

    void AddInput(const std::string &input) {
        std::string error;
        SourceDetails details;
        if (!ReadSourceDetails(input, &details, &error)) {
            Skip(input, error);
            return;
        }
        Visit(input, InputPrefix(input), details, true);
    }

    std::vector<SourceFile> files;

private:
    void Skip(const std::string &path, const std::string &reason) {
        Err(Printable(path) + ": " + reason + "; skipped");
        ++*skipped_;
    }

    void Visit(const std::string &path, const std::vector<std::string> &components,
               const SourceDetails &details, bool given) {
        for (const std::string &component : components) {
            const std::string reason = CheckSourceComponent(component);
            if (!reason.empty()) {
                Skip(path, "cannot be recorded: " + reason);
                return;
            }
        }
        if (details.kind == FileKind::Directory) {
            // A link to a directory is followed only when named on the
            // command line: inside a tree it could loop or leave the tree.
            if (!given && KindOf(path) == FileKind::Link) {
                Skip(path, "a symbolic link to a directory, not followed");
                return;
            }
            VisitDirectory(path, components);
            return;
        }
        if (details.kind != FileKind::File) {
            Skip(path, "not a regular file");
            return;
        }
        if (components.empty()) {
            Skip(path, "no name to record it under");
            return;
        }
        for (const std::string &excluded : exclude_) {
            if (SameFile(path, excluded))
                return;  // the archive itself
        }
        if (details.size > kMaxEntrySize) {
            Skip(path, "larger than the 4 GiB an entry can hold");
            return;
        }
        const std::string shown = JoinArchiveName(components);
        std::string name;
        std::string reason;
        if (!NameForArchive(shown, &name, &reason)) {
            Skip(path, reason);
            return;
        }
        if (name.size() > kMaxNameLength) {
            Skip(path, "its name is longer than " + std::to_string(kMaxNameLength) + " bytes");
            return;
        }
        if (!names_.insert(name).second) {
            Skip(path, "a file named " + Printable(shown) + " is already in the archive");
            return;
        }
        files.push_back({path, name, shown, details});
    }

    void VisitDirectory(const std::string &path, const std::vector<std::string> &components) {
        std::vector<std::string> children;
        std::string error;
        if (!ListDirectory(path, &children, &error)) {
            Skip(path, error);
            return;
        }
        for (const std::string &child : children) {
            const std::string childPath = JoinPath(path, child);
            std::vector<std::string> childComponents = components;
            childComponents.push_back(child);
            SourceDetails details;
            if (!ReadSourceDetails(childPath, &details, &error)) {
                Skip(childPath, error);
                continue;
            }
            Visit(childPath, childComponents, details, false);
        }
    }

    const std::vector<std::string> &exclude_;
    size_t *skipped_;
    std::set<std::string> names_;
};

}  // namespace

std::vector<std::string> InputPrefix(const std::string &input) {
    std::vector<std::string> components;
    bool dotDot = false;
    std::string current;
    // On Windows a drive ("C:") is not part of any name.
    const size_t start = PathSeparator() == '\\' && input.size() >= 2 && input[1] == ':' ? 2 : 0;
    for (size_t i = start; i <= input.size(); ++i) {
        if (i < input.size() && !IsSeparator(input[i])) {
            current.push_back(input[i]);
            continue;
        }
        if (current == "..")
            dotDot = true;
        if (!current.empty() && current != ".")
            components.push_back(current);
        current.clear();
    }
    if (IsAbsolute(input) || dotDot) {
        if (components.empty() || components.back() == "..")
            return {};
        return {components.back()};
    }
    return components;
}

std::vector<SourceFile> CollectSources(const std::vector<std::string> &inputs,
                                       const std::vector<std::string> &exclude, size_t *skipped) {
    Collector collector(exclude, skipped);
    for (const std::string &input : inputs)
        collector.AddInput(input);
    return collector.files;
}

}  // namespace qzcli
