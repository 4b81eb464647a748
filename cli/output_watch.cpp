#include "output_watch.h"

#include <chrono>

#include "files.h"
#include "progress.h"

namespace qzcli {

OutputWatch::OutputWatch(ProgressLine &progress, const std::string &path, bool active)
    : progress_(progress), path_(path) {
    if (active)
        thread_ = std::thread(&OutputWatch::Run, this);
}

OutputWatch::~OutputWatch() {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void OutputWatch::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return stop_; })) {
        SourceDetails details;
        std::string ignored;
        if (ReadSourceDetails(path_, &details, &ignored))
            progress_.EntryBytes(details.size);
    }
}

}  // namespace qzcli
