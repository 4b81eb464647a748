// Extraction of Deflate (method 8) and Deflate64 (method 9) entries through
// the public interface, the way a host sees them: streams of independent
// encoders (zlib at every level and strategy, 7zz's Deflate and Deflate64)
// extracted byte-identical in archive walks; hand-built streams for what no
// encoder emits; progress reports; the end check's verdicts; entries running
// over volume ends; encryption; and failed writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "deflate64_fixtures.h"
#include "deflate_builder.h"
#include "extraction_fixture.h"
#include "qzarc.h"
#include "sample_data.h"
#include "seven_zip_data.h"
#include "test_support.h"
#include "writer/writer.h"
#include "zip_reader.h"

namespace {

namespace fs = std::filesystem;
using qzt::CallResult;
using qzt::CompressedRecord;
using qzt::Hex8;
using qzt::kMiB;
using qzw::Archive;
using qzw::Bytes;
using qzw::DeflateOptions;
using qzw::Record;

// zlib's strategies.
constexpr int kDefaultStrategy = 0, kFiltered = 1, kHuffmanOnly = 2, kRle = 3, kFixed = 4;
constexpr int kSyncFlush = 2, kFullFlush = 3;

// The encryption header these tests' wrong passwords were checked against.
Record Encrypted(Record record, const std::string &password) {
    return qzt::Encrypted(std::move(record), password,
                          Bytes{11, 22, 33, 44, 55, 66, 77, 88, 99, 111, 122});
}

struct Sample {
    std::string name;
    Bytes data;
};

// Kinds of data that steer an encoder into different block types, and sizes
// on both sides of the 32 KiB and 64 KiB windows.
std::vector<Sample> SweepSamples() {
    std::vector<Sample> samples = {
        {"empty", {}},
        {"one", {0x5A}},
        {"text", qzt::MakeData(20000, 't', 1)},
        {"binary", qzt::BinaryRecords(20000, 2)},
        {"random", qzt::MakeData(6000, 'r', 3)},
        {"runs", qzt::LongRuns(30000, 4, 2000)},
    };
    for (size_t size : {32767, 32768, 32769, 65535, 65536, 65537})
        samples.push_back({std::to_string(size), qzt::TextWithNoise(size, uint32_t(size))});
    return samples;
}

class CompressedTest : public qzt::ExtractionTest {
protected:
    // Writes the records as one archive and walks it, expecting every entry
    // to extract to its plain bytes, then the end of the archive.
    void WalkExpectingAll(const std::vector<Record> &records, const std::vector<Bytes> &plains,
                          const std::string &name = "walk.qza") {
        Archive archive;
        archive.records = records;
        const std::string path = Write(archive, name);
        const std::string out = dir_.file("out");
        for (size_t i = 0; i < records.size(); ++i) {
            ExpectExtracted(Extract(path, out, i == 0 ? QZ_KEEP_OPEN : 0), records[i], plains[i],
                            out);
            if (HasFailure())
                return;  // one report per broken archive is enough
        }
        EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
        fs::remove(path);
    }
};

#define REQUIRE_DEFLATE()                                                   \
    do {                                                                    \
        if (!qzw::HaveDeflate())                                            \
            GTEST_SKIP() << "the writer was built without zlib";            \
    } while (0)

// ---- independent encoders -------------------------------------------------

TEST_F(CompressedTest, ZlibStreamsOfEveryLevelAndStrategyExtractByteIdentical) {
    REQUIRE_DEFLATE();
    const std::vector<Sample> samples = SweepSamples();
    for (int level = 0; level <= 9; ++level) {
        for (int strategy : {kDefaultStrategy, kFiltered, kHuffmanOnly, kRle, kFixed}) {
            SCOPED_TRACE("level " + std::to_string(level) + ", strategy " +
                         std::to_string(strategy));
            std::vector<Record> records;
            std::vector<Bytes> plains;
            for (const Sample &s : samples) {
                // The smallest memLevel makes zlib end its blocks far more often.
                const int memLevel = (level + strategy) % 3 == 0 ? 1 : 8;
                records.push_back(qzw::DeflatedRecord(s.name, s.data,
                                                      DeflateOptions{level, strategy, memLevel}));
                plains.push_back(s.data);
            }
            WalkExpectingAll(records, plains);
            if (HasFailure())
                return;
        }
    }
}

// Sync and full flushes end blocks in mid-stream and add empty stored blocks,
// often right behind a dynamic block that had read input ahead; a full flush
// also cuts every match at the flush point.
TEST_F(CompressedTest, ZlibStreamsWithFlushPointsExtract) {
    REQUIRE_DEFLATE();
    const std::vector<Sample> samples = SweepSamples();
    for (int mode : {kSyncFlush, kFullFlush}) {
        for (int level : {1, 5, 9}) {
            for (int strategy : {kDefaultStrategy, kFiltered, kHuffmanOnly, kRle, kFixed}) {
                SCOPED_TRACE((mode == kSyncFlush ? "sync" : "full") + std::string(" flush, level ") +
                             std::to_string(level) + ", strategy " + std::to_string(strategy));
                std::vector<Record> records;
                std::vector<Bytes> plains;
                size_t every = 97 + size_t(level) * 1000 + size_t(strategy) * 333;
                for (const Sample &s : samples) {
                    records.push_back(qzw::DeflatedRecord(
                        s.name, s.data, DeflateOptions{level, strategy, 8, every, mode}));
                    plains.push_back(s.data);
                    every = every * 7 % 9001 + 1;
                }
                WalkExpectingAll(records, plains);
                if (HasFailure())
                    return;
            }
        }
    }
}

// 7zz's streams come from the build step (tests/tools/make_7z_data): its
// Deflate and its Deflate64, which reaches up to 64 KiB back.
TEST_F(CompressedTest, SevenZipDeflateAndDeflate64StreamsExtract) {
    const fs::path dir = QZARC_GENERATED_DIR;
    if (!qzt::Exists(dir / qzt::kSevenZipManifest))
        GTEST_SKIP() << "no 7-Zip test data in " << dir.string()
                     << " (it is made at build time when 7zz is installed)";

    for (const qzt::SevenZipConfig &config : qzt::SevenZipConfigs()) {
        SCOPED_TRACE(config.label);
        std::vector<Record> records;
        std::vector<Bytes> plains;
        Record farAsDeflate;
        for (const std::string &name : qzt::SevenZipInputNames()) {
            const Bytes plain = qzt::ReadBytes(dir / qzt::SevenZipInputFile(name));
            ASSERT_TRUE(plain == qzt::SevenZipInput(name)) << name << ": stale input file";
            const std::string zipName = qzt::SevenZipZipFile(name, config);
            qzt::ZipEntry entry;
            std::string error;
            ASSERT_TRUE(qzt::ReadFirstZipEntry(qzt::ReadBytes(dir / zipName), &entry, &error))
                << zipName << ": " << error;
            ASSERT_EQ(entry.crc, qzw::Crc32(plain)) << zipName;
            ASSERT_EQ(entry.uncompressedSize, plain.size()) << zipName;
            // Every input is compressible, so 7zz never falls back to storing.
            ASSERT_EQ(entry.method, config.zipMethod) << zipName;
            records.push_back(CompressedRecord(name, plain, entry.data, entry.method));
            plains.push_back(plain);
            if (name == qzt::kSevenZipFarInput)
                farAsDeflate = CompressedRecord(name, plain, entry.data, 8);
        }
        WalkExpectingAll(records, plains, std::string(config.label) + ".qza");

        // The Deflate64 streams of the far input really use distances beyond
        // 32 KiB: read as Deflate they give other bytes.
        if (config.zipMethod == 9) {
            ASSERT_FALSE(farAsDeflate.name.empty());
            Archive archive;
            archive.records = {farAsDeflate};
            const std::string path = Write(archive, "far-as-deflate.qza");
            const std::string out = dir_.file("far");
            ExpectFailed(Extract(path, out, 0), QZ_ERR_CRC, out);
        }
    }
}

// Matches longer than 258 bytes exist only in Deflate64 and no encoder at
// hand emits them: the committed fixtures and a hand-built stream cover them.
TEST_F(CompressedTest, Deflate64FixturesAndLongestMatchesExtract) {
    std::vector<Record> records;
    std::vector<Bytes> plains;
    for (const auto &f : deflate64_fixtures::kAll) {
        records.push_back(deflate64_fixtures::MakeRecord(f, f.name));
        plains.emplace_back();  // filled from the extracted file below
    }
    Bytes longPlain;
    const Bytes longStream = qzt::LongMatchDeflate64(&longPlain);
    records.push_back(CompressedRecord("longest", longPlain, longStream, 9));
    plains.push_back(longPlain);

    Archive archive;
    archive.records = records;
    const std::string path = Write(archive);
    for (size_t i = 0; i < records.size(); ++i) {
        const std::string out = dir_.file("out" + std::to_string(i));
        CallResult r = Extract(path, out, i == 0 ? QZ_KEEP_OPEN : 0);
        EXPECT_EQ(r.result, QZ_OK) << records[i].name;
        EXPECT_EQ(r.crc, Hex8(records[i].crc)) << records[i].name;
        const Bytes got = qzt::ReadBytes(out);
        EXPECT_EQ(got.size(), records[i].uncompressedSize) << records[i].name;
        EXPECT_EQ(qzw::Crc32(got), records[i].crc) << records[i].name;
        if (!plains[i].empty()) {
            EXPECT_TRUE(got == plains[i]) << records[i].name;
        }
    }
    EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
}

// A stored block straight after a dynamic block whose 9-bit lookups pulled
// whole bytes ahead: those bytes are the start of the stored block's LEN.
TEST_F(CompressedTest, StoredBlockAfterReadAheadExtracts) {
    std::vector<Record> records;
    std::vector<Bytes> plains;
    int readAhead = 0;
    for (int literals = 0; literals < 8; ++literals) {
        for (const Bytes &tail : {Bytes{}, Bytes{'x', 'y', 'z'}, qzt::MakeData(300, 'r', 5)}) {
            Bytes plain;
            bool ahead = false;
            const Bytes stream = qzt::StoredAfterReadAhead(literals, tail, &plain, &ahead);
            readAhead += ahead ? 1 : 0;
            const std::string name =
                "A" + std::to_string(literals) + "+" + std::to_string(tail.size());
            for (uint16_t method : {8, 9}) {
                records.push_back(CompressedRecord(name + "/" + std::to_string(method), plain,
                                                   stream, method));
                plains.push_back(plain);
            }
        }
    }
    ASSERT_GT(readAhead, 0) << "no stream has whole bytes pending before its stored block";
    WalkExpectingAll(records, plains);
}

// ---- progress ---------------------------------------------------------------

// Full 64 KiB slices (compressed size 65532 or more): a report every 16
// slices, that is every MiB, counting up from 20 and ending with 100 twice.
TEST_F(CompressedTest, ProgressOfATenMiBEntryInFullSlices) {
    REQUIRE_DEFLATE();
    const Bytes random = qzt::MakeData(10 * kMiB, 'r', 61);
    const Bytes text = qzt::MakeData(10 * kMiB, 't', 62);
    Archive archive;
    archive.records.push_back(qzw::DeflatedRecord("random", random, DeflateOptions{1}));
    archive.records.push_back(qzw::DeflatedRecord("text", text, DeflateOptions{6}));
    const std::string path = Write(archive);
    const std::vector<int> expected = {20, 30, 40, 50, 60, 70, 80, 90, 100, 100};

    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(archive.records[i].name);
        ASSERT_GE(archive.records[i].payload.size(), 65532u);
        qzt::HostRecorder host;
        const std::string out = dir_.file("out");
        ExpectExtracted(Extract(path, out, i == 0 ? QZ_KEEP_OPEN : 0), archive.records[i],
                        i == 0 ? random : text, out);
        EXPECT_EQ(host.progressValues(), expected);
        for (const qzt::Notification &n : host.calls) {
            EXPECT_EQ(n.kind, QZ_NOTIFY_PROGRESS);
            EXPECT_EQ(n.a, 0);
            EXPECT_EQ(n.b, 0);
            EXPECT_EQ(n.text, "");
        }
    }
}

