#include "prompts.h"

#include "console.h"
#include "terminal.h"

namespace qzcli {

OverwriteReply AskOverwrite(const std::string &path) {
    for (;;) {
        Ask(Printable(path) + " exists. Replace it? [y]es, [n]o, [A]ll, [N]one, [r]ename: ");
        std::string answer;
        if (!ReadLine(&answer))
            return OverwriteReply::None;
        if (answer == "y" || answer == "Y" || answer == "yes")
            return OverwriteReply::Yes;
        if (answer == "n" || answer == "no")
            return OverwriteReply::No;
        if (answer == "A" || answer == "all")
            return OverwriteReply::All;
        if (answer == "N" || answer == "none")
            return OverwriteReply::None;
        if (answer == "r" || answer == "rename")
            return OverwriteReply::Rename;
    }
}

bool AskNewName(std::string *name) {
    Ask("New name: ");
    return ReadLine(name) && !name->empty();
}

bool AskPassword(const std::string &question, std::string *password) {
    EchoOff hidden;
    Ask(question);
    return ReadLine(password);
}

bool AskVolumePath(int number, const std::string &missing, std::string *path) {
    Ask("The archive continues in volume " + std::to_string(number) + ", but " + Printable(missing) +
        " is not there (or the archive is truncated).\nEnter the path of that volume, or an empty "
        "line to give up: ");
    return ReadLine(path) && !path->empty();
}

}  // namespace qzcli
