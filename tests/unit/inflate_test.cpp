// The inflater is checked three ways: differentially, against streams that
// zlib and 7zz encode from known data, decoded in slices of many sizes;
// against hand-built streams for the corners no encoder reaches (Deflate64
// lengths and distances, invalid codes, header limits, a stored block whose
// first bytes already sit in the bit buffer); and for its contract with the
// caller: slice results, failure codes, the end check, source calls and
// heap blocks.
#include "inflate/code_table.h"
#include "inflate/coded_blocks.h"
#include "deflate64_fixtures.h"
#include "deflate_builder.h"
#include "inflater_fixture.h"
#include "inflate/inflate_stream.h"
#include "platform/test_hooks.h"

#include <gtest/gtest.h>
#if defined(QZARC_HAVE_ZLIB)
#include <zlib.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

InflateStream gInflate;  // zero at load: no window, no input, no tables

namespace {

using Bytes = std::vector<uint8_t>;

// ---- byte source over a vector ------------------------------------------

Bytes gStream;
size_t gStreamPos = 0;
size_t gSourceCalls = 0;

int StreamSource(void *) {
    ++gSourceCalls;
    return gStreamPos < gStream.size() ? gStream[gStreamPos++] : 0;  // 0: filler past the end
}

// Byte at a time, without a view of buffered bytes.
InflateInput StreamInput() { return InflateInput{StreamSource, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}; }

// CRC-32 computed bit by bit, independently of the library's table.
uint32_t Crc(const Bytes &b) {
    uint32_t c = 0xFFFFFFFFu;
    for (uint8_t byte : b) {
        c ^= byte;
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

// ---- stream building ----------------------------------------------------

using qzt::BitWriter;
using qzt::DynamicCodes;
using qzt::FixedMatchCodes;
using qzt::FixedSymbol;

// ---- decoding -----------------------------------------------------------

struct Outcome {
    Bytes out;
    int sliceStatus = 0;  // status register when slicing stopped
    int verdict = -1;     // FinishInflate
    size_t sourceCalls = 0;
    bool finalSeen = false;  // the final block's header was read
    uint32_t outputTotal = 0;  // bytes the stream flushed out, results or not
};

// Drains a stream the way the extraction loop does: slices until one comes
// back short. counts cycles through the slice sizes. Every slice gets a
// guard zone behind it that must stay untouched.
Outcome Decode(const Bytes &stream, uint16_t method, const std::vector<uint32_t> &counts,
               uint32_t expectedCrc, uint32_t expectedSize, size_t maxSlices = 1u << 22) {
    gStream = stream;
    gStreamPos = 0;
    gSourceCalls = 0;
    Outcome o;
    EXPECT_EQ(StartInflate(gInflate, true, method, StreamInput()), 0);
    Bytes buf;
    for (size_t i = 0; i < maxSlices; ++i) {
        const uint32_t n = counts[i % counts.size()];
        buf.assign(n + 32, 0xA5);
        const uint32_t got = InflateSlice(gInflate, buf.data(), n);
        EXPECT_LE(got, n);
        for (size_t g = n; g < buf.size(); ++g)
            if (buf[g] != 0xA5) {
                ADD_FAILURE() << "slice of " << n << " wrote past its end";
                break;
            }
        o.out.insert(o.out.end(), buf.begin(), buf.begin() + got);
        if (got < n)
            break;
    }
    o.sliceStatus = gInflate.status;
    o.sourceCalls = gSourceCalls;
    o.finalSeen = (gInflate.flags & kFinalSeen) != 0;
    o.outputTotal = gInflate.outputTotal;
    o.verdict = FinishInflate(gInflate, expectedCrc, expectedSize);
    return o;
}

// Decodes a valid stream with each slice pattern and checks everything a
// caller relies on.
void ExpectDecodes(const Bytes &stream, uint16_t method, const Bytes &plain,
                   const std::vector<std::vector<uint32_t>> &patterns, const std::string &what) {
    for (const auto &counts : patterns) {
        const Outcome o = Decode(stream, method, counts, Crc(plain), uint32_t(plain.size()));
        ASSERT_EQ(o.sliceStatus, 0) << what << ", first count " << counts[0];
        ASSERT_EQ(o.out.size(), plain.size()) << what << ", first count " << counts[0];
        ASSERT_TRUE(o.out == plain) << what << ", first count " << counts[0];
        EXPECT_EQ(o.verdict, 0) << what;
        // Every byte of a valid stream holds needed bits, and at most one
        // filler byte is asked for past its end.
        EXPECT_GE(o.sourceCalls, stream.size()) << what;
        EXPECT_LE(o.sourceCalls, stream.size() + 1) << what;
    }
}

const std::vector<std::vector<uint32_t>> kAllPatterns = {{65536}, {1}, {7}, {104}, {1, 7, 104, 65536, 3}};

class InflateTest : public qzt::InflaterTest {
protected:
    void TearDown() override {
        qzarc_test::FailAllocation(0);
        ReleaseInflate(gInflate);
        InflaterTest::TearDown();
    }
};

// ---- test data ----------------------------------------------------------

Bytes Text(size_t n, uint32_t seed) {
    static const char *words[] = {"the ", "archive ", "window ", "of ", "entries ", "and ", "a ",
                                  "stream ", "block, ", "length ", "distance. ", "\n", "Huffman "};
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        const char *w = words[rng() % 13];
        b.insert(b.end(), w, w + std::char_traits<char>::length(w));
    }
    b.resize(n);
    return b;
}

Bytes Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto &c : b)
        c = uint8_t(rng());
    return b;
}

