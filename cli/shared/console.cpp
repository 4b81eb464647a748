#include "console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include <atomic>
#include <chrono>

#include "interrupt.h"
#include "progress.h"
#include "terminal.h"

namespace qzcli {
namespace {

ProgressLine *gProgress = nullptr;
std::recursive_mutex gConsole;

// Lines for standard output when it is not a terminal (a file or a pipe)
// are gathered and written a few KiB at a time, at least every 100 ms and
// before anything goes to standard error: a command over thousands of
// small entries would otherwise spend a system call per line. They are
// held in a buffer of our own, not stdio's, so that the interrupt handler
// can still write out what it holds (Windows keeps stdio, whose text mode
// turns line ends into CR LF).
#if !defined(_WIN32)
constexpr size_t kPendingSize = 16384;
char gPending[kPendingSize];
size_t gPendingLength = 0;
// Set while a thread changes the buffer, and for good by the handler.
std::atomic<bool> gPendingBusy{false};
std::chrono::steady_clock::time_point gLastWrite;
int gStdoutTerminal = -1;  // unknown yet

bool StdoutBuffered() {
    if (gStdoutTerminal < 0)
        gStdoutTerminal = StdoutIsTerminal() ? 1 : 0;
    return gStdoutTerminal == 0;
}

// Under the console lock.
void FlushPending() {
    if (gPendingLength == 0 || gPendingBusy.exchange(true))
        return;
    WriteOutputFromHandler(gPending, gPendingLength);
    gPendingLength = 0;
    gLastWrite = std::chrono::steady_clock::now();
    gPendingBusy = false;
}

bool Pend(const std::string &line) {
    if (!StdoutBuffered())
        return false;
    if (gPendingLength + line.size() + 1 > kPendingSize)
        FlushPending();
    if (line.size() + 1 > kPendingSize || gPendingBusy.exchange(true))
        return false;
    std::memcpy(gPending + gPendingLength, line.data(), line.size());
    gPending[gPendingLength + line.size()] = '\n';
    gPendingLength += line.size() + 1;
    gPendingBusy = false;
    if (std::chrono::steady_clock::now() - gLastWrite > std::chrono::milliseconds(100))
        FlushPending();
    return true;
}
#else
void FlushPending() {}
bool Pend(const std::string &) { return false; }
#endif

void WipeProgress() {
    if (gProgress != nullptr)
        gProgress->Clear();
}

}  // namespace

std::string Printable(const std::string &text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

ConsoleLock::ConsoleLock() { gConsole.lock(); }

ConsoleLock::~ConsoleLock() { gConsole.unlock(); }

void FlushOutput() {
    ConsoleLock lock;
    FlushPending();
    std::fflush(stdout);
}

void FlushOutputFromHandler() {
#if !defined(_WIN32)
    if (gPendingLength != 0 && !gPendingBusy.exchange(true))
        WriteOutputFromHandler(gPending, gPendingLength);
#endif
}

void Out(const std::string &line) {
    ConsoleLock lock;
    if (Interrupted())
        return;  // the interrupt handler's report has the terminal
    WipeProgress();
    if (Pend(line))
        return;
    FlushPending();
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Err(const std::string &message) {
    ConsoleLock lock;
    if (Interrupted())
        return;
    WipeProgress();
    FlushPending();
    std::fflush(stdout);
    std::fputs("qzarc: ", stderr);
    std::fputs(message.c_str(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void Ask(const std::string &question) {
    ConsoleLock lock;
    WipeProgress();
    FlushPending();
    std::fflush(stdout);
    std::fputs(question.c_str(), stderr);
    std::fflush(stderr);
}

void SetProgressLine(ProgressLine *line) {
    ConsoleLock lock;
    gProgress = line;
}

bool WriteToStandardOutput(const void *data, size_t size, std::string *error) {
#if defined(_WIN32)
    // No line-end translation of the data.
    static const bool binary = _setmode(_fileno(stdout), _O_BINARY) != -1;
    (void)binary;
#endif
    FlushOutput();
    if (std::fwrite(data, 1, size, stdout) != size || std::fflush(stdout) != 0) {
        *error = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace qzcli
