// Heap exhaustion: the Nth heap allocation of an extraction made to fail,
// for every N the extraction makes (counted in a clean run). The read and
// staging buffers of an opening call fail it with -100000008, the inflater's
// window with -1, a code table with the end check's verdict after status 1,
// and a volume switch like a volume that cannot be opened. Nothing leaks,
// no failed entry leaves a file, and the next clean run works again.
#include <gtest/gtest.h>

#include <zlib.h>

#include "fault_support.h"
#include "qzarc.h"
#include "platform/test_hooks.h"
#include "test_support.h"

namespace qzfault {
namespace {

using qzfuzz::WalkMode;
using qzfuzz::WalkOptions;

constexpr int kOpenNoMemory = QZ_ERR_OPEN_ARCHIVE - 8;  // ERROR_NOT_ENOUGH_MEMORY

class AllocationTest : public WalkTest {
protected:
    // Extracts record r of the reference archive (all in one file) in
    // single mode, with allocation `fail` (0: none) made to fail.
    int ExtractRecord(size_t r, uint32_t fail) {
        qzarc_test::ResetCounters();
        qzarc_test::FailAllocation(fail);
        char name[300] = "";
        char crc[16] = "";
        const int result = QZUnpack(archive_.c_str(), output_.c_str(), name, qzfuzz::kPassword,
                                    static_cast<uint32_t>(Reference().RecordStart(r)), crc, 0);
        qzarc_test::FailAllocation(0);
        return result;
    }

    void SetUp() override {
        WalkTest::SetUp();
        archive_ = dir_.file("whole.qza");
        output_ = dir_.file("entry.out");
        ASSERT_TRUE(qzw::WriteFile(archive_, Reference().bytes));
    }

    bool OutputMatches(size_t r) const {
        const Bytes got = qzt::ReadBytes(output_);
        return crc32(0L, got.data(), static_cast<uInt>(got.size())) ==
               Reference().archive.records[r].crc;
    }

    std::string archive_;
    std::string output_;
};

TEST_F(AllocationTest, EveryAllocationOfASingleEntryExtraction) {
    int cases = 0;
    const auto &records = Reference().archive.records;
    for (size_t r = 0; r < records.size(); ++r) {
        ASSERT_EQ(ExtractRecord(r, 0), QZ_OK) << "record " << r;
        const uint32_t count = qzarc_test::AllocationCount();
        ASSERT_TRUE(OutputMatches(r));
        std::remove(output_.c_str());
        const bool compressed = records[r].method != 0;
        // Read and staging buffers; for a compressed entry the window, then
        // each block's code tables.
        if (compressed)
            ASSERT_GT(count, 3u) << "record " << r;
        else
            ASSERT_EQ(count, 2u) << "record " << r;

        for (uint32_t n = 1; n <= count; ++n, ++cases) {
            const std::string context = "record " + std::to_string(r) + ", allocation " +
                                        std::to_string(n) + " of " + std::to_string(count);
            const int result = ExtractRecord(r, n);
            if (n <= 2) {
                EXPECT_EQ(result, kOpenNoMemory) << context;
            } else if (n == 3) {
                EXPECT_EQ(result, QZ_ERR_INFLATE_START) << context;
            } else if (result == QZ_OK) {
                // A table that was never needed for output: the data is whole.
                EXPECT_TRUE(OutputMatches(r)) << context;
            } else {
                EXPECT_TRUE(result == QZ_ERR_TRUNCATED || result == QZ_ERR_SIZE ||
                            result == QZ_ERR_CRC)
                    << context << ": " << result;
            }
            if (result != QZ_OK) {
                EXPECT_FALSE(qzt::Exists(output_)) << context;
            }
            std::remove(output_.c_str());
            CloseNow();
            ExpectNothingHeld();
            // The failure left nothing behind that spoils the next extraction.
            ASSERT_EQ(ExtractRecord(r, 0), QZ_OK) << context;
            EXPECT_TRUE(OutputMatches(r)) << context;
            std::remove(output_.c_str());
        }
    }
    std::printf("[ sweep    ] %d single-entry extractions with one failed allocation\n", cases);
}

TEST_F(AllocationTest, EveryAllocationOfAWholeWalkAcrossVolumes) {
    QuietStderr quiet;
    int cases = 0;
    for (WalkMode mode : {WalkMode::kExtractAll, WalkMode::kHeaderOnlyAll, WalkMode::kAlternate}) {
        WalkOptions options;
        options.mode = mode;
        options.injectedFailures = true;
        qzarc_test::ResetCounters();
        ASSERT_EQ(walker_.Walk(Reference().Input(), options), "");
        const uint32_t count = qzarc_test::AllocationCount();
        ASSERT_GT(count, 2u);
        // The clean walk reads every record.
        ASSERT_EQ(walker_.log().back().result, QZ_END_OF_ARCHIVE);

        for (uint32_t n = 1; n <= count; ++n, ++cases) {
            const std::string context = "walk mode " + std::to_string(static_cast<int>(mode)) +
                                        ", allocation " + std::to_string(n) + " of " +
                                        std::to_string(count);
            qzarc_test::ResetCounters();
            qzarc_test::FailAllocation(n);
            const std::string fault = walker_.Walk(Reference().Input(), options);
            qzarc_test::FailAllocation(0);
            ASSERT_EQ(fault, "") << context;
            if (n <= 2)
                EXPECT_EQ(walker_.log().front().result, kOpenNoMemory) << context;
            else
                EXPECT_NE(walker_.log().front().result, kOpenNoMemory) << context;
            ExpectNothingHeld();
        }
    }
    std::printf("[ sweep    ] %d walks with one failed allocation\n", cases);
}

}  // namespace
}  // namespace qzfault
