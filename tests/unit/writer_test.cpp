// The archive writer builds every archive the other tests read, so a fault
// here shows up as a misleading failure elsewhere. These tests pin the
// record layout against hand-written offsets and check the split invariants
// (no header crosses a volume boundary, cuts are as late as allowed) on
// every volume size over a mixed archive.
#include "writer/writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;
using qzw::Archive;
using qzw::Bytes;
using qzw::Record;

namespace {

uint64_t Le(const Bytes &b, size_t at, int width) {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | b.at(at + i);
    return v;
}

Bytes Fill(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

Bytes ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

class WriterFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qzw_test_" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string &leaf) const { return (dir_ / leaf).string(); }
    fs::path dir_;
};

TEST(WriterRecord, FieldsLandAtTheirOffsets) {
    Record r;
    r.version = 0x1234;
    r.flags = 0x0001;
    r.method = 9;
    r.creationTime = 0x0102030405060708ull;
    r.accessTime = 0x1112131415161718ull;
    r.writeTime = 0x2122232425262728ull;
    r.attributes = 0xA1A2A3A4u;
    r.crc = 0xC1C2C3C4u;
    r.uncompressedSize = 0x00ABCDEFu;
    r.reserved50 = 0x5152535455565758ull;
    r.reserved60 = 0x6162;
    r.name = "dir\\f.txt";
    r.encryptionHeader = Fill(12, 0x80);
    r.payload = Fill(5, 0x40);

    const Bytes b = qzw::SerializeRecord(r);
    ASSERT_EQ(b.size(), 62u + 9 + 12 + 5);
    EXPECT_EQ(r.headerSize(), 62u + 9 + 12);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 4), (Bytes{'Q', 'Z', 3, 4}));
    EXPECT_EQ(Le(b, 4, 2), 0x1234u);
    EXPECT_EQ(Le(b, 6, 2), 1u);
    EXPECT_EQ(Le(b, 8, 2), 9u);
    EXPECT_EQ(Le(b, 10, 8), 0x0102030405060708ull);
    EXPECT_EQ(Le(b, 18, 8), 0x1112131415161718ull);
    EXPECT_EQ(Le(b, 26, 8), 0x2122232425262728ull);
    EXPECT_EQ(Le(b, 34, 4), 0xA1A2A3A4u);
    EXPECT_EQ(Le(b, 38, 4), 0xC1C2C3C4u);
    EXPECT_EQ(Le(b, 42, 4), 5u);  // the encryption header is not counted
    EXPECT_EQ(Le(b, 46, 4), 0x00ABCDEFu);
    EXPECT_EQ(Le(b, 50, 8), 0x5152535455565758ull);
    EXPECT_EQ(Le(b, 58, 2), 9u);
    EXPECT_EQ(Le(b, 60, 2), 0x6162u);
    EXPECT_EQ(std::string(b.begin() + 62, b.begin() + 71), "dir\\f.txt");
    EXPECT_EQ(Bytes(b.begin() + 71, b.begin() + 83), r.encryptionHeader);
    EXPECT_EQ(Bytes(b.begin() + 83, b.end()), r.payload);
}

