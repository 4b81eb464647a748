// Names in the archive's code page: `a` records them in code page 1252 by
// default (another with --codepage, UTF-8 with --utf8) and refuses what the
// code page cannot hold; l and x read them back as they were. On Linux the
// names here are UTF-8 and a recorded name that is not valid UTF-8 is read
// as code page 1252; on Windows both sides use the system's ANSI code page.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli_harness.h"

namespace {

namespace fs = std::filesystem;
using qzct::CliRun;
using qzct::Contains;
using qzct::Describe;
using qzct::Qzarc;
using qzt::TempDir;

bool HasBytes(const fs::path &file, const std::string &bytes) {
    const qzw::Bytes data = qzt::ReadBytes(file);
    const qzw::Bytes wanted(bytes.begin(), bytes.end());
    return std::search(data.begin(), data.end(), wanted.begin(), wanted.end()) != data.end();
}

#if !defined(_WIN32)

struct Case {
    const char *label;
    std::vector<std::string> options;
    std::vector<std::pair<std::string, std::string>> names;  // here (UTF-8), as recorded
};

TEST(CliCodePage, NamesRoundTripThroughTheirCodePage) {
    const Case cases[] = {
        {"code page 1252 by default",
         {},
         {{"caf\xC3\xA9.txt", "caf\xE9.txt"}, {"Stra\xC3\x9F" "e", "Stra\xDF" "e"}, {"\xE2\x82\xAC" "uro", "\x80uro"}}},
        {"UTF-8 kept", {"--utf8"}, {{"caf\xC3\xA9.txt", "caf\xC3\xA9.txt"}}},
        {"Japanese in 932", {"--codepage", "932"}, {{"\xE6\x97\xA5\xE6\x9C\xAC.txt", "\x93\xFA\x96\x7B.txt"}}},
        {"Chinese in 936", {"--codepage", "936"}, {{"\xE4\xB8\xAD\xE6\x96\x87.txt", "\xD6\xD0\xCE\xC4.txt"}}},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        for (const auto &name : c.names)
            qzct::WriteBytes(dir.path() / "in" / name.first, qzt::MakeData(100, 't', ++n));
        std::vector<std::string> add = {"a", "n.qza", "in"};
        add.insert(add.end(), c.options.begin(), c.options.end());
        const CliRun made = Qzarc(add, dir.path());
        ASSERT_EQ(made.status, 0) << Describe(made);

        // Reading takes the same code page (UTF-8 and 1252 are recognised).
        std::vector<std::string> read = {"x", "n.qza", "-o", "out"};
        if (c.options.size() == 2)
            read.insert(read.end(), c.options.begin(), c.options.end());
        const CliRun list = Qzarc({"l", "n.qza", c.options.size() == 2 ? "--codepage" : "-x",
                                   c.options.size() == 2 ? c.options[1] : "none"},
                                  dir.path());
        const CliRun x = Qzarc(read, dir.path());
        ASSERT_EQ(x.status, 0) << Describe(x);
        for (const auto &name : c.names) {
            EXPECT_TRUE(HasBytes(dir.path() / "n.qza", "in\\" + name.second)) << name.first;
            EXPECT_TRUE(Contains(list.out, "in\\" + name.first)) << list.out;
            EXPECT_TRUE(qzt::ReadBytes(dir.path() / "out" / "in" / name.first) ==
                        qzt::ReadBytes(dir.path() / "in" / name.first));
        }
    }
}

TEST(CliCodePage, NamesTheCodePageCannotHoldAreRefused) {
    TempDir dir;
    qzct::WriteBytes(dir.path() / "\xE6\x97\xA5\xE6\x9C\xAC.txt", qzt::MakeData(10, 't'));
    qzct::WriteBytes(dir.path() / "plain.txt", qzt::MakeData(10, 't'));
    const CliRun run = Qzarc({"a", "n.qza", "\xE6\x97\xA5\xE6\x9C\xAC.txt", "plain.txt"}, dir.path());
    EXPECT_EQ(run.status, 1) << Describe(run);
    EXPECT_TRUE(Contains(run.err, "\xE6\x97\xA5\xE6\x9C\xAC.txt: its name has a character code page 1252 cannot hold"))
        << run.err;
    const CliRun list = Qzarc({"l", "n.qza"}, dir.path());
    EXPECT_TRUE(Contains(list.out, "1 entry")) << list.out;
}

TEST(CliCodePage, RecordedNamesThatAreNotUtf8AreReadAsCodePage1252) {
    TempDir dir;
    qzw::Archive archive;
    archive.records.push_back(qzw::StoredRecord("\xE9t\xE9.txt", qzt::MakeData(10, 't')));
    qzct::WriteBytes(dir.path() / "w.qza", archive.Serialize());
    const CliRun x = Qzarc({"x", "w.qza", "-o", "out"}, dir.path());
    ASSERT_EQ(x.status, 0) << Describe(x);
    EXPECT_EQ(qzct::TreeListing(dir.path() / "out"), std::vector<std::string>{"\xC3\xA9t\xC3\xA9.txt"});
    // Another code page reads the same bytes differently: 1251 has Cyrillic there.
    const CliRun cyrillic = Qzarc({"l", "w.qza", "--codepage", "1251"}, dir.path());
    EXPECT_TRUE(Contains(cyrillic.out, "\xD0\xB9t\xD0\xB9.txt")) << cyrillic.out;
}

#else

TEST(CliCodePage, AnsiNamesAreRecordedAsTheyAre) {
    // The Windows build records the system's ANSI names unchanged, and
    // converts with --codepage.
    TempDir dir;
    const fs::path in = dir.path() / "in";
    qzct::WriteBytes(in / fs::path(L"caf\u00e9.txt"), qzt::MakeData(100, 't'));
    const CliRun made = Qzarc({"a", "n.qza", "in", "--codepage", "1252"}, dir.path());
    ASSERT_EQ(made.status, 0) << Describe(made);
    EXPECT_TRUE(HasBytes(dir.path() / "n.qza", "in\\caf\xE9.txt"));
    const CliRun x = Qzarc({"x", "n.qza", "-o", "out", "--codepage", "1252"}, dir.path());
    ASSERT_EQ(x.status, 0) << Describe(x);
    EXPECT_TRUE(fs::exists(dir.path() / "out" / "in" / fs::path(L"caf\u00e9.txt")));
}

#endif

}  // namespace
