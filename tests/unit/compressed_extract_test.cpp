// The compressed-entry path seen through the platform layer's instruments:
// the size of every write to the output file (one per inflater slice), what
// a failed allocation of the inflater's window or of a code table leaves
// behind, and how soon a failed write gives the inflater's memory back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "deflate_builder.h"
#include "instrumented_fixture.h"
#include "qzarc.h"
#include "platform/test_hooks.h"
#include "test_support.h"
#include "writer/writer.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using qzt::CallResult;
using qzt::CompressedRecord;
using qzt::kUntouched;
using qzw::Archive;
using qzw::Bytes;
using qzw::Record;

// Full slices, then the rest if there is one.
std::vector<uint32_t> SliceWrites(size_t size, uint32_t slice) {
    std::vector<uint32_t> sizes(size / slice, slice);
    if (size % slice != 0)
        sizes.push_back(static_cast<uint32_t>(size % slice));
    return sizes;
}

#if !defined(_WIN32)
// True when one of this process's descriptors still refers to path (also
// after the file was deleted).
bool HeldOpen(const std::string &path) {
    std::error_code ec;
    for (const auto &fd : fs::directory_iterator("/proc/self/fd", ec)) {
        const fs::path target = fs::read_symlink(fd.path(), ec);
        if (!ec && (target.string() == path || target.string() == path + " (deleted)"))
            return true;
    }
    return false;
}
#endif

class CompressedExtractTest : public qzt::InstrumentedExtractionTest {
protected:
    // Heap allocations an opening call makes before the entry's data: the
    // read and staging buffers.
    uint32_t OpeningAllocations(const std::string &archive) {
        qzarc_test::ResetCounters();
        EXPECT_EQ(Extract(archive, "", QZ_HEADER_ONLY).result, QZ_OK);
        return qzarc_test::AllocationCount();
    }
};

// Every slice asks the inflater for the entry's slice size (compressed size
// + 4, at most 65536) and is written with one call, also when the stream's blocks
// end inside it.
TEST_F(CompressedExtractTest, EachSliceIsOneWriteOfTheSliceSize) {
    struct Case {
        size_t compressed;
        size_t plain;
        uint32_t slice;
    };
    const Case cases[] = {
        {100, 10000, 104},        // at least 97 writes for 10 000 bytes
        {100, 104 * 20, 104},     // the last slice is full: no empty write after it
        {65531, 300000, 65535},
        {65532, 300000, 65536},   // from here on the slice stays at 64 KiB
        {200000, 1000000, 65536},
    };
    Archive archive;
    std::vector<Bytes> plains;
    for (const Case &c : cases) {
        Bytes stream, plain;
        ASSERT_TRUE(qzt::ExactSizeStream(c.compressed, c.plain, uint32_t(c.plain), &stream, &plain));
        archive.records.push_back(CompressedRecord(
            std::to_string(c.compressed) + "/" + std::to_string(c.plain), plain, stream));
        plains.push_back(plain);
    }
    // An empty entry still gets the (empty) write of its first slice.
    const Bytes empty;
    archive.records.push_back(qzw::DeflatedRecord("empty", empty));
    const std::string path = Write(archive);

    for (size_t i = 0; i < archive.records.size(); ++i) {
        SCOPED_TRACE(archive.records[i].name);
        qzarc_test::ResetCounters();
        const std::string out = dir_.file("out");
        ASSERT_EQ(Extract(path, out, i == 0 ? QZ_KEEP_OPEN : 0).result, QZ_OK);
        if (i < plains.size()) {
            EXPECT_EQ(qzarc_test::WriteSizes(), SliceWrites(plains[i].size(), cases[i].slice));
            EXPECT_TRUE(qzt::ReadBytes(out) == plains[i]);
        } else if (qzw::HaveDeflate()) {
            EXPECT_EQ(qzarc_test::WriteSizes(), std::vector<uint32_t>{0});
        }
    }
    EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
    ExpectNothingLeft();
}

// The slice in which the byte source meets a missing volume is not written:
// its bytes after the cut are not the entry's.
TEST_F(CompressedExtractTest, SliceThatHitsAMissingVolumeIsNotWritten) {
    Bytes plain, stream;
    // Stored blocks of random bytes: compressed and plain offsets nearly match.
    ASSERT_TRUE(qzt::ExactSizeStream(150000, 160000, 6, &stream, &plain));
    Archive archive;
    archive.records.push_back(CompressedRecord("cut", plain, stream));
    const std::string path = dir_.file("v.qza");
    ASSERT_EQ(qzw::WriteVolumes(path, archive.Serialize(), {qzw::CutInPayload(archive, 0, 100000)})
                  .size(),
              2u);
    fs::remove(qzw::VolumeName(path, 1));

    qzt::HostRecorder host;  // answers a volume request with 1: stop waiting
    qzarc_test::ResetCounters();
    const std::string out = dir_.file("cut");
    CallResult r = Extract(path, out, 0);
    // The first slice lies wholly in the first volume; the second runs into
    // the missing one and is dropped. The entry fails as one whose volume is
    // missing, whatever the end check made of the part that was there.
    EXPECT_EQ(r.result, QZ_ERR_VOLUME);
    EXPECT_EQ(r.crc, kUntouched);
    EXPECT_EQ(qzarc_test::WriteSizes(), std::vector<uint32_t>{65536});
    EXPECT_FALSE(qzt::Exists(out));
    EXPECT_EQ(host.volumeRequests().size(), 1u);
    ExpectNothingLeft();
}

