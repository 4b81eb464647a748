// The record walk through the public API: finding each record in turn (within
// one volume and across volume boundaries), header-only skipping, the end of
// the walk (50) and a record that is not where it should be (99), the flags
// that open and close the walk, names as the host receives them, and the
// volume requests a host answers through its callback.
//
// Every call here is header-only: no entry data is extracted, so these tests
// depend only on the record layout and the volume chain.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "qzarc.h"
#include "test_support.h"
#include "writer/writer.h"

namespace {

namespace fs = std::filesystem;
using qzt::Call;
using qzt::CallResult;
using qzt::kUntouched;
using qzt::TempDir;
using qzw::Bytes;

constexpr int kOpenHeaders = QZ_KEEP_OPEN | QZ_HEADER_ONLY;

qzw::Record Entry(const std::string &name, size_t size, uint32_t seed, bool encrypted = false) {
    qzw::Record record = qzw::StoredRecord(name, qzt::MakeData(size, 'r', seed));
    if (encrypted) {
        record.flags |= 1;
        record.password = "walk-pass";
    }
    return record;
}

qzw::Archive MakeArchive(const std::vector<qzw::Record> &records, Bytes prefix = {}) {
    qzw::Archive archive;
    archive.prefix = std::move(prefix);
    archive.records = records;
    return archive;
}

CallResult HeaderCall(const std::string &archive, int flags, uint32_t startOffset = 0) {
    Call call;
    call.archive = archive;
    call.flags = flags;
    call.startOffset = startOffset;
    return qzt::Unpack(call);
}

std::string Describe(const std::vector<CallResult> &results) {
    std::ostringstream out;
    for (const CallResult &r : results)
        out << r.result << ":'" << (r.name.size() > 40 ? r.name.substr(0, 40) + "..." : r.name)
            << "' ";
    return out.str();
}

// A header-only walk must give 0 with each name in turn and an empty CRC
// text, then `last`, which leaves crcOut as it was.
void ExpectWalk(const std::vector<CallResult> &got, const std::vector<std::string> &names,
                int last) {
    SCOPED_TRACE("walk: " + Describe(got));
    ASSERT_EQ(got.size(), names.size() + 1);
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(got[i].result, QZ_OK) << "call " << i;
        EXPECT_EQ(got[i].name, names[i]) << "call " << i;
        EXPECT_EQ(got[i].crc, "") << "call " << i;
    }
    EXPECT_EQ(got.back().result, last);
    EXPECT_EQ(got.back().crc, kUntouched);
}

std::vector<std::string> NamesOf(const qzw::Archive &archive) {
    std::vector<std::string> names;
    for (const qzw::Record &r : archive.records)
        names.push_back(r.name);
    return names;
}

// Moves a file aside so that the library finds it missing.
std::string Hide(const std::string &path) {
    const std::string hidden = path + ".hidden";
    fs::rename(path, hidden);
    return hidden;
}

// The process's working directory, put back when the guard goes.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const fs::path &dir) : saved_(fs::current_path()) {
        fs::current_path(dir);
    }
    ~WorkingDirectory() {
        std::error_code ec;
        fs::current_path(saved_, ec);
    }
    WorkingDirectory(const WorkingDirectory &) = delete;
    WorkingDirectory &operator=(const WorkingDirectory &) = delete;

private:
    fs::path saved_;
};

TEST(RecordWalk, HeaderOnlyWalkReturnsEachNameThenEndOfArchive) {
    TempDir tmp;
    const std::string path = tmp.file("set.qza");
    // An empty entry, an encrypted empty entry (its 12-byte encryption header
    // is still there), and an entry larger than one 64 KiB read chunk.
    const qzw::Archive archive = MakeArchive({Entry("first.txt", 100, 1), Entry("empty", 0, 2),
                                              Entry("locked-empty", 0, 3, true),
                                              Entry("dir\\big.bin", 70000, 4),
                                              Entry("z", 1, 5, true)});
    ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));

    ExpectWalk(qzt::WalkHeaders(path), NamesOf(archive), QZ_END_OF_ARCHIVE);
    // 50 closed the archive; the same walk runs again from the start.
    ExpectWalk(qzt::WalkHeaders(path), NamesOf(archive), QZ_END_OF_ARCHIVE);

    // A one-record archive: the first continuing call already ends the walk.
    const std::string single = tmp.file("one.qza");
    ASSERT_TRUE(qzw::WriteFile(single, qzw::SerializeRecord(Entry("only", 10, 6))));
    ExpectWalk(qzt::WalkHeaders(single), {"only"}, QZ_END_OF_ARCHIVE);

    // Header-only calls create nothing, not even the output file they are given.
    const std::string output = tmp.file("out.bin");
    std::vector<CallResult> results;
    for (int i = 0; i < 10; ++i) {
        Call call;
        call.archive = path;
        call.output = output;
        call.password = "walk-pass";
        call.flags = i == 0 ? kOpenHeaders : QZ_HEADER_ONLY;
        results.push_back(qzt::Unpack(call));
        if (results.back().result != 0)
            break;
    }
    ExpectWalk(results, NamesOf(archive), QZ_END_OF_ARCHIVE);
    EXPECT_FALSE(qzt::Exists(output));
    EXPECT_EQ(qzt::ListFiles(tmp.path()), (std::vector<std::string>{"one.qza", "set.qza"}));
}

