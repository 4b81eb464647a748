// The --help texts and --version.
#include "options.h"

#ifndef QZARC_VERSION_STRING
#define QZARC_VERSION_STRING "unknown"
#endif

namespace qzcli {
namespace {

// Option lines that several commands share, word for word.
const char kScanHelp[] =
    "  --scan       recovery: where the walk stops at a damaged record or a\n"
    "               missing volume, search the rest of the archive for the next\n"
    "               plausible record and go on from there, naming the byte\n"
    "               ranges passed over\n";
const char kThreadsHelp[] =
    "  -T, --threads N\n"
    "               work on N entries at once, each thread with its own view\n"
    "               of the archive (default: the number of processors this\n"
    "               process may use; 1 works entry after entry). What is\n"
    "               printed stays in archive order either way\n";
const char kCodepageReadHelp[] =
    "  --codepage N read names in code page N (437, 850, 1250, 1251, 1252,\n"
    "               932, 936); by default names are read as UTF-8 when they\n"
    "               are valid UTF-8, else as 1252 (Windows: the system's ANSI\n"
    "               code page)\n";

}  // namespace

std::string VersionText() { return std::string("qzarc ") + QZARC_VERSION_STRING; }

std::string HelpText(Command command) {
    switch (command) {
    case Command::List:
        return "usage: qzarc l ARCHIVE [--json] [-x PATTERN]... [PATTERN...]\n"
               "\n"
               "Lists the entries of ARCHIVE (those matching a PATTERN, if any given, and\n"
               "no -x PATTERN), one line each: size, compressed size, ratio\n"
               "(compressed size as a share of the size), method (stored, deflate,\n"
               "deflate64), '*' when encrypted, last-write time as recorded, CRC-32 and\n"
               "name; then a line of totals. Later volumes of a split archive are read\n"
               "as the walk reaches them. An archive given as a pipe or device (say\n"
               "/dev/stdin) is read through a temporary copy.\n"
               "\n"
               "  -x PATTERN   leave out the entries matching PATTERN (may be repeated)\n"
               "  --json       the listing as JSON for scripts: one object per entry with\n"
               "               every field of its record header, times as ISO 8601 (local\n"
               "               time, as recorded) and as raw FILETIME\n"
               + std::string(kCodepageReadHelp) +
               "\n"
               "Exit status: 0 all entries listed, 1 the archive is damaged, a volume is\n"
               "missing or a PATTERN matches nothing, 2 bad usage or the archive cannot be\n"
               "opened, 130 interrupted.\n";
    case Command::Test:
        return "usage: qzarc t ARCHIVE [-p PASSWORD] [-T N] [--scan] [-x PATTERN]...\n"
               "                      [PATTERN...]\n"
               "\n"
               "Tests the entries of ARCHIVE (those matching a PATTERN, if any given):\n"
               "each is decoded and checked against its recorded size and CRC-32,\n"
               "nothing is written. Prints OK or the reason for every entry.\n"
               "\n"
               "  -p PASSWORD  password of encrypted entries; without it, it is asked for\n"
               "               on a terminal (and again after a wrong one)\n"
               + std::string(kThreadsHelp) +
               "  -x PATTERN   leave out the entries matching PATTERN (may be repeated)\n"
               + std::string(kScanHelp) + kCodepageReadHelp +
               "\n"
               "Exit status: 0 all entries OK, 1 some failed, a PATTERN matches nothing,\n"
               "the archive is damaged or a volume is missing (with --scan: damage was\n"
               "passed over), 2 bad usage or the archive cannot be opened, 130\n"
               "interrupted.\n";
    case Command::Extract:
        return "usage: qzarc x ARCHIVE [-o DIR | -c] [-p PASSWORD] [-y | -n] [-j] [-T N]\n"
               "                      [--scan] [-x PATTERN]... [PATTERN...]\n"
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
               "  -j           junk paths: every file straight into DIR, without the\n"
               "               directories of its name\n"
               "  -c, --stdout write the entries' data to standard output, one after the\n"
               "               other, and nothing to disk; the data is written as it is\n"
               "               decoded, and an entry that then fails its final check is\n"
               "               named on standard error (exit status 1)\n"
               + std::string(kThreadsHelp) +
               "  -x PATTERN   leave out the entries matching PATTERN (may be repeated)\n"
               + std::string(kScanHelp) + kCodepageReadHelp +
               "\n"
               "Without -y or -n existing files are asked about on a terminal (replace,\n"
               "keep, all, none, or a new name for the entry), and skipped (with a\n"
               "message) otherwise. PATTERNs are shell-style globs on the\n"
               "names as recorded: '*' (also across directories), '?', [a-z], [!a-z].\n"
               "A missing volume is asked for on a terminal.\n"
               "\n"
               "Exit status: 0 everything extracted (or skipped with -n or by your\n"
               "answer), 1 some entries failed or were skipped for safety, a PATTERN\n"
               "matches nothing, the archive is damaged or a volume is missing (with\n"
               "--scan: damage was passed over), 2 bad usage or the archive cannot be\n"
               "opened, 130 interrupted.\n";
    case Command::Add:
        return "usage: qzarc a ARCHIVE [-m store|deflate] [-l 0-9] [-p PASSWORD | -e]\n"
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
               "  -p PASSWORD  encrypt every entry with PASSWORD (visible to other users\n"
               "               in the process list; -e avoids that)\n"
               "  -e           encrypt, asking for the password (twice, unseen)\n"
               "  -v SIZE      split into volumes of at most SIZE bytes (k, m, g: KiB, MiB,\n"
               "               GiB). Volume k is named by replacing the archive name's last\n"
               "               three characters with k as three digits (x.qza, x.001,\n"
               "               ...); every cut lies inside an entry's data, so an archive\n"
               "               with too little data per SIZE cannot be split\n"
               "  --codepage N record names in code page N (437, 850, 1250, 1251, 1252,\n"
               "               932, 936) instead of 1252 (Windows: the system's ANSI code\n"
               "               page); a file whose name N cannot hold is skipped, named\n"
               "  --utf8       record names as UTF-8 (read back as such on Linux)\n"
               "  -y           replace ARCHIVE and the volumes it writes if they exist;\n"
               "               without it an existing file among them is named and kept.\n"
               "               Volumes of an older, longer set past the new last one stay.\n"
               "\n"
               "The entry cipher is the traditional one of this format: it is WEAK. It\n"
               "keeps out the casual reader, not a determined attacker; use real\n"
               "encryption for anything that matters.\n"
               "\n"
               "Files of 4 GiB or more cannot be recorded and are skipped. No volume may\n"
               "reach 2 GiB: an archive that would is refused (use -v), and -v takes at\n"
               "most 2147483647. The archive is written to temporary files beside it and\n"
               "takes its name when complete; interrupted, it leaves nothing behind.\n"
               "\n"
               "Exit status: 0 all files added, 1 some files were skipped, 2 bad usage,\n"
               "nothing to add or the archive cannot be written, 130 interrupted.\n";
    case Command::None:
        break;
    }
    return "usage: qzarc COMMAND ARCHIVE [OPTIONS] [ARGUMENTS]\n"
           "\n"
           "Commands:\n"
           "  l ARCHIVE [--json] [-x PAT] [PATTERN...]\n"
           "                                 list the entries\n"
           "  t ARCHIVE [-p PW] [-T N] [--scan] [-x PAT] [PATTERN...]\n"
           "                                 test the entries\n"
           "  x ARCHIVE [-o DIR | -c] [-p PW] [-y | -n] [-j] [-T N] [--scan] [-x PAT]\n"
           "            [PATTERN...]         extract the entries\n"
           "  a ARCHIVE [-m store|deflate] [-l 0-9] [-p PW | -e] [-v SIZE] [-y]\n"
           "            [--utf8] PATH...     create an archive\n"
           "\n"
           "Every command takes --codepage N, the code page of the names in the\n"
           "archive.\n"
           "\n"
           "Interrupted (Ctrl-C), a command removes what it had not finished, keeps\n"
           "what it had, and exits with status 130. The entry cipher is weak (see\n"
           "'qzarc a --help').\n"
           "\n"
           "'qzarc COMMAND --help' describes a command; 'qzarc --version' prints the\n"
           "version.\n"
           "\n"
           "Exit status: 0 everything done, 1 some entries failed or were skipped,\n"
           "2 bad usage or the archive cannot be opened, 130 interrupted.\n";
}

}  // namespace qzcli