// A damaged entry stops once its data is spent: the slice that starts more
// than 4 bytes past the data fails at once, so of an entry declaring 1 GiB
// the fillers fill at most one slice. 100 bytes of a stored block: the
// first slice takes its 95 data bytes and 9 fillers, the second fails and
// writes nothing; the end check finds the final block unread.
TEST_F(CompressedExtractTest, DamagedEntryStopsWithinASliceOfItsDatasEnd) {
    Archive archive;
    archive.records.push_back(qzt::CutShortRecord("cut", 100, 1u << 30));
    archive.records.push_back(qzw::StoredRecord("after", qzt::MakeData(300, 't', 5)));
    const std::string path = Write(archive);
    const std::string out = dir_.file("cut");
    qzt::HostRecorder host;
    CallResult r = Extract(path, out, QZ_KEEP_OPEN);
    EXPECT_EQ(r.result, QZ_ERR_TRUNCATED);
    EXPECT_EQ(r.crc, kUntouched);
    EXPECT_EQ(qzarc_test::WriteSizes(), (std::vector<uint32_t>{104, 0}));
    EXPECT_FALSE(qzt::Exists(out));
    EXPECT_TRUE(host.calls.empty());
    // The walk goes on with the next record.
    qzarc_test::ResetCounters();
    EXPECT_EQ(Extract(path, dir_.file("after"), 0).result, QZ_OK);
    EXPECT_EQ(qzarc_test::WriteSizes(), std::vector<uint32_t>{300});
    EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
    ExpectNothingLeft();
}

// Without memory for the window the call returns -1 at once, but neither
// the output file nor its handle stays behind.
TEST_F(CompressedExtractTest, WindowAllocationFailureReturnsMinusOne) {
    Bytes plainA, streamA, plainB, streamB;
    ASSERT_TRUE(qzt::ExactSizeStream(3000, 50000, 1, &streamA, &plainA));
    ASSERT_TRUE(qzt::ExactSizeStream(500, 9000, 2, &streamB, &plainB));
    Archive archive;
    archive.records.push_back(CompressedRecord("a", plainA, streamA));
    archive.records.push_back(CompressedRecord("b", plainB, streamB));
    const std::string path = Write(archive);
    const uint32_t window = OpeningAllocations(path) + 1;
    ASSERT_EQ(window, 3u);  // the read buffer, the staging buffer, then the window
    ExpectNothingLeft();

    for (int flags : {0, QZ_KEEP_OPEN}) {
        SCOPED_TRACE(flags == 0 ? "single mode" : "walk mode");
        const std::string out = dir_.file("a");
        qzarc_test::FailAllocation(window);
        CallResult r = Extract(path, out, flags);
        qzarc_test::FailAllocation(0);
        EXPECT_EQ(r.result, QZ_ERR_INFLATE_START);
        EXPECT_EQ(r.crc, kUntouched);
        EXPECT_FALSE(qzt::Exists(out));
#if !defined(_WIN32)
        EXPECT_FALSE(HeldOpen(out)) << "the output file's handle is still open";
#endif
        // An immediate return skips the call's clean-up: at most the archive
        // itself is still open.
        EXPECT_LE(qzarc_test::LiveHandles(), handles_ + 1);

        if (flags == 0) {
            // The next opening call starts afresh.
            const std::string outA = dir_.file("a2");
            EXPECT_EQ(Extract(path, outA, 0).result, QZ_OK);
            EXPECT_TRUE(qzt::ReadBytes(outA) == plainA);
        } else {
            // The walk stays open and goes on with the next record.
            const std::string outB = dir_.file("b");
            EXPECT_EQ(Extract(path, outB, 0).result, QZ_OK);
            EXPECT_TRUE(qzt::ReadBytes(outB) == plainB);
            EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
        }
        ExpectNothingLeft();
    }
}

