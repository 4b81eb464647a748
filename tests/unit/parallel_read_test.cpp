// A large Deflate or Deflate64 entry read by a handle with several threads
// hands out what one thread hands out: the same bytes in the same read
// sizes, the same verdicts and messages, the same progress reports and
// volume requests, the same extraction, and nothing left once the handle
// is freed (parallel_check.h compares the walks' transcripts). The
// stretch size, a test instrument, puts the seams between the threads'
// stretches everywhere: inside matches, block headers and stored blocks,
// at block ends. The streams are those of the differential and fuzz
// corpora, streams built to mislead a search for block starts
// (raw_streams.h), their damaged and cut versions, and entries of several
// MiB at the library's own stretch size; each is an entry of an archive
// made by the writer, as it is and encrypted, split over volumes, with a
// volume missing, a wrong CRC or size, cut or running on.
//
// QZARC_PARALLEL_STRIDE=k (the ThreadSanitizer and memcheck runs) takes
// every k-th case of each test only.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "archive_input.h"
#include "archive_seeds.h"
#include "deflate_builder.h"
#include "parallel_check.h"
#include "piece_deflate.h"
#include "qzarc.h"
#include "raw_streams.h"
#include "sample_data.h"
#include "seven_zip_data.h"
#include "test_support.h"
#include "writer/writer.h"
#include "zip_reader.h"

namespace {

namespace fs = std::filesystem;
using qzt::Bytes;
using qzt::RawStream;
using qzt::Threading;
using qzt::WalkPlan;

constexpr const char *kPassword = "parallel";
constexpr size_t kReadSizes[] = {1, 4096, 65536, qzt::kMiB};
constexpr int kThreads[] = {2, 3, 8};
// A stretch is used on a stream only when it makes at most this many of them
// (each costs a hand-over between threads).
constexpr uint64_t kMostStretches = 4000;

enum class Wrap { kAsItIs, kEncrypted, kSplit, kMissingVolume, kWrongCrc, kSizeShort, kSizeLong, kDataCut, kDataLong };
constexpr Wrap kOtherWraps[] = {Wrap::kEncrypted, Wrap::kSplit,    Wrap::kMissingVolume, Wrap::kWrongCrc,
                                Wrap::kSizeShort, Wrap::kSizeLong, Wrap::kDataCut,       Wrap::kDataLong};

const char *WrapName(Wrap w) {
    static const char *const names[] = {"as it is", "encrypted", "in volumes",  "a volume missing", "wrong CRC",
                                        "size short", "size long", "data cut", "data running on"};
    return names[int(w)];
}

uint32_t Stride() {
    const char *text = std::getenv("QZARC_PARALLEL_STRIDE");
    const long k = text != nullptr ? std::strtol(text, nullptr, 10) : 1;
    return k > 1 ? uint32_t(k) : 1;
}

// How thoroughly a case is read.
enum class Breadth {
    kFull,   // every stretch that fits, over the read sizes, and the other plans
    kLight,  // two stretches and an extraction now and then (damaged streams)
};

class ParallelRead : public ::testing::Test {
protected:
    // Every case of a test walks the archive at `path` with one thread and
    // with several; false once enough differences have been reported.
    bool Check(const std::string &label, const std::string &path, const char *password, uint64_t compressed,
               Breadth breadth = Breadth::kFull) {
        if (case_++ % stride_ != 0)
            return true;
        std::mt19937 rng(case_);
        std::vector<uint32_t> stretches;
        for (uint32_t s : {3u, 17u, 64u, 300u, 4096u})
            if (compressed >= 2 * s && compressed / s <= kMostStretches)
                stretches.push_back(s);
        if (compressed >= 8) {
            // A seam anywhere: a size between the least allowed and half
            // the stream, small ones as likely as large ones.
            const double least = std::max(1.0, double(compressed) / kMostStretches), most = double(compressed) / 2;
            const double pick = least * std::pow(most / least, std::uniform_real_distribution<double>(0, 1)(rng));
            stretches.push_back(std::max<uint32_t>(1, uint32_t(pick)));
        }
        if (compressed >= 65536 || stretches.empty())
            stretches.push_back(0);  // the library's own
        if (breadth == Breadth::kLight) {
            std::shuffle(stretches.begin(), stretches.end(), rng);
            stretches.resize(std::min<size_t>(stretches.size(), 2));
        }

        // Threadings grouped by plan, so that each plan's one-thread walk is made once.
        std::map<size_t, std::vector<Threading>> byReadSize;
        for (size_t i = 0; i < stretches.size(); ++i) {
            const size_t k = case_ + i;
            const size_t readSize = breadth == Breadth::kLight ? kReadSizes[1 + k % 3] : kReadSizes[k % 4];
            byReadSize[readSize].push_back({kThreads[k % 3], stretches[i], k % 5 == 4});
        }
        std::vector<std::pair<WalkPlan, std::vector<Threading>>> runs;
        for (const auto &[readSize, threadings] : byReadSize) {
            WalkPlan plan;
            plan.readSize = readSize;
            runs.emplace_back(plan, threadings);
        }
        const Threading some{kThreads[case_ % 3], stretches[case_ % stretches.size()]};
        if (breadth == Breadth::kFull || case_ % 4 == 0) {
            WalkPlan extract;
            extract.extract = true;
            runs.emplace_back(extract, std::vector<Threading>{some});
        }
        if (breadth == Breadth::kFull) {
            WalkPlan other;
            other.readSize = 4096;
            switch (case_ % 5) {
            case 0:
                other.readsPerEntry = 3;  // the rest of each entry is skipped
                break;
            case 1:
                other.switchThreads = true;
                break;
            case 2:
                other.countMidway = true;
                break;
            case 3:
                other.seekBack = true;
                break;
            default:
                other.freeAfter = 2;
                break;
            }
            runs.emplace_back(other, std::vector<Threading>{some});
            if (password != nullptr) {
                WalkPlan refused;  // a wrong password, then the right one to read or extract
                refused.readSize = 65536;
                refused.extract = case_ % 2 == 0;
                refused.wrongPassword = "not-the-password";
                runs.emplace_back(refused, std::vector<Threading>{some});
            }
        }
        for (const auto &[plan, threadings] : runs) {
            const std::string difference =
                qzt::CompareThreadings(path, password, plan, threadings, dir_.file("extracted.bin"));
            if (!difference.empty()) {
                ADD_FAILURE() << label << ": " << difference;
                return ++failures_ < 5;
            }
        }
        return true;
    }

