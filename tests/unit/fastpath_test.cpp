// The fast paths against the plain ones they stand in for. The library
// decodes through a word-wide bit buffer (64 or 32 bits, both checked on a
// 64-bit machine) and flat tables while the read chunk
// holds plenty of an entry's bytes, copies stored data in runs, and computes
// the CRC with carry-less multiplication where it can; each must leave
// every observable exactly as the byte-at-a-time paths do. A test-only
// switch (gExactPathsOnly) turns the fast paths off, so the same stream is
// run both ways and compared after every InflateSlice call: bytes produced,
// status, output, the bytes pulled from the source and the bit buffer; then
// the CRC and the end check. The streams come from zlib at every level and
// strategy, the Deflate64 fixtures, 7zz (when its data was built), and
// damaged or cut-short versions of them, read in chunks of several sizes and
// sliced at random counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/open_archive.h"
#include "crypto/crc32.h"
#include "deflate64_fixtures.h"
#include "deflate_builder.h"
#include "inflate/inflate_stream.h"
#include "qzarc.h"
#include "sample_data.h"
#include "seven_zip_data.h"
#include "platform/test_hooks.h"
#include "slice_trace.h"
#include "test_support.h"
#include "archive/unpack_state.h"
#include "writer/writer.h"
#include "zip_reader.h"

namespace {

using qzw::Bytes;

// ---- CRC ---------------------------------------------------------------------

uint32_t BitwiseCrcRegister(uint32_t reg, const uint8_t *p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        reg ^= p[i];
        for (int k = 0; k < 8; ++k)
            reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
    }
    return reg;
}

// Every length up to past the wide path's threshold crosses each carry-less
// path's threshold and its 256-, 64- and 16-byte steps; odd start addresses
// take the table path's alignment prologue; long runs take the main loops.
// Each path the processor offers here is checked on its own.
TEST(FastCrcTest, EveryPathGivesTheBitwiseRegister) {
    std::mt19937 rng(11);
    Bytes data(70000);
    for (uint8_t &b : data)
        b = uint8_t(rng());
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 1400; ++n)
        lengths.push_back(n);
    for (int i = 0; i < 40; ++i)
        lengths.push_back(1400 + rng() % 68000);
    for (size_t n : lengths) {
        const size_t offset = rng() % 64;
        const uint32_t reg = rng();
        const uint32_t expected = BitwiseCrcRegister(reg, data.data() + offset, n);
        ASSERT_EQ(CrcAccumulate(reg, data.data() + offset, n), expected) << n << " bytes at " << offset;
        ASSERT_EQ(CrcAccumulateTables(reg, data.data() + offset, n), expected) << n << " bytes at " << offset;
        for (int level = 1; level <= CrcCarrylessLevel(); ++level)
            ASSERT_EQ(CrcAccumulateAtLevel(level, reg, data.data() + offset, n), expected)
                << n << " bytes at " << offset << ", level " << level;
    }
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(~CrcAccumulate(0xFFFFFFFFu, digits, 9), 0xCBF43926u);
}

// ---- one entry's stream through InflateSlice, both ways ---------------------

// How a stream is read and sliced.
struct Reading {
    uint32_t chunk;                 // the reader's chunk size (gUnpack.slice)
    std::vector<uint32_t> counts;   // slice counts, used in turn
};

struct EntryStream {
    std::string label;
    uint16_t method;
    Bytes stream;       // the compressed bytes in the file
    uint32_t declared;  // the entry's compressed size (may cut the stream short)
    uint32_t crc;       // of the plain data, for the end check
    uint32_t size;
    bool valid;         // decodes to exactly the plain data
};

// Walks away from any state that other tests left (an open walk).
void CloseAll() {
    qzt::Call call;
    call.flags = QZ_CLOSE_NOW;
    qzt::Unpack(call);
}