TEST(WriterRecord, OverridesChangeFieldsButNotLayout) {
    Record r = qzw::StoredRecord("ab", Fill(10, 1));
    r.compressedSizeOverride = 0xFFFFFFF0u;
    r.nameLengthOverride = 500;
    r.magicOverride = 0x04035A52u;
    r.flags = 1;
    r.encryptionHeader = Fill(5, 0x90);  // short: zero-padded to 12

    Bytes b = qzw::SerializeRecord(r);
    ASSERT_EQ(b.size(), 62u + 2 + 12 + 10);
    EXPECT_EQ(Le(b, 0, 4), 0x04035A52u);
    EXPECT_EQ(Le(b, 42, 4), 0xFFFFFFF0u);
    EXPECT_EQ(Le(b, 58, 2), 500u);
    EXPECT_EQ(Bytes(b.begin() + 64, b.begin() + 76),
              (Bytes{0x90, 0x97, 0x9E, 0xA5, 0xAC, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(b.begin() + 76, b.end()), r.payload);

    r.encryptionHeader = Fill(20, 0x10);  // long: cut to 12
    b = qzw::SerializeRecord(r);
    EXPECT_EQ(Bytes(b.begin() + 64, b.begin() + 76), Fill(12, 0x10));

    r.flags = 0;  // not flagged: the encryption header is not written at all
    EXPECT_EQ(qzw::SerializeRecord(r).size(), 62u + 2 + 10);
}

TEST(WriterRecord, StoredRecordCrcAndArchiveOffsets) {
    const std::string check = "123456789";
    const Record r = qzw::StoredRecord("c", Bytes(check.begin(), check.end()));
    EXPECT_EQ(r.crc, 0xCBF43926u);  // the standard CRC-32 check value
    EXPECT_EQ(r.uncompressedSize, 9u);
    EXPECT_EQ(qzw::Crc32(Bytes{}), 0u);

    Archive a;
    a.prefix = Fill(7, 0xEE);
    a.records = {r, qzw::StoredRecord("longer-name", {}), qzw::StoredRecord("x", Fill(3, 2))};
    a.records[1].flags = 1;
    const Bytes b = a.Serialize();
    ASSERT_EQ(b.size(), 7u + (62 + 1 + 9) + (62 + 11 + 12) + (62 + 1 + 3));
    for (size_t i = 0; i < a.records.size(); ++i) {
        EXPECT_EQ(Le(b, a.RecordOffset(i), 4), qzw::kRecordMagic) << i;
        EXPECT_EQ(a.PayloadOffset(i) - a.RecordOffset(i), a.records[i].headerSize()) << i;
    }
    EXPECT_EQ(a.PayloadOffset(2) + 3, b.size());
}

TEST(WriterVolumes, Names) {
    EXPECT_EQ(qzw::VolumeName("data.cab", 0), "data.cab");
    EXPECT_EQ(qzw::VolumeName("data.cab", 1), "data.001");
    EXPECT_EQ(qzw::VolumeName("set.abc", 10), "set.010");
    // Exactly three characters go, whatever they are: a short extension loses its dot.
    EXPECT_EQ(qzw::VolumeName("d.x/arch.qz", 999), "d.x/arch999");
}

TEST_F(WriterFiles, WriteVolumesCutsWhereToldAndRejectsBadCuts) {
    Archive a;
    a.records = {qzw::StoredRecord("one", Fill(100, 3)), qzw::StoredRecord("two", Fill(50, 9))};
    const Bytes b = a.Serialize();
    const std::string base = Path("a.cab");
    // Inside the first payload, at offset 0 of the second, and at the very end.
    const std::vector<uint64_t> cuts = {qzw::CutInPayload(a, 0, 40), qzw::CutInPayload(a, 1, 0),
                                        b.size()};
    const auto paths = qzw::WriteVolumes(base, b, cuts);
    ASSERT_EQ(paths, (std::vector<std::string>{base, Path("a.001"), Path("a.002"), Path("a.003")}));
    EXPECT_EQ(ReadAll(paths[0]), Bytes(b.begin(), b.begin() + cuts[0]));
    EXPECT_EQ(ReadAll(paths[1]), Bytes(b.begin() + cuts[0], b.begin() + cuts[1]));
    EXPECT_EQ(ReadAll(paths[2]), Bytes(b.begin() + cuts[1], b.end()));
    EXPECT_TRUE(ReadAll(paths[3]).empty());
    EXPECT_TRUE(qzw::WriteVolumes(base, b, {10, 10}).empty());
    EXPECT_TRUE(qzw::WriteVolumes(base, b, {b.size() + 1}).empty());
}

#ifndef _WIN32
TEST_F(WriterFiles, FullDiskIsReported) {
    const std::string link = Path("full.cab");
    fs::create_symlink("/dev/full", link);
    EXPECT_FALSE(qzw::WriteFile(link, Fill(100, 0)));
}
#endif

// For every volume size: volumes fit, their concatenation is the archive,
// each cut falls strictly after a header and at most at its payload's end,
// and no later allowed cut would have fit. Sizes too small for some header
// must fail instead.
TEST_F(WriterFiles, WriteSplitKeepsHeadersWholeAndCutsLate) {
    Archive a;
    a.prefix = Fill(30, 0x33);
    a.records = {qzw::StoredRecord("first.bin", Fill(150, 1)), qzw::StoredRecord("empty", {}),
                 qzw::StoredRecord("one", Fill(1, 2)), qzw::StoredRecord("big.dat", Fill(400, 3))};
    a.records[3].flags = 1;
    const Bytes b = a.Serialize();

    auto allowed = [&](uint64_t pos) {
        for (size_t i = 0; i < a.records.size(); ++i)
            if (pos > a.PayloadOffset(i) && pos <= a.PayloadOffset(i) + a.records[i].payload.size())
                return true;
        return false;
    };
    const std::string base = Path("s.cab");
    for (uint64_t max = 1; max <= b.size() + 1; ++max) {
        SCOPED_TRACE(max);
        bool feasible = true;  // does a greedy split exist? (greedy is optimal here)
        for (uint64_t start = 0; b.size() - start > max && feasible;) {
            uint64_t c = start + max;
            while (c > start && !allowed(c))
                --c;
            feasible = c > start;
            start = c;
        }
        const auto paths = qzw::WriteSplit(base, a, max);
        if (!feasible) {
            EXPECT_TRUE(paths.empty());
            continue;
        }
        ASSERT_FALSE(paths.empty());
        Bytes joined;
        for (size_t k = 0; k < paths.size(); ++k) {
            EXPECT_EQ(paths[k], qzw::VolumeName(base, static_cast<unsigned>(k)));
            const Bytes v = ReadAll(paths[k]);
            EXPECT_LE(v.size(), max);
            joined.insert(joined.end(), v.begin(), v.end());
            if (k + 1 == paths.size())
                break;
            ASSERT_TRUE(allowed(joined.size())) << "cut at " << joined.size();
            const uint64_t start = joined.size() - v.size();
            for (uint64_t later = joined.size() + 1; later <= start + max; ++later)
                EXPECT_FALSE(allowed(later)) << "later cut " << later << " fits";
        }
        EXPECT_EQ(joined, b);
        for (const auto &p : paths)
            fs::remove(p);
    }
    // The encrypted record's header (62 + 7 + 12) cannot fit in 80 bytes.
    EXPECT_TRUE(qzw::WriteSplit(base, a, 80).empty());
}

}  // namespace
