#include "interrupt.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "console.h"
#include "files.h"
#include "terminal.h"

namespace qzcli {
namespace {

// Fixed storage the handler can read at any moment, whatever the other
// threads are doing. Threads fill and empty slots under gSlots (one at a
// time); the handler takes no lock, and reads a slot as a sequence lock: a
// slot's state counts its changes (odd: it holds a path), so a copy taken
// between two equal odd readings is whole and current.
constexpr size_t kSlots = 1100;  // every volume of a set, and a few more
constexpr size_t kPathBytes = 1024;

struct Slot {
    std::atomic<uint32_t> state{0};
    std::atomic<char> text[kPathBytes];

    bool Holds() const { return (state.load(std::memory_order_relaxed) & 1u) != 0; }
    bool Equals(const std::string &path) const {
        for (size_t i = 0; i < path.size(); ++i) {
            if (text[i].load(std::memory_order_relaxed) != path[i])
                return false;
        }
        return text[path.size()].load(std::memory_order_relaxed) == '\0';
    }
    // An empty slot (even state) is filled, then marked as holding it.
    void Fill(const std::string &path) {
        const size_t n = std::min(path.size(), kPathBytes - 1);
        for (size_t i = 0; i < n; ++i)
            text[i].store(path[i], std::memory_order_relaxed);
        text[n].store('\0', std::memory_order_relaxed);
        state.fetch_add(1, std::memory_order_release);
    }
    // Acquire as well: the next Fill's bytes are not seen before it.
    void Empty() {
        if (Holds())
            state.fetch_add(1, std::memory_order_acq_rel);
    }
    // For the handler: false when the slot is empty or changed meanwhile.
    bool Copy(char (&out)[kPathBytes]) const {
        const uint32_t before = state.load(std::memory_order_acquire);
        if ((before & 1u) == 0)
            return false;
        // Acquire loads: the second look at the state comes after them.
        for (size_t i = 0; i < kPathBytes; ++i) {
            out[i] = text[i].load(std::memory_order_acquire);
            if (out[i] == '\0')
                break;
        }
        out[kPathBytes - 1] = '\0';
        return state.load(std::memory_order_relaxed) == before;
    }
};

std::mutex gSlots;
Slot gFiles[kSlots];
// Slots past this one have never been filled (they are filled lowest
// first): the per-file bookkeeping looks no further than the few in use.
size_t gFilesReach = 0;
// Directories, removed last to first (a later one may lie inside an earlier one).
constexpr size_t kDirectorySlots = 16;
Slot gDirectories[kDirectorySlots];
Slot gReport;
std::atomic<void (*)()> gRestore{nullptr};
std::atomic<bool> gCleaning{false};

}  // namespace

bool Interrupted() { return gCleaning.load(); }

void RemoveOnInterrupt(const std::string &path) {
    if (path.size() < kPathBytes) {
        std::lock_guard<std::mutex> lock(gSlots);
        for (size_t i = 0; i < kSlots; ++i) {
            if (!gFiles[i].Holds()) {
                gFiles[i].Fill(path);
                gFilesReach = std::max(gFilesReach, i + 1);
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
    if (path.size() >= kPathBytes)
        return;
    std::lock_guard<std::mutex> lock(gSlots);
    for (size_t i = 0; i < gFilesReach; ++i) {
        if (gFiles[i].Holds() && gFiles[i].Equals(path))
            gFiles[i].Empty();
    }
    for (Slot &slot : gDirectories) {
        if (slot.Holds() && slot.Equals(path))
            slot.Empty();
    }
}

void RemoveDirectoryOnInterrupt(const std::string &path) {
    if (path.size() >= kPathBytes)
        return;
    std::lock_guard<std::mutex> lock(gSlots);
    for (Slot &slot : gDirectories) {
        if (!slot.Holds()) {
            slot.Fill(path);
            return;
        }
    }
}

void SetInterruptReport(const std::string &text) {
    std::lock_guard<std::mutex> lock(gSlots);
    gReport.Empty();
    gReport.Fill(text);
}

void SetTerminalRestore(void (*restore)()) { gRestore = restore; }

bool CleanUpAfterInterrupt() {
    // A second signal while cleaning must not start over.
    if (gCleaning.exchange(true))
        return false;
    if (void (*restore)() = gRestore.load())
        restore();
    char path[kPathBytes];
    // A worker past its check of the flag may still create the file it
    // registered: the files are removed again after a pause.
    for (int pass = 0; pass < 2; ++pass) {
        if (pass > 0)
            PauseInHandler();
        for (Slot &slot : gFiles) {
            if (slot.Copy(path))
                RemoveFileInHandler(path);
        }
    }
    for (size_t i = kDirectorySlots; i-- > 0;) {
        if (gDirectories[i].Copy(path))
            RemoveDirectoryInHandler(path);
    }
    // What the command said on standard output comes before the report.
    FlushOutputFromHandler();
    // A progress line may be on the terminal: start on a fresh line.
    WriteFromHandler(StderrIsTerminal() ? "\nqzarc: interrupted" : "qzarc: interrupted");
    if (gReport.Copy(path)) {
        WriteFromHandler("; ");
        WriteFromHandler(path);
    }
    WriteFromHandler("\n");
    return true;
}

}  // namespace qzcli
