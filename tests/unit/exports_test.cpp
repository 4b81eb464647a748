// The binary interface of the two shipped libraries, read back from the
// built files with binutils: QZARC.dll must export exactly QZUnpack at
// ordinal 3, QZCallback at ordinal 4 and QZEntryInfo at ordinal 5 (hosts
// bind by ordinal) and import nothing but KERNEL32, USER32 and msvcrt (a
// host installs the DLL alone, without a compiler runtime beside it);
// qzarc.exe must bind by ordinal too; libqzarc.so must export the same
// functions and nothing else, and need nothing but the C library. Nothing here runs a Windows program, so these
// checks hold on every machine (ctest entry win32_binaries).
//
// Linux only: it runs the tools on the build trees from the Linux side.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct CommandResult {
    int status = -1;  // exit code, or -1 when the command did not exit normally
    std::string output;
};

CommandResult RunCommand(const std::string &command) {
    CommandResult result;
    FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
    int raw = pclose(pipe);
    if (raw != -1 && WIFEXITED(raw))
        result.status = WEXITSTATUS(raw);
    return result;
}

bool HaveTool(const std::string &tool) {
    return RunCommand("command -v " + tool + " >/dev/null").status == 0;
}

bool FileExists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Quote(const std::string &path) {
    std::string quoted = "'";
    for (char c : path) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// What `objdump -p` says about a PE image's export and import tables.
struct PeTables {
    bool haveExportTable = false;
    std::set<unsigned> addressTableOrdinals;   // every slot of the export address table
    std::map<std::string, unsigned> named;     // exported name -> ordinal
    std::vector<std::string> importedDlls;
};

PeTables ParsePe(const std::string &dump) {
    static const std::regex kOrdinalBase(R"(^Export Address Table -- Ordinal Base (\d+))");
    static const std::regex kAddressSlot(R"(^\s*\[\s*\d+\]\s*\+base\[\s*(\d+)\])");
    // "[   0] QZUnpack" (index into the address table), or in newer
    // binutils "[   0] +base[   3]  14b0 QZUnpack" (with the ordinal).
    static const std::regex kNameSlot(
        R"(^\s*\[\s*(\d+)\]\s*(?:\+base\[\s*(\d+)\]\s*[0-9a-fA-F]+\s+)?(\S+)\s*$)");
    static const std::regex kDllName(R"(^\s*DLL Name:\s*(\S+))");

    PeTables tables;
    enum { kNone, kAddresses, kNames } section = kNone;
    unsigned base = 0;
    std::smatch m;
    for (const std::string &line : Lines(dump)) {
        if (std::regex_search(line, m, kOrdinalBase)) {
            tables.haveExportTable = true;
            base = static_cast<unsigned>(std::stoul(m[1]));
            section = kAddresses;
            continue;
        }
        if (line.rfind("[Ordinal/Name Pointer] Table", 0) == 0) {
            section = kNames;
            continue;
        }
        if (std::regex_search(line, m, kDllName)) {
            tables.importedDlls.push_back(m[1]);
            continue;
        }
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            section = kNone;
            continue;
        }
        if (section == kAddresses && std::regex_search(line, m, kAddressSlot)) {
            tables.addressTableOrdinals.insert(static_cast<unsigned>(std::stoul(m[1])));
        } else if (section == kNames && std::regex_match(line, m, kNameSlot)) {
            unsigned ordinal = m[2].matched ? static_cast<unsigned>(std::stoul(m[2]))
                                            : base + static_cast<unsigned>(std::stoul(m[1]));
            tables.named[m[3]] = ordinal;
        }
    }
    return tables;
}

bool IsSystemDll(const std::string &dll) {
    static const std::set<std::string> kSystem = {
        "kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "ntdll.dll",
    };
    std::string name = Lower(dll);
    return kSystem.count(name) != 0 || name.rfind("api-ms-win-", 0) == 0;
}

const char *const kObjdumpPe = "i686-w64-mingw32-objdump";

