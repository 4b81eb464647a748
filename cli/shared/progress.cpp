#include "progress.h"

#include <cstdio>

#include "console.h"
#include "interrupt.h"

namespace qzcli {
namespace {

// Wider lines would wrap on a classic 80-column terminal and then no longer
// be redrawn in place.
constexpr size_t kMaxWidth = 79;

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
    ConsoleLock lock;
    entries_ = entries;
    totalBytes_ = totalBytes;
    doneBytes_ = 0;
    working_.clear();
}

void ProgressLine::StartEntry(size_t number, const std::string &name, uint64_t size) {
    // Without a line to draw, nothing is kept: the workers need not meet
    // here once per entry.
    if (!enabled_)
        return;
    ConsoleLock lock;
    number_ = number;
    name_ = name;
    working_[number] = Started{size, 0};
    Draw();
}

void ProgressLine::EntryBytes(size_t number, uint64_t done) {
    ConsoleLock lock;
    auto it = working_.find(number);
    if (it == working_.end())
        return;
    it->second.done = done < it->second.size ? done : it->second.size;
    Draw();
}

void ProgressLine::EndEntry(size_t number) {
    if (!enabled_)
        return;
    ConsoleLock lock;
    auto it = working_.find(number);
    if (it == working_.end())
        return;
    doneBytes_ += it->second.size;
    working_.erase(it);
}

void ProgressLine::Hold() {
    ConsoleLock lock;
    Clear();
    ++held_;
}

void ProgressLine::Release() {
    ConsoleLock lock;
    if (held_ > 0)
        --held_;
}

std::string ProgressLine::Text() const {
    ConsoleLock lock;
    uint64_t done = doneBytes_;
    int percent = 0;
    for (const auto &started : working_) {
        done += started.second.done;
        if (started.first == number_)
            percent = started.second.size == 0
                          ? 0
                          : static_cast<int>(started.second.done * 100 / started.second.size);
    }
    const std::string head = "[" + std::to_string(number_) + "/" + std::to_string(entries_) + "] ";
    char shown[8];
    std::snprintf(shown, sizeof shown, "%3d%%", percent);
    const std::string tail =
        std::string("  ") + shown + "  " + HumanSize(done) + " of " + HumanSize(totalBytes_);
    std::string name = Printable(name_);
    const size_t fixed = head.size() + tail.size();
    const size_t room = kMaxWidth > fixed + 4 ? kMaxWidth - fixed : 4;
    if (name.size() > room)
        name = "..." + name.substr(name.size() - (room - 3));
    return head + name + tail;
}

void ProgressLine::Draw() {
    // Once the interrupt handler has begun, its report has the terminal:
    // workers still running draw nothing over it.
    if (!enabled_ || held_ > 0 || Interrupted())
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
    ConsoleLock lock;
    if (!enabled_ || drawnWidth_ == 0)
        return;
    std::fputs(("\r" + std::string(drawnWidth_, ' ') + "\r").c_str(), stderr);
    std::fflush(stderr);
    drawnWidth_ = 0;
}

}  // namespace qzcli