// A code table that cannot be allocated fails its block; the end check then
// judges the stream: unfinished (6) when the block was not the final one.
// Whatever table fails, nothing stays allocated once the walk has ended.
TEST_F(CompressedExtractTest, CodeTableAllocationFailureGivesTheVerdictAndLeaksNothing) {
    // A non-final dynamic block with codes of up to 15 bits (so both of its
    // tables need sub-tables), a non-final fixed block, and a final empty
    // stored block, which needs no table.
    std::vector<uint32_t> lit(258, 0);
    const uint32_t symbols[15] = {'a', 'b', 257, 'c', 'd', 'e', 'f', 'g',
                                  'h', 'i', 'j', 'k', 'l', 'm', 'n'};
    for (uint32_t i = 0; i < 15; ++i)
        lit[symbols[i]] = i + 1;
    lit[256] = 15;
    const qzt::DynamicCodes codes(lit, {1, 2, 3, 4, 5, 6, 7, 7});
    qzt::BitWriter w;
    codes.Header(w, false);
    Bytes plain;
    for (char c : std::string("abcdefghijklmn")) {
        codes.Symbol(w, uint8_t(c));
        plain.push_back(uint8_t(c));
    }
    codes.Match(w, 3, 2);  // "mnm"
    plain.insert(plain.end(), {'m', 'n', 'm'});
    codes.Symbol(w, 256);
    w.BlockHeader(false, 1);
    qzt::FixedSymbol(w, 'x');
    qzt::FixedMatch(w, 10, 1, false);
    plain.insert(plain.end(), 11, 'x');
    qzt::FixedSymbol(w, 256);
    w.StoredBlock(true, {});
    const Bytes after = qzt::MakeData(2000, 't', 3);

    Archive archive;
    archive.records.push_back(CompressedRecord("tables", plain, w.bytes()));
    archive.records.push_back(qzw::StoredRecord("after", after));
    const std::string path = Write(archive);

    // A run without failures counts the allocations: buffers, window, tables.
    const uint32_t window = OpeningAllocations(path) + 1;
    qzarc_test::ResetCounters();
    const std::string out = dir_.file("tables");
    ASSERT_EQ(Extract(path, out, 0).result, QZ_OK);
    ASSERT_TRUE(qzt::ReadBytes(out) == plain);
    const uint32_t total = qzarc_test::AllocationCount();
    // One block per table: three for the dynamic block, two for the fixed one.
    ASSERT_EQ(total, window + 5);
    ExpectNothingLeft();

    for (uint32_t nth = window + 1; nth <= total; ++nth) {
        SCOPED_TRACE("allocation " + std::to_string(nth) + " of " + std::to_string(total) +
                     " fails");
        qzarc_test::FailAllocation(nth);
        CallResult r = Extract(path, out, QZ_KEEP_OPEN);
        qzarc_test::FailAllocation(0);
        EXPECT_EQ(r.result, QZ_ERR_TRUNCATED);
        EXPECT_EQ(r.crc, kUntouched);
        EXPECT_FALSE(qzt::Exists(out));
        const std::string next = dir_.file("after");
        EXPECT_EQ(Extract(path, next, 0).result, QZ_OK);
        EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
        ExpectNothingLeft();
        if (HasFailure())
            break;
    }
}

#if !defined(_WIN32)
// A failed write ends the entry with 4 at once, and the inflater's window
// and the tables of its unfinished block go with it: right after the call
// the open walk holds what it holds between entries, the two buffers.
TEST_F(CompressedExtractTest, WriteFailureReleasesTheInflaterAtOnce) {
    const Bytes big = qzt::MakeData(300000, 't', 4);
    const Bytes after = qzt::MakeData(1000, 'r', 5);
    Archive archive;
    // Dynamic blocks much longer than a slice: the first write fails in the
    // middle of one, with its tables built.
    archive.records.push_back(qzw::DeflatedRecord("big", big));
    archive.records.push_back(qzw::StoredRecord("after", after));
    if (!qzw::HaveDeflate())
        GTEST_SKIP() << "the writer was built without zlib";
    const std::string path = Write(archive);

    ASSERT_EQ(Extract(path, "", QZ_HEADER_ONLY | QZ_KEEP_OPEN).result, QZ_OK);
    const long betweenEntries = qzarc_test::LiveBlocks() - blocks_;
    EXPECT_EQ(betweenEntries, 2);
    CloseNow();
    ExpectNothingLeft();

    const std::string full = dir_.file("full");
    fs::create_symlink("/dev/full", full);
    qzarc_test::ResetCounters();
    CallResult r = Extract(path, full, QZ_KEEP_OPEN);
    EXPECT_EQ(r.result, QZ_ERR_WRITE);
    EXPECT_EQ(r.crc, kUntouched);
    EXPECT_FALSE(qzt::Exists(full));
    // One write, the first slice's, and none after it failed.
    const uint32_t slice = std::min<uint32_t>(archive.records[0].compressedSize() + 4, 65536);
    EXPECT_EQ(qzarc_test::WriteSizes(), std::vector<uint32_t>{slice});
    EXPECT_EQ(qzarc_test::LiveBlocks() - blocks_, betweenEntries);
    EXPECT_EQ(qzarc_test::LiveHandles(), handles_ + 1);  // the archive

    const std::string out = dir_.file("after");
    EXPECT_EQ(Extract(path, out, 0).result, QZ_OK);
    EXPECT_TRUE(qzt::ReadBytes(out) == after);
    EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
    ExpectNothingLeft();

    // In single mode the call gives everything back.
    fs::create_symlink("/dev/full", full);
    EXPECT_EQ(Extract(path, full, 0).result, QZ_ERR_WRITE);
    ExpectNothingLeft();
    EXPECT_TRUE(fs::exists("/dev/full"));
}
#endif

}  // namespace
