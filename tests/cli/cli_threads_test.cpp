// qzarc x and t with several worker threads: whatever the number of
// threads, the same files, the same lines in the same (archive) order, the
// same exit status; entries that write to one place are done in archive
// order; a split archive with a missing volume is reported once; x -c
// streams in order and names an entry whose final check fails.
#include <gtest/gtest.h>

#include <map>

#include "cli_harness.h"
#include "sample_data.h"

namespace {

namespace fs = std::filesystem;
using qzct::CliRun;
using qzct::Contains;
using qzct::Count;
using qzct::Describe;
using qzct::Qzarc;
using qzt::TempDir;

constexpr const char *kPassword = "threads";

qzw::Record Stored(const std::string &name, size_t size, uint32_t seed) {
    return qzw::StoredRecord(name, qzt::MakeData(size, seed % 2 == 0 ? 't' : 'r', seed));
}

qzw::Record Deflated(const std::string &name, size_t size, uint32_t seed) {
    return qzw::DeflatedRecord(name, qzt::MakeData(size, 't', seed));
}

// Entries of every kind a worker may meet, in an order where they race:
// sizes from nothing to a few MiB, both methods, directory entries, names
// that recur (the later one finds the earlier one's file), a file where a
// later entry needs a directory, a refused name, a damaged entry and
// encrypted ones. The last one is large enough for its worker to share its
// decoding with the threads the others no longer need.
qzw::Archive MixedArchive() {
    qzw::Archive archive;
    uint32_t seed = 1;
    for (int round = 0; round < 3; ++round) {
        const std::string dir = "dir" + std::to_string(round) + "\\";
        archive.records.push_back(Stored(dir, 0, seed++));
        for (int i = 0; i < 12; ++i) {
            const size_t size = static_cast<size_t>((i * 7919 + round * 104729) % 50000);
            const std::string name = dir + "f" + std::to_string(i) + ".dat";
            archive.records.push_back(i % 3 == 0 ? Stored(name, size, seed++) : Deflated(name, size, seed++));
        }
        archive.records.push_back(Deflated(dir + "big.txt", (3u << 20) + static_cast<size_t>(round), seed++));
        archive.records.push_back(Stored("same.txt", 1000 + static_cast<size_t>(round), seed++));
    }
    archive.records.push_back(Stored("blocker", 10, seed++));
    archive.records.push_back(Stored("blocker\\inside.txt", 10, seed++));
    archive.records.push_back(Stored("..\\escape.txt", 10, seed++));
    qzw::Record damaged = Deflated("damaged.txt", 20000, seed++);
    damaged.crc ^= 1;
    archive.records.push_back(damaged);
    for (int i = 0; i < 4; ++i) {
        qzw::Record secret = Deflated("secret" + std::to_string(i) + ".txt", 3000, seed++);
        secret.flags |= 1;
        secret.password = kPassword;
        archive.records.push_back(secret);
    }
    archive.records.push_back(Stored("last.txt", 5, seed++));
    archive.records.push_back(qzw::DeflatedRecord("last.bin", qzt::BinaryRecords((13u << 19) + 3, seed++)));
    return archive;
}

struct Outcome {
    CliRun run;
    std::vector<std::string> tree;
    std::map<std::string, qzw::Bytes> files;
};

// Extracts into run/out (the same name in every run, so that the messages
// naming it compare equal).
Outcome Extract(const std::string &archive, const fs::path &run, std::vector<std::string> extra) {
    const fs::path out = run / "out";
    fs::create_directories(run);
    std::vector<std::string> args = {"x", archive, "-o", "out", "-p", kPassword};
    args.insert(args.end(), extra.begin(), extra.end());
    Outcome outcome;
    outcome.run = Qzarc(args, run);
    outcome.tree = qzct::TreeListing(out);
    for (const std::string &path : outcome.tree) {
        if (fs::is_regular_file(out / path))
            outcome.files[path] = qzt::ReadBytes(out / path);
    }
    return outcome;
}

void ExpectSame(const Outcome &one, const Outcome &many, const std::string &what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(many.run.status, one.run.status) << Describe(many.run);
    EXPECT_EQ(many.run.out, one.run.out);
    EXPECT_EQ(many.run.err, one.run.err);
    EXPECT_EQ(many.tree, one.tree);
    EXPECT_TRUE(many.files == one.files) << "the files' contents differ";
}

TEST(CliThreads, AnyNumberOfThreadsGivesTheSameFilesLinesAndStatus) {
    TempDir dir;
    const std::string archive = (dir.path() / "mixed.qza").string();
    ASSERT_TRUE(qzw::WriteFile(archive, MixedArchive().Serialize()));

    const Outcome one = Extract(archive, dir.path() / "one", {"-T", "1"});
    EXPECT_EQ(one.run.status, 1) << Describe(one.run);
    // The recurring name: the first one is written, the later ones find it.
    EXPECT_EQ(Count(one.run.err, "same.txt exists; skipped"), 2u) << one.run.err;
    EXPECT_EQ(one.files.at("same.txt").size(), 1000u);
    EXPECT_TRUE(Contains(one.run.err, "is in the way")) << one.run.err;
    EXPECT_TRUE(Contains(one.run.err, "damaged.txt: CRC mismatch")) << one.run.err;
    EXPECT_EQ(Count(one.run.out, "extracted  secret"), 4u) << one.run.out;

    for (const char *threads : {"2", "3", "8"}) {
        for (int round = 0; round < 2; ++round) {
            const fs::path out = dir.path() / ("t" + std::string(threads) + "-" + std::to_string(round));
            ExpectSame(one, Extract(archive, out, {"-T", threads}), std::string("-T ") + threads);
        }
    }
    ExpectSame(one, Extract(archive, dir.path() / "default", {}), "the default");

    // Over the tree just made, with -y: the recurring name ends as the
    // last entry of that name.
    const Outcome again1 = Extract(archive, dir.path() / "one", {"-T", "1", "-y"});
    const Outcome again8 = Extract(archive, dir.path() / "t8-0", {"-T", "8", "-y"});
    ExpectSame(again1, again8, "-y over the same tree");
    EXPECT_EQ(again8.files.at("same.txt").size(), 1002u);

    // t prints a line per entry, in archive order, whatever the threads.
    const CliRun test1 = Qzarc({"t", archive, "-p", kPassword, "-T", "1"});
    const CliRun test4 = Qzarc({"t", archive, "-p", kPassword, "-T", "4"});
    EXPECT_EQ(test1.status, 1) << Describe(test1);
    EXPECT_EQ(test4.status, test1.status);
    EXPECT_EQ(test4.out, test1.out);
    EXPECT_EQ(test4.err, test1.err);
    EXPECT_TRUE(Contains(test1.out, "FAILED  damaged.txt: CRC mismatch")) << test1.out;

    // Bad counts are usage errors.
    for (const char *bad : {"0", "65", "x", ""}) {
        const CliRun run = Qzarc({"t", archive, "-T", bad});
        EXPECT_EQ(run.status, 2) << bad << "\n" << Describe(run);
    }
}

// With several threads the workers start on the first entries while the
// records are still being walked. Damage far into a large archive stops the
// walk when many entries are done already; an entry that holds a whole
// archive of its own must lend none of its records. Either way the lines,
// the messages and the status are those of -T 1.
TEST(CliThreads, WorkThatStartsBeforeTheWalkEndsEndsWhereTheWalkDoes) {
    TempDir dir;
    qzw::Archive inner;
    for (uint32_t i = 0; i < 6; ++i)
        inner.records.push_back(Stored("inner" + std::to_string(i) + ".bin", 500 + i, 100 + i));
    // The middle falls in the nested entry, before the archive it ends with.
    qzw::Bytes nested = qzt::MakeData(64 * 1024, 'r', 99);
    const qzw::Bytes innerBytes = inner.Serialize();
    nested.insert(nested.end(), innerBytes.begin(), innerBytes.end());
    constexpr uint32_t kHalf = 8000;
    qzw::Archive outer;
    for (uint32_t i = 0; i < 2 * kHalf + 1; ++i) {
        outer.records.push_back(i == kHalf ? qzw::StoredRecord("nested.qza", nested)
                                           : Stored("e" + std::to_string(i), 16, i));
    }
    const qzw::Bytes intact = outer.Serialize();
    qzw::Bytes broken = intact;
    const uint32_t damagedRecord = kHalf + 3000;
    size_t at = 0;
    for (size_t i = 0; i < damagedRecord; ++i)
        at += qzw::SerializeRecord(outer.records[i]).size();
    broken[at] = 'X';  // its magic
    for (const auto &[name, bytes] : {std::pair<std::string, qzw::Bytes>{"nested.qza", intact}, {"broken.qza", broken}}) {
        const std::string path = (dir.path() / name).string();
        ASSERT_TRUE(qzw::WriteFile(path, bytes));
        const CliRun one = Qzarc({"t", path, "-T", "1"});
        EXPECT_FALSE(Contains(one.out, "inner")) << name;
        EXPECT_EQ(Count(one.out, "OK  "), name == "nested.qza" ? 2 * kHalf + 1 : damagedRecord) << name;
        for (const char *threads : {"2", "8"}) {
            const CliRun many = Qzarc({"t", path, "-T", threads});
            EXPECT_EQ(many.status, one.status) << name << " -T " << threads;
            EXPECT_TRUE(many.out == one.out) << name << " -T " << threads;
            EXPECT_EQ(many.err, one.err) << name << " -T " << threads;
        }
    }
}

// Extracting workers take runs of neighbouring entries, up to hundreds
// at a time. Names that meet across runs far apart (a recurring file, a
// file where a much later entry needs a directory) are still settled in
// archive order, whatever entries (a large one ends a run) the runs hold.
TEST(CliThreads, RunsOfNeighboursSettleNamesThatMeetFarApartInArchiveOrder) {
    TempDir dir;
    qzw::Archive archive;
    constexpr uint32_t kEntries = 1200;
    for (uint32_t i = 0; i < kEntries; ++i) {
        std::string name = "d" + std::to_string(i / 300) + "\\f" + std::to_string(i % 300);
        if (i % 397 == 5)
            name = "again.txt";
        else if (i == 11)
            name = "late";
        else if (i == kEntries - 7)
            name = "late\\below.txt";
        const size_t size = i == 600 ? (9u << 20) : 40 + i % 97;
        archive.records.push_back(i % 5 == 0 ? Deflated(name, size, i) : Stored(name, size, i));
    }
    const std::string path = (dir.path() / "runs.qza").string();
    ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));

    const Outcome one = Extract(path, dir.path() / "one", {"-T", "1"});
    EXPECT_EQ(one.run.status, 1) << Describe(one.run);
    EXPECT_EQ(Count(one.run.err, "again.txt exists; skipped"), 3u) << one.run.err;
    EXPECT_TRUE(Contains(one.run.err, "is in the way")) << one.run.err;
    for (const char *threads : {"2", "3"})
        ExpectSame(one, Extract(path, dir.path() / threads, {"-T", threads}), std::string("-T ") + threads);
}

