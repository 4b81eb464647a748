// The command line: qzarc COMMAND ARCHIVE [OPTIONS] [OPERANDS], options
// anywhere after the command, "--" ending them.
#ifndef QZARC_CLI_OPTIONS_H
#define QZARC_CLI_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qzcli {

enum class Command { None, List, Test, Extract, Add };

enum class Method { Store, Deflate };

struct Options {
    Command command = Command::None;
    bool help = false;     // --help, alone or after a command
    bool version = false;  // --version
    std::string archive;
    std::vector<std::string> operands;  // patterns (t, x) or paths (a)

    std::optional<std::string> outputDir;  // x -o
    std::optional<std::string> password;   // t, x, a -p
    bool overwrite = false;                // x -y, a -y
    bool skipExisting = false;             // x -n
    Method method = Method::Deflate;       // a -m
    int level = 6;                         // a -l
    std::optional<uint64_t> volumeSize;    // a -v

    std::vector<std::string> excludes;     // l, t, x -x PATTERN
    bool junkPaths = false;                // x -j
    bool toStdout = false;                 // x -c, --stdout
    bool askPassword = false;              // a -e
    bool json = false;                     // l --json
    bool scan = false;                     // t, x --scan
    std::optional<unsigned> codepage;      // --codepage N
    bool utf8 = false;                     // a --utf8
    std::optional<unsigned> threads;       // t, x -T N, --threads N (default: every processor)
};

// False, with the message in *error, on bad usage.
bool ParseArguments(const std::vector<std::string> &args, Options *options, std::string *error);

// "1k" = 1024, "2m", "3g", or plain bytes. False when not a positive size.
bool ParseSize(const std::string &text, uint64_t *size);

// --help text of a command (Command::None: the overview).
std::string HelpText(Command command);
std::string VersionText();

}  // namespace qzcli

#endif  // QZARC_CLI_OPTIONS_H