TEST(RecordWalk, EntryDataRunsOnIntoLaterVolumes) {
    struct Case {
        const char *what;
        std::vector<uint64_t> into;  // cut points, as offsets into the spanning payload
    };
    const std::vector<Case> cases = {
        {"one volume", {}},
        {"two volumes", {1234}},
        {"three volumes, the first ending right after the headers", {0, 4999}},
        {"three volumes, the middle one all data", {10, 2500}},
    };
    for (const Case &c : cases) {
        for (bool encrypted : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (encrypted ? ", encrypted" : ", plain"));
            TempDir tmp;
            const std::string path = tmp.file("set.qza");
            const qzw::Archive archive =
                MakeArchive({Entry("lead.txt", 50, 1), Entry("span.bin", 5000, 2, encrypted),
                             Entry("after.txt", 30, 3, encrypted), Entry("last", 7, 4)});
            std::vector<uint64_t> cuts;
            for (uint64_t into : c.into)
                cuts.push_back(qzw::CutInPayload(archive, 1, into));
            ASSERT_EQ(qzw::WriteVolumes(path, archive.Serialize(), cuts).size(), cuts.size() + 1);

            // Every volume is there, so the host is never asked for one.
            qzt::HostRecorder host;
            ExpectWalk(qzt::WalkHeaders(path), NamesOf(archive), QZ_END_OF_ARCHIVE);
            ExpectWalk(qzt::WalkHeaders(path), NamesOf(archive), QZ_END_OF_ARCHIVE);
            EXPECT_TRUE(host.calls.empty());
        }
    }
}

TEST(RecordWalk, RecordsThatStartInLaterVolumesChainOn) {
    // Each record starts in the volume where the previous one's data ended
    // and runs on into the next one; volume numbers reach two digits.
    TempDir tmp;
    const std::string path = tmp.file("chain.qza");
    std::vector<qzw::Record> records;
    for (int i = 0; i < 12; ++i)
        records.push_back(Entry("part" + std::to_string(i), 300 + 40 * i, i + 1, i % 3 == 1));
    const qzw::Archive archive = MakeArchive(records, qzt::MakeData(21, 't'));
    std::vector<uint64_t> cuts;
    for (size_t i = 0; i < records.size(); ++i)
        cuts.push_back(qzw::CutInPayload(archive, i, 17 + 13 * i));
    ASSERT_EQ(qzw::WriteVolumes(path, archive.Serialize(), cuts).size(), 13u);
    ASSERT_TRUE(qzt::Exists(tmp.file("chain.012")));

    ExpectWalk(qzt::WalkHeaders(path, 21), NamesOf(archive), QZ_END_OF_ARCHIVE);

    // A whole archive split by size, with volumes smaller than most entries.
    const std::string sized = tmp.file("sized.qza");
    const qzw::Archive big = MakeArchive({Entry("a", 9000, 1), Entry("b", 10, 2, true),
                                          Entry("c", 20000, 3, true), Entry("d", 4000, 4)});
    ASSERT_GT(qzw::WriteSplit(sized, big, 3000).size(), 10u);
    ExpectWalk(qzt::WalkHeaders(sized), NamesOf(big), QZ_END_OF_ARCHIVE);
}

TEST(RecordWalk, DataEndingAtTheEndOfAVolumeEndsTheWalk) {
    for (bool encrypted : {false, true}) {
        SCOPED_TRACE(encrypted ? "encrypted" : "plain");
        TempDir tmp;
        const qzw::Archive archive =
            MakeArchive({Entry("head", 40, 1), Entry("tail", 600, 2, encrypted), Entry("unseen", 5, 3)});
        const uint64_t end = qzw::CutInPayload(archive, 1, 600);

        // The cut right after the record's data: the walk looks for the next
        // record at the end of that volume and stops there, although the next
        // volume holds another record.
        const std::string whole = tmp.file("end.qza");
        ASSERT_EQ(qzw::WriteVolumes(whole, archive.Serialize(), {end}).size(), 2u);
        ExpectWalk(qzt::WalkHeaders(whole), {"head", "tail"}, QZ_END_OF_ARCHIVE);

        // The same after the data has run on into a second volume.
        const std::string spanned = tmp.file("span.qza");
        ASSERT_EQ(qzw::WriteVolumes(spanned, archive.Serialize(),
                                    {qzw::CutInPayload(archive, 1, 250), end})
                      .size(),
                  3u);
        ExpectWalk(qzt::WalkHeaders(spanned), {"head", "tail"}, QZ_END_OF_ARCHIVE);
    }
}