TEST(CliThreads, MissingVolumeIsReportedOnceAndCostsOnlyItsEntries) {
    TempDir dir;
    qzw::Archive archive;
    for (uint32_t i = 0; i < 40; ++i)
        archive.records.push_back(i % 2 == 0 ? Stored("e" + std::to_string(i) + ".bin", 3000 + i, i)
                                             : Deflated("e" + std::to_string(i) + ".txt", 9000 + i, i));
    const std::string path = (dir.path() / "split.qza").string();
    const auto cuts = qzw::InteriorCuts(archive, 12000);
    ASSERT_TRUE(cuts && cuts->size() >= 4);
    ASSERT_EQ(qzw::WriteArchiveVolumes(path, archive, *cuts).size(), cuts->size() + 1);
    fs::remove(qzw::VolumeName(path, 2));

    // The walk stops at the gap; with --scan it goes on after it, and the
    // entries found there are shared out too.
    for (const char *scan : {"", "--scan"}) {
        std::vector<std::string> options = {"-T", "1"};
        if (*scan != '\0')
            options.push_back(scan);
        const Outcome one = Extract(path, dir.path() / ("one" + std::string(scan)), options);
        EXPECT_EQ(one.run.status, 1) << Describe(one.run);
        EXPECT_EQ(Count(one.run.err, "is missing: "), 1u) << one.run.err;
        EXPECT_GE(one.tree.size(), *scan != '\0' ? 30u : 5u) << Describe(one.run);
        for (const char *threads : {"3", "8"}) {
            options[1] = threads;
            ExpectSame(one, Extract(path, dir.path() / (std::string(threads) + scan), options),
                       std::string("-T ") + threads + " " + scan);
        }
    }
}