// Why a built Windows binary cannot be read on this machine, or "".
std::string UnreadableWindowsBinary(const std::string &file) {
    if (!HaveTool(kObjdumpPe))
        return std::string(kObjdumpPe) + " is not installed";
    if (!FileExists(file))
        return file + " is not built (no MinGW cross build)";
    return "";
}

// objdump -p: the headers, export and import tables of a PE image.
CommandResult DumpPe(const std::string &file) {
    return RunCommand(std::string(kObjdumpPe) + " -p " + Quote(file));
}

} // namespace

// Every entry point with its ordinal in QZARC.dll: the legacy three at 3, 4
// and 5, the handle API from 6 on. Hosts may bind by ordinal, so none of
// these may ever move.
const std::map<std::string, unsigned> kEntryPoints = {
    {"QZUnpack", 3u},
    {"QZCallback", 4u},
    {"QZEntryInfo", 5u},
    {"qz_archive_new", 6u},
    {"qz_archive_free", 7u},
    {"qz_archive_set_password", 8u},
    {"qz_archive_set_codepage", 9u},
    {"qz_archive_set_volume_handler", 10u},
    {"qz_archive_set_progress_handler", 11u},
    {"qz_archive_open", 12u},
    {"qz_archive_close", 13u},
    {"qz_archive_next", 14u},
    {"qz_archive_entry", 15u},
    {"qz_archive_read", 16u},
    {"qz_archive_skip", 17u},
    {"qz_archive_extract", 18u},
    {"qz_archive_seek", 19u},
    {"qz_archive_count", 20u},
    {"qz_archive_error", 21u},
    {"qz_strerror", 22u},
    {"qz_version", 23u},
    {"qz_archive_set_threads", 24u},
};

TEST(ExportTable, Win32DllExportsExactlyTheEntryPointsAtTheirOrdinals) {
    const std::string dll = QZARC_WIN32_DLL;
    if (std::string why = UnreadableWindowsBinary(dll); !why.empty())
        GTEST_SKIP() << why;

    CommandResult header = RunCommand(std::string(kObjdumpPe) + " -f " + Quote(dll));
    ASSERT_EQ(header.status, 0) << header.output;
    EXPECT_NE(header.output.find("file format pei-i386"), std::string::npos)
        << "QZARC.dll is not a 32-bit x86 image:\n" << header.output;

    CommandResult dump = DumpPe(dll);
    ASSERT_EQ(dump.status, 0) << dump.output;
    PeTables tables = ParsePe(dump.output);
    ASSERT_TRUE(tables.haveExportTable) << "objdump found no export table in " << dll;

    EXPECT_EQ(tables.named, kEntryPoints);
    // No further exports by ordinal alone.
    std::set<unsigned> ordinals;
    for (const auto &entry : kEntryPoints)
        ordinals.insert(entry.second);
    EXPECT_EQ(tables.addressTableOrdinals, ordinals);
}

TEST(ExportTable, Win32DllImportsOnlyKernel32User32AndMsvcrt) {
    const std::string dll = QZARC_WIN32_DLL;
    if (std::string why = UnreadableWindowsBinary(dll); !why.empty())
        GTEST_SKIP() << why;

    CommandResult dump = DumpPe(dll);
    ASSERT_EQ(dump.status, 0) << dump.output;
    PeTables tables = ParsePe(dump.output);

    ASSERT_FALSE(tables.importedDlls.empty()) << "no import table found:\n" << dump.output;
    static const std::set<std::string> kAllowed = {"kernel32.dll", "user32.dll", "msvcrt.dll"};
    bool importsKernel32 = false;
    for (const std::string &imported : tables.importedDlls) {
        EXPECT_TRUE(kAllowed.count(Lower(imported)) != 0)
            << "QZARC.dll imports " << imported
            << ": a host installs the DLL alone, so it may import only KERNEL32, USER32 and "
               "msvcrt (a compiler runtime such as libgcc, libstdc++ or libwinpthread must be "
               "linked statically)";
        importsKernel32 = importsKernel32 || Lower(imported) == "kernel32.dll";
    }
    EXPECT_TRUE(importsKernel32);
}