    // The stream as the first entry of an archive, followed by a small
    // stored entry and a small Deflate one, wrapped as `wrap` says; the
    // archive's path and password.
    std::string Write(const RawStream &s, Wrap wrap, const char **password) {
        const std::string path = dir_.file("case.qza");
        std::error_code ec;
        for (unsigned k = 1; k <= 4; ++k)
            fs::remove(qzw::VolumeName(path, k), ec);
        qzw::Record record = qzt::CompressedRecord("entry.bin", {}, s.stream, s.method);
        record.crc = s.crc;
        record.uncompressedSize = s.size;
        const uint32_t payload = uint32_t(s.stream.size());
        switch (wrap) {
        case Wrap::kWrongCrc:
            record.crc ^= 0x80000000u;
            break;
        case Wrap::kSizeShort:
            record.uncompressedSize -= std::min<uint32_t>(record.uncompressedSize, 1 + record.uncompressedSize / 3);
            break;
        case Wrap::kSizeLong:
            record.uncompressedSize += 1 + record.uncompressedSize / 5;
            break;
        case Wrap::kDataCut:
            record.compressedSizeOverride = payload - std::min<uint32_t>(payload, 1 + payload / 4);
            break;
        case Wrap::kDataLong:
            record.compressedSizeOverride = payload + 100;
            break;
        default:
            break;
        }
        *password = nullptr;
        if (wrap == Wrap::kEncrypted) {
            record = qzt::Encrypted(record, kPassword);
            *password = kPassword;
        }
        qzw::Archive archive;
        archive.records.push_back(record);
        archive.records.push_back(qzw::StoredRecord("after", qzt::MixedData(40, 5)));
        // Small enough to be read by one thread whatever the stretch size.
        archive.records.push_back(qzw::HaveDeflate() ? qzw::DeflatedRecord("again", qzt::MixedData(50, 6))
                                                     : qzw::StoredRecord("again", qzt::MixedData(50, 6)));
        if ((wrap == Wrap::kSplit || wrap == Wrap::kMissingVolume) && payload >= 8) {
            std::vector<uint64_t> cuts;
            if (wrap == Wrap::kSplit)
                cuts = {qzw::CutInPayload(archive, 0, payload / 4), qzw::CutInPayload(archive, 0, payload / 2),
                        qzw::CutInPayload(archive, 0, payload - 1)};
            else
                cuts = {qzw::CutInPayload(archive, 0, payload / 2)};
            EXPECT_FALSE(qzw::WriteArchiveVolumes(path, archive, cuts).empty()) << path;
            if (wrap == Wrap::kMissingVolume)
                fs::remove(qzw::VolumeName(path, 1), ec);
        } else {
            EXPECT_TRUE(qzw::WriteFile(path, archive.Serialize())) << path;
        }
        return path;
    }

