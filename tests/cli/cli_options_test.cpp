// The selection and output options archiver users reach for: data to
// standard output, excludes, junked paths, patterns on l and t, and the
// help that says how weak the entry cipher is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "cli_harness.h"

namespace {

namespace fs = std::filesystem;
using qzct::CliRun;
using qzct::Contains;
using qzct::Describe;
using qzct::Qzarc;
using qzt::TempDir;

class CliOptions : public ::testing::Test {
protected:
    void SetUp() override {
            const fs::path src = dir_.path() / "src";
        qzct::WriteBytes(src / "docs" / "a.txt", a_);
        qzct::WriteBytes(src / "docs" / "deep" / "b.bin", b_);
        qzct::WriteBytes(src / "c.txt", c_);
        const CliRun add = Qzarc({"a", archive_, "docs", "c.txt"}, src);
        ASSERT_EQ(add.status, 0) << Describe(add);
    }

    TempDir dir_;
    std::string archive_ = (dir_.path() / "o.qza").string();
    qzw::Bytes a_ = qzt::MakeData(20000, 't', 1);
    qzw::Bytes b_ = qzt::MakeData(3000, 'r', 2);
    qzw::Bytes c_ = {'o', 'n', 'e', '\n', 't', 'w', 'o', '\r', '\n'};
};

// As the harness hands output back: without '\r'.
std::string Text(const qzw::Bytes &bytes) {
    std::string text(bytes.begin(), bytes.end());
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

TEST_F(CliOptions, StdoutCarriesTheDataAloneAndNothingIsWritten) {
    const CliRun all = Qzarc({"x", archive_, "-c"}, dir_.path());
    ASSERT_EQ(all.status, 0) << Describe(all);
    EXPECT_TRUE(all.out == Text(a_) + Text(b_) + Text(c_)) << "standard output differs";
    const CliRun one = Qzarc({"x", archive_, "--stdout", "*.bin"}, dir_.path());
    EXPECT_EQ(one.status, 0) << Describe(one);
    EXPECT_TRUE(one.out == Text(b_));
    EXPECT_EQ(qzct::TreeListing(dir_.path()).size(), 7u) << "something was written to disk";
}

TEST_F(CliOptions, ExcludesAndPatternsSelectOnEveryCommand) {
    const CliRun list = Qzarc({"l", archive_, "-x", "*.bin"});
    EXPECT_EQ(list.status, 0) << Describe(list);
    EXPECT_TRUE(Contains(list.out, "docs\\a.txt"));
    EXPECT_FALSE(Contains(list.out, "b.bin"));
    EXPECT_TRUE(Contains(list.out, "2 entries")) << list.out;

    const CliRun pattern = Qzarc({"l", archive_, "docs/*", "none*"});
    EXPECT_EQ(pattern.status, 1) << Describe(pattern);
    EXPECT_TRUE(Contains(pattern.out, "2 entries")) << pattern.out;
    EXPECT_TRUE(Contains(pattern.err, "no entry matches none*")) << pattern.err;

    const CliRun test = Qzarc({"t", archive_, "-x", "docs/*"});
    EXPECT_EQ(test.status, 0) << Describe(test);
    EXPECT_TRUE(Contains(test.out, "OK      c.txt"));
    EXPECT_TRUE(Contains(test.out, "1 of 1 entries OK")) << test.out;

    const fs::path out = dir_.path() / "out";
    const CliRun x = Qzarc({"x", archive_, "-o", out.string(), "-x", "*.txt", "-x", "nothing"});
    EXPECT_EQ(x.status, 0) << Describe(x);
    EXPECT_EQ(qzct::TreeListing(out), (std::vector<std::string>{"docs", "docs/deep", "docs/deep/b.bin"}));
}

TEST_F(CliOptions, JunkPathsPutEveryFileIntoTheDestination) {
    const fs::path out = dir_.path() / "flat";
    const CliRun x = Qzarc({"x", archive_, "-j", "-o", out.string()});
    EXPECT_EQ(x.status, 0) << Describe(x);
    EXPECT_EQ(qzct::TreeListing(out), (std::vector<std::string>{"a.txt", "b.bin", "c.txt"}));
    EXPECT_TRUE(qzt::ReadBytes(out / "b.bin") == b_);
}

TEST_F(CliOptions, JsonListingGivesEveryFieldOfEveryEntry) {
    // 2021-07-04 05:06:07.1234567 as recorded (local time), to the tick.
    constexpr uint64_t kTime = 132698487671234567u;
    qzw::Record record = qzw::StoredRecord("dir\\quote\"d.txt", a_);
    record.writeTime = kTime;
    record.creationTime = kTime - 10000000u;
    record.attributes = 0x21;
    qzw::Archive archive;
    archive.records.push_back(record);
    archive.records.push_back(qzw::DeflatedRecord("b.bin", b_));
    qzct::WriteBytes(dir_.path() / "j.qza", archive.Serialize());

    const CliRun run = Qzarc({"l", "j.qza", "--json"}, dir_.path());
    ASSERT_EQ(run.status, 0) << Describe(run);
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08X", record.crc);
    for (const std::string &part :
         {std::string("\"complete\": true"), std::string("\"name\": \"dir\\\\quote\\\"d.txt\""),
          std::string("\"nameLength\": 15"), std::string("\"method\": 0"), std::string("\"methodName\": \"deflate\""),
          std::string("\"encrypted\": false"), std::string("\"size\": 20000"), std::string("\"crc\": \"") + crc + "\"",
          std::string("\"attributes\": 33"), std::string("\"attributeNames\": [\"readonly\", \"archive\"]"),
          std::string("\"modified\": {\"local\": \"2021-07-04T05:06:07.1234567\", \"filetime\": 132698487671234567}"),
          std::string("\"created\": {\"local\": \"2021-07-04T05:06:06.1234567\"")})
        EXPECT_TRUE(Contains(run.out, part)) << part << "\n" << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 6) << "one line per entry\n" << run.out;
}

TEST(CliHelp, SaysTheCipherIsWeakAndListsTheNewOptions) {
    const CliRun add = Qzarc({"a", "--help"});
    EXPECT_TRUE(Contains(add.out, "WEAK")) << add.out;
    EXPECT_TRUE(Contains(add.out, "-e ")) << add.out;
    const CliRun x = Qzarc({"x", "--help"});
    for (const char *option : {"-c, --stdout", "-x PATTERN", "-j "})
        EXPECT_TRUE(Contains(x.out, option)) << option;
    EXPECT_TRUE(Contains(Qzarc({"l", "--help"}).out, "-x PATTERN"));
    EXPECT_TRUE(Contains(Qzarc({"t", "--help"}).out, "-x PATTERN"));
}

}  // namespace