// qzarc.exe finds QZARC.dll at run time and takes the entry points by
// ordinal, as hosts do: it has no import of the DLL (which would bind by
// name), does not carry the entry points' names, and needs no compiler
// runtime beside it.
TEST(ExportTable, Win32CliLoadsTheDllAndBindsByOrdinal) {
    const std::string exe = QZARC_WIN32_CLI;
    if (std::string why = UnreadableWindowsBinary(exe); !why.empty())
        GTEST_SKIP() << why;

    CommandResult dump = DumpPe(exe);
    ASSERT_EQ(dump.status, 0) << dump.output;
    PeTables tables = ParsePe(dump.output);
    ASSERT_FALSE(tables.importedDlls.empty()) << "no import table found:\n" << dump.output;
    for (const std::string &imported : tables.importedDlls) {
        EXPECT_NE(Lower(imported), "qzarc.dll") << "qzarc.exe links QZARC.dll by name";
        EXPECT_TRUE(IsSystemDll(imported)) << "qzarc.exe imports " << imported;
    }

    CommandResult text = RunCommand("strings -a " + Quote(exe));
    ASSERT_EQ(text.status, 0) << text.output;
    EXPECT_NE(text.output.find("QZARC.dll"), std::string::npos)
        << "qzarc.exe does not name the DLL it loads";
    for (const char *name : {"QZUnpack", "QZCallback", "QZEntryInfo"})
        EXPECT_EQ(text.output.find(name), std::string::npos)
            << "qzarc.exe carries the name " << name << ", so it may bind by name";
}

TEST(ExportTable, LinuxSharedObjectExportsExactlyTheEntryPointsAndNeedsOnlyTheCLibrary) {
    const std::string so = QZARC_LINUX_SO;
    if (!HaveTool("nm") || !HaveTool("objdump"))
        GTEST_SKIP() << "binutils (nm, objdump) are not installed";
    ASSERT_TRUE(FileExists(so)) << so;

    CommandResult symbols = RunCommand("nm -D --defined-only " + Quote(so));
    ASSERT_EQ(symbols.status, 0) << symbols.output;
    static const std::regex kSymbol(R"(^[0-9a-fA-F]*\s+(\S)\s+(\S+)\s*$)");
    std::set<std::string> defined;
    std::smatch m;
    for (const std::string &line : Lines(symbols.output)) {
        if (!std::regex_match(line, m, kSymbol))
            continue;
        defined.insert(m[1].str() + " " + m[2].str());
    }
    std::set<std::string> expected;
    for (const auto &entry : kEntryPoints)
        expected.insert("T " + entry.first);
    EXPECT_EQ(defined, expected);

    // Programs linked against it record this name: the major version, which
    // changes only when the interface does.
    CommandResult dynamic = RunCommand("objdump -p " + Quote(so));
    ASSERT_EQ(dynamic.status, 0) << dynamic.output;
    std::smatch soname;
    std::regex_search(dynamic.output, soname, std::regex(R"(SONAME\s+(\S+))"));
    EXPECT_EQ(soname.empty() ? std::string("(none)") : soname[1].str(), "libqzarc.so.1");

    // A host loads it with the C library and its loader alone: the
    // library's code needs no C++ runtime (libstdc++, libgcc_s: no guarded
    // statics, exceptions or operator new). An instrumented build needs its
    // sanitizer runtimes and what they need (the C++ runtime among them):
    // only an uninstrumented build is held to the rule.
    static const std::regex kNeeded(R"(NEEDED\s+(\S+))");
    std::vector<std::string> needed;
    bool instrumented = false;
    for (auto it = std::sregex_iterator(dynamic.output.begin(), dynamic.output.end(), kNeeded);
         it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[1].str();
        instrumented = instrumented || name.rfind("libasan", 0) == 0 || name.rfind("libubsan", 0) == 0 ||
                       name.rfind("libtsan", 0) == 0;
        needed.push_back(name);
    }
    EXPECT_FALSE(needed.empty()) << dynamic.output;
    for (const std::string &name : needed) {
        const bool cLibrary = name == "libc.so.6" || name.rfind("ld-linux", 0) == 0;
        EXPECT_TRUE(cLibrary || instrumented) << "libqzarc.so needs " << name;
    }
}

#endif // !_WIN32