// With smaller slices the reports come every 16 slices all the same, and
// the value runs ahead of the real share: an entry under 1 MiB reports 100
// each time.
TEST_F(CompressedTest, ProgressFollowsSlicesNotBytes) {
    struct Case {
        size_t compressed;
        size_t plain;
        std::vector<int> progress;
    };
    const Case cases[] = {
        {100, 10000, {100, 100, 100, 100, 100, 100}},  // 97 slices of at most 104 bytes
        {100, 15 * 104, {}},                            // 15 slices: no report
        {100, 15 * 104 + 1, {100}},                     // the 16th slice holds one byte
        {100, 16 * 104, {100}},                         // the 16th slice ends the entry
        // 3 MiB in slices of 20 004 bytes: 158 slices, 9 reports; the first
        // claims two of three MiB are done.
        {20000, 3 * kMiB, {67, 100, 100, 100, 100, 100, 100, 100, 100}},
    };
    Archive archive;
    std::vector<Bytes> plains;
    for (const Case &c : cases) {
        Bytes stream, plain;
        ASSERT_TRUE(qzt::ExactSizeStream(c.compressed, c.plain, uint32_t(c.plain), &stream, &plain));
        archive.records.push_back(
            CompressedRecord(std::to_string(c.compressed) + "/" + std::to_string(c.plain), plain,
                             stream));
        plains.push_back(plain);
    }
    const std::string path = Write(archive);
    for (size_t i = 0; i < archive.records.size(); ++i) {
        SCOPED_TRACE(archive.records[i].name);
        qzt::HostRecorder host;
        const std::string out = dir_.file("out");
        ExpectExtracted(Extract(path, out, i == 0 ? QZ_KEEP_OPEN : 0), archive.records[i],
                        plains[i], out);
        EXPECT_EQ(host.progressValues(), cases[i].progress);
    }
}