    bool CheckStream(const RawStream &s, Wrap wrap, Breadth breadth = Breadth::kFull) {
        const char *password = nullptr;
        const std::string path = Write(s, wrap, &password);
        return Check(s.label + " (method " + std::to_string(s.method) + ", " + WrapName(wrap) + ")", path, password,
                     s.stream.size(), breadth);
    }

    // The stream as it is and wrapped one other way, the ways taken in turn.
    bool CheckStreamTwoWays(const RawStream &s) {
        const Wrap other = kOtherWraps[turn_++ % (sizeof kOtherWraps / sizeof kOtherWraps[0])];
        return CheckStream(s, Wrap::kAsItIs) && CheckStream(s, other);
    }

    RawStream Zlib(const std::string &label, const Bytes &plain, const qzw::DeflateOptions &options) {
        return {label, 8, qzw::DeflateRaw(plain, options), qzw::Crc32(plain), uint32_t(plain.size())};
    }

    qzt::TempDir dir_;
    uint32_t stride_ = Stride();
    uint32_t case_ = 0;
    uint32_t turn_ = 0;
    int failures_ = 0;
};

std::vector<fs::path> KeptInputs(const char *target) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(fs::path(QZARC_SOURCE_DIR) / "fuzz" / "regressions" / target, ec))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// The raw streams of the corpora: the inflater target's seeds and kept
// inputs, zlib at every strategy and at low, middle and high levels, with
// flush points and stored blocks, the longest Deflate64 codes, and 7zz's
// Deflate and Deflate64 (made at build time).
TEST_F(ParallelRead, CorpusStreamsReadAsOnOneThread) {
    std::vector<RawStream> streams = qzt::InflaterSeedStreams();
    Bytes plain;
    const Bytes longCodes = qzt::LongCodesDeflate64(&plain);
    streams.push_back({"longest codes", 9, longCodes, qzw::Crc32(plain), uint32_t(plain.size())});
    if (qzw::HaveDeflate()) {
        const std::pair<const char *, Bytes> inputs[] = {
            {"text", qzt::MakeData(150000, 't', 3)},       {"random", qzt::MakeData(70000, 'r', 4)},
            {"records", qzt::BinaryRecords(120000, 5)},     {"runs", qzt::LongRuns(150000, 6)},
            {"noisy text", qzt::TextWithNoise(100000, 7)},
        };
        for (const auto &[name, data] : inputs) {
            for (int level : {1, 6, 9})
                streams.push_back(Zlib(std::string(name) + ", level " + std::to_string(level), data, {level}));
            for (int strategy = 1; strategy <= 4; ++strategy)
                streams.push_back(
                    Zlib(std::string(name) + ", strategy " + std::to_string(strategy), data, {6, strategy}));
            streams.push_back(Zlib(std::string(name) + ", full flushes", data, {6, 0, 8, 5000, 3}));
            streams.push_back(Zlib(std::string(name) + ", sync flushes", data, {1, 0, 8, 777, 2}));
            streams.push_back(Zlib(std::string(name) + ", stored blocks", data, {0}));
        }
    }
    for (const fs::path &file : KeptInputs("inflater")) {
        const Bytes input = qzt::ReadBytes(file);
        if (input.size() < 3 || (input[0] & 0x40) != 0)
            continue;  // plain data the target compresses itself
        RawStream s{file.filename().string(), uint16_t((input[0] & 1) != 0 ? 9 : 8), Bytes(input.begin() + 3, input.end())};
        if (!qzt::DecodeOnOneThread(dir_.file("decode.qza"), s.method, s.stream, &plain))
            continue;
        s.crc = qzw::Crc32(plain);
        s.size = uint32_t(plain.size());
        streams.push_back(s);
    }
    const fs::path sevenZip = QZARC_GENERATED_DIR;
    if (qzt::Exists(sevenZip / qzt::kSevenZipManifest)) {
        for (const qzt::SevenZipConfig &config : qzt::SevenZipConfigs()) {
            for (const std::string &name : qzt::SevenZipInputNames()) {
                qzt::ZipEntry zip;
                std::string error;
                ASSERT_TRUE(qzt::ReadFirstZipEntry(qzt::ReadBytes(sevenZip / qzt::SevenZipZipFile(name, config)), &zip,
                                                   &error))
                    << error;
                streams.push_back({name + " " + config.label, zip.method, zip.data, zip.crc, zip.uncompressedSize});
            }
        }
    }
    for (const RawStream &s : streams)
        if (!CheckStreamTwoWays(s))
            return;
}

