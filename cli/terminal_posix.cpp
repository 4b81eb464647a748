#if !defined(_WIN32)

#include "terminal.h"

#include <csignal>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace qzcli {
namespace {

// The terminal's settings while echo is off, for the interrupt handler to
// put back: an interrupted password prompt must not leave echo off.
struct termios gSavedTerminal;
volatile sig_atomic_t gEchoOff = 0;
void (*gPreviousInt)(int) = SIG_DFL;
void (*gPreviousTerm)(int) = SIG_DFL;

void RestoreAndReraise(int signal) {
    if (gEchoOff != 0)
        tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

EchoOff::EchoOff() {
    if (!StdinIsTerminal() || tcgetattr(STDIN_FILENO, &gSavedTerminal) != 0)
        return;
    struct termios quiet = gSavedTerminal;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;  // the Enter key still ends the line visibly
    gPreviousInt = std::signal(SIGINT, RestoreAndReraise);
    gPreviousTerm = std::signal(SIGTERM, RestoreAndReraise);
    gEchoOff = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    active_ = true;
}

EchoOff::~EchoOff() {
    if (!active_)
        return;
    tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
    gEchoOff = 0;
    std::signal(SIGINT, gPreviousInt);
    std::signal(SIGTERM, gPreviousTerm);
}

}  // namespace qzcli

#endif  // !_WIN32