TEST(RecordWalk, NoRecordWhereTheNextShouldStartEndsTheWalkWith99) {
    TempDir tmp;
    // A foreign prefix that itself starts with the record magic.
    Bytes prefix = {'Q', 'Z', 3, 4};
    const Bytes filler = qzt::MakeData(29, 'r', 9);
    prefix.insert(prefix.end(), filler.begin(), filler.end());
    const uint32_t start = static_cast<uint32_t>(prefix.size());

    qzw::Record damaged = Entry("damaged", 20, 2);
    damaged.magicOverride = 0x04034B50u;
    const qzw::Archive archive = MakeArchive({Entry("one", 80, 1), damaged, Entry("three", 5, 3)}, prefix);
    const std::string path = tmp.file("bad.qza");
    ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));

    ExpectWalk(qzt::WalkHeaders(path, start), {"one"}, QZ_BAD_RECORD);
    // 99 closed the walk: the next call opens the archive again at startOffset.
    CallResult again = HeaderCall(path, QZ_HEADER_ONLY, start);
    EXPECT_EQ(again.result, QZ_OK);
    EXPECT_EQ(again.name, "one");
    ExpectWalk(qzt::WalkHeaders(path, start), {"one"}, QZ_BAD_RECORD);

    // The same when the bad position lies in a later volume.
    const std::string split = tmp.file("split.qza");
    ASSERT_EQ(qzw::WriteVolumes(split, archive.Serialize(), {qzw::CutInPayload(archive, 0, 33)}).size(), 2u);
    ExpectWalk(qzt::WalkHeaders(split, start), {"one"}, QZ_BAD_RECORD);

    // A compressed size that claims fewer bytes than the data holds.
    qzw::Record shortSize = Entry("short", 100, 4);
    shortSize.compressedSizeOverride = 90;
    const std::string undersized = tmp.file("under.qza");
    ASSERT_TRUE(qzw::WriteFile(undersized, MakeArchive({shortSize, Entry("next", 3, 5)}).Serialize()));
    ExpectWalk(qzt::WalkHeaders(undersized), {"short"}, QZ_BAD_RECORD);

    // Bytes after the last record that are not a record: a partial magic,
    // and four bytes that are not the magic.
    for (const Bytes &trailer : {Bytes{'Q', 'Z'}, Bytes{'Q', 'Z', 3, 5}, Bytes{0, 0, 0, 0, 0, 0}}) {
        qzw::Archive withTrailer = MakeArchive({Entry("only", 12, 6)});
        Bytes bytes = withTrailer.Serialize();
        bytes.insert(bytes.end(), trailer.begin(), trailer.end());
        const std::string trailing = tmp.file("trail.qza");
        ASSERT_TRUE(qzw::WriteFile(trailing, bytes));
        ExpectWalk(qzt::WalkHeaders(trailing), {"only"}, QZ_BAD_RECORD);
    }
}

