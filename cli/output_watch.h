// Progress for the entries the library gives no reports for (stored ones):
// while the library writes the entry, a second thread looks at the output
// file's size a few times a second and moves the progress line on. The
// main thread is inside the library call meanwhile and does not touch the
// line until the watcher has stopped.
#ifndef QZARC_CLI_OUTPUT_WATCH_H
#define QZARC_CLI_OUTPUT_WATCH_H

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace qzcli {

class ProgressLine;

class OutputWatch {
public:
    // Does nothing unless active.
    OutputWatch(ProgressLine &progress, const std::string &path, bool active);
    ~OutputWatch();  // stops and joins the watcher
    OutputWatch(const OutputWatch &) = delete;
    OutputWatch &operator=(const OutputWatch &) = delete;

private:
    void Run();

    ProgressLine &progress_;
    std::string path_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace qzcli

#endif  // QZARC_CLI_OUTPUT_WATCH_H
