// qzarc from the outside: archives made with `a` come back byte for byte
// with their times and read-only bits through `x`, also split and
// encrypted; `l` and `t` on the bundled sample; patterns; what happens to
// existing files; the exit codes; and the runs that must not wait for a
// terminal that is not there (missing password, missing volume).
#include <gtest/gtest.h>

#include <map>

#include "cli_harness.h"

namespace {

namespace fs = std::filesystem;
using qzct::Qzarc;
using qzct::CliRun;
using qzt::TempDir;

// 2021-07-04 05:06:07.1234567 UTC (summer time in Berlin) and
// 2020-01-15 12:00:00.0000001 UTC (winter time): one of them is always in a
// different daylight-saving regime from the day the test runs.
constexpr uint64_t kSummer = 132698487670000000u + 1234567u;
constexpr uint64_t kWinter = 132235632000000000u + 1u;
constexpr uint64_t kAccess = 131984694000000000u + 7777777u;

using qzct::Contains;
using qzct::Count;
using qzct::Describe;


struct SourceFile {
    std::string path;  // relative, '/'
    qzw::Bytes contents;
    uint64_t writeTime;
    bool readOnly;
};

// A tree with nested directories, an empty file, a read-only file, text
// that deflates well and random bytes that do not.
std::vector<SourceFile> SampleTree() {
    return {
        {"tree/readme.txt", qzt::MakeData(3000, 't', 1), kSummer, false},
        {"tree/empty", {}, kWinter, false},
        {"tree/a/b/c/deep.bin", qzt::MakeData(70000, 'r', 2), kWinter + 10000000u, false},
        {"tree/a/locked.txt", qzt::MakeData(500, 't', 3), kSummer + 3u, true},
        {"tree/a/b/zeros", qzt::MakeData(200000, 'z'), kSummer + 20000000u, false},
        {"tree/a/b/c/empty-too", {}, kSummer, true},
    };
}

void WriteTree(const fs::path &root, const std::vector<SourceFile> &files) {
    for (const SourceFile &file : files) {
        const fs::path path = root / file.path;
        qzct::WriteBytes(path, file.contents);
        qzct::SetTimes(path, file.writeTime, kAccess);
        if (file.readOnly)
            qzct::MakeReadOnly(path);
    }
}

// Every file is there with its bytes, its last-write time to the 100 ns and
// its read-only bit; nothing else is.
void ExpectTree(const fs::path &root, const std::vector<SourceFile> &files) {
    std::vector<std::string> expected;
    for (const SourceFile &file : files) {
        SCOPED_TRACE(file.path);
        const fs::path path = root / file.path;
        ASSERT_TRUE(fs::is_regular_file(path));
        EXPECT_EQ(qzct::WriteTicks(path), file.writeTime);
#if !defined(_WIN32)
        // Read before the contents are, which could touch it.
        EXPECT_EQ(qzct::AccessTicks(path), kAccess);
#endif
        EXPECT_EQ(qzct::IsReadOnly(path), file.readOnly);
        EXPECT_TRUE(qzt::ReadBytes(path) == file.contents);
        for (fs::path p = fs::path(file.path); !p.empty(); p = p.parent_path())
            expected.push_back(p.generic_string());
    }
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    EXPECT_EQ(qzct::TreeListing(root), expected);
}

class CliRoundTrip : public ::testing::Test {
protected:
    void SetUp() override { WriteTree(dir_.path() / "src", files_); }