// ---- the end check ------------------------------------------------------------

TEST_F(CompressedTest, EndCheckVerdictsFailOnlyTheirEntry) {
    REQUIRE_DEFLATE();
    const Bytes data = qzt::MakeData(150000, 't', 71);
    const Bytes small = qzt::MakeData(3000, 'r', 72);
    // Several blocks, so that a cut in the middle lies before the final one.
    const Bytes stream = qzw::DeflateRaw(data, DeflateOptions{6, kDefaultStrategy, 8, 10000});
    const Bytes prefix(data.begin(), data.begin() + 100000);

    std::vector<std::pair<Record, int>> cases;
    auto add = [&](const std::string &name, Record record, int expected) {
        record.name = name;
        cases.push_back({record, expected});
    };
    const Record whole = CompressedRecord("whole", data, stream);
    add("good-first", qzw::DeflatedRecord("", small), QZ_OK);
    {
        Record r = whole;
        r.payload.resize(stream.size() / 2);
        add("truncated", r, QZ_ERR_TRUNCATED);
    }
    for (uint16_t method : {7, 12}) {
        Record r = whole;
        r.method = method;
        add("method" + std::to_string(method), r, QZ_ERR_TRUNCATED);
    }
    {
        Record r = whole;  // the final block ends one byte early
        r.uncompressedSize += 1;
        add("short-by-one", r, QZ_ERR_SIZE);
    }
    {
        Record r = whole;
        r.crc ^= 0x80000000u;
        add("crc", r, QZ_ERR_CRC);
    }
    {
        // The stream yields more than the record declares: the rest is
        // inflated and counted. With the CRC of everything only the size
        // differs; with the CRC of what was declared the CRC differs.
        Record r = whole;
        r.uncompressedSize = uint32_t(prefix.size());
        add("overlong-size", r, QZ_ERR_SIZE);
        r.crc = qzw::Crc32(prefix);
        add("overlong-crc", r, QZ_ERR_CRC);
    }
    {
        Record r = whole;  // an entry declared empty whose stream is not
        r.uncompressedSize = 0;
        r.crc = 0;
        add("declared-empty", r, QZ_ERR_CRC);
    }
    add("good-last", qzw::DeflatedRecord("", data), QZ_OK);

    Archive archive;
    for (const auto &c : cases)
        archive.records.push_back(c.first);
    const std::string path = Write(archive);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Record &record = cases[i].first;
        SCOPED_TRACE(record.name);
        const std::string out = dir_.file(record.name);
        CallResult r = Extract(path, out, i == 0 ? QZ_KEEP_OPEN : 0);
        EXPECT_EQ(r.name, record.name);
        if (cases[i].second == QZ_OK)
            ExpectExtracted(r, record, i == 0 ? small : data, out);
        else
            ExpectFailed(r, cases[i].second, out);
    }
    EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
    EXPECT_EQ(qzt::ListFiles(dir_.path()),
              (std::vector<std::string>{"a.qza", "good-first", "good-last"}));
}

