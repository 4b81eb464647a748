#if defined(_WIN32)

#include <windows.h>

#include <cstdio>

#include "interrupt.h"
#include "terminal.h"

namespace qzcli {
namespace {

bool IsConsole(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

// GetConsoleMode succeeds only for a console: _isatty would also say yes for
// NUL, which is where non-interactive runs take their input from.
bool StdinIsTerminal() { return IsConsole(STD_INPUT_HANDLE); }

bool StderrIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }

bool StdoutIsTerminal() { return IsConsole(STD_OUTPUT_HANDLE); }

namespace {

DWORD gSavedMode = 0;

void RestoreConsole() { SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), gSavedMode); }

}  // namespace

EchoOff::EchoOff() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!GetConsoleMode(input, &gSavedMode))
        return;
    SetTerminalRestore(RestoreConsole);
    SetConsoleMode(input, gSavedMode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    active_ = true;
}

EchoOff::~EchoOff() {
    if (!active_)
        return;
    RestoreConsole();
    SetTerminalRestore(nullptr);
    std::fputc('\n', stderr);  // the Enter key was not echoed either
    std::fflush(stderr);
}

}  // namespace qzcli

#endif  // _WIN32
