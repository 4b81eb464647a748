// Entry names between the archive's code page and the names of files here.
//
// Records hold names in a Windows ANSI code page, which is what the library
// hands to Windows hosts. On Windows the tool uses the system's ANSI code
// page on both sides, as the library does (or converts to and from the one
// --codepage names). On Linux, names are read as UTF-8 when they are valid
// UTF-8 and otherwise as code page 1252 (or always in the one --codepage
// names), and `a` writes them in code page 1252 (or --codepage's), or keeps
// UTF-8 with --utf8.
#ifndef QZARC_CLI_CODEPAGE_H
#define QZARC_CLI_CODEPAGE_H

#include <optional>
#include <string>

namespace qzcli {

// The choice for this run: a code page from --codepage, or none (the
// platform's default); utf8: `a` keeps names as UTF-8.
void ChooseCodePage(std::optional<unsigned> page, bool utf8);

// A name as recorded, for showing, matching and writing files here.
std::string NameFromArchive(const std::string &recorded);
// A file name here as it is to be recorded; false with *error when the code
// page cannot represent it.
bool NameForArchive(const std::string &local, std::string *recorded, std::string *error);

}  // namespace qzcli

#endif  // QZARC_CLI_CODEPAGE_H