TEST(RecordWalk, RecordCutShortByTheEndOfItsVolumeIsRejected) {
    TempDir tmp;
    qzw::Record longName = Entry(std::string(300, 'n'), 10, 3);
    const qzw::Archive archive = MakeArchive({Entry("whole", 64, 1), Entry("second-name", 10, 2), longName});
    const Bytes bytes = archive.Serialize();
    const uint64_t second = archive.RecordOffset(1);
    const uint64_t third = archive.RecordOffset(2);

    struct Case {
        const char *what;
        uint64_t cut;
        std::vector<std::string> names;
    };
    const std::vector<Case> cases = {
        {"inside the header", second + 30, {"whole"}},
        {"right after the magic", second + 4, {"whole"}},
        {"inside the name", second + 62 + 5, {"whole"}},
        // 259 name bytes are there (all that is kept), the rest is not.
        {"inside the part of a long name that is skipped", third + 62 + 280, {"whole", "second-name"}},
    };
    // After a record with an empty name: a header cut short would otherwise
    // leave that record's name length (0) and sizes in place.
    const qzw::Archive unnamed = MakeArchive({Entry("", 64, 1), Entry("second-name", 10, 2)});
    const std::string afterUnnamed = tmp.file("unnamed.qza");
    ASSERT_EQ(qzw::WriteVolumes(afterUnnamed, unnamed.Serialize(), {unnamed.RecordOffset(1) + 30}).size(), 2u);
    ExpectWalk(qzt::WalkHeaders(afterUnnamed), {kUntouched}, QZ_BAD_RECORD);

    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // The record's remainder is in the next volume, where it is never looked for,
        // or nowhere at all.
        const std::string split = tmp.file("split.qza");
        ASSERT_EQ(qzw::WriteVolumes(split, bytes, {c.cut}).size(), 2u);
        ExpectWalk(qzt::WalkHeaders(split), c.names, QZ_BAD_RECORD);

        const std::string cutOff = tmp.file("cut.qza");
        ASSERT_TRUE(qzw::WriteFile(cutOff, Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(c.cut))));
        ExpectWalk(qzt::WalkHeaders(cutOff), c.names, QZ_BAD_RECORD);
    }

    // The first record itself cut short: the opening call returns 99 and
    // leaves the archive closed, so the file can be replaced and the next call
    // reads the new one from its start.
    const std::string stub = tmp.file("stub.qza");
    ASSERT_TRUE(qzw::WriteFile(stub, Bytes(bytes.begin(), bytes.begin() + 40)));
    CallResult first = HeaderCall(stub, kOpenHeaders);
    EXPECT_EQ(first.result, QZ_BAD_RECORD);
    EXPECT_EQ(first.crc, kUntouched);
    ASSERT_TRUE(qzw::WriteFile(stub, MakeArchive({Entry("fresh", 5, 7), Entry("again", 5, 8)}).Serialize()));
    ExpectWalk(qzt::WalkHeaders(stub), {"fresh", "again"}, QZ_END_OF_ARCHIVE);
}

#if !defined(_WIN32)
// A damaged first record is reported (on Windows with a message box, which
// would wait for a user; elsewhere on stderr) and then read as if sound.
TEST(RecordWalk, DamagedFirstRecordIsReportedAndReadAnyway) {
    TempDir tmp;
    qzw::Record first = Entry("first", 25, 1);
    first.magicOverride = 0x12345678u;
    const std::string path = tmp.file("dmg.qza");
    ASSERT_TRUE(qzw::WriteFile(path, MakeArchive({first, Entry("second", 9, 2)}).Serialize()));

    testing::internal::CaptureStderr();
    const std::vector<CallResult> walk = qzt::WalkHeaders(path);
    const std::string reported = testing::internal::GetCapturedStderr();
    ExpectWalk(walk, {"first", "second"}, QZ_END_OF_ARCHIVE);
    EXPECT_NE(reported.find("#1"), std::string::npos) << reported;

    // Nothing but a magic-less stub: reported, then rejected as cut short.
    const std::string empty = tmp.file("empty.qza");
    ASSERT_TRUE(qzw::WriteFile(empty, Bytes{}));
    testing::internal::CaptureStderr();
    CallResult none = HeaderCall(empty, kOpenHeaders);
    const std::string reportedEmpty = testing::internal::GetCapturedStderr();
    EXPECT_EQ(none.result, QZ_BAD_RECORD);
    EXPECT_NE(reportedEmpty.find("#1"), std::string::npos) << reportedEmpty;
    // The walk is closed: the next call opens an archive afresh.
    testing::internal::CaptureStderr();
    const std::vector<CallResult> again = qzt::WalkHeaders(path);
    testing::internal::GetCapturedStderr();
    ExpectWalk(again, {"first", "second"}, QZ_END_OF_ARCHIVE);
}
#endif

TEST(RecordWalk, FlagsOpenAndCloseTheWalk) {
    TempDir tmp;
    const std::string path = tmp.file("flags.qza");
    ASSERT_TRUE(qzw::WriteFile(path, MakeArchive({Entry("r0", 10, 1), Entry("r1", 20, 2), Entry("r2", 30, 3),
                                                  Entry("r3", 40, 4)})
                                         .Serialize()));
    auto expect = [&](int flags, const std::string &name) {
        CallResult r = HeaderCall(path, flags);
        EXPECT_EQ(r.result, QZ_OK) << "flags " << flags;
        EXPECT_EQ(r.name, name) << "flags " << flags;
    };

    // Single mode: every call handles the first record.
    expect(QZ_HEADER_ONLY, "r0");
    expect(QZ_HEADER_ONLY, "r0");
    expect(QZ_HEADER_ONLY | QZ_CLOSE_AFTER, "r0");

    // 0x03 on the opening call: the record is handled, the walk stays closed.
    expect(QZ_HEADER_ONLY | QZ_KEEP_OPEN | QZ_CLOSE_AFTER, "r0");
    expect(QZ_HEADER_ONLY, "r0");

    // Continuing calls with or without 0x01 move on; 0x02 handles the next
    // record and then closes.
    expect(kOpenHeaders, "r0");
    expect(QZ_HEADER_ONLY, "r1");
    expect(kOpenHeaders, "r2");
    expect(QZ_HEADER_ONLY | QZ_CLOSE_AFTER, "r3");
    expect(QZ_HEADER_ONLY, "r0");

    // 0x03 on a continuing call closes too.
    expect(kOpenHeaders, "r0");
    expect(QZ_HEADER_ONLY | QZ_KEEP_OPEN | QZ_CLOSE_AFTER, "r1");
    expect(kOpenHeaders, "r0");
    expect(QZ_HEADER_ONLY | QZ_CLOSE_AFTER, "r1");

    // Single-mode calls at a start offset handle the record found there.
    const uint32_t second = 62 + 2 + 10;
    for (int i = 0; i < 3; ++i) {
        CallResult r = HeaderCall(path, QZ_HEADER_ONLY, second);
        EXPECT_EQ(r.result, QZ_OK);
        EXPECT_EQ(r.name, "r1");
    }
    ExpectWalk(qzt::WalkHeaders(path, second), {"r1", "r2", "r3"}, QZ_END_OF_ARCHIVE);
}

