#include "options.h"

#include <cctype>

namespace qzcli {
namespace {

constexpr uint64_t kLargestVolume = 0x7FFFFFFFu;

struct CommandName {
    const char *shortName;
    const char *longName;
    Command command;
    const char *options;  // the single-letter options the command takes
};

const CommandName kCommands[] = {
    {"l", "list", Command::List, "x"},
    {"t", "test", Command::Test, "pxT"},
    {"x", "extract", Command::Extract, "opynxjcT"},
    {"a", "add", Command::Add, "mlpvye"},
};

bool TakesValue(char option) {
    return option == 'o' || option == 'p' || option == 'm' || option == 'l' || option == 'v' ||
           option == 'x' || option == 'T';
}

struct LongOption {
    const char *name;
    const char *commands;  // the short names of the commands that take it
    bool value;
};

const LongOption kLongOptions[] = {
    {"stdout", "x", false},
    {"json", "l", false},
    {"scan", "tx", false},
    {"codepage", "ltxa", true},
    {"utf8", "a", false},
    {"threads", "tx", true},
};

// More threads than this would only wait for the disk and for each other.
constexpr unsigned kMostThreads = 64;

bool ParseThreads(const std::string &value, Options *options, std::string *error) {
    unsigned count = 0;
    for (char c : value) {
        if (c < '0' || c > '9' || count > kMostThreads) {
            count = 0;
            break;
        }
        count = count * 10 + static_cast<unsigned>(c - '0');
    }
    if (count == 0 || count > kMostThreads) {
        *error = "the number of threads must be 1 to " + std::to_string(kMostThreads) + ", not '" +
                 value + "'";
        return false;
    }
    options->threads = count;
    return true;
}

// The code pages names can be read and written in.
bool KnownCodePage(unsigned page) {
    for (unsigned known : {437u, 850u, 1250u, 1251u, 1252u, 932u, 936u})
        if (page == known)
            return true;
    return false;
}

bool ApplyLongOption(const std::string &name, const std::string &value, Options *options,
                     std::string *error) {
    if (name == "stdout") {
        options->toStdout = true;
    } else if (name == "json") {
        options->json = true;
    } else if (name == "scan") {
        options->scan = true;
    } else if (name == "utf8") {
        options->utf8 = true;
    } else if (name == "threads") {
        return ParseThreads(value, options, error);
    } else if (name == "codepage") {
        unsigned page = 0;
        for (char c : value) {
            if (c < '0' || c > '9' || page > 100000) {
                page = 0;
                break;
            }
            page = page * 10 + static_cast<unsigned>(c - '0');
        }
        if (!KnownCodePage(page)) {
            *error = "unknown code page '" + value + "' (437, 850, 1250, 1251, 1252, 932 or 936)";
            return false;
        }
        options->codepage = page;
    }
    return true;
}

bool ApplyOption(char option, const std::string &value, Options *options, std::string *error) {
    switch (option) {
    case 'o':
        if (value.empty()) {
            *error = "-o needs a directory";
            return false;
        }
        options->outputDir = value;
        return true;
    case 'p':
        options->password = value;
        return true;
    case 'y':
        options->overwrite = true;
        return true;
    case 'n':
        options->skipExisting = true;
        return true;
    case 'x':
        options->excludes.push_back(value);
        return true;
    case 'j':
        options->junkPaths = true;
        return true;
    case 'c':
        options->toStdout = true;
        return true;
    case 'e':
        options->askPassword = true;
        return true;
    case 'T':
        return ParseThreads(value, options, error);
    case 'm':
        if (value == "store") {
            options->method = Method::Store;
        } else if (value == "deflate") {
            options->method = Method::Deflate;
        } else {
            *error = "unknown method '" + value + "' (store or deflate)";
            return false;
        }
        return true;
    case 'l':
        if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
            *error = "the level must be 0 to 9, not '" + value + "'";
            return false;
        }
        options->level = value[0] - '0';
        return true;
    case 'v': {
        uint64_t size = 0;
        if (!ParseSize(value, &size)) {
            *error = "bad volume size '" + value + "' (bytes, or a number with k, m or g)";
            return false;
        }
        if (size > kLargestVolume) {
            *error = "-v " + value + ": a volume must stay below 2 GiB (the format's positions are "
                     "32-bit); the largest is 2147483647 bytes, e.g. -v 2047m";
            return false;
        }
        options->volumeSize = size;
        return true;
    }
    default:
        return false;
    }
}

}  // namespace

