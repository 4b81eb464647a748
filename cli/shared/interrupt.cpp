#include "interrupt.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "files.h"
#include "terminal.h"

namespace qzcli {
namespace {

// Fixed storage the handler can read at any moment: a slot's path is
// complete before it is marked used, and unmarked before it is reused.
constexpr size_t kSlots = 1100;  // every volume of a set, and a few more
constexpr size_t kPathBytes = 1024;

struct Slot {
    std::atomic<bool> used{false};
    char path[kPathBytes];
};

Slot gFiles[kSlots];
// Directories, removed last to first (a later one may lie inside an earlier one).
constexpr size_t kDirectorySlots = 16;
Slot gDirectories[kDirectorySlots];
// Two report buffers: the handler reads the one not being written.
char gReports[2][512];
std::atomic<int> gReport{-1};
std::atomic<void (*)()> gRestore{nullptr};
std::atomic<bool> gCleaning{false};

void Store(Slot &slot, const std::string &path) {
    slot.used = false;
    const size_t n = std::min(path.size(), kPathBytes - 1);
    std::memcpy(slot.path, path.data(), n);
    slot.path[n] = '\0';
    slot.used = true;
}

}  // namespace

bool Interrupted() { return gCleaning.load(); }

void RemoveOnInterrupt(const std::string &path) {
    if (path.size() < kPathBytes) {
        for (Slot &slot : gFiles) {
            if (!slot.used) {
                Store(slot, path);
                break;
            }
        }
    }
    // The handler reads the slots after it has set the flag, this thread
    // the flag after it has filled the slot: one of the two sees the other.
    if (gCleaning.load())
        WaitForTheEnd();
}

void ForgetOnInterrupt(const std::string &path) {
    for (Slot &slot : gFiles) {
        if (slot.used && path == slot.path)
            slot.used = false;
    }
    for (Slot &slot : gDirectories) {
        if (slot.used && path == slot.path)
            slot.used = false;
    }
}

void RemoveDirectoryOnInterrupt(const std::string &path) {
    if (path.size() >= kPathBytes)
        return;
    for (Slot &slot : gDirectories) {
        if (!slot.used) {
            Store(slot, path);
            return;
        }
    }
}

void SetInterruptReport(const std::string &text) {
    const int next = gReport.load() == 0 ? 1 : 0;
    const size_t n = std::min(text.size(), sizeof gReports[next] - 1);
    std::memcpy(gReports[next], text.data(), n);
    gReports[next][n] = '\0';
    gReport = next;
}

void SetTerminalRestore(void (*restore)()) { gRestore = restore; }

bool CleanUpAfterInterrupt() {
    // A second signal while cleaning must not start over.
    if (gCleaning.exchange(true))
        return false;
    if (void (*restore)() = gRestore.load())
        restore();
    // A worker past its check of the flag may still create the file it
    // registered: the files are removed again after a pause.
    for (int pass = 0; pass < 2; ++pass) {
        if (pass > 0)
            PauseInHandler();
        for (Slot &slot : gFiles) {
            if (slot.used)
                RemoveFileInHandler(slot.path);
        }
    }
    for (size_t i = kDirectorySlots; i-- > 0;) {
        if (gDirectories[i].used)
            RemoveDirectoryInHandler(gDirectories[i].path);
    }
    // A progress line may be on the terminal: start on a fresh line.
    WriteFromHandler(StderrIsTerminal() ? "\nqzarc: interrupted" : "qzarc: interrupted");
    const int report = gReport.load();
    if (report >= 0) {
        WriteFromHandler("; ");
        WriteFromHandler(gReports[report]);
    }
    WriteFromHandler("\n");
    return true;
}

}  // namespace qzcli
