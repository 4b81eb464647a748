// Messages and results on the standard streams. Everything printed goes
// through here so that a progress line on the terminal is wiped first and
// names from an archive never reach the terminal as control sequences.
#ifndef QZARC_CLI_CONSOLE_H
#define QZARC_CLI_CONSOLE_H

#include <cstddef>
#include <mutex>
#include <string>

namespace qzcli {

class ProgressLine;

// An archive name or path made safe to print: control bytes become "\xNN".
std::string Printable(const std::string &text);

// A line on standard output.
void Out(const std::string &line);
// Writes out the lines standard output still holds (at exit).
void FlushOutput();
// The same from the interrupt handler, when no thread is changing them.
void FlushOutputFromHandler();
// "qzarc: " and the message, on standard error.
void Err(const std::string &message);
// Text on standard error without a line end (the start of a question).
void Ask(const std::string &question);

// Bytes, unchanged, to standard output (an entry's data).
bool WriteToStandardOutput(const void *data, size_t size, std::string *error);

// The progress line to wipe before anything else is printed (or none).
void SetProgressLine(ProgressLine *line);

// Held by whatever writes to the terminal, so that lines from several
// threads (and the progress line) never run into each other. It may be
// taken again by the thread that holds it.
class ConsoleLock {
public:
    ConsoleLock();
    ~ConsoleLock();
    ConsoleLock(const ConsoleLock &) = delete;
    ConsoleLock &operator=(const ConsoleLock &) = delete;
};

}  // namespace qzcli

#endif  // QZARC_CLI_CONSOLE_H