// A damaged entry whose data ends long before its declared size fails as
// soon as the inflater has gone a few bytes past the data, instead of
// writing the declared gigabyte out of fillers: no progress is reported,
// the file is deleted and the walk goes on. The same for a Deflate stream
// cut short in a non-final block.
TEST_F(CompressedTest, DamagedEntryStopsWhenItsDataIsSpent) {
    REQUIRE_DEFLATE();
    const Bytes text = qzt::MakeData(400000, 't', 73);
    Record cutDeflate = CompressedRecord("cut-deflate", text, qzw::DeflateRaw(text));
    ASSERT_EQ(cutDeflate.payload[0] & 1, 0) << "the first block must not be the final one";
    cutDeflate.payload.resize(100);
    cutDeflate.uncompressedSize = 1u << 30;
    const Record cases[] = {qzt::CutShortRecord("cut-stored", 100, 1u << 30), cutDeflate};
    for (const Record &cut : cases) {
        SCOPED_TRACE(cut.name);
        Archive archive;
        archive.records.push_back(cut);
        archive.records.push_back(qzw::StoredRecord("after", text));
        const std::string path = Write(archive, cut.name + ".qza");
        const std::string out = dir_.file(cut.name);
        qzt::HostRecorder host;
        ExpectFailed(Extract(path, out, QZ_KEEP_OPEN), QZ_ERR_TRUNCATED, out);
        EXPECT_TRUE(host.progressValues().empty());
        ExpectExtracted(Extract(path, dir_.file("after"), 0), archive.records[1], text, dir_.file("after"));
        EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
    }
}