    TempDir dir_;
    std::vector<SourceFile> files_ = SampleTree();
};

TEST_F(CliRoundTrip, TreeComesBackWithBytesTimesAndReadOnlyBits) {
    struct Case {
        const char *label;
        std::vector<std::string> options;
    };
    const Case cases[] = {
        {"deflate, default level", {}},
        {"deflate, level 1", {"-l", "1"}},
        {"deflate, level 9", {"-l9"}},
        {"stored", {"-m", "store"}},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const std::string archive = (dir_.path() / ("t" + std::to_string(n) + ".qza")).string();
        const fs::path out = dir_.path() / ("out" + std::to_string(n++));
        // Reading the files for the last archive may have moved their access times.
        for (const SourceFile &file : files_)
            qzct::SetTimes(dir_.path() / "src" / file.path, file.writeTime, kAccess);
        std::vector<std::string> args = {"a", archive, "tree"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const CliRun add = Qzarc(args, dir_.path() / "src");
        ASSERT_EQ(add.status, 0) << Describe(add);

        const CliRun list = Qzarc({"l", archive});
        ASSERT_EQ(list.status, 0) << Describe(list);
        // Names are recorded relative, with '\' between directories.
        EXPECT_TRUE(Contains(list.out, "tree\\a\\b\\c\\deep.bin")) << list.out;
        EXPECT_TRUE(Contains(list.out, c.options.size() == 2 && c.options[1] == "store" ? "stored"
                                                                                           : "deflate"));

        const CliRun extract = Qzarc({"x", archive, "-o", out.string()});
        ASSERT_EQ(extract.status, 0) << Describe(extract);
        ExpectTree(out, files_);
    }
}

TEST_F(CliRoundTrip, InputPathsDecideTheRecordedNames) {
    const fs::path tree = dir_.path() / "src" / "tree";
    // The archive inside the tree it is made from, already there (-y).
    const std::string archive = (tree / "names.qza").string();
    ASSERT_EQ(Qzarc({"a", archive, "readme.txt"}, tree).status, 0);
    // ".", a path with "..", and an absolute path: the last two are
    // recorded from their last component on.
    const CliRun add = Qzarc({"a", archive, ".", "a/b/../locked.txt", (tree / "a" / "b").string(), "-y"}, tree);
    ASSERT_EQ(add.status, 0) << Describe(add);
    const CliRun list = Qzarc({"l", archive});
    for (const char *name : {"  readme.txt", "  a\\b\\zeros", "  locked.txt", "  b\\zeros", "  b\\c\\deep.bin"})
        EXPECT_TRUE(Contains(list.out, name)) << name << "\n" << list.out;
    EXPECT_FALSE(Contains(list.out, "..")) << list.out;
    EXPECT_FALSE(Contains(list.out, "names.qza")) << "the archive took itself in";
}

TEST_F(CliRoundTrip, SplitAndEncryptedArchiveComesBackWhole) {
    const fs::path src = dir_.path() / "src";
    const std::string archive = (dir_.path() / "split.qza").string();
    const CliRun add = Qzarc({"a", archive, "-v", "8k", "-p", "s3cret", "tree"}, src);
    ASSERT_EQ(add.status, 0) << Describe(add);

    // Every volume holds at most 8 KiB, and every volume the walk needs is
    // reached: the last one ends with the last entry.
    std::vector<fs::path> volumes = {archive};
    for (unsigned k = 1; qzt::Exists(qzw::VolumeName(archive, k)); ++k)
        volumes.push_back(qzw::VolumeName(archive, k));
    ASSERT_GT(volumes.size(), 3u);
    for (const fs::path &volume : volumes)
        EXPECT_LE(fs::file_size(volume), 8192u) << volume;

    const CliRun list = Qzarc({"l", archive});
    EXPECT_EQ(list.status, 0) << Describe(list);
    EXPECT_EQ(Count(list.out, "*  "), files_.size()) << "every entry marked encrypted\n" << list.out;

    const CliRun test = Qzarc({"t", archive, "-p", "s3cret"});
    EXPECT_EQ(test.status, 0) << Describe(test);
    EXPECT_EQ(Count(test.out, "OK      "), files_.size()) << test.out;

    const fs::path out = dir_.path() / "out";
    const CliRun extract = Qzarc({"x", archive, "-o", out.string(), "-p", "s3cret"});
    ASSERT_EQ(extract.status, 0) << Describe(extract);
    ExpectTree(out, files_);
}

TEST_F(CliRoundTrip, PasswordProblemsFailOnlyTheEncryptedEntriesWithoutAsking) {
    const fs::path src = dir_.path() / "src";
    const std::string plain = (dir_.path() / "plain.qza").string();
    const std::string locked = (dir_.path() / "locked.qza").string();
    ASSERT_EQ(Qzarc({"a", plain, "tree/readme.txt"}, src).status, 0);
    ASSERT_EQ(Qzarc({"a", locked, "-p", "right", "tree/a"}, src).status, 0);

    struct Case {
        const char *label;
        std::vector<std::string> password;
        const char *reason;
    };
    const Case cases[] = {
        {"no password and no terminal", {}, "no password"},
        {"wrong password", {"-p", "wrong"}, "wrong password"},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const fs::path out = dir_.path() / ("out" + std::to_string(n++));
        std::vector<std::string> args = {"x", locked, "-o", out.string()};
        args.insert(args.end(), c.password.begin(), c.password.end());
        const CliRun run = Qzarc(args);
        EXPECT_EQ(run.status, 1) << Describe(run);
        EXPECT_TRUE(Contains(run.err, c.reason)) << run.err;
        EXPECT_TRUE(Contains(run.err, "tree\\a\\b\\zeros")) << "names the entry\n" << run.err;
        // Directories may have been made; no file with data is left behind.
        // A wrong password passes an entry's one check byte once in 256
        // tries (the header is random per archive); an empty entry then has
        // no data that could fail, and rightly comes out empty.
        for (const std::string &path : qzct::TreeListing(out)) {
            const fs::path p = out / path;
            const bool luckyEmpty = !c.password.empty() && fs::is_regular_file(p) && fs::file_size(p) == 0;
            EXPECT_TRUE(fs::is_directory(p) || luckyEmpty) << path;
        }

        const CliRun test = Qzarc({"t", locked});
        EXPECT_EQ(test.status, 1);
    }
    // A wrong password is harmless for entries that need none.
    const CliRun run = Qzarc({"x", plain, "-o", (dir_.path() / "plain").string(), "-p", "wrong"});
    EXPECT_EQ(run.status, 0) << Describe(run);
}

// ---- existing files ---------------------------------------------------------------

TEST_F(CliRoundTrip, ExistingFilesAreKeptUnlessOverwriteIsAsked) {
    const fs::path src = dir_.path() / "src";
    const std::string archive = (dir_.path() / "x.qza").string();
    const std::string locked = (dir_.path() / "locked.qza").string();
    ASSERT_EQ(Qzarc({"a", archive, "tree"}, src).status, 0);
    ASSERT_EQ(Qzarc({"a", locked, "-p", "pw", "tree"}, src).status, 0);
    const fs::path out = dir_.path() / "out";
    ASSERT_EQ(Qzarc({"x", archive, "-o", out.string()}).status, 0);

    const fs::path readme = out / "tree" / "readme.txt";
    const qzw::Bytes mine = {'m', 'i', 'n', 'e'};
    qzct::WriteBytes(readme, mine);

    // No terminal to ask: skipped and said so; not everything was done.
    CliRun run = Qzarc({"x", archive, "-o", out.string()});
    EXPECT_EQ(run.status, 1) << Describe(run);
    EXPECT_TRUE(Contains(run.err, "exists")) << run.err;
    EXPECT_TRUE(qzt::ReadBytes(readme) == mine);

    // -n: skipped on request.
    run = Qzarc({"x", archive, "-o", out.string(), "-n"});
    EXPECT_EQ(run.status, 0) << Describe(run);
    EXPECT_TRUE(qzt::ReadBytes(readme) == mine);

    // A failed replacement leaves the existing file as it was (the library
    // deletes a failed output; that must not be the file that was there).
    const std::vector<std::string> before = qzct::TreeListing(out);
    run = Qzarc({"x", locked, "-o", out.string(), "-y", "-p", "wrong"});
    EXPECT_EQ(run.status, 1) << Describe(run);
    EXPECT_TRUE(qzt::ReadBytes(readme) == mine);
    EXPECT_EQ(qzct::TreeListing(out), before) << "no temporary files left";

    // -y: everything replaced, read-only files included.
    run = Qzarc({"x", archive, "-o", out.string(), "-y"});
    EXPECT_EQ(run.status, 0) << Describe(run);
    ExpectTree(out, files_);
}

// ---- the sample, l and t --------------------------------------------------------

TEST(CliSample, ListShowsEveryColumnAndTheTotals) {
    TempDir dir;
    const fs::path sample = qzct::CopySample(dir.path());
    const CliRun run = Qzarc({"l", sample.string()});
    ASSERT_EQ(run.status, 0) << Describe(run);
    // size, compressed, ratio, method (+ encrypted mark), time, CRC, name
    const char *const rows[] = {
        "     18922         922     5%  deflate64   2024-05-17 10:51:00  D3B225C5  docs\\history\\notes.txt",
        "      1126        1126   100%  stored      2024-05-17 10:41:00  6EDAF9D1  docs\\format.txt",
        "       195         141    72%  deflate*    2024-05-17 11:11:00  FACC1D58  private\\plan.txt",
    };
    for (const char *row : rows)
        EXPECT_TRUE(Contains(run.out, row)) << row << "\n" << run.out;
    EXPECT_TRUE(Contains(run.out, "   2524120       20211     1%")) << run.out;
    EXPECT_TRUE(Contains(run.out, "5 entries (1 encrypted")) << run.out;
}

TEST(CliSample, TestChecksEveryEntryAndRemovesWhatItWrote) {
    TempDir dir;
    const fs::path sample = qzct::CopySample(dir.path());
    // The temporary directory goes where the platform's variable says.
    const fs::path temp = dir.path() / "temp";
    fs::create_directory(temp);
    CliRun run;
    {
#if defined(_WIN32)
        qzct::ScopedEnvironment tmp("TMP", temp.string());
        qzct::ScopedEnvironment alsoTmp("TEMP", temp.string());
#else
        qzct::ScopedEnvironment tmp("TMPDIR", temp.string());
#endif
        run = Qzarc({"t", sample.string(), "-p", qzct::kSamplePassword});
    }
    EXPECT_EQ(run.status, 0) << Describe(run);
    for (const char *name : {"README.txt", "docs\\format.txt", "docs\\history\\notes.txt",
                             "data\\log.csv", "private\\plan.txt"})
        EXPECT_TRUE(Contains(run.out, std::string("OK      ") + name + "\n")) << name;
    EXPECT_TRUE(fs::is_empty(temp)) << qzct::TreeListing(temp).size() << " files left";
    EXPECT_FALSE(Contains(run.err, "[1/5]")) << "a progress line without a terminal";
    EXPECT_EQ(qzct::TreeListing(dir.path()).size(), 3u) << "t wrote next to the archive";
}

// ---- patterns ---------------------------------------------------------------

TEST(CliPatterns, GlobsSelectEntriesByTheirRecordedNames) {
    TempDir dir;
    qzw::Archive archive;
    for (const char *name : {"a.txt", "docs\\b.txt", "docs\\c.md", "docs\\sub\\d.txt", "e1.log", "e2.log"})
        archive.records.push_back(qzw::StoredRecord(name, qzt::MakeData(10, 't', 5)));
    const std::string path = (dir.path() / "p.qza").string();
    ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));

