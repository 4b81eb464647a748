// The --help texts and --version.
#include "options.h"

#ifndef QZARC_VERSION_STRING
#define QZARC_VERSION_STRING "unknown"
#endif

namespace qzcli {

std::string VersionText() { return std::string("qzarc ") + QZARC_VERSION_STRING; }

std::string HelpText(Command command) {
    switch (command) {
    case Command::List:
        return "usage: qzarc l ARCHIVE\n"
               "\n"
               "Lists the entries of ARCHIVE, one line each: size, compressed size, ratio\n"
               "(compressed size as a share of the size), method (stored, deflate,\n"
               "deflate64), '*' when encrypted, last-write time as recorded, CRC-32 and\n"
               "name; then a line of totals. Later volumes of a split archive are read\n"
               "as the walk reaches them.\n"
               "\n"
               "Exit status: 0 all entries listed, 1 the archive is damaged or a volume is\n"
               "missing, 2 bad usage or the archive cannot be opened.\n";
    case Command::Test:
        return "usage: qzarc t ARCHIVE [-p PASSWORD] [PATTERN...]\n"
               "\n"
               "Tests the entries of ARCHIVE (those matching a PATTERN, if any given):\n"
               "each is extracted into a private temporary directory, checked against\n"
               "its recorded size and CRC-32, and removed again. Prints OK or the reason\n"
               "for every entry.\n"
               "\n"
               "  -p PASSWORD  password of encrypted entries; without it, it is asked for\n"
               "               on a terminal (and again after a wrong one)\n"
               "\n"
               "Exit status: 0 all entries OK, 1 some failed, 2 bad usage or the archive\n"
               "cannot be opened.\n";
    case Command::Extract:
        return "usage: qzarc x ARCHIVE [-o DIR] [-p PASSWORD] [-y | -n] [PATTERN...]\n"
               "\n"
               "Extracts the entries of ARCHIVE (those matching a PATTERN, if any given)\n"
               "into DIR, creating the directories their names contain ('\\' and '/' both\n"
               "separate). Files get the recorded times and attributes, read-only\n"
               "included. Names that are absolute, start with a drive letter, contain a\n"
               "'..' component or control characters are refused and skipped: nothing\n"
               "is written outside DIR, nor through a symbolic link inside it.\n"
               "\n"
               "  -o DIR       destination (default: the current directory; created if\n"
               "               missing)\n"
               "  -p PASSWORD  password of encrypted entries; without it, it is asked for\n"
               "               on a terminal, once, and again after a wrong one\n"
               "  -y           overwrite existing files without asking\n"
               "  -n           never overwrite existing files\n"
               "\n"
               "Without -y or -n existing files are asked about on a terminal, and\n"
               "skipped (with a message) otherwise. PATTERNs are shell-style globs on the\n"
               "names as recorded: '*' (also across directories), '?', [a-z], [!a-z].\n"
               "A missing volume is asked for on a terminal.\n"
               "\n"
               "Exit status: 0 everything extracted (or skipped with -n or by your\n"
               "answer), 1 some entries failed or were skipped for safety, 2 bad usage or\n"
               "the archive cannot be opened.\n";
    case Command::Add:
        return "usage: qzarc a ARCHIVE [-m store|deflate] [-l 0-9] [-p PASSWORD]\n"
               "                      [-v SIZE[k|m|g]] [-y] PATH...\n"
               "\n"
               "Creates ARCHIVE from the files given and the files below the directories\n"
               "given. Names are recorded relative, as given on the command line (an\n"
               "absolute PATH or one with '..' is recorded from its last component on),\n"
               "with '\\' between directories; times and attributes (read-only) are\n"
               "recorded too. Directories themselves are not recorded: they come back\n"
               "from the names of the files in them, so empty directories are lost.\n"
               "Symbolic links to files are followed; links to directories and special\n"
               "files are skipped.\n"
               "\n"
               "  -m METHOD    store, or deflate (the default); an entry that deflate\n"
               "               would not make smaller is stored\n"
               "  -l LEVEL     deflate level 0-9 (default 6)\n"
               "  -p PASSWORD  encrypt every entry with PASSWORD\n"
               "  -v SIZE      split into volumes of at most SIZE bytes (k, m, g: KiB, MiB,\n"
               "               GiB). Volume k is named by replacing the archive name's last\n"
               "               three characters with k as three digits (x.qza, x.001,\n"
               "               ...); every cut lies inside an entry's data, so an archive\n"
               "               with too little data per SIZE cannot be split\n"
               "  -y           replace ARCHIVE if it exists\n"
               "\n"
               "Exit status: 0 all files added, 1 some files were skipped, 2 bad usage or\n"
               "the archive cannot be written.\n";
    case Command::None:
        break;
    }
    return "usage: qzarc COMMAND ARCHIVE [OPTIONS] [ARGUMENTS]\n"
           "\n"
           "Commands:\n"
           "  l ARCHIVE                      list the entries\n"
           "  t ARCHIVE [-p PW] [PATTERN...]  test the entries\n"
           "  x ARCHIVE [-o DIR] [-p PW] [-y | -n] [PATTERN...]\n"
           "                                 extract the entries\n"
           "  a ARCHIVE [-m store|deflate] [-l 0-9] [-p PW] [-v SIZE] [-y] PATH...\n"
           "                                 create an archive\n"
           "\n"
           "'qzarc COMMAND --help' describes a command; 'qzarc --version' prints the\n"
           "version.\n"
           "\n"
           "Exit status: 0 everything done, 1 some entries failed or were skipped,\n"
           "2 bad usage or the archive cannot be opened.\n";
}

}  // namespace qzcli