// ---- volumes ---------------------------------------------------------------------

class CompressedVolumesTest : public CompressedTest {
protected:
    void SetUp() override {
        CompressedTest::SetUp();
        if (!qzw::HaveDeflate())
            GTEST_SKIP() << "the writer was built without zlib";
        // Text, then random bytes: a compressed stream of several chunks.
        big_ = qzt::TextWithNoise(250000, 81);
        const Bytes noise = qzt::MakeData(120000, 'r', 84);
        big_.insert(big_.end(), noise.begin(), noise.end());
        stream_ = qzw::DeflateRaw(big_, DeflateOptions{9});
        small_ = qzt::MakeData(100, 'r', 82);
        after_ = qzt::MakeData(5000, 't', 83);
    }

    // small, big (compressed; encrypted under "pw" if asked), after.
    Archive ThreeRecords(bool encrypted) const {
        Archive archive;
        archive.records.push_back(qzw::DeflatedRecord("small", small_));
        Record big = CompressedRecord("big", big_, stream_);
        archive.records.push_back(encrypted ? Encrypted(big, "pw") : big);
        archive.records.push_back(qzw::StoredRecord("after", after_));
        return archive;
    }

    Bytes big_, stream_, small_, after_;
};

TEST_F(CompressedVolumesTest, EntrySpanningVolumesExtractsAndTheWalkGoesOn) {
    struct Case {
        const char *what;
        std::vector<uint64_t> cuts;  // into the big entry's stream
        bool encrypted;
    };
    const uint64_t n = stream_.size();
    const Case cases[] = {
        {"two volumes", {70001}, false},
        {"first volume holds one byte of the stream", {1}, false},
        {"one byte left for the second volume", {n - 1}, false},
        {"cut at the end of the first chunk", {65536}, false},
        {"three volumes", {20000, 90000}, false},
        {"three volumes, one byte in the middle", {40000, 40001}, false},
        {"encrypted, two volumes", {50001}, true},
        {"encrypted, three volumes", {1000, 65537}, true},
    };
    ASSERT_GT(n, 70001u);
    int k = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ExpectSpanningEntryExtracts(ThreeRecords(c.encrypted), c.cuts,
                                    "v" + std::to_string(k++) + ".qza", small_, big_, after_);
    }
}

