// qzarc a: what it writes and, as much, what it refuses to write. Archives
// are streamed into place; the format's limits (a volume below 2 GiB, an
// entry below 4 GiB) are enforced before anything is written; files the
// archive would replace are named and kept unless -y says otherwise.
// Large inputs are sparse files, so that no test writes gigabytes.
#include <gtest/gtest.h>

#include <fstream>

#include "cli_harness.h"

namespace {

namespace fs = std::filesystem;
using qzct::CliRun;
using qzct::Qzarc;
using qzt::TempDir;

using qzct::Contains;
using qzct::Describe;

// Files in dir whose names start with prefix (temporary files left behind).
std::vector<std::string> Leftovers(const fs::path &dir, const std::string &prefix) {
    std::vector<std::string> found;
    for (const auto &entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0)
            found.push_back(name);
    }
    return found;
}

// A file of `size` bytes that takes no space: its contents are a hole.
void MakeSparse(const fs::path &path, uint64_t size) {
    { std::ofstream(path, std::ios::binary); }
    fs::resize_file(path, size);
}

TEST(CliAdd, SplitArchivesRoundTripWhateverTheMixOfEntrySizes) {
    // Tiny files between large ones, compressible and not, so that cuts
    // fall in entries' data and headers have to be moved to later volumes.
    TempDir dir;
    const fs::path src = dir.path() / "src";
    std::vector<std::pair<std::string, qzw::Bytes>> files;
    for (int i = 0; i < 24; ++i) {
        const size_t size = i % 3 == 0 ? 1 : (i % 3 == 1 ? 20000 + 977 * i : 300);
        files.push_back({"f" + std::to_string(100 + i), qzt::MakeData(size, i % 2 ? 't' : 'r', i)});
        qzct::WriteBytes(src / files.back().first, files.back().second);
    }
    for (const char *volume : {"4500", "9k", "64k"}) {
        SCOPED_TRACE(volume);
        const std::string archive = (dir.path() / (std::string("s") + volume + ".qza")).string();
        const CliRun add = Qzarc({"a", archive, "-v", volume, "-p", "pw", "."}, src);
        ASSERT_EQ(add.status, 0) << Describe(add);
        const fs::path out = dir.path() / (std::string("out") + volume);
        const CliRun x = Qzarc({"x", archive, "-o", out.string(), "-p", "pw"});
        ASSERT_EQ(x.status, 0) << Describe(x);
        for (const auto &file : files)
            EXPECT_TRUE(qzt::ReadBytes(out / file.first) == file.second) << file.first;
        EXPECT_TRUE(Leftovers(dir.path(), ".qzarc-").empty());
    }
}

TEST(CliAdd, LargeFilesDeflatedInPiecesComeBackWhole) {
    // Deflate works in 1 MiB pieces, two at a time: sizes around the piece
    // boundaries, odd and even counts of pieces, plain and encrypted.
    TempDir dir;
    const fs::path src = dir.path() / "src";
    std::vector<std::pair<std::string, qzw::Bytes>> files;
    for (const size_t size : {size_t{1} << 20, (size_t{1} << 20) + 1, size_t{2} << 20, (size_t{7} << 19) + 3}) {
        files.push_back({"p" + std::to_string(size), qzt::MakeData(size, 't', static_cast<uint32_t>(size))});
        qzct::WriteBytes(src / files.back().first, files.back().second);
    }
    for (const char *password : {"", "pw"}) {
        SCOPED_TRACE(password);
        const std::string archive = (dir.path() / (std::string("p") + password + ".qza")).string();
        std::vector<std::string> add = {"a", archive, "."};
        if (*password != '\0')
            add.insert(add.end(), {"-p", password});
        const CliRun made = Qzarc(add, src);
        ASSERT_EQ(made.status, 0) << Describe(made);
        EXPECT_EQ(qzct::Count(made.out, "deflated  "), files.size()) << made.out;
        const fs::path out = dir.path() / (std::string("out") + password);
        const CliRun x = Qzarc({"x", archive, "-o", out.string(), "-p", password});
        ASSERT_EQ(x.status, 0) << Describe(x);
        for (const auto &file : files)
            EXPECT_TRUE(qzt::ReadBytes(out / file.first) == file.second) << file.first;
    }
}

TEST(CliAdd, IncompressibleFilesAreStoredAndCompressibleOnesDeflated) {
    TempDir dir;
    qzct::WriteBytes(dir.path() / "noise", qzt::MakeData(300000, 'r', 7));
    qzct::WriteBytes(dir.path() / "text", qzt::MakeData(300000, 't', 8));
    const CliRun add = Qzarc({"a", "m.qza", "noise", "text"}, dir.path());
    ASSERT_EQ(add.status, 0) << Describe(add);
    EXPECT_TRUE(Contains(add.out, "stored    noise")) << add.out;
    EXPECT_TRUE(Contains(add.out, "deflated  text")) << add.out;
    // The stored entry costs its header and nothing more.
    EXPECT_LT(fs::file_size(dir.path() / "m.qza"), 300000u + 62 + 5 + 62 + 4 + 300000u / 2);
    const CliRun test = Qzarc({"t", "m.qza"}, dir.path());
    EXPECT_EQ(test.status, 0) << Describe(test);
}

