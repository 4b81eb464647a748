#if !defined(_WIN32)

#include "terminal.h"

#include <cstdio>
#include <termios.h>
#include <unistd.h>

#include "interrupt.h"

namespace qzcli {
namespace {

// The terminal's settings while echo is off, for the interrupt handler to
// put back: an interrupted password prompt must not leave echo off.
struct termios gSavedTerminal;

void RestoreTerminal() { tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal); }

}  // namespace

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

EchoOff::EchoOff() {
    if (!StdinIsTerminal() || tcgetattr(STDIN_FILENO, &gSavedTerminal) != 0)
        return;
    struct termios quiet = gSavedTerminal;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;  // the Enter key still ends the line visibly
    SetTerminalRestore(RestoreTerminal);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    active_ = true;
}

EchoOff::~EchoOff() {
    if (!active_)
        return;
    RestoreTerminal();
    SetTerminalRestore(nullptr);
}

}  // namespace qzcli

#endif  // !_WIN32