[[maybe_unused]] Bytes Runs(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n)
        b.insert(b.end(), 1 + rng() % 700, uint8_t(rng() % 4));
    b.resize(n);
    return b;
}

// Text with random stretches and a block repeated just inside 32 KiB.
[[maybe_unused]] Bytes Mixed(size_t n, uint32_t seed) {
    Bytes b = Text(n, seed);
    const Bytes noise = Random(1200, seed + 1);
    for (size_t at = 5000; at + noise.size() <= n; at += 32000)
        std::copy(noise.begin(), noise.end(), b.begin() + long(at));
    return b;
}

[[maybe_unused]] std::vector<std::pair<std::string, Bytes>> Corpus() {
    return {{"empty", {}},
            {"one byte", {0x42}},
            {"text", Text(50000, 1)},
            {"random", Random(40000, 2)},
            {"runs", Runs(70000, 3)},
            {"32767", Mixed(32767, 4)},
            {"32768", Mixed(32768, 5)},
            {"32769", Mixed(32769, 6)},
            {"65535", Mixed(65535, 7)},
            {"65536", Mixed(65536, 8)},
            {"65537", Mixed(65537, 9)},
            {"140000", Mixed(140000, 10)}};
}

#if defined(QZARC_HAVE_ZLIB)

// Raw deflate; at each offset in flushAt the data so far is flushed with flushMode.
Bytes ZlibDeflate(const Bytes &in, int level, int strategy, const std::vector<size_t> &flushAt = {},
                  int flushMode = Z_SYNC_FLUSH) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
    Bytes out(deflateBound(&z, uLong(in.size())) + 64 * (flushAt.size() + 1));
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    size_t pos = 0;
    std::vector<size_t> cuts = flushAt;
    cuts.push_back(in.size());
    for (size_t i = 0; i < cuts.size(); ++i) {
        const size_t end = std::min(cuts[i], in.size());
        z.next_in = const_cast<Bytef *>(in.data() + pos);
        z.avail_in = uInt(end - pos);
        const bool last = i + 1 == cuts.size();
        EXPECT_EQ(deflate(&z, last ? Z_FINISH : flushMode), last ? Z_STREAM_END : Z_OK);
        pos = end;
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// ---- differential: zlib --------------------------------------------------

TEST_F(InflateTest, MatchesZlibAcrossLevelsStrategiesAndSlices) {
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    int combo = 0;
    for (const auto &[name, plain] : Corpus()) {
        for (int level = 0; level <= 9; ++level) {
            for (int strategy : strategies) {
                const Bytes z = ZlibDeflate(plain, level, strategy);
                // Rotate the single-size patterns over the combinations and
                // always add the mixed one.
                const auto &one = kAllPatterns[size_t(combo++) % 4];
                ExpectDecodes(z, 8, plain, {one, kAllPatterns[4]},
                              name + " level " + std::to_string(level) + " strategy " +
                                  std::to_string(strategy));
                if (HasFatalFailure())
                    return;
            }
        }
    }
}

TEST_F(InflateTest, MatchesZlibWithFlushPoints) {
    // Sync and full flushes end blocks early and add empty stored blocks,
    // often right behind a dynamic block that had read ahead.
    std::mt19937 rng(11);
    for (const auto &[name, plain] : Corpus()) {
        for (int mode : {Z_SYNC_FLUSH, Z_FULL_FLUSH}) {
            for (int level : {1, 6, 9}) {
                std::vector<size_t> cuts;
                for (size_t at = 1 + rng() % 9000; at < plain.size(); at += 1 + rng() % 9000)
                    cuts.push_back(at);
                const Bytes z = ZlibDeflate(plain, level, Z_DEFAULT_STRATEGY, cuts, mode);
                ExpectDecodes(z, 8, plain, {kAllPatterns[size_t(level) % 4], kAllPatterns[4]},
                              name + (mode == Z_SYNC_FLUSH ? " sync" : " full") + " level " +
                                  std::to_string(level));
                if (HasFatalFailure())
                    return;
            }
        }
    }
}

#endif // QZARC_HAVE_ZLIB

// ---- differential: Deflate64 ----------------------------------------------

TEST_F(InflateTest, Deflate64FixturesDecode) {
    for (const auto &f : deflate64_fixtures::kAll) {
        const Bytes stream(f.data, f.data + f.size);
        for (const auto &counts : kAllPatterns) {
            const Outcome o = Decode(stream, 9, counts, f.crc, f.plainSize);
            EXPECT_EQ(o.sliceStatus, 0) << f.name;
            EXPECT_EQ(o.verdict, 0) << f.name << ", first count " << counts[0];
            EXPECT_LE(o.sourceCalls, f.size + 1) << f.name;
        }
    }
    // The far and long fixtures really rely on Deflate64: as Deflate they
    // decode to something else.
    for (const auto &f : deflate64_fixtures::kAll) {
        const std::string name = f.name;
        if (name != "far" && name != "long")
            continue;
        const Outcome o = Decode(Bytes(f.data, f.data + f.size), 8, {65536}, f.crc, f.plainSize);
        EXPECT_NE(o.verdict, 0) << f.name;
    }
}

#if !defined(_WIN32)
// 7zz runs on the Linux side only.

// Central directory of a one-entry zip: method, crc, size and the raw data.
bool ReadZipEntry(const Bytes &zip, uint16_t *method, uint32_t *crc, uint32_t *size, Bytes *raw) {
    auto u16 = [&](size_t at) { return uint32_t(zip.at(at) | zip.at(at + 1) << 8); };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (zip.size() < 22)
        return false;
    size_t end = zip.size() - 22;
    while (end > 0 && u32(end) != 0x06054B50u)
        --end;
    const size_t cd = u32(end + 16);
    if (u32(cd) != 0x02014B50u)
        return false;
    *method = uint16_t(u16(cd + 10));
    *crc = u32(cd + 16);
    const uint32_t compressed = u32(cd + 20);
    *size = u32(cd + 24);
    const size_t local = u32(cd + 42);
    const size_t data = local + 30 + u16(local + 26) + u16(local + 28);
    raw->assign(zip.begin() + long(data), zip.begin() + long(data + compressed));
    return true;
}

TEST_F(InflateTest, MatchesDeflate64From7zz) {
    if (std::system("command -v 7zz >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "7zz is not installed";
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("qzarc_inflate_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    std::vector<std::pair<std::string, Bytes>> corpus = Corpus();
    // A random stretch that comes back 52000 and 72000 bytes later.
    Bytes far = Random(2000, 12);
    const Bytes gap = Text(50000, 13);
    far.insert(far.end(), gap.begin(), gap.end());
    far.insert(far.end(), far.begin(), far.begin() + 2000);
    far.insert(far.end(), gap.begin(), gap.begin() + 20000);
    far.insert(far.end(), far.begin(), far.begin() + 2000);
    corpus.push_back({"far", far});
    for (const auto &[name, plain] : corpus) {
        if (plain.empty())
            continue;  // an empty file is stored, not compressed
        const fs::path file = dir / "data.bin", zip = dir / "data.zip";
        fs::remove(zip);
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char *>(plain.data()),
                                                     std::streamsize(plain.size()));
        const std::string cmd = "cd '" + dir.string() + "' && 7zz a -tzip -mm=Deflate64 -mx=5 data.zip data.bin >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << name;
        std::ifstream in(zip, std::ios::binary);
        const Bytes archive((std::istreambuf_iterator<char>(in)), {});
        uint16_t method = 0;
        uint32_t crc = 0, size = 0;
        Bytes raw;
        ASSERT_TRUE(ReadZipEntry(archive, &method, &crc, &size, &raw)) << name;
        if (method == 0)
            continue;  // stored as incompressible
        ASSERT_EQ(method, 9) << name;
        ASSERT_EQ(crc, Crc(plain));
        ASSERT_EQ(size, plain.size());
        ExpectDecodes(raw, 9, plain, kAllPatterns, "7zz " + name);
    }
    fs::remove_all(dir);
}
#endif // !_WIN32

// ---- hand-built streams: lengths and distances ----------------------------

TEST_F(InflateTest, Deflate64LongestMatchSpansManySlices) {
    // "ab", 65538 x 'b' (distance 1), "c", 65538 bytes of "cb" (distance 2),
    // then a 500-byte match 65536 back: the window's full size.
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(1, 2);
    FixedSymbol(w, 'a');
    FixedSymbol(w, 'b');
    FixedMatchCodes(w, 285, 16, 0xFFFF, 0, 0);
    FixedSymbol(w, 'c');
    FixedMatchCodes(w, 285, 16, 0xFFFF, 1, 0);
    FixedMatchCodes(w, 285, 16, 500 - 3, 31, 16383);
    FixedSymbol(w, 256);
    Bytes plain{'a', 'b'};
    plain.insert(plain.end(), 65538, 'b');
    plain.push_back('c');
    for (int i = 0; i < 65538; ++i)
        plain.push_back(i % 2 ? 'c' : 'b');
    for (int i = 0; i < 500; ++i)
        plain.push_back(plain[plain.size() - 65536]);
    ExpectDecodes(w.bytes(), 9, plain, {{1000}, {4099, 1, 65536}, {65536}, {1}}, "65538");
}

TEST_F(InflateTest, DistancesBeyondTheDeflateWindowWrap) {
    // Deflate accepts distance codes 30 and 31; with a 32 KiB window their
    // distances act modulo 32768. Distance 32768 itself copies each window
    // byte onto itself.
    const Bytes lead = Random(40000, 21);
    BitWriter w;
    w.StoredBlock(false, lead);
    w.Bits(1, 1);
    w.Bits(1, 2);
    FixedMatchCodes(w, 264, 0, 0, 30, 0);      // 10 bytes, distance 32769 = 1
    FixedMatchCodes(w, 264, 0, 0, 31, 16383);  // 10 bytes, distance 65536 = 0 = 32768
    FixedMatchCodes(w, 264, 0, 0, 29, 8191);   // 10 bytes, distance 32768
    FixedMatchCodes(w, 264, 0, 0, 30, 100);    // 10 bytes, distance 32869 = 101
    FixedSymbol(w, 256);
    Bytes plain = lead;
    for (size_t d : {1, 32768, 32768, 101})
        for (int i = 0; i < 10; ++i)
            plain.push_back(plain[plain.size() - d]);
    ExpectDecodes(w.bytes(), 8, plain, {{65536}, {7}, {3, 32771}}, "wrapped distances");
}

TEST_F(InflateTest, DistanceBeforeTheFirstByteCopiesZeros) {
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(1, 2);
    FixedSymbol(w, 'x');
    FixedMatchCodes(w, 259, 0, 0, 13, 3);  // 5 bytes, distance 100
    FixedSymbol(w, 256);
    ExpectDecodes(w.bytes(), 8, {'x', 0, 0, 0, 0, 0}, {{65536}}, "before start");
}

// ---- hand-built streams: dynamic headers ----------------------------------

// Literal/length lengths for nl symbols: a, b, end of block and symbol 257
// (length 3) at two bits each.
std::vector<uint32_t> FourCodes(uint32_t nl) {
    std::vector<uint32_t> lit(nl, 0);
    lit['a'] = lit['b'] = lit[256] = lit[257] = 2;
    return lit;
}

TEST_F(InflateTest, SingleDistanceCodeDecodesAndItsOtherPatternFails) {
    const DynamicCodes b(FourCodes(258), {1});
    for (bool bad : {false, true}) {
        BitWriter w;
        b.Header(w, true);
        b.Symbol(w, 'a');
        b.Symbol(w, 'b');
        b.Symbol(w, 257);
        if (bad)
            w.Code(1, 1);  // the unused distance pattern
        else
            b.Distance(w, 0, 0);
        b.Symbol(w, 256);
        const Bytes plain{'a', 'b', 'b', 'b', 'b'};
        if (!bad) {
            ExpectDecodes(w.bytes(), 8, plain, {{65536}, {1}}, "single distance");
        } else {
            const Outcome o = Decode(w.bytes(), 8, {65536}, Crc(plain), 5);
            EXPECT_EQ(o.sliceStatus, 5);
            EXPECT_TRUE(o.out.empty());  // the failing block's bytes are not delivered
            EXPECT_EQ(o.verdict, 8);
        }
    }
}

TEST_F(InflateTest, EmptyDistanceSetAllowsOnlyLiterals) {
    // A non-final stored block first: a failure later in the same call still
    // returns the bytes that block delivered.
    const DynamicCodes b(FourCodes(258), {0});
    for (bool withMatch : {false, true}) {
        BitWriter w;
        w.StoredBlock(false, {'s', 't'});
        b.Header(w, true);
        b.Symbol(w, 'a');
        b.Symbol(w, 'b');
        if (withMatch)
            b.Symbol(w, 257);
        b.Symbol(w, 256);
        if (!withMatch) {
            ExpectDecodes(w.bytes(), 8, {'s', 't', 'a', 'b'}, {{65536}, {1}}, "no distances");
            continue;
        }
        const Outcome o = Decode(w.bytes(), 8, {100}, 0, 0);
        EXPECT_EQ(o.sliceStatus, 5);
        EXPECT_EQ(o.out, (Bytes{'s', 't'}));
    }
}

// The status register after slicing a stream that should fail.
int FirstSliceStatus(const Bytes &stream, uint16_t method = 8) {
    const Outcome o = Decode(stream, method, {65536}, 0, 0);
    return o.sliceStatus;
}

TEST_F(InflateTest, DynamicHeaderLimits) {
    // HLIT 29 (286 codes) is the largest accepted; 30 and 31 fail.
    for (uint32_t nl : {286u, 287u, 288u}) {
        BitWriter w;
        const DynamicCodes b(FourCodes(nl), {1});
        b.Header(w, true);
        b.Symbol(w, 'a');
        b.Symbol(w, 256);
        EXPECT_EQ(FirstSliceStatus(w.bytes()), nl == 286 ? 0 : 5) << nl;
    }

    // Repeats: 97 zeros, a:2, b:2, 157 zeros, 256:2, then one 16 that
    // covers symbol 257 and the four distance lengths (5 values). A repeat
    // of 6 runs past nl + nd.
    for (uint32_t repeat : {5u, 6u}) {
        DynamicCodes::LengthSymbols seq = {
            {18, 97 - 11}, {2, 0}, {2, 0}, {18, 138 - 11}, {18, 19 - 11}, {2, 0}, {16, repeat - 3}};
        BitWriter w;
        DynamicCodes::ExplicitHeader(w, true, 258, 4, seq);
        const DynamicCodes b(FourCodes(258), {2, 2, 2, 2});
        b.Symbol(w, 'a');
        b.Symbol(w, 257);
        b.Distance(w, 0, 0);
        b.Symbol(w, 256);
        if (repeat == 5)
            ExpectDecodes(w.bytes(), 8, {'a', 'a', 'a', 'a'}, {{65536}}, "repeat into distances");
        else
            EXPECT_EQ(FirstSliceStatus(w.bytes()), 5);
    }

    // A 16 before any length repeats zeros.
    {
        DynamicCodes::LengthSymbols seq = {{16, 0}, {17, 7}, {16, 3}, {18, 97 - 19 - 11}};
        seq.insert(seq.end(), {{1, 0}, {18, 138 - 11}, {18, 20 - 11}, {1, 0}, {1, 0}});
        BitWriter w;
        DynamicCodes::ExplicitHeader(w, true, 257, 1, seq);
        std::vector<uint32_t> lit(257, 0);
        lit['a'] = 1;
        lit[256] = 1;
        const DynamicCodes b(lit, {1});
        b.Symbol(w, 'a');
        b.Symbol(w, 256);
        ExpectDecodes(w.bytes(), 8, {'a'}, {{65536}}, "16 repeats zero");
    }

    // Incomplete literal/length set; over-subscribed code-length code.
    {
        BitWriter w;
        std::vector<uint32_t> lit(257, 0);
        lit['a'] = 2;
        lit[256] = 2;
        DynamicCodes(lit, {1}).Header(w, true);
        EXPECT_EQ(FirstSliceStatus(w.bytes()), 5);
    }
    {
        BitWriter w;
        w.Bits(1, 1);
        w.Bits(2, 2);
        w.Bits(0, 5);
        w.Bits(0, 5);
        w.Bits(0, 4);
        for (int i = 0; i < 4; ++i)
            w.Bits(1, 3);  // four 1-bit codes
        EXPECT_EQ(FirstSliceStatus(w.bytes()), 5);
    }
}

TEST_F(InflateTest, StoredBlockAfterReadAheadDecodes) {
    // A literal code set of lengths 1..9 is decoded through a 9-bit lookup:
    // after a 1-bit literal and a 2-bit end-of-block code, up to two whole
    // bytes can already sit in the bit buffer when the stored block's header
    // has been read. They are the start of LEN. Every byte alignment is
    // tried; some must put whole bytes in the buffer.
    int readAhead = 0;
    for (int n = 0; n < 8; ++n) {
        for (const Bytes &tail : {Bytes{'x', 'y', 'z'}, Bytes{}}) {
            Bytes plain;
            bool ahead = false;
            const Bytes stream = qzt::StoredAfterReadAhead(n, tail, &plain, &ahead);
            readAhead += ahead ? 1 : 0;
            ExpectDecodes(stream, 8, plain, {{65536}, {1}, {2}}, "read-ahead " + std::to_string(n));
        }
    }
    EXPECT_GT(readAhead, 0);
}

// ---- block kinds and the driver -------------------------------------------

TEST_F(InflateTest, InvalidSymbolsAndBlockTypesFail) {
    // Symbols 286 and 287 have no meaning in either method.
    for (uint16_t method : {8, 9}) {
        for (uint32_t sym : {286u, 287u}) {
            BitWriter w;
            w.StoredBlock(false, {'o', 'k'});
            w.Bits(1, 1);
            w.Bits(1, 2);
            FixedSymbol(w, 'z');
            FixedSymbol(w, sym);
            const Outcome o = Decode(w.bytes(), method, {100}, 0, 0);
            EXPECT_EQ(o.sliceStatus, 5);
            EXPECT_EQ(o.out, (Bytes{'o', 'k'}));  // the stored block only
            EXPECT_EQ(o.verdict, 8);               // CRC of "ok" differs from 0
        }
    }
    // BTYPE 3 ends the call with 0 even after a whole block was delivered.
    // Without BFINAL the end check says unfinished; with it, it decides by
    // CRC and size.
    for (uint32_t final : {0u, 1u}) {
        BitWriter w;
        w.StoredBlock(false, {'o', 'k'});
        w.Bits(final, 1);
        w.Bits(3, 2);
        gStream = w.bytes();
        gStreamPos = gSourceCalls = 0;
        ASSERT_EQ(StartInflate(gInflate, true, 8, StreamInput()), 0);
        uint8_t out[100];
        EXPECT_EQ(InflateSlice(gInflate, out, 100), 0u);
        EXPECT_EQ(gInflate.status, 5);
        EXPECT_EQ(out[0], 'o');
        const size_t calls = gSourceCalls;
        EXPECT_EQ(InflateSlice(gInflate, out, 100), 0u);
        EXPECT_EQ(gSourceCalls, calls);  // a failed stream pulls no input
        EXPECT_EQ(FinishInflate(gInflate, Crc({'o', 'k'}), 2), final ? 0 : 6);
    }
    // A stored block whose NLEN is not LEN's complement.
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(0, 2);
    w.AppendBytes({3, 0, 0xFC, 0xFE, 'a', 'b', 'c'});
    EXPECT_EQ(FirstSliceStatus(w.bytes()), 5);
}

TEST_F(InflateTest, SliceBoundariesAndTheEndOfTheStream) {
    BitWriter w;
    w.StoredBlock(false, {'a', 'b', 'c', 'd'});
    w.StoredBlock(false, {});
    w.StoredBlock(true, {'e', 'f'});
    gStream = w.bytes();
    gStreamPos = gSourceCalls = 0;
    ASSERT_EQ(StartInflate(gInflate, true, 8, StreamInput()), 0);
    uint8_t out[10];
    // A block that exactly fills the count is closed by the next call,
    // which goes on through the empty block to the final one.
    EXPECT_EQ(InflateSlice(gInflate, out, 4), 4u);
    EXPECT_EQ(InflateSlice(gInflate, out, 10), 2u);
    EXPECT_EQ(out[0], 'e');
    const size_t calls = gSourceCalls;
    EXPECT_EQ(InflateSlice(gInflate, out, 10), 0u);
    EXPECT_EQ(gSourceCalls, calls);  // nothing after the final block is read
    EXPECT_EQ(gInflate.status, 0);
    EXPECT_EQ(FinishInflate(gInflate, Crc({'a', 'b', 'c', 'd', 'e', 'f'}), 6), 0);
}

TEST_F(InflateTest, EndCheckVerdicts) {
    const Bytes plain = Text(3000, 31);
    BitWriter stored;
    stored.StoredBlock(true, plain);
    const Bytes &z = stored.bytes();
    EXPECT_EQ(Decode(z, 8, {65536}, Crc(plain), 3000).verdict, 0);
    EXPECT_EQ(gInflate.status, 0);
    EXPECT_EQ(Decode(z, 8, {65536}, Crc(plain), 2999).verdict, 7);
    EXPECT_EQ(gInflate.status, 7);
    EXPECT_EQ(Decode(z, 8, {65536}, Crc(plain) ^ 1, 3000).verdict, 8);
    EXPECT_EQ(Decode(z, 8, {65536}, Crc(plain) ^ 1, 2999).verdict, 8);  // CRC is decided first

    // A non-final block and then only filler: the zero bits read as another
    // non-final stored block whose NLEN is wrong.
    BitWriter w;
    w.StoredBlock(false, {'a'});
    const Outcome cut = Decode(w.bytes(), 8, {65536}, Crc({'a'}), 1);
    EXPECT_EQ(cut.sliceStatus, 5);
    EXPECT_EQ(cut.verdict, 6);

    // Unknown method: nothing is decoded, and the final header is never read.
    const Outcome bad = Decode(z, 12, {65536, 65536}, Crc(plain), 3000);
    EXPECT_EQ(bad.sliceStatus, 3);
    EXPECT_EQ(bad.sourceCalls, 0u);
    EXPECT_EQ(bad.verdict, 6);

    // Slicing a stream that was never started delivers nothing and clears status.
    gInflate.status = kStatusBadData;
    uint8_t out[4];
    EXPECT_EQ(InflateSlice(gInflate, out, 4), 0u);
    EXPECT_EQ(gInflate.status, 0);
    EXPECT_EQ(FinishInflate(gInflate, 0, 0), 0);
}

TEST_F(InflateTest, OutOfMemory) {
    qzarc_test::FailAllocation(1);
    EXPECT_EQ(StartInflate(gInflate, true, 8, StreamInput()), 1);
    EXPECT_EQ(gInflate.status, 1);
    EXPECT_EQ(gInflate.window, nullptr);
    EXPECT_EQ(qzarc_test::LiveBlocks(), liveAtStart_);

    // Fail each table allocation of a dynamic block followed by a fixed one
    // in turn: the slice stops with status 1, the end check gives its
    // verdict and no block is left behind.
    BitWriter w;
    const DynamicCodes dyn(FourCodes(258), {1});
    dyn.Header(w, false);
    dyn.Symbol(w, 'a');
    dyn.Symbol(w, 257);
    dyn.Distance(w, 0, 0);
    dyn.Symbol(w, 256);
    w.Bits(1, 1);
    w.Bits(1, 2);
    FixedSymbol(w, 'x');
    FixedSymbol(w, 256);
    const Bytes z = w.bytes();
    const Bytes plain{'a', 'a', 'a', 'a', 'x'};
    qzarc_test::ResetCounters();
    ExpectDecodes(z, 8, plain, {{65536}}, "baseline");
    // All but the window: one block per table, three for the dynamic block
    // (code lengths, literals and lengths, distances) and two for the fixed one.
    const uint32_t tableAllocations = qzarc_test::AllocationCount() - 1;
    ASSERT_EQ(tableAllocations, 5u);
    for (uint32_t nth = 1; nth <= tableAllocations; ++nth) {
        gStream = z;
        gStreamPos = gSourceCalls = 0;
        ASSERT_EQ(StartInflate(gInflate, true, 8, StreamInput()), 0);
        qzarc_test::FailAllocation(nth);
        uint8_t out[64];
        const uint32_t got = InflateSlice(gInflate, out, 64);
        EXPECT_EQ(gInflate.status, 1) << nth;
        EXPECT_EQ(got, nth <= 3 ? 0u : 4u) << nth;  // the dynamic block needs three tables
        EXPECT_EQ(FinishInflate(gInflate, Crc(plain), uint32_t(plain.size())), nth <= 3 ? 6 : 8) << nth;
        EXPECT_EQ(qzarc_test::LiveBlocks(), liveAtStart_) << nth;
        qzarc_test::FailAllocation(0);
    }
}

// Random bytes, read as a stream of an entry recorded as empty (CRC 0):
// whatever they decode to, the end check's verdict follows from what the
// stream did — 6 while its final block was never reached, else 0 only for
// a stream that flushed nothing, 8 (CRC) for one that flushed bytes (a
// failing call may have flushed some it does not count in its result) —
// and no heap block outlives the end check.
TEST_F(InflateTest, GarbageNeitherCrashesNorLeaks) {
    std::mt19937 rng(51);
    int verdicts[9] = {};
    for (int round = 0; round < 400; ++round) {
        Bytes junk = Random(1 + rng() % 600, uint32_t(round));
        if (round % 2)
            junk[0] = uint8_t((junk[0] & ~6u) | 4u);  // a dynamic block header
        const Outcome o = Decode(junk, uint16_t(8 + round % 2), {uint32_t(1 + rng() % 5000)}, 0, 0, 200);
        const int expected = !o.finalSeen ? 6 : o.outputTotal == 0 ? 0 : 8;
        EXPECT_EQ(o.verdict, expected) << "round " << round;
        EXPECT_LE(o.out.size(), o.outputTotal) << "round " << round;
        EXPECT_EQ(qzarc_test::LiveBlocks(), liveAtStart_) << "round " << round;
        ++verdicts[o.verdict];
    }
    // The junk reaches both kinds of end.
    EXPECT_GT(verdicts[6], 0);
    EXPECT_GT(verdicts[0] + verdicts[8], 0);
}

} // namespace