// The archives of the handle and archive fuzz targets (seeds and kept
// inputs) walked whole, and the parallel target's seeds and kept inputs
// run as the target runs them.
TEST_F(ParallelRead, FuzzArchivesAndInputsReadAsOnOneThread) {
    auto walk = [&](const std::string &label, const Bytes &input) {
        const qzfuzz::ArchiveInput parsed = qzfuzz::ParseArchiveInput(input.data(), input.size());
        const std::string path = dir_.file("fuzz.qza");
        uint64_t total = 0;
        for (size_t k = 0; k < 4; ++k) {
            std::error_code ec;
            fs::remove(qzw::VolumeName(path, unsigned(k)), ec);
            if (k < parsed.volumes.size()) {
                EXPECT_TRUE(qzw::WriteFile(qzw::VolumeName(path, unsigned(k)), parsed.volumes[k]));
                total += parsed.volumes[k].size();
            }
        }
        return Check(label, path, qzfuzz::kPassword, total);
    };
    for (const auto &[name, bytes] : qzfuzz::ArchiveSeeds())
        if (!walk("archive seed " + name, bytes))
            return;
    for (const char *target : {"archive", "handle"}) {
        for (const fs::path &file : KeptInputs(target)) {
            Bytes bytes = qzt::ReadBytes(file);
            if (std::string(target) == "handle")
                bytes.erase(bytes.begin(), bytes.begin() + long(std::min(bytes.size(), size_t{8})));
            if (!walk(file.string(), bytes))
                return;
        }
    }
    std::vector<std::pair<std::string, Bytes>> inputs = qzt::ParallelSeeds();
    for (const fs::path &file : KeptInputs("parallel"))
        inputs.emplace_back(file.string(), qzt::ReadBytes(file));
    for (const auto &[name, bytes] : inputs) {
        if (case_++ % stride_ != 0)
            continue;
        const std::string difference = qzt::RunParallelInput(bytes.data(), bytes.size(), dir_.path().string());
        EXPECT_EQ(difference, "") << "parallel input " << name;
        if (!difference.empty() && ++failures_ >= 5)
            return;
    }
}

// The verdict of the archive's first entry read on one thread.
int64_t OneThreadVerdict(const std::string &path, const std::string &scratch) {
    const qzt::Transcript t = qzt::WalkTranscript(path, nullptr, Threading{}, WalkPlan{}, scratch);
    for (const qzt::WalkEvent &e : t.events)
        if (e.kind == 'r' && e.value <= 0)
            return e.value;
    return 1;
}

// Streams whose bytes hold false block starts everywhere (raw_streams.h),
// as they are, encrypted and split over volumes. All but the last two are
// valid (or they would prove little).
TEST_F(ParallelRead, BlockStartDecoysReadAsOnOneThread) {
    const std::vector<RawStream> decoys = qzt::BlockStartDecoys();
    for (size_t i = 0; i < decoys.size(); ++i) {
        const RawStream &s = decoys[i];
        const char *password = nullptr;
        const int64_t verdict = OneThreadVerdict(Write(s, Wrap::kAsItIs, &password), dir_.file("extracted.bin"));
        if (i + 2 < decoys.size())
            EXPECT_EQ(verdict, 0) << s.label;
        else
            EXPECT_LT(verdict, 0) << s.label;
        for (Wrap wrap : {Wrap::kAsItIs, Wrap::kEncrypted, Wrap::kSplit})
            if (!CheckStream(s, wrap))
                return;
    }
}