TEST_F(CompressedVolumesTest, MissingVolumeIsAskedForOrFailsTheEntry) {
    struct Case {
        const char *what;
        std::vector<uint64_t> cuts;
        unsigned missing;  // the volume the host is asked for
    };
    const Case cases[] = {
        {"second of two volumes", {70000}, 1},
        {"third of three volumes", {30000, 90000}, 2},
    };
    int k = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Archive archive = ThreeRecords(false);
        const std::string path = WriteCut(archive, 1, c.cuts, "m" + std::to_string(k++) + ".qza");
        const std::string volume = qzw::VolumeName(path, c.missing);
        fs::create_directory(dir_.path() / "elsewhere");
        const std::string moved = (dir_.path() / "elsewhere" / "part.bin").string();
        fs::rename(volume, moved);
        const std::string o0 = dir_.file("o0"), big = dir_.file("big");

        {
            SCOPED_TRACE("the host names another file for the volume");
            qzt::HostRecorder host([&](int kind, int, char *text) {
                if (kind != QZ_NOTIFY_VOLUME)
                    return 0;
                std::snprintf(text, 260, "%s", moved.c_str());
                return 0;
            });
            ExpectExtracted(Extract(path, o0, QZ_KEEP_OPEN), archive.records[0], small_, o0);
            ExpectExtracted(Extract(path, big, 0), archive.records[1], big_, big);
            const auto requests = host.volumeRequests();
            ASSERT_EQ(requests.size(), 1u);
            EXPECT_EQ(requests[0].value, int(c.missing));
            EXPECT_EQ(requests[0].text, volume);
            CloseNow();
        }
        {
            SCOPED_TRACE("the host gives up (answers 1)");
            qzt::HostRecorder host;
            ExpectExtracted(Extract(path, o0, QZ_KEEP_OPEN), archive.records[0], small_, o0);
            CallResult r = Extract(path, big, 0);
            // The host is told that a volume is missing, not that the
            // entry's data is damaged; no CRC text, no file.
            ExpectFailed(r, QZ_ERR_VOLUME, big);
            EXPECT_EQ(host.volumeRequests().size(), 1u);
            // The rest of the entry never turned up: no record follows.
            EXPECT_EQ(Extract(path, dir_.file("next"), 0).result, QZ_BAD_RECORD);
            EXPECT_FALSE(qzt::Exists(dir_.file("next")));
        }
        {
            SCOPED_TRACE("no host registered: nobody is waited for");
            CallResult r = Extract(path, big, 0, "", uint32_t(archive.RecordOffset(1)));
            ExpectFailed(r, QZ_ERR_VOLUME, big);
        }
        fs::rename(moved, volume);
    }
}

