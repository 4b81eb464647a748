#if !defined(_WIN32)

#include <csignal>
#include <cstring>
#include <unistd.h>

#include "interrupt.h"

namespace qzcli {
namespace {

void OnSignal(int) {
    CleanUpAfterInterrupt();
    _exit(kExitInterrupted);
}

}  // namespace

void WriteFromHandler(const char *text) {
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = write(STDERR_FILENO, text, left);
        if (n <= 0)
            return;
        text += n;
        left -= static_cast<size_t>(n);
    }
}

void RemoveFileInHandler(const char *path) { unlink(path); }

void RemoveDirectoryInHandler(const char *path) { rmdir(path); }

void InstallInterruptHandler() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Both signals are held while one is being handled.
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace qzcli

#endif  // !_WIN32