// Writes a file with the standard library: in the Windows test build the
// platform header renames WriteFile to its counting wrapper, which would
// catch the writer's function of that name too.
bool Store(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

std::vector<uint32_t> RandomCounts(uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> counts;
    for (int i = 0; i < 64; ++i) {
        switch (rng() % 4) {
        case 0: counts.push_back(1 + rng() % 16); break;
        case 1: counts.push_back(17 + rng() % 600); break;
        case 2: counts.push_back(1 + rng() % kMaxChunk); break;
        default: {
            const uint32_t edges[] = {257, 258, 259, 32767, 32768, 65535, 65536};
            counts.push_back(edges[rng() % 7]);
        }
        }
    }
    return counts;
}

// Where the entry's data starts in its file.
constexpr uint32_t kLeadIn = 70;

class FastPathTest : public ::testing::Test {
protected:
    void TearDown() override {
        qztrace::SetExactPathsOnly(false);
        CloseAll();
    }

    // Runs the stream with each reading, both ways, and compares.
    void Compare(const EntryStream &entry, uint32_t seed) {
        SCOPED_TRACE(entry.label);
        // The data sits where a record puts it, after its header, and bytes
        // of a following record behind it: the reader reads those into its
        // chunk but never hands them out.
        Bytes file = entry.stream;
        file.insert(file.begin(), kLeadIn, uint8_t(0x5A));
        for (int i = 0; i < 96; ++i)
            file.push_back(uint8_t(0xA5 ^ i));
        const std::string path = dir_.file("entry.bin");
        ASSERT_TRUE(Store(path, file));

        const uint32_t natural = std::min<uint32_t>(entry.declared + 4, kMaxChunk);
        std::vector<Reading> readings = {
            {natural, {natural}},           // as the extraction loop reads and slices
            {kMaxChunk, RandomCounts(seed)},
            {611, RandomCounts(seed + 1)},  // short chunks: the fast path leaves and comes back often
            {4099, {1, 2, 3, 300, 65536, 7, 258}},
        };
        for (const Reading &reading : readings) {
            SCOPED_TRACE("chunk " + std::to_string(reading.chunk));
            qztrace::ReaderRun run;
            run.path = path;
            run.dataOffset = kLeadIn;
            run.method = entry.method;
            run.declared = entry.declared;
            run.chunk = reading.chunk;
            run.counts = reading.counts;
            run.crc = entry.crc;
            run.size = entry.size;
            // A damaged stream stops soon after its data is spent; the
            // bound only keeps a wild one short, the same way both ways.
            run.outputBound = size_t(entry.size) * 2 + 300000;
            const qztrace::InflateTrace exact = qztrace::RunThroughReader(run, true);
            const qztrace::InflateTrace fast = qztrace::RunThroughReader(run, false);
            ASSERT_TRUE(exact.started);
            ASSERT_EQ(qztrace::Difference(exact, fast), "");
            if (qztrace::kNarrowIsAnotherWay) {
                ASSERT_EQ(qztrace::Difference(exact, qztrace::RunNarrow(run)), "") << "32-bit bit buffer";
            }
            if (entry.valid) {
                ASSERT_EQ(exact.finish, 0);
                ASSERT_EQ(exact.output.size(), entry.size);
            }
        }
    }

    EntryStream Valid(const std::string &label, uint16_t method, const Bytes &stream, const Bytes &plain) {
        return {label, method, stream, uint32_t(stream.size()), qzw::Crc32(plain), uint32_t(plain.size()), true};
    }

    qzt::TempDir dir_;
};

std::vector<std::pair<std::string, Bytes>> Inputs() {
    return {
        {"text", qzt::MakeData(150000, 't', 3)},
        {"random", qzt::MakeData(70000, 'r', 4)},
        {"records", qzt::BinaryRecords(120000, 5)},
        {"runs", qzt::LongRuns(150000, 6)},
        {"noisy text", qzt::TextWithNoise(100000, 7)},
    };
}

// zlib at every strategy and at low, middle and high levels, with and
// without flush points (which put empty stored blocks and byte alignment
// in the middle of the stream).
TEST_F(FastPathTest, ZlibStreams) {
    if (!qzw::HaveDeflate())
        GTEST_SKIP() << "built without zlib";
    uint32_t seed = 100;
    for (const auto &[name, plain] : Inputs()) {
        for (int strategy = 0; strategy <= 4; ++strategy) {
            for (int level : {1, 6, 9}) {
                if (strategy != 0 && level != 6)
                    continue;
                qzw::DeflateOptions options;
                options.level = level;
                options.strategy = strategy;
                const std::string label = name + ", level " + std::to_string(level) + ", strategy " +
                                          std::to_string(strategy);
                Compare(Valid(label, 8, qzw::DeflateRaw(plain, options), plain), ++seed);
                if (HasFatalFailure())
                    return;
            }
        }
        qzw::DeflateOptions flushed;
        flushed.flushEvery = 5000;
        flushed.flushMode = 3;
        Compare(Valid(name + ", full flushes", 8, qzw::DeflateRaw(plain, flushed), plain), ++seed);
        flushed.flushEvery = 777;
        flushed.flushMode = 2;
        flushed.level = 1;
        Compare(Valid(name + ", sync flushes", 8, qzw::DeflateRaw(plain, flushed), plain), ++seed);
        qzw::DeflateOptions stored;
        stored.level = 0;
        Compare(Valid(name + ", stored blocks", 8, qzw::DeflateRaw(plain, stored), plain), ++seed);
        if (HasFatalFailure())
            return;
    }
}

TEST_F(FastPathTest, Deflate64Fixtures) {
    uint32_t seed = 200;
    for (const deflate64_fixtures::Fixture &f : deflate64_fixtures::kAll) {
        EntryStream entry{f.name, 9, Bytes(f.data, f.data + f.size), uint32_t(f.size), f.crc, f.plainSize, true};
        Compare(entry, ++seed);
        if (HasFatalFailure())
            return;
    }
}

// A length of 15 code and 16 extra bits and a distance of 15 and 14 are more
// than a 32-bit bit buffer holds after a refill: that loop leaves such
// lengths to the exact decoder and takes such distances' extra bits after
// one more refill.
TEST_F(FastPathTest, LongestCodesWithTheirExtraBits) {
    Bytes plain;
    const Bytes stream = qzt::LongCodesDeflate64(&plain);
    Compare(Valid("longest codes", 9, stream, plain), 300);
}

// 7zz's Deflate and Deflate64, made at build time.
TEST_F(FastPathTest, SevenZipStreams) {
    const qzt::fs::path dir = QZARC_GENERATED_DIR;
    if (!qzt::Exists(dir / qzt::kSevenZipManifest))
        GTEST_SKIP() << "no 7-Zip test data in " << dir.string();
    uint32_t seed = 300;
    for (const qzt::SevenZipConfig &config : qzt::SevenZipConfigs()) {
        for (const std::string &name : qzt::SevenZipInputNames()) {
            qzt::ZipEntry zip;
            std::string error;
            ASSERT_TRUE(qzt::ReadFirstZipEntry(qzt::ReadBytes(dir / qzt::SevenZipZipFile(name, config)), &zip, &error))
                << error;
            EntryStream entry{name + " " + config.label, zip.method, zip.data, uint32_t(zip.data.size()),
                              zip.crc, zip.uncompressedSize, true};
            Compare(entry, ++seed);
            if (HasFatalFailure())
                return;
        }
    }
}

// Damage: flipped bytes make invalid codes, bad stored lengths, distances
// before the stream's start and over-long output; a declared size shorter
// than the stream makes the inflater decode on the source's fillers.
TEST_F(FastPathTest, DamagedAndCutShortStreams) {
    std::vector<EntryStream> bases;
    if (qzw::HaveDeflate()) {
        const Bytes text = qzt::MakeData(60000, 't', 9);
        const Bytes records = qzt::BinaryRecords(60000, 10);
        bases.push_back(Valid("text", 8, qzw::DeflateRaw(text), text));
        qzw::DeflateOptions fixed;
        fixed.strategy = 4;
        bases.push_back(Valid("records, fixed codes", 8, qzw::DeflateRaw(records, fixed), records));
        qzw::DeflateOptions flushed;
        flushed.flushEvery = 3000;
        bases.push_back(Valid("text, flushed", 8, qzw::DeflateRaw(text, flushed), text));
    }
    const deflate64_fixtures::Fixture &farFixture = deflate64_fixtures::kAll[2];
    bases.push_back({"far (Deflate64)", 9, Bytes(farFixture.data, farFixture.data + farFixture.size), uint32_t(farFixture.size), farFixture.crc,
                     farFixture.plainSize, true});

    std::mt19937 rng(42);
    uint32_t seed = 400;
    for (const EntryStream &base : bases) {
        for (int round = 0; round < 12; ++round) {
            EntryStream damaged = base;
            damaged.valid = false;
            const size_t flips = 1 + rng() % 3;
            for (size_t i = 0; i < flips; ++i)
                damaged.stream[rng() % damaged.stream.size()] ^= uint8_t(1u << (rng() % 8));
            damaged.label = base.label + ", damaged " + std::to_string(round);
            Compare(damaged, ++seed);
            if (HasFatalFailure())
                return;
        }
        for (uint32_t keep : {uint32_t(base.stream.size() / 3), uint32_t(base.stream.size() - 1),
                              uint32_t(base.stream.size() - 40)}) {
            EntryStream cut = base;
            cut.valid = false;
            cut.declared = keep;
            cut.label = base.label + ", declared " + std::to_string(keep) + " bytes";
            Compare(cut, ++seed);
            if (HasFatalFailure())
                return;
        }
    }
}

// ---- whole extractions through the API ---------------------------------------

qztrace::WalkTracer *gTracer = nullptr;

int QZ_STDCALL NotingHost(int kind, int value, int, int, char *text) {
    gTracer->Note(kind, value, text);
    return kind == QZ_NOTIFY_VOLUME ? QZ_STOP_WAITING : 0;
}

// Walks the archive, extracting every entry, with the fast paths on or off.
qztrace::WalkTrace Walk(const qzt::TempDir &dir, const std::string &archive, size_t entries, bool exact) {
    qztrace::WalkTrace trace;
    CloseAll();
    qztrace::SetExactPathsOnly(exact);
    qztrace::WalkTracer tracer(trace);
    gTracer = &tracer;
    QZCallback(NotingHost);
    for (size_t i = 0; i <= entries; ++i) {
        const std::string output = dir.file("out" + std::to_string(i));
        char name[MAX_PATH] = "<untouched>";
        char crc[16] = "<untouched>";
        const int flags = i == 0 ? QZ_KEEP_OPEN : 0;
        tracer.BeginCall(flags);
        const int result = QZUnpack(archive.c_str(), output.c_str(), name, "secret", 0, crc, flags);
        tracer.EndCall(result, name, sizeof name, crc, sizeof crc, output);
        qzt::fs::remove(output);
        if (result == QZ_END_OF_ARCHIVE)
            break;
    }
    QZCallback(nullptr);
    gTracer = nullptr;
    qztrace::SetExactPathsOnly(false);
    CloseAll();
    return trace;
}

// Stored and compressed entries, encrypted and not, large enough for
// progress reports and cut across volumes in the middle of their data: the
// results, names, CRC texts, output bytes, the size of every write, the
// progress reports and the volume requests all come out the same.
TEST_F(FastPathTest, MultiVolumeWalkIsTheSameEitherWay) {
    if (!qzw::HaveDeflate())
        GTEST_SKIP() << "built without zlib";
    const Bytes text = qzt::MakeData(1200000, 't', 21);
    const Bytes records = qzt::BinaryRecords(300000, 22);
    const Bytes noise = qzt::MakeData(200000, 'r', 23);
    qzw::Archive archive;
    archive.records.push_back(qzw::StoredRecord("stored.bin", noise));
    archive.records.push_back(qzw::DeflatedRecord("text.txt", text));
    archive.records.push_back(qzt::Encrypted(qzw::DeflatedRecord("records.bin", records), "secret"));
    archive.records.push_back(qzt::Encrypted(qzw::StoredRecord("secret.bin", records), "secret"));
    archive.records.push_back(deflate64_fixtures::MakeRecord(deflate64_fixtures::kAll[2], "far.d64"));
    archive.records.push_back(qzw::StoredRecord("empty", {}));

    const std::string path = dir_.file("walk.qza");
    ASSERT_FALSE(qzw::WriteSplit(path, archive, 150001).empty());
    const qztrace::WalkTrace exact = Walk(dir_, path, archive.records.size(), true);
    const qztrace::WalkTrace fast = Walk(dir_, path, archive.records.size(), false);

    ASSERT_EQ(exact.calls.size(), archive.records.size() + 1);
    EXPECT_EQ(exact.calls.back().result, QZ_END_OF_ARCHIVE);
    size_t slices = 0, progress = 0, volumes = 0;
    for (size_t i = 0; i < archive.records.size(); ++i) {
        EXPECT_EQ(exact.calls[i].result, 0) << archive.records[i].name;
        EXPECT_TRUE(exact.calls[i].outputLeft) << archive.records[i].name;
        slices += exact.calls[i].slices.size();
        for (const qztrace::HostNote &note : exact.calls[i].notes)
            ++(note.kind == QZ_NOTIFY_PROGRESS ? progress : volumes);
    }
    // The walk has something to compare: slices, progress reports and
    // volume switches (the callback sees none: every volume is there).
    EXPECT_GT(slices, 40u);
    EXPECT_GT(progress, 0u);
    EXPECT_EQ(volumes, 0u);
    EXPECT_EQ(qztrace::Difference(exact, fast), "");
}

}  // namespace
