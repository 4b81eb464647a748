// What a command says about its entries, in archive order, whichever thread
// works on which entry and whenever it finishes. Entry n's lines are
// printed as they come once every entry before it has finished (n is then
// "live"); before that they are kept and printed when its turn comes. With
// one thread every entry is live while it is worked on, so nothing waits.
//
// A question to the user (overwrite, password, volume) is asked by the live
// entry only (WaitForTurn), so questions come in archive order as with one
// thread; while it is on the terminal (Hold), nothing else is printed, and
// the other threads go on working.
#ifndef QZARC_CLI_ORDERED_OUTPUT_H
#define QZARC_CLI_ORDERED_OUTPUT_H

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qzcli {

class ProgressLine;

class OrderedOutput {
public:
    // `entries` entries, numbered from 0 in archive order; the progress
    // line (or null) is held with the output.
    OrderedOutput(size_t entries, ProgressLine *progress);
    OrderedOutput(const OrderedOutput &) = delete;
    OrderedOutput &operator=(const OrderedOutput &) = delete;

    // Makes room for `entries` entries in all (never fewer than before).
    void Grow(size_t entries);
    // A line on standard output / a message on standard error, for entry n.
    void Out(size_t n, const std::string &line);
    void Err(size_t n, const std::string &message);
    // Entry n is finished; `finished` is called (under the object's lock)
    // with the number of entries printed whole so far whenever it grows.
    void Finish(size_t n);
    void OnPrinted(std::function<void(size_t printed)> printed);
    // Blocks until entry n is live.
    void WaitForTurn(size_t n);
    // Around a question on the terminal: one question at a time, from
    // whichever thread asks (Hold waits for the question before).
    void Hold();
    void Release();

private:
    struct Line {
        bool error;
        std::string text;
    };
    struct Kept {
        std::vector<Line> lines;
        bool finished = false;
    };

    void Add(size_t n, bool error, const std::string &text);
    void Print(const Line &line);
    // Prints what may be printed now (the lock is held).
    void Advance();

    std::mutex question_;
    std::mutex mutex_;
    std::condition_variable turn_;
    std::vector<Kept> kept_;
    size_t live_ = 0;   // the first entry not finished and printed
    int held_ = 0;
    ProgressLine *progress_;
    std::function<void(size_t)> printed_;
};

}  // namespace qzcli

#endif  // QZARC_CLI_ORDERED_OUTPUT_H