    struct Case {
        std::vector<std::string> patterns;
        std::vector<std::string> expected;  // files extracted
    };
    const Case cases[] = {
        {{"*.txt"}, {"a.txt", "docs/b.txt", "docs/sub/d.txt"}},   // '*' crosses directories
        {{"docs/*.md"}, {"docs/c.md"}},                            // '/' matches '\'
        {{"docs\\sub\\?.txt", "e[!1].log"}, {"docs/sub/d.txt", "e2.log"}},
        {{"[a-c]*"}, {"a.txt"}},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.patterns[0]);
        const fs::path out = dir.path() / ("out" + std::to_string(n++));
        std::vector<std::string> args = {"x", path, "-o", out.string()};
        args.insert(args.end(), c.patterns.begin(), c.patterns.end());
        const CliRun run = Qzarc(args);
        EXPECT_EQ(run.status, 0) << Describe(run);
        std::vector<std::string> files;
        for (const std::string &p : qzct::TreeListing(out)) {
            if (fs::is_regular_file(out / p))
                files.push_back(p);
        }
        EXPECT_EQ(files, c.expected);
    }

    // A pattern that matches nothing is a failure, named in the message.
    const CliRun run = Qzarc({"t", path, "*.txt", "*.doc"});
    EXPECT_EQ(run.status, 1) << Describe(run);
    EXPECT_EQ(Count(run.out, "OK      "), 3u);
    EXPECT_TRUE(Contains(run.err, "*.doc")) << run.err;
}

