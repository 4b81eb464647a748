#if !defined(_WIN32)

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "interrupt.h"

namespace qzcli {
namespace {

void OnSignal(int) {
    if (!CleanUpAfterInterrupt())
        WaitForTheEnd();  // another thread is cleaning up and will end the process
    _exit(kExitInterrupted);
}

}  // namespace

// Every thread of the process ends with it.
void RegisterWorkerThread() {}
void ForgetWorkerThread() {}

void WaitForTheEnd() {
    for (;;)
        pause();
}

void PauseInHandler() {
    struct timespec pause = {0, 50 * 1000 * 1000};
    nanosleep(&pause, nullptr);
}

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

void WriteOutputFromHandler(const char *data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(STDOUT_FILENO, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<size_t>(n);
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
