// The terminal: whether the standard streams are attached to one, and
// reading answers from it (a password without echo).
#ifndef QZARC_CLI_TERMINAL_H
#define QZARC_CLI_TERMINAL_H

#include <string>

namespace qzcli {

// Questions are asked only when standard input is a terminal (a console on
// Windows; the NUL device, which also counts as a character device, does not).
bool StdinIsTerminal();
// The progress line is drawn only when standard error is a terminal.
bool StderrIsTerminal();
bool StdoutIsTerminal();

// One line from standard input without its line end; false at end of input.
bool ReadLine(std::string *line);

// Turns the terminal's echo off for the object's lifetime (when standard
// input is a terminal), so that a password can be typed unseen. Made before
// the prompt is shown: whatever is typed once the prompt is there stays
// hidden, and nothing typed ahead is discarded.
class EchoOff {
public:
    EchoOff();
    ~EchoOff();
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;

private:
    bool active_ = false;
};

}  // namespace qzcli

#endif  // QZARC_CLI_TERMINAL_H