// The decoys and a few corpus streams with a bit flipped at many places
// (invalid codes and block types, bad stored lengths, distances too far
// back, output of another length, or nothing noticeable) and cut at many
// places, down to nothing: each fails, or not, as on one thread.
TEST_F(ParallelRead, DamagedAndCutStreamsFailAsOnOneThread) {
    std::vector<RawStream> bases = qzt::BlockStartDecoys();
    if (qzw::HaveDeflate()) {
        const Bytes text = qzt::TextWithNoise(200000, 9);
        bases.push_back(Zlib("text", text, {}));
        bases.push_back(Zlib("text, sync flushes", text, {6, 0, 8, 3000, 2}));
        bases.push_back(Zlib("records, fixed codes", qzt::BinaryRecords(100000, 10), {6, 4}));
    }
    for (const RawStream &s : qzt::InflaterSeedStreams())
        if (s.label == "d64-far" || s.label == "long-match-d64")
            bases.push_back(s);
    std::mt19937 rng(25);
    for (const RawStream &base : bases) {
        const size_t size = base.stream.size();
        if (size < 16)
            continue;
        std::vector<size_t> places;
        for (size_t i = 1; i <= 8; ++i)
            places.push_back(i * size / 9);
        for (int i = 0; i < 3; ++i)
            places.push_back(rng() % size);
        for (size_t at : places) {
            RawStream damaged = base;
            const unsigned bit = rng() % 8;
            damaged.stream[at] ^= uint8_t(1u << bit);
            damaged.label = base.label + ", bit " + std::to_string(bit) + " of byte " + std::to_string(at) + " flipped";
            if (!CheckStream(damaged, Wrap::kAsItIs, Breadth::kLight))
                return;
        }
        for (size_t i = 0; i <= 6; ++i) {
            RawStream cut = base;
            cut.stream.resize(i == 0 ? 0 : i * size / 7 + rng() % 7);
            cut.label = base.label + ", cut to " + std::to_string(cut.stream.size()) + " bytes";
            if (!CheckStream(cut, i % 2 == 0 ? Wrap::kAsItIs : Wrap::kMissingVolume, Breadth::kLight))
                return;
        }
    }
}

// Text of a large vocabulary: about 3 to 1 under Deflate.
Bytes LargeText(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> words;
    for (int i = 0; i < 4000; ++i) {
        std::string w;
        for (uint32_t n = 2 + rng() % 9; n > 0; --n)
            w.push_back(char('a' + rng() % 26));
        words.push_back(w + (rng() % 9 == 0 ? ",\n" : " "));
    }
    Bytes out;
    while (out.size() < size) {
        // Mostly the frequent words.
        const uint32_t r = rng() % 4000;
        const std::string &w = words[r % (r < 3000 ? 200 : 4000)];
        out.insert(out.end(), w.begin(), w.end());
    }
    out.resize(size);
    return out;
}

// Records and random stretches: matches at regular distances, stored blocks.
Bytes LargeBinary(size_t size, uint32_t seed) {
    Bytes out = qzt::BinaryRecords(size, seed);
    const Bytes noise = qzt::MakeData(size / 8, 'r', seed + 1);
    for (size_t at = 0; at + 40000 <= out.size() && at / 8 + 40000 <= noise.size(); at += 400000)
        std::copy(noise.begin() + long(at / 8), noise.begin() + long(at / 8 + 40000), out.begin() + long(at));
    return out;
}