// The inflater may ask for one byte beyond an entry's stream when the last
// code is shorter than its lookup. At the end of a volume that request is no
// reason to open the next one.
TEST_F(CompressedTest, EntryEndingWithItsVolumeNeedsNoNextVolume) {
    int beyond = 0;
    for (int literals = 0; literals < 8; ++literals) {
        SCOPED_TRACE(std::to_string(literals) + " literals");
        Bytes plain;
        bool readsBeyond = false;
        const Bytes stream = qzt::EndsWithShortCode(literals, &plain, &readsBeyond);
        beyond += readsBeyond ? 1 : 0;
        Archive archive;
        archive.records.push_back(CompressedRecord("last", plain, stream));
        archive.records.push_back(qzw::StoredRecord("unseen", qzt::MakeData(10, 'r', 91)));
        const std::string path =
            WriteCut(archive, 0, {stream.size()}, "e" + std::to_string(literals) + ".qza");
        fs::remove(qzw::VolumeName(path, 1));

        qzt::HostRecorder host;
        const std::string out = dir_.file("last");
        ExpectExtracted(Extract(path, out, QZ_KEEP_OPEN), archive.records[0], plain, out);
        EXPECT_TRUE(host.volumeRequests().empty());
        EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
    }
    EXPECT_GT(beyond, 0) << "no stream makes the inflater read past its end";
}

// The same request when the entry's data goes on (a byte of padding after
// the stream) in a volume that is missing: the stream itself checks out, so
// the volume error is the entry's result, although the CRC text has been
// written by then.
TEST_F(CompressedTest, LookAheadIntoAMissingVolumeFailsWith12) {
    int cases = 0;
    for (int literals = 0; literals < 8; ++literals) {
        Bytes plain;
        bool readsBeyond = false;
        Bytes stream = qzt::EndsWithShortCode(literals, &plain, &readsBeyond);
        if (!readsBeyond)
            continue;
        SCOPED_TRACE(std::to_string(literals) + " literals");
        ++cases;
        const size_t streamSize = stream.size();
        stream.push_back(0);  // padding, never decoded
        Archive archive;
        archive.records.push_back(CompressedRecord("padded", plain, stream));
        archive.records.push_back(qzw::StoredRecord("unseen", qzt::MakeData(10, 'r', 92)));
        const std::string path =
            WriteCut(archive, 0, {streamSize}, "p" + std::to_string(literals) + ".qza");
        fs::remove(qzw::VolumeName(path, 1));

        qzt::HostRecorder host;
        const std::string out = dir_.file("padded");
        CallResult r = Extract(path, out, QZ_KEEP_OPEN);
        EXPECT_EQ(r.result, QZ_ERR_VOLUME);
        EXPECT_EQ(r.crc, Hex8(qzw::Crc32(plain)));
        EXPECT_FALSE(qzt::Exists(out));
        EXPECT_EQ(host.volumeRequests().size(), 1u);
        EXPECT_EQ(Extract(path, dir_.file("next"), 0).result, QZ_BAD_RECORD);
    }
    EXPECT_GT(cases, 0);
}

// ---- encryption ------------------------------------------------------------------

