// Recovery with --scan: past a damaged record header or a missing volume,
// the search for the next plausible record lets the walk go on, and every
// entry found again comes out whole; what was passed over is named.
#include <gtest/gtest.h>

#include <map>

#include "cli_harness.h"

namespace {

namespace fs = std::filesystem;
using qzct::CliRun;
using qzct::Contains;
using qzct::Count;
using qzct::Describe;
using qzct::Qzarc;
using qzt::TempDir;


qzw::Archive FiftyEntries(std::map<std::string, qzw::Bytes> *contents) {
    qzw::Archive archive;
    for (int i = 0; i < 50; ++i) {
        const std::string name = "dir\\f" + std::to_string(100 + i) + ".dat";
        const qzw::Bytes data = qzt::MakeData(200 + 53 * i, i % 2 ? 't' : 'r', i);
        (*contents)["dir/f" + std::to_string(100 + i) + ".dat"] = data;
        archive.records.push_back(i % 3 ? qzw::DeflatedRecord(name, data) : qzw::StoredRecord(name, data));
    }
    return archive;
}

void ExpectExtracted(const fs::path &out, const std::map<std::string, qzw::Bytes> &contents,
                     size_t expected) {
    size_t found = 0;
    for (const auto &file : contents) {
        if (!qzt::Exists(out / file.first))
            continue;
        ++found;
        EXPECT_TRUE(qzt::ReadBytes(out / file.first) == file.second) << file.first;
    }
    EXPECT_EQ(found, expected);
}

TEST(CliScan, DamagedRecordHeaderCostsOnlyItsOwnEntry) {
    TempDir dir;
    std::map<std::string, qzw::Bytes> contents;
    const qzw::Archive archive = FiftyEntries(&contents);
    qzw::Bytes bytes = archive.Serialize();
    const uint64_t tenth = archive.RecordOffset(9);
    for (uint64_t i = tenth; i < tenth + 6; ++i)
        bytes[i] = 0;
    qzct::WriteBytes(dir.path() / "d.qza", bytes);

    const CliRun plain = Qzarc({"t", "d.qza"}, dir.path());
    EXPECT_EQ(Count(plain.out, "OK      "), 9u) << Describe(plain);

    const CliRun test = Qzarc({"t", "d.qza", "--scan"}, dir.path());
    EXPECT_EQ(test.status, 1) << Describe(test);
    EXPECT_EQ(Count(test.out, "OK      "), 49u) << Describe(test);
    EXPECT_FALSE(Contains(test.out, "f109.dat"));
    EXPECT_TRUE(Contains(test.err, "the scan passed over bytes " + std::to_string(tenth) + " to " +
                                       std::to_string(archive.RecordOffset(10) - 1) + " of d.qza"))
        << test.err;

    const CliRun x = Qzarc({"x", "d.qza", "--scan", "-o", "out"}, dir.path());
    EXPECT_EQ(x.status, 1) << Describe(x);
    ExpectExtracted(dir.path() / "out", contents, 49);
}

TEST(CliScan, MissingVolumeIsPassedOverToTheRecordsAfterIt) {
    TempDir dir;
    std::map<std::string, qzw::Bytes> contents;
    const qzw::Archive archive = FiftyEntries(&contents);
    const std::string path = (dir.path() / "v.qza").string();
    const auto cuts = qzw::InteriorCuts(archive, 8000);
    ASSERT_TRUE(cuts && cuts->size() >= 4);
    ASSERT_EQ(qzw::WriteArchiveVolumes(path, archive, *cuts).size(), cuts->size() + 1);
    fs::remove(qzw::VolumeName(path, 2));
    // Records wholly before the gap, and those starting after it.
    size_t before = 0;
    size_t after = 0;
    for (size_t i = 0; i < archive.records.size(); ++i) {
        const uint64_t end = archive.RecordOffset(i + 1);
        if (end <= (*cuts)[1])
            ++before;
        else if (archive.RecordOffset(i) >= (*cuts)[2])
            ++after;
    }
    ASSERT_GT(after, 10u);

    const CliRun plain = Qzarc({"x", "v.qza", "-o", "plain"}, dir.path());
    EXPECT_EQ(plain.status, 1);
    ExpectExtracted(dir.path() / "plain", contents, before);

    const CliRun x = Qzarc({"x", "v.qza", "--scan", "-o", "out"}, dir.path());
    EXPECT_EQ(x.status, 1) << Describe(x);
    EXPECT_TRUE(Contains(x.err, "the scan passed over the missing volume")) << x.err;
    ExpectExtracted(dir.path() / "out", contents, before + after);
    // The private names given to the later volumes are gone.
    EXPECT_EQ(qzct::TreeListing(dir.path()).size(), cuts->size() + 2 + qzct::TreeListing(dir.path() / "out").size() +
                                                       qzct::TreeListing(dir.path() / "plain").size());
}

}  // namespace
