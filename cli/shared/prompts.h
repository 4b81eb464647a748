// Questions to the user on the terminal. Each is asked only when standard
// input is a terminal; the callers decide what happens otherwise.
#ifndef QZARC_CLI_PROMPTS_H
#define QZARC_CLI_PROMPTS_H

#include <string>

namespace qzcli {

enum class OverwriteReply { Yes, No, All, None, Rename };

// "FILE exists. Replace it?" End of input answers None.
OverwriteReply AskOverwrite(const std::string &path);
// The new name for a file the user chose to rename (one name, no
// directories); false at end of input or on an empty line.
bool AskNewName(std::string *name);

// Reads a password without echo. False at end of input.
bool AskPassword(const std::string &question, std::string *password);

// Asks where a missing volume is. False when the user gives up (empty line
// or end of input); otherwise *path is the file to try.
bool AskVolumePath(int number, const std::string &missing, std::string *path);

}  // namespace qzcli

#endif  // QZARC_CLI_PROMPTS_H
