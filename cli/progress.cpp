#include "progress.h"

#include <cstdio>

#include "console.h"

namespace qzcli {
namespace {

// Wider lines would wrap on a classic 80-column terminal and then no longer
// be redrawn in place.
constexpr size_t kMaxWidth = 79;

// The library inflates into output slices of the entry's compressed size
// plus 4 bytes, at most 64 KiB, and reports after every sixteenth slice. Its
// percentage assumes 1 MiB per report and so runs ahead when the slices are
// small; counting the reports gives the bytes written exactly.
constexpr uint64_t kMaxSlice = 65536;
constexpr uint64_t kSlicesPerReport = 16;

}  // namespace

std::string HumanSize(uint64_t bytes) {
    static const char *const kUnits[] = {"KiB", "MiB", "GiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 2) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

ProgressLine::ProgressLine(bool enabled) : enabled_(enabled) {}

ProgressLine::~ProgressLine() { Clear(); }

void ProgressLine::Begin(size_t entries, uint64_t totalBytes) {
    entries_ = entries;
    totalBytes_ = totalBytes;
    doneBytes_ = 0;
}

void ProgressLine::StartEntry(size_t number, const std::string &name, uint64_t size,
                              uint64_t compressedSize) {
    number_ = number;
    name_ = name;
    entrySize_ = size;
    slice_ = compressedSize + 4 < kMaxSlice ? compressedSize + 4 : kMaxSlice;
    entryDone_ = 0;
    percent_ = 0;
    Draw();
}

void ProgressLine::Percent(int percent) {
    entryDone_ += kSlicesPerReport * slice_;
    if (entryDone_ > entrySize_)
        entryDone_ = entrySize_;
    // The reported value, unless the count of reports says less is done.
    const int counted = entrySize_ == 0 ? 100 : static_cast<int>(entryDone_ * 100 / entrySize_);
    percent = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
    percent_ = counted < percent ? counted : percent;
    Draw();
}

void ProgressLine::EntryBytes(uint64_t done) {
    entryDone_ = done < entrySize_ ? done : entrySize_;
    percent_ = entrySize_ == 0 ? 100 : static_cast<int>(entryDone_ * 100 / entrySize_);
    Draw();
}

void ProgressLine::EndEntry() {
    doneBytes_ += entrySize_;
    entrySize_ = 0;
    entryDone_ = 0;
    percent_ = 0;
}

std::string ProgressLine::Text() const {
    const uint64_t done = doneBytes_ + entryDone_;
    const std::string head = "[" + std::to_string(number_) + "/" + std::to_string(entries_) + "] ";
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", percent_);
    const std::string tail =
        std::string("  ") + percent + "  " + HumanSize(done) + " of " + HumanSize(totalBytes_);
    std::string name = Printable(name_);
    const size_t fixed = head.size() + tail.size();
    const size_t room = kMaxWidth > fixed + 4 ? kMaxWidth - fixed : 4;
    if (name.size() > room)
        name = "..." + name.substr(name.size() - (room - 3));
    return head + name + tail;
}

void ProgressLine::Draw() {
    if (!enabled_)
        return;
    const std::string text = Text();
    if (drawnWidth_ != 0 && text == drawn_)
        return;
    drawn_ = text;
    std::string line = "\r" + text;
    if (text.size() < drawnWidth_)
        line += std::string(drawnWidth_ - text.size(), ' ') + "\r" + text;
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    drawnWidth_ = text.size();
}

void ProgressLine::Clear() {
    if (!enabled_ || drawnWidth_ == 0)
        return;
    std::fputs(("\r" + std::string(drawnWidth_, ' ') + "\r").c_str(), stderr);
    std::fflush(stderr);
    drawnWidth_ = 0;
}

}  // namespace qzcli