TEST(RecordWalk, CloseNowReturnsItsFlagsAndEndsTheWalk) {
    TempDir tmp;
    const std::string path = tmp.file("close.qza");
    ASSERT_TRUE(qzw::WriteFile(path, MakeArchive({Entry("a", 10, 1), Entry("b", 10, 2), Entry("c", 10, 3)})
                                         .Serialize()));

    // Nothing open, and an archive that does not even exist: no record is read.
    for (int flags : {QZ_CLOSE_NOW, QZ_CLOSE_NOW | QZ_CLOSE_AFTER,
                      QZ_CLOSE_NOW | QZ_KEEP_OPEN | QZ_HEADER_ONLY | 0x100}) {
        CallResult r = HeaderCall(tmp.file("missing.qza"), flags);
        EXPECT_EQ(r.result, flags);
        EXPECT_EQ(r.name, kUntouched);
        EXPECT_EQ(r.crc, kUntouched);
    }
    EXPECT_EQ(HeaderCall(path, QZ_CLOSE_NOW).result, 16);
    EXPECT_EQ(HeaderCall(path, 0x12).result, 18);

    // With the walk open: the next call opens the archive afresh.
    EXPECT_EQ(HeaderCall(path, kOpenHeaders).name, "a");
    EXPECT_EQ(HeaderCall(path, QZ_HEADER_ONLY).name, "b");
    CallResult closed = HeaderCall(path, QZ_CLOSE_NOW);
    EXPECT_EQ(closed.result, 16);
    EXPECT_EQ(closed.name, kUntouched);
    EXPECT_EQ(HeaderCall(path, kOpenHeaders).name, "a");
    EXPECT_EQ(HeaderCall(path, QZ_HEADER_ONLY).name, "b");
    EXPECT_EQ(HeaderCall(path, 0x12).result, 18);
    EXPECT_EQ(HeaderCall(path, QZ_HEADER_ONLY).name, "a");

    // Close-now let go of the file: it can be replaced while a walk was open.
    EXPECT_EQ(HeaderCall(path, kOpenHeaders).name, "a");
    EXPECT_EQ(HeaderCall(path, QZ_CLOSE_NOW).result, 16);
    ASSERT_TRUE(qzw::WriteFile(path, MakeArchive({Entry("new", 3, 4)}).Serialize()));
    ExpectWalk(qzt::WalkHeaders(path), {"new"}, QZ_END_OF_ARCHIVE);
}

// The name buffer the host passes, filled with a marker so that every byte
// the library writes shows.
struct RawCall {
    int result = 0;
    std::array<char, 1024> name{};
    std::array<char, 32> crc{};
};

RawCall RawHeaderCall(const std::string &archive, int flags) {
    RawCall call;
    call.name.fill('#');
    call.crc.fill('#');
    call.result = QZUnpack(archive.c_str(), "", call.name.data(), "", 0, call.crc.data(), flags);
    return call;
}

bool AllMarker(const char *begin, const char *end) {
    for (const char *p = begin; p != end; ++p)
        if (*p != '#')
            return false;
    return true;
}

