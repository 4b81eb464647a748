#include "ordered_output.h"

#include "console.h"
#include "progress.h"

namespace qzcli {

OrderedOutput::OrderedOutput(size_t entries, ProgressLine *progress)
    : kept_(entries), progress_(progress) {}

void OrderedOutput::Grow(size_t entries) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries > kept_.size())
        kept_.resize(entries);
}

void OrderedOutput::OnPrinted(std::function<void(size_t)> printed) {
    std::lock_guard<std::mutex> lock(mutex_);
    printed_ = std::move(printed);
}

void OrderedOutput::Print(const Line &line) {
    if (line.error)
        qzcli::Err(line.text);
    else
        qzcli::Out(line.text);
}

void OrderedOutput::Add(size_t n, bool error, const std::string &text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (n == live_ && held_ == 0 && kept_[n].lines.empty())
        Print({error, text});
    else
        kept_[n].lines.push_back({error, text});
}

void OrderedOutput::Out(size_t n, const std::string &line) { Add(n, false, line); }

void OrderedOutput::Err(size_t n, const std::string &message) { Add(n, true, message); }

void OrderedOutput::Advance() {
    if (held_ != 0)
        return;
    const size_t before = live_;
    while (live_ < kept_.size()) {
        Kept &kept = kept_[live_];
        for (const Line &line : kept.lines)
            Print(line);
        kept.lines.clear();
        kept.lines.shrink_to_fit();
        if (!kept.finished)
            break;
        ++live_;
    }
    if (live_ != before) {
        if (printed_)
            printed_(live_);
        turn_.notify_all();
    }
}

void OrderedOutput::Finish(size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    kept_[n].finished = true;
    Advance();
}

void OrderedOutput::WaitForTurn(size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    turn_.wait(lock, [&] { return live_ >= n; });
    // What the entry said before its turn came is out before its question.
    if (held_ == 0)
        Advance();
}

void OrderedOutput::Hold() {
    question_.lock();
    std::lock_guard<std::mutex> lock(mutex_);
    ++held_;
    if (progress_ != nullptr)
        progress_->Hold();
}

void OrderedOutput::Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (progress_ != nullptr)
        progress_->Release();
    if (held_ > 0 && --held_ == 0)
        Advance();
    question_.unlock();
}

}  // namespace qzcli
