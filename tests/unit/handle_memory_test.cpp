// What a handle of the handle API holds: its blocks are allocated once and
// reused, so that reading allocates nothing once the largest window and
// code tables have been met, and freeing the handle gives every block and
// file back.
#include <gtest/gtest.h>

#include <string>

#include "platform/test_hooks.h"
#include "qzarc.h"
#include "sample_data.h"
#include "test_support.h"
#include "writer/writer.h"

namespace {

// Reads every entry to its verified end; the number of entries read.
int ReadAll(qz_archive *a) {
    static unsigned char buffer[4093];
    int entries = 0;
    const qz_entry *entry = nullptr;
    int r;
    while ((r = qz_archive_next(a, &entry)) == QZ_ARCHIVE_OK) {
        int64_t n;
        while ((n = qz_archive_read(a, buffer, sizeof buffer)) > 0) {
        }
        EXPECT_EQ(n, 0) << entry->name << ": " << qz_archive_error(a);
        ++entries;
    }
    EXPECT_EQ(r, QZ_ARCHIVE_END) << qz_archive_error(a);
    return entries;
}

TEST(HandleMemory, ASecondPassAllocatesNothingAndFreeGivesEverythingBack) {
#if !defined(QZARC_HAVE_ZLIB)
    GTEST_SKIP() << "no zlib to make Deflate streams in this tree";
#endif
    qzt::TempDir dir;
    qzw::Archive archive;
    // Dynamic blocks of different shapes, fixed codes, stored data and an
    // encrypted entry, in two volumes.
    for (uint32_t i = 0; i < 6; ++i)
        archive.records.push_back(qzw::DeflatedRecord("text" + std::to_string(i), qzt::TextWithNoise(90000 + i * 7000, i)));
    qzw::DeflateOptions fixed;
    fixed.strategy = 4;  // fixed codes only
    archive.records.push_back(qzw::DeflatedRecord("fixed", qzt::MakeData(5000, 't', 7), fixed));
    archive.records.push_back(qzw::StoredRecord("stored", qzt::MakeData(70000, 'r', 8)));
    archive.records.push_back(qzt::Encrypted(qzw::DeflatedRecord("locked", qzt::MakeData(30000, 't', 9)), "pw"));
    const std::string path = dir.file("memory.qza");
    ASSERT_EQ(qzw::WriteVolumes(path, archive.Serialize(), {archive.Serialize().size() / 2}).size(), 2u);

    const long blocks = qzarc_test::LiveBlocks();
    const long files = qzarc_test::LiveHandles();
    qz_archive *a = qz_archive_new();
    ASSERT_NE(a, nullptr);
    qz_archive_set_password(a, "pw");
    ASSERT_EQ(qz_archive_open(a, path.c_str(), 0), QZ_ARCHIVE_OK) << qz_archive_error(a);
    EXPECT_EQ(ReadAll(a), 9);
    ASSERT_EQ(qz_archive_seek(a, 0), QZ_ARCHIVE_OK);
    const uint32_t allocations = qzarc_test::AllocationCount();
    EXPECT_EQ(ReadAll(a), 9);
    EXPECT_EQ(qzarc_test::AllocationCount(), allocations);
    qz_archive_free(a);
    EXPECT_EQ(qzarc_test::LiveBlocks(), blocks);
    EXPECT_EQ(qzarc_test::LiveHandles(), files);
}

}  // namespace