TEST(CliAdd, OutputProblemsAreFoundBeforeAnyInputIsRead) {
    TempDir dir;
    qzct::WriteBytes(dir.path() / "in.txt", qzt::MakeData(1000, 't'));
    fs::create_directories(dir.path() / "adir");
    struct Case {
        std::vector<std::string> args;
        const char *message;
    };
    const Case cases[] = {
        {{"a", "no-such-dir/x.qza", "in.txt"}, "cannot write no-such-dir"},
        {{"a", "adir", "in.txt"}, "is a directory"},
        {{"a", "backup", "-v", "16k", "in.txt"}, "last three characters"},
        {{"a", "b.qzarc", "-v", "16k", "in.txt"}, "three-character extension"},
        {{"a", "b.qza", "-v", "2g", "in.txt"}, "below 2 GiB"},
        {{"a", "b.qza", "-v", "2147483648", "in.txt"}, "below 2 GiB"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.message);
        const CliRun run = Qzarc(c.args, dir.path());
        EXPECT_EQ(run.status, 2) << Describe(run);
        EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
        EXPECT_FALSE(Contains(run.out, "deflated")) << "input was read first";
    }
    EXPECT_EQ(qzct::TreeListing(dir.path()), (std::vector<std::string>{"adir", "in.txt"}));
    // The largest volume the format allows is accepted.
    const CliRun largest = Qzarc({"a", "ok.qza", "-v", "2147483647", "in.txt"}, dir.path());
    EXPECT_EQ(largest.status, 0) << Describe(largest);
}

TEST(CliAdd, ArchivesTheFormatCannotAddressAreRefusedBeforeWriting) {
    TempDir dir;
    MakeSparse(dir.path() / "two-gib", 0x80000000u);
    MakeSparse(dir.path() / "four-gib", 0x100000000u);
    qzct::WriteBytes(dir.path() / "small", qzt::MakeData(100, 't'));

    // One volume of 2 GiB or more cannot be walked: -v is the way out.
    const CliRun big = Qzarc({"a", "big.qza", "-m", "store", "two-gib", "small"}, dir.path());
    EXPECT_EQ(big.status, 2) << Describe(big);
    EXPECT_TRUE(Contains(big.err, "-v")) << big.err;
    EXPECT_TRUE(Contains(big.err, "2 GiB")) << big.err;

    // An entry of 4 GiB or more does not fit its 32-bit sizes: skipped.
    const CliRun huge = Qzarc({"a", "huge.qza", "four-gib", "small"}, dir.path());
    EXPECT_EQ(huge.status, 1) << Describe(huge);
    EXPECT_TRUE(Contains(huge.err, "four-gib: larger than the 4 GiB")) << huge.err;
    const CliRun list = Qzarc({"l", "huge.qza"}, dir.path());
    EXPECT_TRUE(Contains(list.out, "small")) << list.out;
    EXPECT_FALSE(Contains(list.out, "four-gib")) << list.out;

    EXPECT_EQ(qzct::TreeListing(dir.path()),
              (std::vector<std::string>{"four-gib", "huge.qza", "small", "two-gib"}));
}

TEST(CliAdd, ExistingArchiveFilesAreNamedAndKeptWithoutOverwrite) {
    TempDir dir;
    const fs::path src = dir.path() / "src";
    qzct::WriteBytes(src / "data", qzt::MakeData(50000, 'r', 3));
    const qzw::Bytes precious = {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'};
    qzct::WriteBytes(dir.path() / "x.002", precious);

    const CliRun refused = Qzarc({"a", "x.qza", "src", "-v", "16k"}, dir.path());
    EXPECT_EQ(refused.status, 2) << Describe(refused);
    EXPECT_TRUE(Contains(refused.err, "x.002 exists")) << refused.err;
    EXPECT_TRUE(qzt::ReadBytes(dir.path() / "x.002") == precious);
    EXPECT_EQ(qzct::TreeListing(dir.path()), (std::vector<std::string>{"src", "src/data", "x.002"}));

    // With -y the set is written over it.
    const CliRun replaced = Qzarc({"a", "x.qza", "src", "-v", "16k", "-y"}, dir.path());
    ASSERT_EQ(replaced.status, 0) << Describe(replaced);
    EXPECT_FALSE(qzt::ReadBytes(dir.path() / "x.002") == precious);
    EXPECT_EQ(Qzarc({"t", "x.qza"}, dir.path()).status, 0);

    // The archive itself, too.
    const CliRun again = Qzarc({"a", "x.qza", "src"}, dir.path());
    EXPECT_EQ(again.status, 2) << Describe(again);
    EXPECT_TRUE(Contains(again.err, "x.qza exists")) << again.err;
}

}  // namespace