TEST(RecordWalk, NamesReachTheHostAsStoredUpToTheirLimits) {
    TempDir tmp;
    const std::string path = tmp.file("names.qza");
    const std::string long300(300, 'L');
    std::string long300Distinct = long300;
    for (size_t i = 0; i < long300Distinct.size(); ++i)
        long300Distinct[i] = static_cast<char>('a' + i % 26);
    const std::string name259(259, 'x');
    const std::string name260 = std::string(259, 'y') + "Z";
    const std::string withNul("ab\0cd", 5);
    const qzw::Archive archive = MakeArchive({Entry("", 10, 1), Entry(long300Distinct, 20, 2, true),
                                              Entry(name259, 5, 3), Entry(name260, 5, 4),
                                              Entry(withNul, 6, 5), Entry("", 0, 6, true),
                                              Entry("last", 4, 7)});
    ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));

    std::vector<RawCall> calls;
    for (int i = 0; i < 10; ++i) {
        calls.push_back(RawHeaderCall(path, i == 0 ? kOpenHeaders : QZ_HEADER_ONLY));
        if (calls.back().result != 0)
            break;
    }
    ASSERT_EQ(calls.size(), 8u);
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(calls[i].result, QZ_OK) << "record " << i;
        EXPECT_STREQ(calls[i].crc.data(), "") << "record " << i;
    }
    EXPECT_EQ(calls[7].result, QZ_END_OF_ARCHIVE);

    // A 0-length name leaves the host's buffer as it was.
    EXPECT_TRUE(AllMarker(calls[0].name.data(), calls[0].name.data() + calls[0].name.size()));
    EXPECT_TRUE(AllMarker(calls[5].name.data(), calls[5].name.data() + calls[5].name.size()));
    // A 300-byte name: its first 259 bytes and a terminator, nothing beyond.
    EXPECT_EQ(std::string(calls[1].name.data()), long300Distinct.substr(0, 259));
    EXPECT_TRUE(AllMarker(calls[1].name.data() + 260, calls[1].name.data() + calls[1].name.size()));
    EXPECT_EQ(std::string(calls[2].name.data()), name259);
    EXPECT_EQ(std::string(calls[3].name.data()), name260.substr(0, 259));
    EXPECT_TRUE(AllMarker(calls[3].name.data() + 260, calls[3].name.data() + calls[3].name.size()));
    // An embedded NUL ends the name the host sees.
    EXPECT_STREQ(calls[4].name.data(), "ab");
    EXPECT_STREQ(calls[6].name.data(), "last");

    // A long name at the end of a volume, its record's data running on.
    const std::string split = tmp.file("split.qza");
    ASSERT_EQ(qzw::WriteVolumes(split, archive.Serialize(), {qzw::CutInPayload(archive, 1, 0)}).size(), 2u);
    const std::vector<CallResult> walk = qzt::WalkHeaders(split);
    ExpectWalk(walk, {kUntouched, long300Distinct.substr(0, 259), name259, name260.substr(0, 259), "ab",
                      kUntouched, "last"},
               QZ_END_OF_ARCHIVE);
}

TEST(RecordWalk, ArchiveThatCannotBeOpened) {
    TempDir tmp;
    const std::string good = tmp.file("good.qza");
    ASSERT_TRUE(qzw::WriteFile(good, MakeArchive({Entry("g0", 8, 1), Entry("g1", 8, 2)}).Serialize()));

    const std::string missingFile = tmp.file("missing.qza");
    const std::string missingDir = (tmp.path() / "nodir" / "set.qza").string();
    for (int flags : {QZ_HEADER_ONLY, kOpenHeaders}) {
        CallResult file = HeaderCall(missingFile, flags);
        EXPECT_EQ(file.result, -100000002);
        EXPECT_EQ(file.name, kUntouched);
        EXPECT_EQ(file.crc, kUntouched);
        CallResult dir = HeaderCall(missingDir, flags);
        EXPECT_EQ(dir.result, -100000003);
        EXPECT_EQ(dir.name, kUntouched);

        // A failed opening call does not open the walk: the next call opens
        // the archive it is given, and without 0x01 stays in single mode.
        EXPECT_EQ(HeaderCall(good, QZ_HEADER_ONLY).name, "g0");
        EXPECT_EQ(HeaderCall(good, QZ_HEADER_ONLY).name, "g0");
    }
    ExpectWalk(qzt::WalkHeaders(good), {"g0", "g1"}, QZ_END_OF_ARCHIVE);
    EXPECT_EQ(qzt::ListFiles(tmp.path()), (std::vector<std::string>{"good.qza"}));
}

