// What an interrupted command leaves behind: nothing it had not finished.
//
// SIGINT and SIGTERM (a console Ctrl-C or Ctrl-Break on Windows) may come
// while the library is inside a call writing an entry, on any of the
// command's worker threads, which cannot be stopped from outside. So the
// files a command is still working on are registered here beforehand, and
// the interrupt handler itself removes them (and the command's private
// temporary directory), puts the terminal back, prints what had been done
// and ends the process with status 130. Files that are complete are no
// longer registered and stay. A worker that registers a file once the
// handler has begun stops there, before it creates it.
#ifndef QZARC_CLI_INTERRUPT_H
#define QZARC_CLI_INTERRUPT_H

#include <cstddef>
#include <string>

namespace qzcli {

constexpr int kExitInterrupted = 130;

// Installs the handler; once per process, before any work is done.
void InstallInterruptHandler();

// A file to remove on interrupt, and the end of that.
void RemoveOnInterrupt(const std::string &path);
void ForgetOnInterrupt(const std::string &path);
// A worker thread, for the length of its work: on Windows the handler
// stops it (so that its open files can be closed and removed).
void RegisterWorkerThread();
void ForgetWorkerThread();
// A directory to remove (after the files) on interrupt, until forgotten.
void RemoveDirectoryOnInterrupt(const std::string &path);
// The line that says what had been done, printed on interrupt after
// "qzarc: interrupted; ".
void SetInterruptReport(const std::string &text);

// The terminal's state to put back on interrupt, by whoever changed it
// (echo off for a password); nullptr when there is nothing to restore.
void SetTerminalRestore(void (*restore)());

// For the platform handlers: removes the registered files and directory
// and prints the report, using only calls that are safe in a handler.
// False when another thread is already doing it.
bool CleanUpAfterInterrupt();
// True once the handler has begun.
bool Interrupted();
// For the platform side: never returns (the handler ends the process).
[[noreturn]] void WaitForTheEnd();
// Pauses the handler briefly (a worker that had just registered a file may
// create it meanwhile: the files are then removed once more).
void PauseInHandler();
// Writes text to standard error from a handler.
void WriteFromHandler(const char *text);
// Writes bytes to standard output (also usable outside a handler).
void WriteOutputFromHandler(const char *data, size_t size);
void RemoveFileInHandler(const char *path);
void RemoveDirectoryInHandler(const char *path);

}  // namespace qzcli

#endif  // QZARC_CLI_INTERRUPT_H
