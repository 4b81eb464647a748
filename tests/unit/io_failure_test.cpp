// Reads and seeks of the archive that fail (an I/O error, a volume that
// shrank) where the record walk cannot go on without them: each call ends
// with a defined result, leaves no output file and holds nothing. The
// platform layer's hooks make the Nth ReadFile or SetFilePointer fail.
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
using qzt::kUntouched;
using qzw::Archive;
using qzw::Bytes;

constexpr int kGenFailure = 31;  // ERROR_GEN_FAILURE, what the hooks report

class IoFailureTest : public qzt::InstrumentedExtractionTest {
protected:
    void TearDown() override {
        qzarc_test::FailRead(0);
        qzarc_test::FailSeek(0);
        InstrumentedExtractionTest::TearDown();
    }

    // A plain entry, then one encrypted under "pw", then a plain one.
    Archive ThreeRecords() const {
        Archive archive;
        archive.records.push_back(qzw::StoredRecord("first", first_));
        archive.records.push_back(qzt::Encrypted(qzw::StoredRecord("locked", locked_), "pw"));
        archive.records.push_back(qzw::StoredRecord("last", first_));
        return archive;
    }

    // After a failure the archive opens and reads as before.
    void ExpectArchiveStillReads(const std::string &path) {
        const std::string out = dir_.file("again");
        EXPECT_EQ(Extract(path, out, 0).result, QZ_OK);
        EXPECT_TRUE(qzt::ReadBytes(out) == first_);
        std::filesystem::remove(out);
        ExpectNothingLeft();
    }

    const Bytes first_ = qzt::MakeData(3000, 't', 1);
    const Bytes locked_ = qzt::MakeData(2000, 'r', 2);
};

// The host's start offset cannot be reached: the call fails as an archive
// that cannot be opened, -100000000 minus the error.
TEST_F(IoFailureTest, SeekToTheStartOffsetFailsTheOpeningCall) {
    const Archive archive = ThreeRecords();
    const std::string path = Write(archive);
    const std::string out = dir_.file("out");
    for (int flags : {0, QZ_KEEP_OPEN, QZ_HEADER_ONLY}) {
        SCOPED_TRACE("flags " + std::to_string(flags));
        qzarc_test::FailSeek(1);
        const CallResult r = Extract(path, out, flags, "", uint32_t(archive.RecordOffset(1)));
        qzarc_test::FailSeek(0);
        EXPECT_EQ(r.result, QZ_ERR_OPEN_ARCHIVE - kGenFailure);
        EXPECT_EQ(r.name, kUntouched);
        EXPECT_FALSE(qzt::Exists(out));
        ExpectNothingLeft();
    }
    ExpectArchiveStillReads(path);
}

// A header-only call that cannot find out where the data ends, or cannot
// move past it, ends the walk: no record can be found after it.
TEST_F(IoFailureTest, HeaderOnlySkipThatCannotSeekEndsTheWalk) {
    const std::string path = Write(ThreeRecords());
    // The skip asks for the position (1st seek), then moves (2nd).
    for (uint32_t nth : {1u, 2u}) {
        SCOPED_TRACE("seek " + std::to_string(nth));
        qzarc_test::FailSeek(nth);
        const CallResult r = Extract(path, "", QZ_KEEP_OPEN | QZ_HEADER_ONLY);
        qzarc_test::FailSeek(0);
        EXPECT_EQ(r.result, QZ_BAD_RECORD);
        EXPECT_EQ(r.name, "first");
        ExpectNothingLeft();
        // The walk is over: the next call opens the archive afresh.
        EXPECT_EQ(Extract(path, "", QZ_HEADER_ONLY).name, "first");
    }
    ExpectArchiveStillReads(path);
}

// A refused entry whose data cannot be skipped ends the walk in the same
// way, and its output file goes.
TEST_F(IoFailureTest, RefusedEntryThatCannotBeSkippedEndsTheWalk) {
    const Archive archive = ThreeRecords();
    const std::string path = Write(archive);
    const std::string out = dir_.file("locked");
    // The 1st seek moves to the start offset; the skip's come next.
    for (uint32_t nth : {2u, 3u}) {
        SCOPED_TRACE("seek " + std::to_string(nth));
        qzarc_test::FailSeek(nth);
        const CallResult r = Extract(path, out, 0, "wrong", uint32_t(archive.RecordOffset(1)));
        qzarc_test::FailSeek(0);
        EXPECT_EQ(r.result, QZ_BAD_RECORD);
        EXPECT_EQ(r.crc, kUntouched);
        EXPECT_FALSE(qzt::Exists(out));
        ExpectNothingLeft();
    }
    // Without the fault the same call is refused and the walk goes on.
    EXPECT_EQ(Extract(path, out, QZ_KEEP_OPEN, "wrong", uint32_t(archive.RecordOffset(1))).result,
              QZ_ERR_PASSWORD);
    EXPECT_EQ(Extract(path, dir_.file("last"), 0).name, "last");
    CloseNow();
    ExpectArchiveStillReads(path);
}

// The encryption header lies wholly in the record's volume. A read of it
// that fails, or that comes short because the volume was cut inside it,
// makes the record a damaged one (99), as a header or name cut short does:
// no password verdict on bytes that are not there.
TEST_F(IoFailureTest, UnreadableEncryptionHeaderIsADamagedRecord) {
    const Archive archive = ThreeRecords();
    const std::string path = Write(archive);
    const std::string out = dir_.file("locked");
    const uint32_t at = uint32_t(archive.RecordOffset(1));
    // magic, header, name, then the encryption header
    qzarc_test::FailRead(4);
    CallResult r = Extract(path, out, QZ_KEEP_OPEN, "pw", at);
    qzarc_test::FailRead(0);
    EXPECT_EQ(r.result, QZ_BAD_RECORD);
    EXPECT_EQ(r.crc, kUntouched);
    EXPECT_FALSE(qzt::Exists(out));
    ExpectNothingLeft();
    EXPECT_EQ(Extract(path, out, 0, "pw", at).result, QZ_OK);
    std::filesystem::remove(out);

    const Bytes whole = archive.Serialize();
    const uint64_t encryption = at + 62 + archive.records[1].name.size();
    for (uint64_t keep : {encryption, encryption + 5, encryption + 11}) {
        SCOPED_TRACE("cut after " + std::to_string(keep) + " bytes");
        const std::string cut = dir_.file("cut.qza");
        ASSERT_TRUE(qzw::WriteFile(cut, Bytes(whole.begin(), whole.begin() + long(keep))));
        for (const char *password : {"pw", "wrong"}) {
            r = Extract(cut, out, 0, password, at);
            EXPECT_EQ(r.result, QZ_BAD_RECORD) << password;
            EXPECT_EQ(r.crc, kUntouched);
            EXPECT_FALSE(qzt::Exists(out));
            ExpectNothingLeft();
        }
    }
}

}  // namespace