TEST(CliThreads, StandardOutputStreamsEveryEntryInOrderAndNamesAFailedCheck) {
    TempDir dir;
    qzw::Archive archive;
    qzw::Bytes expected;
    for (uint32_t i = 0; i < 6; ++i) {
        const qzw::Bytes data = qzt::MakeData(i == 3 ? (5u << 20) : 70000 + i, 't', i);
        archive.records.push_back(i % 2 == 0 ? qzw::StoredRecord("s" + std::to_string(i), data)
                                             : qzw::DeflatedRecord("d" + std::to_string(i), data));
        expected.insert(expected.end(), data.begin(), data.end());
    }
    const std::string good = (dir.path() / "good.qza").string();
    ASSERT_TRUE(qzw::WriteFile(good, archive.Serialize()));
    const std::string whole(expected.begin(), expected.end());
    const CliRun run = Qzarc({"x", good, "-c"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out == whole) << "the streamed bytes differ";

    // The last entry's recorded CRC is wrong: its bytes are out before the
    // check fails, and the failure is said on standard error.
    archive.records.back().crc ^= 0x80;
    const std::string bad = (dir.path() / "bad.qza").string();
    ASSERT_TRUE(qzw::WriteFile(bad, archive.Serialize()));
    const CliRun failed = Qzarc({"x", bad, "-c"});
    EXPECT_EQ(failed.status, 1) << failed.err;
    EXPECT_TRUE(Contains(failed.err, "d5: CRC mismatch")) << failed.err;
    EXPECT_TRUE(Contains(failed.err, "not to be trusted")) << failed.err;
    EXPECT_TRUE(failed.out == whole);
}

}  // namespace