// ---- volumes ---------------------------------------------------------------

TEST(CliVolumes, MissingVolumeWithoutTerminalGivesUpAtOnceNamingTheFile) {
    TempDir dir;
    qzw::Archive archive;
    archive.records.push_back(qzw::DeflatedRecord("first.txt", qzt::MakeData(5000, 't', 1)));
    archive.records.push_back(qzw::StoredRecord("spanning.bin", qzt::MakeData(30000, 'r', 2)));
    archive.records.push_back(qzw::StoredRecord("after.bin", qzt::MakeData(100, 'r', 3)));
    const std::string path = (dir.path() / "m.qza").string();
    const auto cuts = qzw::InteriorCuts(archive, 10000);
    ASSERT_TRUE(cuts && cuts->size() >= 3);
    ASSERT_EQ(qzw::WriteArchiveVolumes(path, archive, *cuts).size(), cuts->size() + 1);
    const std::string missing = qzw::VolumeName(path, 2);
    fs::remove(missing);

    const std::string shown = fs::path(missing).filename().string();
    const CliRun list = Qzarc({"l", path});
    EXPECT_EQ(list.status, 1) << Describe(list);
    EXPECT_TRUE(Contains(list.out, "spanning.bin"));

    const fs::path out = dir.path() / "out";
    const CliRun run = Qzarc({"x", path, "-o", out.string()});
    EXPECT_EQ(run.status, 1) << Describe(run);
    // One message about the file, however often the walks pass it.
    EXPECT_EQ(Count(run.err, "is missing: "), 1u) << run.err;
    EXPECT_TRUE(Contains(run.err, shown)) << run.err;
    EXPECT_TRUE(Contains(run.err, "spanning.bin: missing volume")) << run.err;
    // What lies before the gap is extracted; the broken entry leaves nothing.
    EXPECT_EQ(qzct::TreeListing(out), std::vector<std::string>{"first.txt"});
}

