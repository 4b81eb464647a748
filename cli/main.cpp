// qzarc: lists, tests, extracts and creates QZ archives. Reading goes
// through the library's handle API only; creation uses the archive writer.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "commands.h"
#include "codepage.h"
#include "console.h"
#include "interrupt.h"
#include "options.h"

int main(int argc, char **argv) {
    using namespace qzcli;
    const std::vector<std::string> args(argv + 1, argv + argc);
    Options options;
    std::string error;
    if (!ParseArguments(args, &options, &error)) {
        Err(error + " (qzarc --help shows the usage)");
        return kExitUsage;
    }
    if (options.version) {
        Out(VersionText());
        return kExitOk;
    }
    if (options.help) {
        std::fputs(HelpText(options.command).c_str(), stdout);
        return kExitOk;
    }
    InstallInterruptHandler();
    // Lines gathered for standard output go out however the command ends.
    std::atexit(FlushOutput);
    ChooseCodePage(options.codepage, options.utf8);
    try {
        switch (options.command) {
        case Command::List:
            return RunList(options);
        case Command::Test:
            return RunTest(options);
        case Command::Extract:
            return RunExtract(options);
        case Command::Add:
            return RunAdd(options);
        case Command::None:
            break;
        }
    } catch (const std::bad_alloc &) {
        Err("out of memory");
        return kExitUsage;
    } catch (const std::exception &e) {
        Err(std::string("unexpected failure: ") + e.what());
        return kExitUsage;
    }
    return kExitUsage;
}
