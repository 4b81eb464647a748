#include "host.h"

#include <cstring>
#include <map>
#include <set>

#include "console.h"
#include "files.h"
#include "progress.h"
#include "prompts.h"

namespace qzcli {
namespace {

// The library's text buffer for a volume request holds MAX_PATH bytes.
constexpr size_t kVolumeBuffer = 260;

// The library calls back into a plain function, and keeps one process-wide
// state anyway: so does its host.
struct HostState {
    const Library *library = nullptr;
    ProgressLine *progress = nullptr;
    bool interactive = false;
    std::string archive;                        // the first volume
    std::string missing;                        // last file reported missing
    std::set<std::string> givenUp;              // files nobody will provide
    std::map<int, std::string> substitutes;     // volume number -> file the user named
};

HostState gHost;

void CopyToBuffer(const std::string &path, char *text) {
    const size_t n = path.size() < kVolumeBuffer - 1 ? path.size() : kVolumeBuffer - 1;
    std::memcpy(text, path.data(), n);
    text[n] = '\0';
}

// Why the file the user named cannot be the volume asked for ("" when it
// may be). A missing file is left to the library, which asks again.
std::string WrongVolume(const std::string &path) {
    if (path.size() >= kVolumeBuffer)
        return "the path is too long (at most " + std::to_string(kVolumeBuffer - 1) + " bytes)";
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
    if (!gHost.archive.empty() && SameFile(path, gHost.archive))
        return "is the archive's first volume";
    return "";
}

int AnswerVolumeRequest(int number, char *text) {
    const std::string wanted = text;
    gHost.missing = wanted;

    // A file the user named for this volume earlier (an entry may be tried
    // again, walking the volumes once more).
    auto known = gHost.substitutes.find(number);
    if (known != gHost.substitutes.end() && known->second != wanted &&
        KindOf(known->second) != FileKind::Missing) {
        CopyToBuffer(known->second, text);
        return 0;  // the library tests the new name again
    }
    if (gHost.givenUp.count(wanted) != 0)
        return QZ_STOP_WAITING;

    if (!gHost.interactive) {
        Err("the archive ends inside an entry's data: it is truncated, or its volume " +
            std::to_string(number) + " is missing: " + Printable(wanted) +
            " (no terminal to ask for it; giving up on it)");
        gHost.givenUp.insert(wanted);
        return QZ_STOP_WAITING;
    }

    std::string path;
    for (;;) {
        if (!AskVolumePath(number, wanted, &path)) {
            gHost.givenUp.insert(wanted);
            return QZ_STOP_WAITING;
        }
        const std::string wrong = WrongVolume(path);
        if (wrong.empty())
            break;
        Err(Printable(path) + ": " + wrong + "; give the volume's file");
    }
    CopyToBuffer(path, text);
    gHost.substitutes[number] = path;
    return 0;  // the library tests the file; if it is not there, it asks again
}

int QZ_STDCALL OnNotification(int kind, int value, int /*reserved1*/, int /*reserved2*/,
                              char *text) {
    if (kind == QZ_NOTIFY_PROGRESS) {
        if (gHost.progress != nullptr)
            gHost.progress->Percent(value);
        return 0;
    }
    if (kind == QZ_NOTIFY_VOLUME && text != nullptr)
        return AnswerVolumeRequest(value, text);
    return 0;
}

}  // namespace

Host::Host(const Library &library, ProgressLine *progress, bool interactive,
           const std::string &archive) {
    gHost = HostState();
    gHost.archive = archive;
    gHost.library = &library;
    gHost.progress = progress;
    gHost.interactive = interactive;
    library.setCallback(&OnNotification);
}

Host::~Host() {
    if (gHost.library != nullptr)
        gHost.library->setCallback(nullptr);
    gHost = HostState();
}

std::string Host::missingVolume() const { return gHost.missing; }

void Host::ForgetMissingVolume() { gHost.missing.clear(); }

}  // namespace qzcli
