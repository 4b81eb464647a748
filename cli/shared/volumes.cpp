#include "volumes.h"

#include <cstring>

#include "console.h"
#include "files.h"
#include "prompts.h"

namespace qzcli {
namespace {

void CopyToBuffer(const std::string &path, char *text, size_t size) {
    const size_t n = path.size() < size - 1 ? path.size() : size - 1;
    std::memcpy(text, path.data(), n);
    text[n] = '\0';
}

int OnVolumeRequest(void *user, unsigned number, char *path, size_t pathSize) {
    VolumeAsker *asker = static_cast<VolumeAsker *>(user);
    return asker->requests().Answer(number, path, pathSize, *asker);
}

}  // namespace

VolumeRequests::VolumeRequests(bool interactive, const std::string &archive)
    : interactive_(interactive), archive_(archive) {}

void VolumeRequests::SetQuestionHooks(std::function<void()> before, std::function<void()> after) {
    beforeQuestion_ = std::move(before);
    afterQuestion_ = std::move(after);
}

// Why the file the user named cannot be the volume asked for ("" when it
// may be). A missing file is left to the library, which asks again.
std::string VolumeRequests::WrongVolume(const std::string &path, size_t pathSize) const {
    if (path.size() >= pathSize)
        return "the path is too long (at most " + std::to_string(pathSize - 1) + " bytes)";
    SourceDetails details;
    std::string error;
    if (!ReadSourceDetails(path, &details, &error))
        return "";
    if (details.kind == FileKind::Directory)
        return "is a directory";
    if (details.kind != FileKind::File)
        return "is not a regular file";
    if (details.size == 0)
        return "is empty";
    if (!archive_.empty() && SameFile(path, archive_))
        return "is the archive's first volume";
    return "";
}

int VolumeRequests::Answer(unsigned number, char *text, size_t pathSize, VolumeAsker &asker) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string wanted = text;
    asker.missing_ = wanted;

    // A file named for this volume earlier, for this handle or another.
    auto known = substitutes_.find(number);
    if (known != substitutes_.end() && known->second != wanted &&
        KindOf(known->second) != FileKind::Missing) {
        CopyToBuffer(known->second, text, pathSize);
        return 0;  // the library looks at the new name
    }
    if (givenUp_.count(wanted) != 0)
        return 1;

    if (!interactive_) {
        const std::string message =
            "the archive ends inside an entry's data: it is truncated, or its volume " +
            std::to_string(number) + " is missing: " + Printable(wanted) +
            " (no terminal to ask for it; giving up on it)";
        if (asker.report)
            asker.report(message);
        else
            Err(message);
        givenUp_.insert(wanted);
        return 1;
    }

    if (beforeQuestion_)
        beforeQuestion_();
    std::string path;
    bool given = false;
    for (;;) {
        if (!AskVolumePath(static_cast<int>(number), wanted, &path))
            break;
        const std::string wrong = WrongVolume(path, pathSize);
        if (wrong.empty()) {
            given = true;
            break;
        }
        Err(Printable(path) + ": " + wrong + "; give the volume's file");
    }
    if (afterQuestion_)
        afterQuestion_();
    if (!given) {
        givenUp_.insert(wanted);
        return 1;
    }
    CopyToBuffer(path, text, pathSize);
    substitutes_[number] = path;
    return 0;  // the library looks at the file; if it is not there, it asks again
}

void VolumeAsker::Attach(const Library &library, qz_archive *handle) {
    library.setVolumeHandler(handle, &OnVolumeRequest, this);
}

}  // namespace qzcli