// The reader decrypts whole chunks (compressed size + 4, at most 64 KiB), so
// compressed sizes around 64 KiB put the entry's end at every place in a chunk.
TEST_F(CompressedTest, EncryptedEntriesExtractLikeTheirPlainTwins) {
    const std::string password = "Pa55 w0rd";
    std::vector<Record> records;
    std::vector<Bytes> plains;
    auto addTwins = [&](const std::string &name, const Bytes &plain, const Bytes &stream) {
        records.push_back(Encrypted(CompressedRecord("locked-" + name, plain, stream), password));
        plains.push_back(plain);
        records.push_back(CompressedRecord("plain-" + name, plain, stream));
        plains.push_back(plain);
    };
    const std::pair<size_t, size_t> sizes[] = {
        {20, 1000}, {65531, 100000}, {65532, 100000}, {65533, 100000}, {131076, 200000}};
    for (const auto &[compressed, plainSize] : sizes) {
        Bytes stream, plain;
        ASSERT_TRUE(qzt::ExactSizeStream(compressed, plainSize, uint32_t(compressed), &stream,
                                         &plain));
        addTwins(std::to_string(compressed), plain, stream);
    }
    if (qzw::HaveDeflate()) {
        for (const Sample &s : SweepSamples())
            addTwins(s.name, s.data, qzw::DeflateRaw(s.data, DeflateOptions{6}));
    }
    Bytes longPlain;
    const Bytes longStream = qzt::LongMatchDeflate64(&longPlain);
    records.push_back(Encrypted(CompressedRecord("locked-64", longPlain, longStream, 9), password));
    plains.push_back(longPlain);

    Archive archive;
    archive.records = records;
    const std::string path = Write(archive);
    for (size_t i = 0; i < records.size(); ++i) {
        const std::string out = dir_.file("out");
        ExpectExtracted(Extract(path, out, i == 0 ? QZ_KEEP_OPEN : 0, password), records[i],
                        plains[i], out);
    }
    EXPECT_EQ(Extract(path, dir_.file("end"), 0, password).result, QZ_END_OF_ARCHIVE);
}

TEST_F(CompressedTest, WrongPasswordRefusesACompressedEntryAndTheWalkGoesOn) {
    Bytes secret, stream;
    ASSERT_TRUE(qzt::ExactSizeStream(150000, 400000, 101, &stream, &secret));
    const Bytes after = qzt::MakeData(3000, 't', 102);
    Archive archive;
    archive.records.push_back(Encrypted(CompressedRecord("locked", secret, stream), "right"));
    archive.records.push_back(qzw::StoredRecord("after", after));
    ExpectOnlyTheRightPasswordOpens(archive, secret, after);
}

// ---- output ------------------------------------------------------------------------

#if !defined(_WIN32)
// The output path is a symlink to /dev/full inside the test's own directory:
// every write fails; the library's clean-up removes only the symlink.
TEST_F(CompressedTest, FailedWriteFailsWith4AndRemovesTheOutput) {
    Bytes smallPlain, smallStream, largePlain, largeStream;
    ASSERT_TRUE(qzt::ExactSizeStream(50, 2000, 111, &smallStream, &smallPlain));
    ASSERT_TRUE(qzt::ExactSizeStream(70000, 300000, 112, &largeStream, &largePlain));
    const Bytes after = qzt::MakeData(700, 't', 113);
    Archive archive;
    archive.records.push_back(CompressedRecord("small-slices", smallPlain, smallStream));
    archive.records.push_back(CompressedRecord("full-slices", largePlain, largeStream));
    archive.records.push_back(qzw::StoredRecord("after", after));
    const std::string path = Write(archive);

    const std::string full1 = dir_.file("full1"), full2 = dir_.file("full2");
    fs::create_symlink("/dev/full", full1);
    fs::create_symlink("/dev/full", full2);
    ExpectFailed(Extract(path, full1, QZ_KEEP_OPEN), QZ_ERR_WRITE, full1);
    ExpectFailed(Extract(path, full2, 0), QZ_ERR_WRITE, full2);
    const std::string out = dir_.file("after");
    ExpectExtracted(Extract(path, out, 0), archive.records[2], after, out);
    EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);

    // Single mode, and an entry after a failed one extracts in full.
    fs::create_symlink("/dev/full", full1);
    ExpectFailed(Extract(path, full1, 0, "", uint32_t(archive.RecordOffset(1))), QZ_ERR_WRITE,
                 full1);
    const std::string again = dir_.file("again");
    ExpectExtracted(Extract(path, again, 0, "", uint32_t(archive.RecordOffset(1))),
                    archive.records[1], largePlain, again);
    EXPECT_TRUE(fs::exists("/dev/full"));
}
#endif

}  // namespace
