// Hostile archives: names that point outside the destination (absolute,
// drive letters, '..' in any spelling of separators), names with control
// characters, names the library hands out cut short, and (on Linux) links
// planted inside the destination. Each is refused with a message naming it;
// nothing is written outside the destination; the harmless entries around
// them are extracted.
#include <gtest/gtest.h>

#include "cli_harness.h"

namespace {

namespace fs = std::filesystem;
using qzct::Qzarc;
using qzct::CliRun;
using qzt::TempDir;

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

qzw::Record Entry(const std::string &name) {
    return qzw::StoredRecord(name, qzt::MakeData(20, 't', static_cast<uint32_t>(name.size())));
}

// Writes an archive of entries named `names` to dir/name.
std::string WriteArchive(const fs::path &dir, const std::string &name,
                         const std::vector<std::string> &names) {
    qzw::Archive archive;
    for (const std::string &n : names)
        archive.records.push_back(Entry(n));
    const std::string path = (dir / name).string();
    qzw::WriteFile(path, archive.Serialize());
    return path;
}

TEST(CliSafety, NamesLeavingTheDestinationAreRefusedAndNothingLandsOutside) {
    TempDir top;
    // Deep enough that "../../" from the destination stays inside top.
    const fs::path dest = top.path() / "a" / "b" / "dest";
    fs::create_directories(dest);
    const std::string longName = std::string(255, 'n') + "\\x.txt";  // 261 bytes
    const std::vector<std::string> hostile = {
        "../evil1",
        "..\\evil2",
        "/tmp-evil3",
        "\\evil4",
        "C:evil5",
        "c:\\evil6",
        "ok\\..\\..\\evil7",
        "mixed/sub\\..\\../evil8",
        "sub/../../../evil9",
        "ctl\x01name",
        "esc\x1b[2Jname",
        "tab\tname",
        "..",
        longName,
    };
    std::vector<std::string> names = {"good\\one.txt"};
    names.insert(names.end(), hostile.begin(), hostile.end());
    names.push_back("dir/.//./two.txt");  // empty and "." components are dropped
    const std::string archive = WriteArchive(top.path(), "hostile.qza", names);

    const CliRun run = Qzarc({"x", archive, "-o", dest.string()});
    EXPECT_EQ(run.status, 1) << run.err;

    // Only the two harmless files, and only below dest.
    const std::vector<std::string> expected = {"a", "a/b", "a/b/dest", "a/b/dest/dir",
                                               "a/b/dest/dir/two.txt", "a/b/dest/good",
                                               "a/b/dest/good/one.txt", "hostile.qza"};
    EXPECT_EQ(qzct::TreeListing(top.path()), expected);
    EXPECT_FALSE(qzt::Exists("/tmp-evil3"));

    size_t refusals = 0;
    for (size_t at = run.err.find("refused"); at != std::string::npos; at = run.err.find("refused", at + 1))
        ++refusals;
    EXPECT_EQ(refusals, hostile.size()) << run.err;
    // Messages name the entry; control characters are shown, not sent.
    for (const char *shown : {"..\\evil2: refused", "C:evil5: refused", "ctl\\x01name: refused",
                              "esc\\x1B[2Jname: refused", "tab\\x09name: refused",
                              "longer than 259 bytes"})
        EXPECT_TRUE(Contains(run.err, shown)) << shown << "\n" << run.err;
    EXPECT_FALSE(Contains(run.err, "\x1b")) << "an escape sequence reached the terminal";
}

TEST(CliSafety, RefusedNamesDoNotDisturbTheWalk) {
    // Refused entries are skipped in header-only mode: the walk goes on to
    // the next entry, also when the refused one's data runs across volumes.
    TempDir dir;
    qzw::Archive archive;
    archive.records.push_back(Entry("one.txt"));
    archive.records.push_back(qzw::StoredRecord("../spanning", qzt::MakeData(9000, 'r', 7)));
    archive.records.push_back(Entry("three.txt"));
    const std::string path = (dir.path() / "s.qza").string();
    const auto cuts = qzw::InteriorCuts(archive, 4000);
    ASSERT_TRUE(cuts.has_value());
    ASSERT_GE(qzw::WriteArchiveVolumes(path, archive, *cuts).size(), 3u);

    const fs::path out = dir.path() / "out";
    const CliRun run = Qzarc({"x", path, "-o", out.string()});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(qzct::TreeListing(out), (std::vector<std::string>{"one.txt", "three.txt"}));
    EXPECT_TRUE(qzt::ReadBytes(out / "three.txt") == archive.records[2].payload);
}

#if !defined(_WIN32)
TEST(CliSafety, LinksInsideTheDestinationAreNotFollowed) {
    TempDir top;
    const fs::path dest = top.path() / "dest";
    const fs::path outside = top.path() / "outside";
    fs::create_directories(dest / "real");
    fs::create_directories(outside);
    qzct::WriteBytes(outside / "victim.txt", {'k', 'e', 'e', 'p'});
    fs::create_directory_symlink(outside, dest / "linkdir");
    fs::create_symlink(outside / "victim.txt", dest / "linkfile");

    const std::string archive =
        WriteArchive(top.path(), "links.qza",
                     {"linkdir\\planted.txt", "linkdir/deeper/planted.txt", "linkfile", "real\\fine.txt"});
    // Even -y never writes through a link.
    const CliRun run = Qzarc({"x", archive, "-o", dest.string(), "-y"});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(qzct::TreeListing(outside), std::vector<std::string>{"victim.txt"});
    EXPECT_TRUE(qzt::ReadBytes(outside / "victim.txt") == (qzw::Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(fs::is_symlink(dest / "linkfile"));
    EXPECT_TRUE(fs::is_regular_file(dest / "real" / "fine.txt"));
    EXPECT_TRUE(Contains(run.err, "linkdir\\planted.txt: refused")) << run.err;
    EXPECT_TRUE(Contains(run.err, "linkfile: refused")) << run.err;
}
#endif

}  // namespace