bool ParseSize(const std::string &text, uint64_t *size) {
    uint64_t value = 0;
    size_t i = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0; ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    if (i == 0)
        return false;
    int shift = 0;
    if (i + 1 == text.size()) {
        switch (std::tolower(static_cast<unsigned char>(text[i]))) {
        case 'k':
            shift = 10;
            break;
        case 'm':
            shift = 20;
            break;
        case 'g':
            shift = 30;
            break;
        default:
            return false;
        }
    } else if (i != text.size()) {
        return false;
    }
    if (value == 0 || value > (UINT64_MAX >> shift))
        return false;
    *size = value << shift;
    return true;
}

bool ParseArguments(const std::vector<std::string> &args, Options *options, std::string *error) {
    *options = Options();
    if (args.empty()) {
        *error = "no command given";
        return false;
    }
    const std::string &first = args[0];
    if (first == "--help" || first == "-h" || first == "help") {
        options->help = true;
        return true;
    }
    if (first == "--version") {
        options->version = true;
        return true;
    }
    const CommandName *command = nullptr;
    for (const CommandName &c : kCommands) {
        if (first == c.shortName || first == c.longName)
            command = &c;
    }
    if (command == nullptr) {
        *error = "unknown command '" + first + "'";
        return false;
    }
    options->command = command->command;
    const std::string allowed = command->options;

    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            options->help = true;
            continue;
        }
        if (arg[1] == '-') {
            // --name or --name=value
            const size_t equals = arg.find('=');
            const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const LongOption *known = nullptr;
            for (const LongOption &o : kLongOptions) {
                if (name == o.name && std::string(o.commands).find(command->shortName) != std::string::npos)
                    known = &o;
            }
            if (known == nullptr || (!known->value && equals != std::string::npos)) {
                *error = "'" + arg + "' is not an option of '" + command->longName + "'";
                return false;
            }
            std::string value;
            if (known->value) {
                if (equals != std::string::npos) {
                    value = arg.substr(equals + 1);
                } else if (i + 1 < args.size()) {
                    value = args[++i];
                } else {
                    *error = "--" + name + " needs a value";
                    return false;
                }
            }
            if (!ApplyLongOption(name, value, options, error))
                return false;
            continue;
        }
        const char option = arg[1];
        if (allowed.find(option) == std::string::npos) {
            *error = "'" + arg + "' is not an option of '" + command->longName + "'";
            return false;
        }
        std::string value;
        if (TakesValue(option)) {
            if (arg.size() > 2) {
                value = arg.substr(2);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                *error = std::string("-") + option + " needs a value";
                return false;
            }
        } else if (arg.size() > 2) {
            *error = "'" + arg + "' is not an option of '" + command->longName + "'";
            return false;
        }
        if (!ApplyOption(option, value, options, error))
            return false;
    }
    if (options->help)
        return true;

    if (options->overwrite && options->skipExisting) {
        *error = "-y and -n exclude each other";
        return false;
    }
    if (operands.empty()) {
        *error = "no archive given";
        return false;
    }
    options->archive = operands[0];
    options->operands.assign(operands.begin() + 1, operands.end());
    if (options->password && options->askPassword) {
        *error = "-p and -e exclude each other";
        return false;
    }
    if (options->toStdout && (options->outputDir || options->overwrite || options->skipExisting)) {
        *error = "--stdout writes to standard output: -o, -y and -n do not apply";
        return false;
    }
    if (options->utf8 && options->codepage) {
        *error = "--utf8 and --codepage exclude each other";
        return false;
    }
    if (options->command == Command::Add && options->operands.empty()) {
        *error = "nothing to add: give the files and directories after the archive";
        return false;
    }
    return true;
}

}  // namespace qzcli