TEST(RecordWalk, StartOffsetSkipsAForeignPrefix) {
    TempDir tmp;
    Bytes prefix = qzt::MakeData(5000, 't', 3);
    // The prefix holds something that looks like a record.
    const Bytes decoy = qzw::SerializeRecord(Entry("decoy", 10, 9));
    prefix.insert(prefix.begin() + 100, decoy.begin(), decoy.end());
    const uint32_t start = static_cast<uint32_t>(prefix.size());
    const qzw::Archive archive =
        MakeArchive({Entry("p0", 3000, 1), Entry("p1", 200, 2, true), Entry("p2", 10, 3)}, prefix);
    const std::string path = tmp.file("sfx.qza");
    ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));
    ExpectWalk(qzt::WalkHeaders(path, start), NamesOf(archive), QZ_END_OF_ARCHIVE);

    // Records found by offset in a volume that starts with the prefix, and
    // in the one after it.
    const std::string split = tmp.file("sfx2.qza");
    ASSERT_EQ(qzw::WriteVolumes(split, archive.Serialize(), {qzw::CutInPayload(archive, 0, 2999)}).size(), 2u);
    ExpectWalk(qzt::WalkHeaders(split, start), NamesOf(archive), QZ_END_OF_ARCHIVE);
    ExpectWalk(qzt::WalkHeaders(split, 100), {"decoy"}, QZ_BAD_RECORD);
}

TEST(RecordWalk, MissingVolumeWithoutHost) {
    // No callback registered: nobody can make the file appear, so the switch
    // fails at once; the header-only call still succeeds and the next call
    // finds no record.
    TempDir tmp;
    const std::string path = tmp.file("set.qza");
    const qzw::Archive archive =
        MakeArchive({Entry("a", 100, 1), Entry("b", 900, 2, true), Entry("c", 10, 3)});
    ASSERT_EQ(qzw::WriteVolumes(path, archive.Serialize(),
                                {qzw::CutInPayload(archive, 1, 300), qzw::CutInPayload(archive, 1, 600)})
                  .size(),
              3u);
    for (const char *gone : {"set.001", "set.002"}) {
        SCOPED_TRACE(gone);
        const std::string hidden = Hide(tmp.file(gone));
        ExpectWalk(qzt::WalkHeaders(path), {"a", "b"}, QZ_BAD_RECORD);
        // 99 closed the walk; the next opening call starts again.
        ExpectWalk(qzt::WalkHeaders(path), {"a", "b"}, QZ_BAD_RECORD);
        fs::rename(hidden, tmp.file(gone));
    }
    ExpectWalk(qzt::WalkHeaders(path), {"a", "b", "c"}, QZ_END_OF_ARCHIVE);
}

TEST(RecordWalk, HostIsAskedForAMissingVolume) {
    TempDir tmp;
    const std::string path = tmp.file("set.qza");
    const qzw::Archive archive =
        MakeArchive({Entry("a", 100, 1), Entry("b", 900, 2), Entry("c", 10, 3, true)});
    ASSERT_EQ(qzw::WriteVolumes(path, archive.Serialize(),
                                {qzw::CutInPayload(archive, 1, 300), qzw::CutInPayload(archive, 1, 600)})
                  .size(),
              3u);
    const std::string vol1 = tmp.file("set.001");
    const std::string vol2 = tmp.file("set.002");

    {
        SCOPED_TRACE("the host stops the waiting at once");
        const std::string hidden = Hide(vol1);
        int requests = 0;
        qzt::HostRecorder host([&](int, int, char *) {
            // A library that kept waiting would ask forever; the file
            // appearing ends that (and the request count shows it).
            if (++requests == 5)
                fs::rename(hidden, vol1);
            return QZ_STOP_WAITING;
        });
        ExpectWalk(qzt::WalkHeaders(path), {"a", "b"}, QZ_BAD_RECORD);
        const std::vector<qzt::Notification> asked = host.volumeRequests();
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].kind, QZ_NOTIFY_VOLUME);
        EXPECT_EQ(asked[0].value, 1);
        EXPECT_EQ(asked[0].a, 0);
        EXPECT_EQ(asked[0].b, 0);
        EXPECT_EQ(asked[0].text, vol1);
        EXPECT_EQ(host.calls.size(), 1u);
        if (!qzt::Exists(vol1))
            fs::rename(hidden, vol1);
    }
    {
        SCOPED_TRACE("the host makes each volume appear on its third request");
        const std::map<int, std::string> wanted = {{1, vol1}, {2, vol2}};
        std::map<int, std::string> hidden = {{1, Hide(vol1)}, {2, Hide(vol2)}};
        std::map<int, int> count;
        qzt::HostRecorder host([&](int kind, int value, char *) {
            if (kind != QZ_NOTIFY_VOLUME || !hidden.count(value) || ++count[value] > 20)
                return QZ_STOP_WAITING;  // keeps a faulty library from waiting forever
            if (count[value] == 3)
                fs::rename(hidden[value], wanted.at(value));
            return 0;
        });
        ExpectWalk(qzt::WalkHeaders(path), NamesOf(archive), QZ_END_OF_ARCHIVE);
        const std::vector<qzt::Notification> asked = host.volumeRequests();
        ASSERT_EQ(asked.size(), 6u);
        for (size_t i = 0; i < asked.size(); ++i) {
            const int volume = i < 3 ? 1 : 2;
            EXPECT_EQ(asked[i].value, volume) << "request " << i;
            EXPECT_EQ(asked[i].text, wanted.at(volume)) << "request " << i;
        }
    }
    {
        SCOPED_TRACE("the host names another file for the volume");
        fs::create_directory(tmp.path() / "moved");
        const std::string elsewhere = (tmp.path() / "moved" / "part.xyz").string();
        fs::rename(vol1, elsewhere);
        qzt::HostRecorder host([&](int kind, int value, char *text) {
            if (kind == QZ_NOTIFY_VOLUME && value == 1) {
                std::snprintf(text, 260, "%s", elsewhere.c_str());
                return 0;  // the library tests the new name and finds it
            }
            return QZ_STOP_WAITING;
        });
        ExpectWalk(qzt::WalkHeaders(path), NamesOf(archive), QZ_END_OF_ARCHIVE);
        // The volume after it is named from the archive path again (set.002,
        // which exists), not from the host's name (moved/part.002).
        const std::vector<qzt::Notification> asked = host.volumeRequests();
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].value, 1);
        EXPECT_EQ(asked[0].text, vol1);
        fs::rename(elsewhere, vol1);
    }
}