TEST(CliVolumes, CutsFallInsideEntryDataSoEveryVolumeIsReached) {
    // 1100-byte volumes: the first record takes 1065 bytes, so the limit
    // falls inside the second record's header. Cutting at the end of the
    // first entry's data would end the walk there, with the second entry
    // silently unreachable; the cut goes one byte earlier instead.
    TempDir dir;
    qzct::WriteBytes(dir.path() / "one", qzt::MakeData(1000, 'r', 1));
    qzct::WriteBytes(dir.path() / "two", qzt::MakeData(10, 'r', 2));
    const CliRun add = Qzarc({"a", "v.qza", "-m", "store", "-v", "1100", "one", "two"}, dir.path());
    ASSERT_EQ(add.status, 0) << Describe(add);
    EXPECT_EQ(fs::file_size(dir.path() / "v.qza"), 1064u);
    EXPECT_EQ(fs::file_size(dir.path() / "v.001"), 76u);
    const CliRun test = Qzarc({"t", "v.qza"}, dir.path());
    EXPECT_EQ(test.status, 0) << Describe(test);
    EXPECT_EQ(Count(test.out, "OK      "), 2u) << test.out;
}

TEST(CliVolumes, DamagedEntryAcrossVolumesDoesNotCostTheEntriesAfterIt) {
    // The first entry's stream is invalid from its first byte, so the
    // library stops reading it long before its data's end in the next
    // volume, and its walk then looks for the next record in the wrong
    // place. The tool walks again from the start, skipping, to reach it.
    TempDir dir;
    qzw::Archive archive;
    qzw::Record damaged = qzw::StoredRecord("damaged.bin", qzt::MakeData(1000, 't', 1));
    damaged.method = 8;
    damaged.payload = qzt::MakeData(20000, 'r', 2);
    damaged.payload[0] = 0x07;  // final block of the reserved type 3
    archive.records.push_back(damaged);
    archive.records.push_back(qzw::StoredRecord("after.txt", qzt::MakeData(300, 't', 3)));
    const std::string path = (dir.path() / "d.qza").string();
    const auto cuts = qzw::InteriorCuts(archive, 12000);
    ASSERT_TRUE(cuts && cuts->size() == 1);
    ASSERT_EQ(qzw::WriteArchiveVolumes(path, archive, *cuts).size(), 2u);

    const fs::path out = dir.path() / "out";
    const CliRun run = Qzarc({"x", path, "-o", out.string()});
    EXPECT_EQ(run.status, 1) << Describe(run);
    EXPECT_TRUE(Contains(run.err, "damaged.bin: ")) << run.err;
    EXPECT_EQ(qzct::TreeListing(out), std::vector<std::string>{"after.txt"}) << run.err;
}

