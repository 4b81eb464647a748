// The command-line tool against names built at random from hostile pieces
// (absolute roots, drive letters, UNC prefixes, '..' in both separators,
// control characters, NUL bytes, very long components): whatever it refuses
// or accepts, `qzarc x` ends normally and writes nothing outside its
// destination. The fixed cases live in the tool's own tests; this sweep
// looks for the combinations nobody wrote down.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"
#include "writer/writer.h"

namespace {

namespace fs = std::filesystem;

std::string HostileName(std::mt19937 &rng, const std::string &canary) {
    static const char *const kRoots[] = {"", "", "", "/", "\\", "C:", "c:\\", "Z:/", "\\\\host\\share\\",
                                         "//", "\\\\?\\C:\\", "~/", "./"};
    static const char *const kParts[] = {"..", ".", "...", "", "a", "sub", ". .", ".. ", " ..",
                                         "..\x01", "x\x1b[2J", "\t", "CON", "nul.txt", "a:b",
                                         "dir", "%2e%2e", "\x7f", "\xc0\xae\xc0\xae"};
    static const char *const kSeparators[] = {"/", "\\", "//", "\\\\", "/./", "\\.\\"};
    std::string name;
    if (rng() % 8 == 0)
        name = canary + "/";  // an absolute path into a directory that must stay empty
    else
        name = kRoots[rng() % (sizeof kRoots / sizeof *kRoots)];
    const int parts = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < parts; ++i) {
        if (i > 0)
            name += kSeparators[rng() % (sizeof kSeparators / sizeof *kSeparators)];
        if (rng() % 12 == 0)
            name += std::string(100 + rng() % 200, 'L');
        else
            name += kParts[rng() % (sizeof kParts / sizeof *kParts)];
    }
    if (rng() % 10 == 0)
        name += std::string(1, '\0') + "/../../hidden";  // the library stops at the NUL
    name += "f" + std::to_string(rng() % 1000);
    return name;
}

int RunQuietly(const std::vector<std::string> &args) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        if (freopen("/dev/null", "w", stdout) == nullptr || freopen("/dev/null", "w", stderr) == nullptr ||
            freopen("/dev/null", "r", stdin) == nullptr)
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

TEST(CliHostileNames, RandomHostileNamesNeverLeaveTheDestination) {
#if !defined(QZARC_CLI)
    GTEST_SKIP() << "the command-line tool is not part of this build";
#else
    qzt::TempDir top;
    const fs::path dest = top.path() / "a" / "b" / "c" / "dest";
    const fs::path canary = top.path() / "canary";
    fs::create_directories(dest);
    fs::create_directories(canary);
    std::mt19937 rng(20240607);
    int names = 0;
    for (int run = 0; run < 12; ++run) {
        qzw::Archive archive;
        for (int i = 0; i < 25; ++i, ++names)
            archive.records.push_back(
                qzw::StoredRecord(HostileName(rng, canary.string()), qzt::MakeData(16, 't', i)));
        const std::string path = (top.path() / "hostile.qza").string();
        ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));

        const int status = RunQuietly({QZARC_CLI, "x", path, "-o", dest.string(), "-y"});
        ASSERT_TRUE(WIFEXITED(status)) << "run " << run << ": the tool did not exit normally";
        EXPECT_LE(WEXITSTATUS(status), 1) << "run " << run;

        // Everything under top is the archive, the destination's parents,
        // the (empty) canary, or lies inside the destination.
        for (const auto &entry : fs::recursive_directory_iterator(top.path())) {
            const fs::path p = entry.path();
            const std::string rel = fs::relative(p, top.path()).generic_string();
            const bool allowed = rel == "hostile.qza" || rel == "a" || rel == "a/b" ||
                                 rel == "a/b/c" || rel == "canary" ||
                                 rel.rfind("a/b/c/dest", 0) == 0;
            EXPECT_TRUE(allowed) << "run " << run << " wrote outside the destination: " << rel;
        }
        fs::remove_all(dest);
        fs::create_directories(dest);
    }
    std::printf("[ sweep    ] %d hostile names through qzarc x\n", names);
#endif
}

}  // namespace