TEST(RecordWalk, VolumeNumbersStopAt999) {
    // One entry whose data has a byte in each of volumes 0..999 (the 1000
    // files set.qza, set.001, ..., set.999), followed by a record in the last one.
    TempDir tmp;
    const std::string path = tmp.file("set.qza");
    const qzw::Archive archive = MakeArchive({Entry("big", 1000, 1), Entry("tail", 5, 2)});
    std::vector<uint64_t> cuts;
    for (uint64_t k = 1; k <= 999; ++k)
        cuts.push_back(qzw::CutInPayload(archive, 0, k));
    ASSERT_EQ(qzw::WriteVolumes(path, archive.Serialize(), cuts).size(), 1000u);
    ExpectWalk(qzt::WalkHeaders(path), {"big", "tail"}, QZ_END_OF_ARCHIVE);

    // The entry claims one byte more than volume 999 holds. There is no
    // volume 1000, even though a file with the obvious four-digit name exists
    // and holds that byte and a further record.
    qzw::Record overlong = Entry("big", 1000, 1);
    overlong.compressedSizeOverride = 1001;
    const qzw::Archive beyond = MakeArchive({overlong});
    ASSERT_EQ(qzw::WriteVolumes(path, beyond.Serialize(), cuts).size(), 1000u);
    Bytes extra = {0x55};
    const Bytes after = qzw::SerializeRecord(Entry("after", 5, 3));
    extra.insert(extra.end(), after.begin(), after.end());
    ASSERT_TRUE(qzw::WriteFile(tmp.file("set.1000"), extra));
    ExpectWalk(qzt::WalkHeaders(path), {"big"}, QZ_BAD_RECORD);
}

TEST(RecordWalk, VolumeSwitchNeedsAPathOfThreeCharacters) {
    // An archive named by a two-character relative path has no volume names:
    // the switch fails like a missing volume.
    TempDir tmp;
    WorkingDirectory cwd(tmp.path());
    const qzw::Archive archive = MakeArchive({Entry("a", 50, 1), Entry("b", 50, 2)});
    ASSERT_EQ(qzw::WriteVolumes("qz", archive.Serialize(), {qzw::CutInPayload(archive, 0, 20)}).size(), 2u);
    ExpectWalk(qzt::WalkHeaders("qz"), {"a"}, QZ_BAD_RECORD);
    // A three-character path works, its volume name being just the number.
    ASSERT_EQ(qzw::WriteVolumes("q.z", archive.Serialize(), {qzw::CutInPayload(archive, 0, 20)}).size(), 2u);
    ASSERT_TRUE(qzt::Exists(tmp.path() / "001"));
    ExpectWalk(qzt::WalkHeaders("q.z"), {"a", "b"}, QZ_END_OF_ARCHIVE);
}

TEST(RecordWalk, PositionsBeyond4GiBDoNotWrapAround) {
    // A compressed size that, added to the record's position in 32 bits,
    // would wrap around to the start of the archive. The data really lies
    // beyond the end of the volume, in volumes that do not exist.
    TempDir tmp;
    qzw::Record huge = Entry("huge", 10, 1);
    huge.compressedSizeOverride = static_cast<uint32_t>(0x100000000ull - (62 + 4));
    const std::string path = tmp.file("wrap.qza");
    ASSERT_TRUE(qzw::WriteFile(path, MakeArchive({huge, Entry("next", 5, 2)}).Serialize()));
    ExpectWalk(qzt::WalkHeaders(path, 0, 5), {"huge"}, QZ_BAD_RECORD);
}

}  // namespace
