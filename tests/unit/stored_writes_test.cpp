// The stored-entry path seen through the platform layer's instruments: the
// sizes of the writes to the output file, and the heap blocks and handles
// that a call or a walk leaves behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "instrumented_fixture.h"
#include "qzarc.h"
#include "platform/test_hooks.h"
#include "test_support.h"
#include "writer/writer.h"

namespace {

using qzt::CallResult;
using qzw::Archive;

constexpr uint32_t kFlushSize = 65536;

// What the staging buffer must produce for n bytes: full 64 KiB writes and
// then one shorter write for the rest, if any.
std::vector<uint32_t> ExpectedWrites(size_t n) {
    std::vector<uint32_t> sizes(n / kFlushSize, kFlushSize);
    if (n % kFlushSize != 0)
        sizes.push_back(static_cast<uint32_t>(n % kFlushSize));
    return sizes;
}

class StoredWritesTest : public qzt::InstrumentedExtractionTest {};

TEST_F(StoredWritesTest, WritesWholeStagingBuffersThenTheRest) {
    const std::vector<size_t> sizes = {0, 1, 65535, 65536, 65537, 3u << 20};
    Archive archive;
    for (size_t i = 0; i < sizes.size(); ++i)
        archive.records.push_back(
            qzw::StoredRecord("e" + std::to_string(i), qzt::MakeData(sizes[i], 'r', 1)));
    const std::string path = dir_.file("a.qza");
    ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));

    for (size_t i = 0; i < sizes.size(); ++i) {
        SCOPED_TRACE("size " + std::to_string(sizes[i]));
        qzarc_test::ResetCounters();
        const std::string out = dir_.file("out" + std::to_string(i));
        ASSERT_EQ(Extract(path, out, 0, "", static_cast<uint32_t>(archive.RecordOffset(i))).result,
                  QZ_OK);
        EXPECT_EQ(qzarc_test::WriteSizes(), ExpectedWrites(sizes[i]));
        ExpectNothingLeft();
    }
}

// The switch to the next volume replaces the read and staging buffers; bytes
// already staged move along, so the writes keep their 64 KiB pattern.
TEST_F(StoredWritesTest, VolumeSwitchKeepsTheWritePattern) {
    const size_t size = 200000;
    Archive archive;
    archive.records.push_back(qzw::StoredRecord("big", qzt::MakeData(size, 'r', 2)));
    archive.records.push_back(qzw::StoredRecord("after", qzt::MakeData(10, 'r', 3)));
    for (uint64_t cut : {uint64_t{70000}, uint64_t{65536}, uint64_t{100}}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const std::string path = dir_.file("v" + std::to_string(cut) + ".qza");
        ASSERT_EQ(qzw::WriteVolumes(path, archive.Serialize(), {qzw::CutInPayload(archive, 0, cut)})
                      .size(),
                  2u);
        qzarc_test::ResetCounters();
        ASSERT_EQ(Extract(path, dir_.file("big"), QZ_KEEP_OPEN).result, QZ_OK);
        EXPECT_EQ(qzarc_test::WriteSizes(), ExpectedWrites(size));
        EXPECT_EQ(Extract(path, dir_.file("after"), 0).result, QZ_OK);
        EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
        ExpectNothingLeft();
    }
}

TEST_F(StoredWritesTest, WalkEndAndCloseNowReleaseEverything) {
    Archive archive;
    for (int i = 0; i < 3; ++i)
        archive.records.push_back(
            qzw::StoredRecord("e" + std::to_string(i), qzt::MakeData(70000, 'r', 4 + i)));
    archive.records[1].crc ^= 1u;  // a failed entry in the middle of the walk
    const std::string path = dir_.file("a.qza");
    ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));

    // A walk to its end.
    EXPECT_EQ(Extract(path, dir_.file("o0"), QZ_KEEP_OPEN).result, QZ_OK);
    EXPECT_GT(qzarc_test::LiveBlocks(), blocks_);  // the buffers live while the walk is open
    EXPECT_EQ(Extract(path, dir_.file("o1"), 0).result, QZ_ERR_CRC);
    EXPECT_EQ(Extract(path, dir_.file("o2"), 0).result, QZ_OK);
    EXPECT_EQ(Extract(path, dir_.file("o3"), 0).result, QZ_END_OF_ARCHIVE);
    ExpectNothingLeft();

    // A walk broken off by a close-now call.
    EXPECT_EQ(Extract(path, dir_.file("o0"), QZ_KEEP_OPEN).result, QZ_OK);
    EXPECT_EQ(CloseNow(), QZ_CLOSE_NOW);
    ExpectNothingLeft();

    // Single-mode calls, also those that fail at once or on their entry.
    EXPECT_EQ(Extract(path, dir_.file("o0"), 0).result, QZ_OK);
    EXPECT_EQ(Extract(path, dir_.file("o1"), 0, "",
                      static_cast<uint32_t>(archive.RecordOffset(1))).result,
              QZ_ERR_CRC);
    EXPECT_EQ(Extract(path, (dir_.path() / "missing" / "x").string(), 0).result,
              QZ_ERR_CREATE_OUTPUT - 3);
    ExpectNothingLeft();
}

TEST_F(StoredWritesTest, FailedBufferAllocationOnOpeningLeavesNothing) {
    Archive archive;
    archive.records.push_back(qzw::StoredRecord("e", qzt::MakeData(1000, 'r', 5)));
    const std::string path = dir_.file("a.qza");
    ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));

    // 1: the read buffer, 2: the staging buffer.
    for (uint32_t nth : {1u, 2u}) {
        SCOPED_TRACE("allocation " + std::to_string(nth) + " fails");
        for (int flags : {0, QZ_KEEP_OPEN}) {
            qzarc_test::FailAllocation(nth);
            const std::string out =
                dir_.file("out" + std::to_string(nth) + "_" + std::to_string(flags));
            CallResult r = Extract(path, out, flags);
            qzarc_test::FailAllocation(0);
            EXPECT_LT(r.result, 0);
            EXPECT_EQ(r.crc, qzt::kUntouched);
            EXPECT_FALSE(qzt::Exists(out));
            ExpectNothingLeft();
            // Nothing is held open either: the next call starts afresh.
            EXPECT_EQ(Extract(path, dir_.file("ok"), 0).result, QZ_OK);
            ExpectNothingLeft();
        }
    }
}

}  // namespace
