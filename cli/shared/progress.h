// The progress line: on a terminal, one line on standard error that is
// redrawn in place, showing the entry last started (n of N, its name), how
// much of it is done and the bytes done so far. Entries may be worked on by
// several threads at once: each reports for its own entry, and the line
// counts the bytes of all of them. Every call may come from any thread.
#ifndef QZARC_CLI_PROGRESS_H
#define QZARC_CLI_PROGRESS_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace qzcli {

class ProgressLine {
public:
    // A disabled line never prints anything (standard error is not a terminal).
    explicit ProgressLine(bool enabled);
    ~ProgressLine();
    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    bool enabled() const { return enabled_; }
    // The entry last started (the one the line names).
    size_t shownEntry() const { return number_; }

    // The whole job: number of entries and their total size.
    void Begin(size_t entries, uint64_t totalBytes);
    // Entry `number` (1-based) of `size` bytes starts.
    void StartEntry(size_t number, const std::string &name, uint64_t size);
    // Bytes of entry `number` done so far.
    void EntryBytes(size_t number, uint64_t done);
    // Entry `number` is done (or given up): its bytes count as done.
    void EndEntry(size_t number);
    // Wipes the line; the next report draws it again.
    void Clear();
    // While held (a question is on the terminal) the line is not drawn.
    void Hold();
    void Release();

    // The text the line shows now (also when disabled), for tests and drawing.
    std::string Text() const;

private:
    void Draw();

    struct Started {
        uint64_t size = 0;
        uint64_t done = 0;
    };

    bool enabled_;
    size_t entries_ = 0;
    uint64_t totalBytes_ = 0;
    size_t number_ = 0;          // the entry shown
    std::string name_;
    std::map<size_t, Started> working_;  // entries started and not ended
    uint64_t doneBytes_ = 0;     // bytes of the entries ended
    int held_ = 0;
    size_t drawnWidth_ = 0;
    std::string drawn_;
};

// 1234567 as "1.2 MiB", 999 as "999 B".
std::string HumanSize(uint64_t bytes);

}  // namespace qzcli

#endif  // QZARC_CLI_PROGRESS_H
