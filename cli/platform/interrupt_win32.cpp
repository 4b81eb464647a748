#if defined(_WIN32)

#include <windows.h>

#include <atomic>
#include <cstring>

#include "interrupt.h"

namespace qzcli {
namespace {

// The threads that may be inside the library writing an entry: the main
// thread and the workers. Slot 0 is the main thread.
constexpr size_t kThreadSlots = 257;
std::atomic<HANDLE> gThreads[kThreadSlots];
thread_local size_t tSlot = 0;

// Runs on a thread of its own. The working threads are stopped where they
// are; the files they still have open are closed so that they can be
// deleted, and the process ends.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    for (std::atomic<HANDLE> &thread : gThreads) {
        if (HANDLE h = thread.load())
            SuspendThread(h);
    }
    const HANDLE keep[] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                           GetStdHandle(STD_ERROR_HANDLE)};
    for (uintptr_t value = 4; value < 0x10000; value += 4) {
        const HANDLE h = reinterpret_cast<HANDLE>(value);
        bool kept = false;
        for (HANDLE k : keep)
            kept = kept || k == h;
        if (!kept && GetFileType(h) == FILE_TYPE_DISK)
            CloseHandle(h);
    }
    CleanUpAfterInterrupt();
    ExitProcess(kExitInterrupted);
    return TRUE;
}

HANDLE CurrentThreadHandle() {
    HANDLE h = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &h, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    return h;
}

}  // namespace

void WriteFromHandler(const char *text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written,
              nullptr);
}

void WriteOutputFromHandler(const char *data, size_t size) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), data, static_cast<DWORD>(size), &written, nullptr);
}

void RemoveFileInHandler(const char *path) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
}

void RemoveDirectoryInHandler(const char *path) { RemoveDirectoryA(path); }

void RegisterWorkerThread() {
    const HANDLE h = CurrentThreadHandle();
    for (size_t i = 1; i < kThreadSlots; ++i) {
        HANDLE empty = nullptr;
        if (gThreads[i].compare_exchange_strong(empty, h)) {
            tSlot = i;
            return;
        }
    }
    CloseHandle(h);  // more workers than slots: not possible with the thread limit
}

void ForgetWorkerThread() {
    if (tSlot == 0)
        return;
    const HANDLE h = gThreads[tSlot].exchange(nullptr);
    tSlot = 0;
    if (h != nullptr)
        CloseHandle(h);
}

void WaitForTheEnd() {
    for (;;)
        Sleep(INFINITE);
}

void PauseInHandler() { Sleep(50); }

void InstallInterruptHandler() {
    gThreads[0] = CurrentThreadHandle();
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace qzcli

#endif  // _WIN32