// ---- exit codes and usage ---------------------------------------------------------------

TEST(CliUsage, BadUsageAndUnopenableArchivesExitWithTwo) {
    TempDir dir;
    const fs::path notArchive = dir.path() / "plain.txt";
    qzct::WriteBytes(notArchive, qzt::MakeData(100, 't'));
    const fs::path sample = qzct::CopySample(dir.path());

    struct Case {
        std::vector<std::string> args;
        const char *message;  // part of the message on stderr
    };
    const Case cases[] = {
        {{}, "no command"},
        {{"z", "x.qza"}, "unknown command"},
        {{"x"}, "no archive"},
        {{"x", sample.string(), "-y", "-n"}, "exclude"},
        {{"x", sample.string(), "-v", "1k"}, "not an option"},
        {{"l", sample.string(), "--stdout"}, "not an option"},
        {{"x", sample.string(), "-c", "-o", "d"}, "do not apply"},
        {{"x", sample.string(), "--codepage", "1253"}, "unknown code page"},
        {{"a", (dir.path() / "new.qza").string()}, "nothing to add"},
        {{"a", "n.qza", "-l", "12", "plain.txt"}, "level"},
        {{"a", "n.qza", "-v", "10q", "plain.txt"}, "volume size"},
        {{"l", (dir.path() / "absent.qza").string()}, "cannot open"},
        {{"x", notArchive.string()}, "not a QZ archive"},
        {{"a", sample.string(), "plain.txt"}, "exists"},
        // Headers do not fit into 60-byte volumes.
        {{"a", "tiny.qza", "-v", "60", "plain.txt"}, "cannot split"},
    };
    for (const Case &c : cases) {
        std::string joined;
        for (const std::string &a : c.args)
            joined += a + " ";
        SCOPED_TRACE(joined);
        const CliRun run = Qzarc(c.args, dir.path());
        EXPECT_EQ(run.status, 2) << Describe(run);
        EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
    }
    EXPECT_FALSE(qzt::Exists(dir.path() / "tiny.qza")) << "a refused split wrote something";
    EXPECT_EQ(fs::file_size(sample), fs::file_size(fs::path(QZARC_SOURCE_DIR) / "examples" / "sample.qza"));

    const CliRun version = Qzarc({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(Contains(version.out, "qzarc ")) << version.out;
    for (const char *command : {"l", "t", "x", "a"}) {
        const CliRun help = Qzarc({command, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(Contains(help.out, std::string("usage: qzarc ") + command)) << help.out;
        EXPECT_TRUE(Contains(help.out, "Exit status")) << help.out;
    }
}

}  // namespace
