// The progress line: on a terminal, one line on standard error that is
// redrawn in place, showing the entry being worked on (n of N, its name),
// the library's percentage for it and the bytes done so far.
#ifndef QZARC_CLI_PROGRESS_H
#define QZARC_CLI_PROGRESS_H

#include <cstddef>
#include <cstdint>
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

    // The whole job: number of entries and their total size.
    void Begin(size_t entries, uint64_t totalBytes);
    // Entry `number` (1-based) of `size` bytes, `compressedSize` of them in
    // the archive, starts.
    void StartEntry(size_t number, const std::string &name, uint64_t size, uint64_t compressedSize);
    // The library's progress report for the current entry, 0-100.
    void Percent(int percent);
    // Bytes of the current entry done so far, counted by the tool itself
    // (entries the library gives no reports for, and archive creation).
    void EntryBytes(uint64_t done);
    // The current entry is done (or given up): its bytes count as done.
    void EndEntry();
    // Wipes the line; the next report draws it again.
    void Clear();

    // The text the line shows now (also when disabled), for tests and drawing.
    std::string Text() const;

private:
    void Draw();

    bool enabled_;
    size_t entries_ = 0;
    uint64_t totalBytes_ = 0;
    size_t number_ = 0;
    std::string name_;
    uint64_t entrySize_ = 0;
    uint64_t slice_ = 0;        // bytes of output between two of the library's reports
    uint64_t entryDone_ = 0;    // bytes of the current entry written so far
    uint64_t doneBytes_ = 0;    // bytes of the entries before it
    int percent_ = 0;
    size_t drawnWidth_ = 0;
    std::string drawn_;
};

// 1234567 as "1.2 MiB", 999 as "999 B".
std::string HumanSize(uint64_t bytes);

}  // namespace qzcli

#endif  // QZARC_CLI_PROGRESS_H