// Entries of several MiB, as encoders write them: zlib at level 6 without
// flush points, 7zz's Deflate64, and the command-line tool's pieces (each
// ending with a sync flush), read at the library's own stretch size and at
// a few fixed ones, and with no stretch's input readable (the reading
// thread then decodes them all).
TEST_F(ParallelRead, LargeEntriesReadAsOnOneThread) {
    if (!qzw::HaveDeflate())
        GTEST_SKIP() << "built without zlib";
    const Bytes text = LargeText(6 * qzt::kMiB, 31);
    // Each made only when its case runs (not every case does under a stride).
    const std::vector<std::function<RawStream()>> makers = {
        [&] { return Zlib("text, zlib level 6", text, {}); },
        [&] { return Zlib("binary, zlib level 6", LargeBinary(4 * qzt::kMiB, 32), {}); },
        [&] { return Zlib("random, zlib level 6", qzt::MakeData(3 * qzt::kMiB, 'r', 33), {}); },
        [&] {
            Bytes pieces, piece, window;
            for (size_t at = 0; at < text.size(); at += qzcli::kDeflatePiece) {
                const size_t n = std::min(qzcli::kDeflatePiece, text.size() - at);
                const Bytes data(text.begin() + long(at), text.begin() + long(at + n));
                if (!qzcli::DeflatePiece(6, window, data, at + n == text.size(), &piece))
                    return RawStream{};
                pieces.insert(pieces.end(), piece.begin(), piece.end());
                window = qzcli::WindowOf(data);
            }
            return RawStream{"text, in pieces", 8, pieces, qzw::Crc32(text), uint32_t(text.size())};
        },
        [&] {
            RawStream s;
#if !defined(_WIN32)
            // 7zz runs on the Linux side only.
            if (std::system("command -v 7zz >/dev/null 2>&1") != 0)
                return s;
            const std::string command = "cd '" + dir_.path().string() +
                                        "' && 7zz a -tzip -mm=Deflate64 -mx=5 text.zip text.bin >/dev/null 2>&1";
            qzt::ZipEntry entry;
            std::string error;
            if (qzw::WriteFile(dir_.file("text.bin"), text) && std::system(command.c_str()) == 0 &&
                qzt::ReadFirstZipEntry(qzt::ReadBytes(dir_.file("text.zip")), &entry, &error) && entry.method == 9)
                s = {"text, 7zz Deflate64", 9, entry.data, entry.crc, entry.uncompressedSize};
            else
                ADD_FAILURE() << "7zz did not make a Deflate64 stream: " << error;
#endif
            return s;
        },
    };
    for (const auto &make : makers) {
        if (case_++ % stride_ != 0)
            continue;
        const RawStream s = make();
        if (s.stream.empty())
            continue;
        const char *password = nullptr;
        const std::string path = Write(s, Wrap::kAsItIs, &password);
        const std::string label = s.label + " (" + std::to_string(s.stream.size()) + " bytes)";
        const uint32_t seam = uint32_t(s.stream.size() / 3 + case_);  // two stretches, the seam anywhere
        std::vector<std::pair<size_t, std::vector<Threading>>> runs = {
            {qzt::kMiB, {{2, 0}, {8, 0}, {3, seam}, {2, 0, true}, {2, 0, false, true}}},
            {65536, {{3, 0}, {8, 65536}}},
            {4096, {{8, 0}}},
        };
        if (stride_ == 1)
            runs.push_back({1, {{3, 0}}});  // millions of calls: not under the sanitizers
        for (const auto &[readSize, threadings] : runs) {
            WalkPlan plan;
            plan.readSize = readSize;
            EXPECT_EQ(qzt::CompareThreadings(path, password, plan, threadings, dir_.file("extracted.bin")), "") << label;
        }
        WalkPlan extract;
        extract.extract = true;
        EXPECT_EQ(qzt::CompareThreadings(path, password, extract, {{8, 0}}, dir_.file("extracted.bin")), "") << label;
        WalkPlan partial;
        partial.readsPerEntry = 40;
        partial.switchThreads = true;
        EXPECT_EQ(qzt::CompareThreadings(path, password, partial, {{3, 0}}, dir_.file("extracted.bin")), "") << label;
        if (case_ == 1) {
            // Damaged halfway, and recorded as longer than it is.
            RawStream damaged = s;
            damaged.stream[damaged.stream.size() / 2] ^= 0x10;
            damaged.label += ", damaged halfway";
            CheckStream(damaged, Wrap::kAsItIs, Breadth::kLight);
            CheckStream(s, Wrap::kSizeLong, Breadth::kLight);
        }
    }
}

}  // namespace
