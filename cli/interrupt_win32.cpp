#if defined(_WIN32)

#include <windows.h>

#include <cstring>

#include "interrupt.h"

namespace qzcli {
namespace {

HANDLE gMainThread = nullptr;

// Runs on a thread of its own. The main thread is stopped where it is (it
// may be inside the library, writing an entry); the files it still has open
// are closed so that they can be deleted, and the process ends.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (gMainThread != nullptr)
        SuspendThread(gMainThread);
    const HANDLE keep[] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                           GetStdHandle(STD_ERROR_HANDLE), gMainThread};
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

}  // namespace

void WriteFromHandler(const char *text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written,
              nullptr);
}

void RemoveFileInHandler(const char *path) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
}

void RemoveDirectoryInHandler(const char *path) { RemoveDirectoryA(path); }

void InstallInterruptHandler() {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &gMainThread, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace qzcli

#endif  // _WIN32
