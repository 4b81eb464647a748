// The handle API (qz_archive_*) through the shared library, the way a new
// host uses it: every archive of the differential and fuzz corpora read
// with reads of every size against the legacy walk, handles used by several
// threads at once, the failures a host must be able to tell apart (password,
// volume, record, data) and recover from where the API says it can, moving
// about an archive by entry index, extraction to files, and progress.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include "archive_input.h"
#include "archive_seeds.h"
#include "deflate64_fixtures.h"
#include "deflate_builder.h"
#include "handle_walk.h"
#include "qzarc.h"
#include "reference_archive.h"
#include "sample_data.h"
#include "seven_zip_data.h"
#include "test_support.h"
#include "writer/writer.h"
#include "zip_reader.h"

namespace {

namespace fs = std::filesystem;
using qzt::Bytes;
using qzt::Handle;
using qzt::HandleWalk;
using qzt::HandleWalkOptions;
using qzt::kMiB;
using qzt::ReadPlan;
using qzt::TempDir;
using qzw::Archive;
using qzw::Record;

constexpr size_t kReadSizes[] = {1, 7, 4093, kMiB};

// A FILETIME for a moment given in Unix seconds (the writer records them as
// they stand, as local time).
uint64_t FileTime(int64_t unixSeconds, uint32_t fraction = 0) {
    return static_cast<uint64_t>(unixSeconds + 11644473600ll) * 10000000ull + fraction;
}

Archive MakeArchive(std::vector<Record> records, Bytes prefix = {}) {
    Archive archive;
    archive.prefix = std::move(prefix);
    archive.records = std::move(records);
    return archive;
}

// Writes an archive fuzz input's volumes under `path` and its volume names.
std::string WriteInput(const TempDir &dir, const std::string &name, const qzfuzz::ArchiveInput &input) {
    const std::string path = dir.file(name + ".qza");
    for (unsigned k = 0; k < 4; ++k) {
        std::error_code ec;
        fs::remove(qzw::VolumeName(path, k), ec);
    }
    for (size_t k = 0; k < input.volumes.size(); ++k)
        EXPECT_TRUE(qzw::WriteFile(qzw::VolumeName(path, static_cast<unsigned>(k)), input.volumes[k]));
    return path;
}

// Writes the archive in volumes of at most maxVolume bytes, cut inside payloads.
std::string WriteInVolumes(const Archive &archive, const std::string &path, uint64_t maxVolume) {
    const auto cuts = qzw::InteriorCuts(archive, maxVolume);
    EXPECT_TRUE(cuts.has_value()) << path;
    EXPECT_EQ(qzw::WriteArchiveVolumes(path, archive, cuts.value_or(std::vector<uint64_t>{})).size(),
              cuts.value_or(std::vector<uint64_t>{}).size() + 1);
    return path;
}

// Reads the archive through the legacy exports and through the handle API
// with reads of every size, with one read into each entry, and with next
// alone: each handle walk must agree with the legacy walk or with the first
// handle walk (handle_walk.h). Returns the first handle walk.
HandleWalk ExpectAgreesWithLegacy(const std::string &label, const std::string &path, const std::string &password,
                                  uint32_t start, const TempDir &dir) {
    SCOPED_TRACE(label);
    const qzt::LegacyWalk legacy = qzt::WalkWithLegacy(path, start, password, dir.file("legacy.out"), 20000);
    HandleWalkOptions options;
    options.password = password.c_str();
    options.startOffset = start;
    HandleWalk first;
    for (size_t size : kReadSizes) {
        options.readSize = size;
        const HandleWalk walk = qzt::WalkWithHandle(path, options);
        EXPECT_EQ(qzt::CompareWithLegacy(legacy, walk), "") << "reads of " << size;
        if (size == kReadSizes[0])
            first = walk;
        else
            EXPECT_EQ(qzt::CompareHandleWalks(first, walk), "") << "reads of " << size;
    }
    options.readSize = 7;
    options.plan = ReadPlan::kPeek;
    EXPECT_EQ(qzt::CompareHandleWalks(first, qzt::WalkWithHandle(path, options)), "") << "one read into each entry";
    options.plan = ReadPlan::kNextOnly;
    EXPECT_EQ(qzt::CompareHandleWalks(first, qzt::WalkWithHandle(path, options)), "") << "next alone";
    return first;
}

std::vector<std::pair<std::string, Bytes>> Samples() {
    std::vector<std::pair<std::string, Bytes>> samples = {
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

// The reference archive damaged the ways the fault sweeps damage it, a
// sample of each: volumes cut short, header bytes changed (magic, flags,
// method, CRC, sizes, name length, name, encryption header) and data bytes
// changed (first, middle, last).
std::vector<std::pair<std::string, qzfuzz::ArchiveInput>> DamagedReferenceArchives() {
    const qzfuzz::ReferenceArchive ref = qzfuzz::BuildReferenceArchive();
    const qzfuzz::ArchiveInput intact = ref.Input();
    std::vector<std::pair<std::string, qzfuzz::ArchiveInput>> out;
    for (size_t v = 0; v < intact.volumes.size(); ++v) {
        for (size_t length = 0; length < intact.volumes[v].size(); length += length < 64 ? 21 : 97) {
            qzfuzz::ArchiveInput input = intact;
            input.volumes[v].resize(length);
            out.emplace_back("volume " + std::to_string(v) + " cut to " + std::to_string(length), input);
        }
    }
    auto changed = [&](uint64_t at, uint8_t mask) {
        qzfuzz::ArchiveInput input = intact;
        size_t v = 0;
        while (at >= input.volumes[v].size())
            at -= input.volumes[v++].size();
        input.volumes[v][at] ^= mask;
        return input;
    };
    for (size_t r = 0; r < ref.archive.records.size(); ++r) {
        const uint64_t start = ref.RecordStart(r);
        const uint64_t payload = ref.archive.PayloadOffset(r);
        for (uint64_t offset : {0, 3, 6, 8, 38, 41, 42, 45, 46, 58, 59, 62, 73}) {
            if (start + offset < payload)
                out.emplace_back("record " + std::to_string(r) + " header byte " + std::to_string(offset),
                                 changed(start + offset, 0xFF));
        }
        const uint64_t size = ref.archive.records[r].payload.size();
        for (uint64_t into : {uint64_t{0}, size / 2, size - 1}) {
            if (into < size)
                out.emplace_back("record " + std::to_string(r) + " data byte " + std::to_string(into),
                                 changed(payload + into, 0x5A));
        }
    }
    return out;
}

std::vector<fs::path> KeptInputs(const char *target) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(fs::path(QZARC_SOURCE_DIR) / "fuzz" / "regressions" / target, ec))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// ---- the handle API against the legacy exports --------------------------------

TEST(ArchiveHandle, EveryCorpusArchiveReadsAsTheLegacyWalkExtractsIt) {
    QZCallback(nullptr);
    TempDir dir;
    int archives = 0;

    // The fuzz targets' seeds and the inputs kept from their runs.
    for (const auto &[name, bytes] : qzfuzz::ArchiveSeeds()) {
        const std::string path = WriteInput(dir, name, qzfuzz::ParseArchiveInput(bytes.data(), bytes.size()));
        ExpectAgreesWithLegacy("seed " + name, path, qzfuzz::kPassword, 0, dir);
        ++archives;
    }
    for (const char *target : {"archive", "handle"}) {
        for (const fs::path &file : KeptInputs(target)) {
            Bytes bytes = qzt::ReadBytes(file);
            if (std::string(target) == "handle")
                bytes.erase(bytes.begin(), bytes.begin() + std::min(bytes.size(), qzt::kHandleChoiceBytes));
            const std::string path = WriteInput(dir, "kept", qzfuzz::ParseArchiveInput(bytes.data(), bytes.size()));
            ExpectAgreesWithLegacy(file.string(), path, qzfuzz::kPassword, 0, dir);
            ++archives;
        }
    }
    // The reference archive damaged: a stream whose damage lies past its
    // recorded size fails the handle's end check as it fails the legacy's.
    for (const auto &[what, input] : DamagedReferenceArchives()) {
        const bool failedBefore = HasFailure();
        ExpectAgreesWithLegacy("reference archive, " + what, WriteInput(dir, "damaged", input), qzfuzz::kPassword, 0,
                               dir);
        ++archives;
        if (HasFailure() && !failedBefore)
            break;  // one report of the damaged archives is enough
    }

    // zlib at every level and strategy, with sync and full flush points.
    if (qzw::HaveDeflate()) {
        for (int level = 0; level <= 9; ++level) {
            for (int flush : {0, 2, 3}) {
                if (flush != 0 && level % 4 != 1)
                    continue;
                std::vector<Record> records;
                const int strategy = (level + flush) % 5;
                for (const auto &[name, plain] : Samples())
                    records.push_back(qzw::DeflatedRecord(
                        name, plain, qzw::DeflateOptions{level, strategy, level % 3 == 0 ? 1 : 8,
                                                         flush != 0 ? 3001u + size_t(level) * 77 : 0, flush}));
                const Archive archive = MakeArchive(records);
                const std::string path = dir.file("zlib.qza");
                ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));
                ExpectAgreesWithLegacy("zlib level " + std::to_string(level) + " strategy " +
                                           std::to_string(strategy) + " flush " + std::to_string(flush),
                                       path, "", 0, dir);
                ++archives;
            }
        }
    }

    // Streams no general encoder writes: the Deflate64 fixtures and the
    // hand-built shapes, behind a foreign prefix.
    {
        std::vector<Record> records;
        for (const auto &f : deflate64_fixtures::kAll)
            records.push_back(deflate64_fixtures::MakeRecord(f, f.name));
        Bytes plain;
        bool flag = false;
        Bytes stream = qzt::LongMatchDeflate64(&plain);
        records.push_back(qzt::CompressedRecord("long-matches", plain, stream, 9));
        stream = qzt::LongCodesDeflate64(&plain);
        records.push_back(qzt::CompressedRecord("long-codes", plain, stream, 9));
        for (int literals : {1, 5, 9, 13}) {
            stream = qzt::StoredAfterReadAhead(literals, qzt::MakeData(300, 't', 5), &plain, &flag);
            records.push_back(qzt::CompressedRecord("read-ahead-" + std::to_string(literals), plain, stream));
            stream = qzt::EndsWithShortCode(literals, &plain, &flag);
            records.push_back(qzt::CompressedRecord("short-code-" + std::to_string(literals), plain, stream));
        }
        ASSERT_TRUE(qzt::ExactSizeStream(70000, 300000, 112, &stream, &plain));
        records.push_back(qzt::CompressedRecord("exact", plain, stream));
        const Archive archive = MakeArchive(records, qzt::MakeData(333, 't', 7));
        const std::string path = dir.file("built.qza");
        ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));
        const HandleWalk walk = ExpectAgreesWithLegacy("hand-built streams", path, "", 333, dir);
        for (const auto &entry : walk.entries)
            EXPECT_EQ(entry.verdict, 0) << entry.rawName;
        ++archives;
    }

    // 7zz's Deflate and Deflate64 (made at build time), each configuration
    // as one archive; one of them also in volumes of 40 000 bytes, one with
    // every entry encrypted.
    const fs::path sevenZip = QZARC_GENERATED_DIR;
    if (qzt::Exists(sevenZip / qzt::kSevenZipManifest)) {
        for (const qzt::SevenZipConfig &config : qzt::SevenZipConfigs()) {
            std::vector<Record> records;
            for (const std::string &name : qzt::SevenZipInputNames()) {
                const Bytes plain = qzt::ReadBytes(sevenZip / qzt::SevenZipInputFile(name));
                qzt::ZipEntry entry;
                std::string error;
                ASSERT_TRUE(qzt::ReadFirstZipEntry(qzt::ReadBytes(sevenZip / qzt::SevenZipZipFile(name, config)),
                                                   &entry, &error))
                    << error;
                records.push_back(qzt::CompressedRecord(name, plain, entry.data, entry.method));
                if (std::string(config.label) == "deflate-mx5")
                    records.back() = qzt::Encrypted(records.back(), "seven");
            }
            const Archive archive = MakeArchive(records);
            const std::string path = dir.file(std::string(config.label) + ".qza");
            ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));
            const HandleWalk walk = ExpectAgreesWithLegacy(config.label, path, "seven", 0, dir);
            ASSERT_EQ(walk.entries.size(), records.size()) << config.label;
            for (const auto &entry : walk.entries)
                EXPECT_EQ(entry.verdict, 0) << config.label << " " << entry.rawName;
            ++archives;
            if (std::string(config.label) == "deflate64-mx9") {
                const std::string split = WriteInVolumes(archive, dir.file("split.qza"), 40000);
                EXPECT_EQ(qzt::CompareHandleWalks(walk, ExpectAgreesWithLegacy("in volumes", split, "", 0, dir)), "");
                ++archives;
            }
        }
    } else {
        std::printf("note: no 7-Zip test data in %s; its streams are left out\n", sevenZip.string().c_str());
    }
    std::printf("[ corpus   ] %d archives read both ways\n", archives);
}

// ---- threads ----------------------------------------------------------------------

// One thread's walk with a handle of its own: its password, a volume handler
// that knows where this thread's missing volume went, and a progress handler
// that notes the thread it runs on.
struct ThreadWalk {
    std::string path;
    size_t readSize = 65536;
    const char *password = "pw";
    std::string movedVolume;  // where volume 1 really is ("" when in place)
    HandleWalk walk;
    std::thread::id self;
    std::atomic<int> foreignCalls{0};  // handler calls on another thread or with another's data
    int volumeRequests = 0;
    uint64_t progressCalls = 0;

    void Run() {
        self = std::this_thread::get_id();
        Handle a;
        qz_archive_set_volume_handler(
            a,
            [](void *user, unsigned number, char *buffer, size_t size) {
                ThreadWalk &t = *static_cast<ThreadWalk *>(user);
                if (std::this_thread::get_id() != t.self)
                    ++t.foreignCalls;
                ++t.volumeRequests;
                if (number != 1 || t.movedVolume.empty() || t.movedVolume.size() >= size)
                    return 1;
                std::memcpy(buffer, t.movedVolume.c_str(), t.movedVolume.size() + 1);
                return 0;
            },
            this);
        qz_archive_set_progress_handler(
            a,
            [](void *user, uint64_t, uint64_t) {
                ThreadWalk &t = *static_cast<ThreadWalk *>(user);
                if (std::this_thread::get_id() != t.self)
                    ++t.foreignCalls;
                ++t.progressCalls;
            },
            this);
        HandleWalkOptions options;
        options.password = password;
        options.readSize = readSize;
        walk = qzt::WalkWithHandle(a, path, options);
    }
};

// The same archive and two different ones, read by two threads at once with
// handles of their own, while a third thread walks a third archive through
// the legacy exports: each reads what one thread alone reads. The threads
// come first, so that in a process of this test alone (make test-tsan runs
// it under the thread sanitizer) whatever the library sets up on first use
// is set up by threads at once.
TEST(ArchiveHandleThreads, TwoHandlesAtOnceReadWhatOneThreadReads) {
    QZCallback(nullptr);
    TempDir dir;
    Bytes longPlain, codesPlain;
    const Bytes longStream = qzt::LongMatchDeflate64(&longPlain), codes = qzt::LongCodesDeflate64(&codesPlain);
    const Bytes text = qzt::TextWithNoise(1200000, 1), random = qzt::MakeData(300000, 'r', 2);
    const Bytes binary = qzt::BinaryRecords(900000, 3), runs = qzt::LongRuns(400000, 4);
    const std::vector<const Bytes *> plainA = {&text, &longPlain, &random}, plainB = {&binary, &runs, &codesPlain};
    const std::string pathA = WriteInVolumes(
        MakeArchive({qzt::Encrypted(qzw::DeflatedRecord("text", text), "pw"),
                     qzt::CompressedRecord("long", longPlain, longStream, 9), qzw::StoredRecord("random", random)}),
        dir.file("a.qza"), 200000);
    const std::string pathB = WriteInVolumes(
        MakeArchive({qzw::DeflatedRecord("binary", binary, qzw::DeflateOptions{9, 0, 8, 0, 2}),
                     qzt::Encrypted(qzw::StoredRecord("runs", runs), "pw"),
                     qzt::CompressedRecord("codes", codesPlain, codes, 9)}),
        dir.file("b.qza"), 150000);
    // B's second volume has been moved: only B's handler knows where.
    const std::string movedB = dir.file("b-part.xyz");
    fs::rename(qzw::VolumeName(pathB, 1), movedB);
    const Archive legacyArchive = MakeArchive({qzw::DeflatedRecord("l0", qzt::MakeData(400000, 't', 5)),
                                               qzw::StoredRecord("l1", qzt::MakeData(200000, 'r', 6))});
    const std::string pathC = dir.file("c.qza");
    ASSERT_TRUE(qzw::WriteFile(pathC, legacyArchive.Serialize()));

    const bool secondReadsB[] = {false, true, false};
    ThreadWalk walks[3][2];
    for (int round = 0; round < 3; ++round) {
        ThreadWalk &first = walks[round][0], &second = walks[round][1];
        first.path = pathA;
        first.readSize = 4093;
        second.path = secondReadsB[round] ? pathB : pathA;
        second.movedVolume = secondReadsB[round] ? movedB : "";
        second.readSize = 65537;
        std::atomic<int> ready{0};
        auto start = [&ready] {
            ++ready;
            while (ready.load() < 3)
                std::this_thread::yield();
        };
        qzt::LegacyWalk legacy;
        std::thread t1([&] { start(); first.Run(); });
        std::thread t2([&] { start(); second.Run(); });
        std::thread t3([&] { start(); legacy = qzt::WalkWithLegacy(pathC, 0, "", dir.file("legacy.out"), 10); });
        t1.join();
        t2.join();
        t3.join();
        ASSERT_EQ(legacy.calls.size(), 3u);
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(legacy.calls[i].result, QZ_OK);
            EXPECT_EQ(qzw::Crc32(legacy.calls[i].bytes), legacyArchive.records[i].crc);
        }
        EXPECT_EQ(legacy.calls[2].result, QZ_END_OF_ARCHIVE);
    }

    // One thread alone, which must also give the plain bytes.
    ThreadWalk aloneA, aloneB;
    aloneA.path = pathA;
    aloneB.path = pathB;
    aloneB.movedVolume = movedB;
    aloneA.Run();
    aloneB.Run();
    for (const auto &[alone, plains] : {std::pair{&aloneA, &plainA}, std::pair{&aloneB, &plainB}}) {
        ASSERT_EQ(alone->walk.fault, "");
        ASSERT_EQ(alone->walk.entries.size(), plains->size());
        EXPECT_EQ(alone->walk.end, QZ_ARCHIVE_END);
        for (size_t i = 0; i < plains->size(); ++i)
            EXPECT_TRUE(alone->walk.entries[i].verdict == 0 && alone->walk.entries[i].bytes == *(*plains)[i]) << i;
    }
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        EXPECT_EQ(qzt::CompareHandleWalks(aloneA.walk, walks[round][0].walk), "");
        EXPECT_EQ(qzt::CompareHandleWalks(secondReadsB[round] ? aloneB.walk : aloneA.walk, walks[round][1].walk), "");
        for (const ThreadWalk &t : walks[round]) {
            EXPECT_EQ(t.foreignCalls.load(), 0);
            EXPECT_GT(t.progressCalls, 0u);
        }
        EXPECT_EQ(walks[round][1].volumeRequests > 0, secondReadsB[round]);
    }
}

// ---- what a host is told when an entry cannot be read ------------------------

// One read of the current entry into a fresh buffer.
int64_t ReadOnce(qz_archive *a, Bytes &out, size_t size = 65536) {
    Bytes buffer(size);
    const int64_t r = qz_archive_read(a, buffer.data(), size);
    if (r > 0)
        out.insert(out.end(), buffer.begin(), buffer.begin() + r);
    return r;
}

// Reads the current entry to its verdict; returns the verdict.
int64_t ReadRest(qz_archive *a, Bytes &out, size_t size = 65536) {
    for (;;) {
        const int64_t r = ReadOnce(a, out, size);
        if (r <= 0)
            return r;
    }
}

const qz_entry *Next(qz_archive *a) {
    const qz_entry *entry = nullptr;
    const int r = qz_archive_next(a, &entry);
    EXPECT_EQ(r, QZ_ARCHIVE_OK);
    return r == QZ_ARCHIVE_OK ? entry : nullptr;
}

TEST(ArchiveHandle, WrongPasswordIsRefusedBeforeAnyByteAndTheRightOneThenReads) {
    TempDir dir;
    const Bytes stored = qzt::MakeData(5000, 'r', 1);
    const Bytes packed = qzt::TextWithNoise(150000, 2);
    const Bytes after = qzt::MakeData(700, 't', 3);
    const Bytes header = {11, 22, 33, 44, 55, 66, 77, 88, 99, 111, 122};
    const Archive archive = MakeArchive({qzt::Encrypted(qzw::StoredRecord("stored", stored), "right", header),
                                         qzt::Encrypted(qzw::DeflatedRecord("packed", packed), "right", header),
                                         qzw::StoredRecord("after", after)});
    const std::string path = dir.file("locked.qza");
    // The Deflate entry's data runs on into a second volume.
    ASSERT_EQ(qzw::WriteVolumes(path, archive.Serialize(),
                                {qzw::CutInPayload(archive, 1, archive.records[1].payload.size() / 2)})
                  .size(),
              2u);

    Handle a;
    ASSERT_EQ(qz_archive_open(a, path.c_str(), 0), QZ_ARCHIVE_OK);
    // No password, a wrong one and the empty one: refused before any byte,
    // as often as asked, each time with a message.
    const qz_entry *entry = Next(a);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->encrypted);
    Bytes got;
    for (const char *password : {static_cast<const char *>(nullptr), "wrong", "", "wrong"}) {
        SCOPED_TRACE(password == nullptr ? "no password" : password);
        EXPECT_EQ(qz_archive_set_password(a, password), QZ_ARCHIVE_OK);
        EXPECT_EQ(ReadOnce(a, got, 1), QZ_E_PASSWORD);
        EXPECT_EQ(ReadOnce(a, got), QZ_E_PASSWORD);
        EXPECT_TRUE(got.empty());
        EXPECT_STRNE(qz_archive_error(a), "");
    }
    ASSERT_EQ(qz_archive_set_password(a, "right"), QZ_ARCHIVE_OK);
    EXPECT_EQ(ReadRest(a, got, 7), 0);
    EXPECT_TRUE(got == stored);

    // Refused, then opened, across the volume end; one byte at a time.
    entry = Next(a);
    ASSERT_NE(entry, nullptr);
    qz_archive_set_password(a, "wrong");
    got.clear();
    EXPECT_EQ(ReadOnce(a, got), QZ_E_PASSWORD);
    qz_archive_set_password(a, "right");
    EXPECT_EQ(ReadRest(a, got, 1), 0);
    EXPECT_TRUE(got == packed);

    // A refused entry is skipped by next like any other.
    ASSERT_EQ(qz_archive_seek(a, 0), QZ_ARCHIVE_OK);
    qz_archive_set_password(a, "wrong");
    ASSERT_NE(Next(a), nullptr);
    EXPECT_EQ(ReadOnce(a, got), QZ_E_PASSWORD);
    ASSERT_NE(Next(a), nullptr);
    EXPECT_EQ(ReadOnce(a, got), QZ_E_PASSWORD);
    entry = Next(a);
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->name, "after");
    got.clear();
    EXPECT_EQ(ReadRest(a, got), 0);  // not encrypted: the password does not matter
    EXPECT_TRUE(got == after);
    EXPECT_EQ(qz_archive_next(a, &entry), QZ_ARCHIVE_END);
}

struct VolumeRequests {
    std::vector<std::pair<unsigned, std::string>> asked;  // number, path as handed in
    std::vector<size_t> sizes;
    std::function<int(unsigned number, char *path, size_t size)> answer;

    static int Handler(void *user, unsigned number, char *path, size_t size) {
        VolumeRequests &r = *static_cast<VolumeRequests *>(user);
        r.asked.emplace_back(number, path);
        r.sizes.push_back(size);
        return r.asked.size() > 20 ? 1 : r.answer(number, path, size);  // a runaway library gives up
    }
};

TEST(ArchiveHandle, MissingVolumeGoesToTheHandler) {
    TempDir dir;
    const Bytes first = qzt::MakeData(100, 't', 1);
    const Bytes spanned = qzt::TextWithNoise(90000, 2);
    const Bytes last = qzt::MakeData(30, 'r', 3);
    const Archive archive = MakeArchive({qzw::StoredRecord("first", first), qzw::DeflatedRecord("spanned", spanned),
                                         qzw::StoredRecord("last", last)});
    const std::string path = dir.file("set.qza");
    const uint64_t size = archive.records[1].payload.size();
    ASSERT_EQ(qzw::WriteVolumes(path, archive.Serialize(),
                                {qzw::CutInPayload(archive, 1, size / 3), qzw::CutInPayload(archive, 1, 2 * size / 3)})
                  .size(),
              3u);
    const std::string vol1 = qzw::VolumeName(path, 1);
    const std::string hidden = dir.file("hidden");
    fs::rename(vol1, hidden);

    // Reads the archive with the handler; returns the spanned entry's verdict
    // (and the last entry must read as well when it succeeds).
    auto readWith = [&](VolumeRequests &requests, const std::string &password = "") {
        Handle a;
        qz_archive_set_password(a, password.c_str());
        if (requests.answer)
            qz_archive_set_volume_handler(a, VolumeRequests::Handler, &requests);
        EXPECT_EQ(qz_archive_open(a, path.c_str(), 0), QZ_ARCHIVE_OK);
        Bytes got;
        EXPECT_NE(Next(a), nullptr);
        EXPECT_EQ(ReadRest(a, got), 0);
        EXPECT_NE(Next(a), nullptr);
        got.clear();
        const int64_t verdict = ReadRest(a, got, 4093);
        if (verdict == QZ_E_VOLUME) {
            EXPECT_NE(std::string(qz_archive_error(a)).find("set.001"), std::string::npos) << qz_archive_error(a);
        } else if (verdict == 0) {
            EXPECT_TRUE(got == spanned);
            const qz_entry *entry = Next(a);
            EXPECT_TRUE(entry != nullptr && std::string(entry->name) == "last");
            got.clear();
            EXPECT_EQ(ReadRest(a, got), 0);
            EXPECT_TRUE(got == last);
        }
        return verdict;
    };

    {
        SCOPED_TRACE("no handler");
        VolumeRequests none;
        EXPECT_EQ(readWith(none), QZ_E_VOLUME);
    }
    {
        SCOPED_TRACE("the handler gives up");
        VolumeRequests requests;
        requests.answer = [](unsigned, char *, size_t) { return 1; };
        EXPECT_EQ(readWith(requests), QZ_E_VOLUME);
        ASSERT_EQ(requests.asked.size(), 1u);
        EXPECT_EQ(requests.asked[0], (std::pair<unsigned, std::string>{1, vol1}));
        EXPECT_GE(requests.sizes[0], 260u);
    }
    {
        SCOPED_TRACE("the file appears on the third request");
        VolumeRequests requests;
        requests.answer = [&](unsigned, char *, size_t) {
            if (requests.asked.size() == 3)
                fs::rename(hidden, vol1);
            return 0;
        };
        EXPECT_EQ(readWith(requests), 0);
        EXPECT_EQ(requests.asked.size(), 3u);
        for (const auto &asked : requests.asked)
            EXPECT_EQ(asked, (std::pair<unsigned, std::string>{1, vol1}));
        fs::rename(vol1, hidden);
    }
    {
        SCOPED_TRACE("the handler names where the volume went");
        fs::create_directory(dir.path() / "moved");
        const std::string moved = (dir.path() / "moved" / "part.xyz").string();
        fs::rename(hidden, moved);
        VolumeRequests requests;
        requests.answer = [&](unsigned, char *buffer, size_t bufferSize) {
            std::snprintf(buffer, bufferSize, "%s", moved.c_str());
            return 0;
        };
        EXPECT_EQ(readWith(requests), 0);
        // Volume 2 is named from the archive's path again, not from the
        // handler's answer, and is there.
        ASSERT_EQ(requests.asked.size(), 1u);
        EXPECT_EQ(requests.asked[0].first, 1u);

        // When the next entry is reached by skipping, the same request is made.
        VolumeRequests skipping;
        skipping.answer = requests.answer;
        Handle a;
        qz_archive_set_volume_handler(a, VolumeRequests::Handler, &skipping);
        ASSERT_EQ(qz_archive_open(a, path.c_str(), 0), QZ_ARCHIVE_OK);
        const qz_entry *entry = nullptr;
        for (const char *name : {"first", "spanned", "last"}) {
            ASSERT_EQ(qz_archive_next(a, &entry), QZ_ARCHIVE_OK);
            EXPECT_STREQ(entry->name, name);
        }
        EXPECT_EQ(qz_archive_next(a, &entry), QZ_ARCHIVE_END);
        EXPECT_EQ(skipping.asked.size(), 1u);
        fs::rename(moved, hidden);
    }
}

// Damage that the walk runs into, entry by entry: each is reported with its
// own code, the next entry reads as usual, and a record that is not there
// ends the walk. The legacy walk comes to the same verdicts.
TEST(ArchiveHandle, EachDamageIsReportedWithItsOwnCode) {
    TempDir dir;
    const Bytes good = qzt::MakeData(2000, 't', 1);
    const Bytes text = qzt::TextWithNoise(60000, 2);
    Record badCrc = qzw::DeflatedRecord("bad-crc", text);
    badCrc.crc ^= 0x100;
    Record badSize = qzw::DeflatedRecord("bad-size", text);
    badSize.uncompressedSize -= 1;
    Record storedCrc = qzw::StoredRecord("stored-bad-crc", good);
    storedCrc.crc ^= 1;
    Record method = qzw::StoredRecord("method-14", good);
    method.method = 14;
    // A password is checked before the method (as the legacy calls do).
    const Record lockedMethod = qzt::Encrypted(method, "other");
    // No stream at all, where the CRC-32 says there are bytes.
    Record noStream = qzt::CompressedRecord("no-stream", {}, {});
    noStream.crc = 0x1234;
    Record gone = qzw::StoredRecord("gone", good);
    gone.magicOverride = 0x04034B50u;
    const Archive archive = MakeArchive({qzw::StoredRecord("good", good), qzt::CutShortRecord("cut-short", 3000, 70000),
                                         badCrc, badSize, storedCrc, method, lockedMethod, noStream,
                                         qzw::StoredRecord("after", good), gone, qzw::StoredRecord("unseen", good)});
    const std::string path = dir.file("damaged.qza");
    ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));

    const HandleWalk walk = ExpectAgreesWithLegacy("damaged", path, "pw", 0, dir);
    const std::vector<int64_t> verdicts = {0,           QZ_E_DATA,     QZ_E_CRC,  QZ_E_SIZE, QZ_E_CRC,
                                           QZ_E_METHOD, QZ_E_PASSWORD, QZ_E_DATA, 0};
    ASSERT_EQ(walk.entries.size(), verdicts.size());
    for (size_t i = 0; i < verdicts.size(); ++i)
        EXPECT_EQ(walk.entries[i].verdict, verdicts[i]) << archive.records[i].name;
    EXPECT_EQ(walk.end, QZ_E_RECORD);
    // What fails only in the end check was handed out in full.
    EXPECT_TRUE(walk.entries[2].bytes == text);
    EXPECT_TRUE(walk.entries[4].bytes == good);
    EXPECT_TRUE(walk.entries[5].bytes.empty());
    for (int code = QZ_E_STATE; code <= QZ_E_PASSWORD; ++code)
        EXPECT_STRNE(qz_strerror(code), "") << code;

    Handle a;
    ASSERT_EQ(qz_archive_open(a, path.c_str(), 0), QZ_ARCHIVE_OK);
    EXPECT_EQ(qz_archive_count(a), QZ_E_RECORD);
    EXPECT_STRNE(qz_archive_error(a), "");
}

// ---- moving about by index ------------------------------------------------------

// The volume and offset where record i starts, for an archive cut at `cuts`.
std::pair<unsigned, uint64_t> Where(const Archive &archive, size_t i, const std::vector<uint64_t> &cuts) {
    const uint64_t at = archive.RecordOffset(i);
    unsigned volume = 0;
    while (volume < cuts.size() && cuts[volume] <= at)
        ++volume;
    return {volume, volume == 0 ? at : at - cuts[volume - 1]};
}

TEST(ArchiveHandle, SeekAndCountMoveAboutAsASequentialWalkSeesTheArchive) {
    TempDir dir;
    std::vector<Record> records;
    std::vector<Bytes> plains;
    for (int i = 0; i < 40; ++i) {
        const Bytes plain = i % 7 == 3 ? Bytes() : qzt::MakeData(size_t(200 + 97 * i), i % 2 ? 't' : 'r', i);
        Record record = i % 3 == 0 ? qzw::DeflatedRecord("d" + std::to_string(i), plain)
                                   : qzw::StoredRecord("s" + std::to_string(i), plain);
        if (i % 5 == 2)
            record = qzt::Encrypted(record, "pw");
        record.attributes = 0x20 | uint32_t(i % 4);
        record.creationTime = FileTime(1500000000 + i);
        record.accessTime = FileTime(1600000000 + i, 1234);
        record.writeTime = FileTime(1700000000 + i, 99);
        records.push_back(record);
        plains.push_back(plain);
    }
    const uint32_t start = 1000;
    const Archive archive = MakeArchive(records, qzt::MakeData(start, 't', 99));
    const auto cuts = qzw::InteriorCuts(archive, 3000);
    ASSERT_TRUE(cuts.has_value());
    const std::string path = dir.file("many.qza");
    ASSERT_EQ(qzw::WriteArchiveVolumes(path, archive, *cuts).size(), cuts->size() + 1);

    Handle a;
    qz_archive_set_password(a, "pw");
    ASSERT_EQ(qz_archive_open(a, path.c_str(), start), QZ_ARCHIVE_OK);
    EXPECT_EQ(qz_archive_entry(a), nullptr);
    EXPECT_EQ(qz_archive_count(a), 40);

    // Entry i as next must give it, and its bytes. Each visit reads a
    // different share of the entry before moving on.
    auto expectEntry = [&](size_t i, int visit) {
        SCOPED_TRACE("entry " + std::to_string(i) + ", visit " + std::to_string(visit));
        const qz_entry *entry = nullptr;
        ASSERT_EQ(qz_archive_next(a, &entry), QZ_ARCHIVE_OK);
        const Record &r = records[i];
        EXPECT_EQ(entry->index, i);
        EXPECT_EQ(std::string(entry->name), r.name);
        EXPECT_EQ(entry->method, r.method);
        EXPECT_EQ(entry->encrypted != 0, r.encrypted());
        EXPECT_EQ(entry->crc32, r.crc);
        EXPECT_EQ(entry->compressed_size, r.compressedSize());
        EXPECT_EQ(entry->uncompressed_size, r.uncompressedSize);
        EXPECT_EQ(entry->attributes, r.attributes);
        EXPECT_EQ(entry->creation_time, r.creationTime);
        EXPECT_EQ(entry->access_time, r.accessTime);
        EXPECT_EQ(entry->write_time, r.writeTime);
        EXPECT_EQ(std::make_pair(entry->volume, entry->offset), Where(archive, i, *cuts));
        Bytes got;
        if (visit % 3 == 0) {
            EXPECT_EQ(ReadRest(a, got, 7), 0);
            EXPECT_TRUE(got == plains[i]);
        } else if (visit % 3 == 1 && !plains[i].empty()) {
            EXPECT_GT(ReadOnce(a, got, 100), 0);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), plains[i].begin()));
        }
    };

    for (size_t i = 0; i < 40; ++i)
        expectEntry(i, int(i));
    const qz_entry *entry = nullptr;
    EXPECT_EQ(qz_archive_next(a, &entry), QZ_ARCHIVE_END);

    // Back and forth, each time with another share read.
    const size_t order[] = {0, 39, 1, 38, 20, 20, 5, 33, 2, 0, 17, 16, 15, 39};
    int visit = 0;
    for (size_t i : order) {
        ASSERT_EQ(qz_archive_seek(a, i), QZ_ARCHIVE_OK) << i;
        expectEntry(i, visit++);
        if (i + 1 < 40 && visit % 2 == 0)
            expectEntry(i + 1, visit++);  // and on from there
    }
    ASSERT_EQ(qz_archive_seek(a, 40), QZ_ARCHIVE_OK);
    EXPECT_EQ(qz_archive_next(a, &entry), QZ_ARCHIVE_END);
    EXPECT_EQ(qz_archive_seek(a, 41), QZ_E_ARGUMENT);
    EXPECT_EQ(qz_archive_seek(a, UINT64_MAX), QZ_E_ARGUMENT);

    // Count in the middle of an entry leaves the handle where it was.
    ASSERT_EQ(qz_archive_seek(a, 12), QZ_ARCHIVE_OK);
    ASSERT_NE(Next(a), nullptr);
    Bytes got;
    ASSERT_GT(ReadOnce(a, got, 500), 0);
    EXPECT_EQ(qz_archive_count(a), 40);
    EXPECT_EQ(ReadRest(a, got, 4093), 0);
    EXPECT_TRUE(got == plains[12]);
    expectEntry(13, 0);

    // Ten thousand records in eleven volumes: count walks the headers alone,
    // and so does a seek to the last one.
    std::vector<Record> small;
    for (int i = 0; i < 10000; ++i)
        small.push_back(qzw::StoredRecord("f" + std::to_string(i), qzt::MakeData(2 + i % 5, 't', uint32_t(i))));
    const Archive big = MakeArchive(small);
    const std::string bigPath = WriteInVolumes(big, dir.file("big.qza"), 70000);
    ASSERT_TRUE(qzt::Exists(qzw::VolumeName(bigPath, 9)));
    Handle b;
    ASSERT_EQ(qz_archive_open(b, bigPath.c_str(), 0), QZ_ARCHIVE_OK);
    EXPECT_EQ(qz_archive_count(b), 10000);
    EXPECT_EQ(qzt::WalkHeaders(bigPath, 0, 10001).size(), 10001u);  // the legacy walk agrees
    ASSERT_EQ(qz_archive_seek(b, 9999), QZ_ARCHIVE_OK);
    entry = Next(b);
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->name, "f9999");
    got.clear();
    EXPECT_EQ(ReadRest(b, got), 0);
    EXPECT_TRUE(got == small.back().payload);
    EXPECT_EQ(qz_archive_next(b, &entry), QZ_ARCHIVE_END);
    EXPECT_EQ(qz_archive_seek(b, 10001), QZ_E_ARGUMENT);
    ASSERT_EQ(qz_archive_seek(b, 0), QZ_ARCHIVE_OK);
    entry = Next(b);
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->name, "f0");
}

// ---- extraction -------------------------------------------------------------------------

// What a file carries besides its bytes: times and attributes.
struct Stamp {
    uint64_t creation = 0, access = 0, write = 0;
    uint32_t attributes = 0;  // Win32 attributes, or the POSIX mode
    int64_t unixWrite = 0;
    bool operator==(const Stamp &o) const {
        return creation == o.creation && access == o.access && write == o.write && attributes == o.attributes;
    }
};

Stamp StampOf(const std::string &path) {
    Stamp s;
#if defined(_WIN32)
    WIN32_FILE_ATTRIBUTE_DATA data;
    EXPECT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) << path;
    auto ticks = [](const FILETIME &t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    s.creation = ticks(data.ftCreationTime);
    s.access = ticks(data.ftLastAccessTime);
    s.write = ticks(data.ftLastWriteTime);
    s.attributes = data.dwFileAttributes;
    s.unixWrite = static_cast<int64_t>(s.write / 10000000ull) - 11644473600ll;
#else
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    s.access = uint64_t(st.st_atim.tv_sec) * 1000000000ull + uint64_t(st.st_atim.tv_nsec);
    s.write = uint64_t(st.st_mtim.tv_sec) * 1000000000ull + uint64_t(st.st_mtim.tv_nsec);
    s.attributes = st.st_mode;
    s.unixWrite = st.st_mtim.tv_sec;
#endif
    return s;
}

TEST(ArchiveHandle, ExtractWritesWhatTheLegacyExtractionWritesAndNothingOnFailure) {
    QZCallback(nullptr);
    TempDir dir;
    Record readOnly = qzw::StoredRecord("read-only", qzt::MakeData(3000, 't', 1));
    readOnly.attributes = 0x21;
    Record hidden = qzw::DeflatedRecord("hidden", qzt::TextWithNoise(200000, 2));
    hidden.attributes = 0x22;
    Record locked = qzt::Encrypted(qzw::DeflatedRecord("locked", qzt::MakeData(90000, 't', 3)), "right",
                                   {11, 22, 33, 44, 55, 66, 77, 88, 99, 111, 122});
    Record empty = qzw::StoredRecord("empty", {});
    Record badCrc = qzw::DeflatedRecord("bad-crc", qzt::TextWithNoise(100000, 4));
    badCrc.crc ^= 0x8000;
    Record cut = qzt::CutShortRecord("cut", 5000, 80000);
    std::vector<Record> records = {readOnly, hidden, locked, empty, badCrc, cut};
    for (size_t i = 0; i < records.size(); ++i) {
        records[i].creationTime = FileTime(1300000000 + 86400 * int64_t(i), 1111111);
        records[i].accessTime = FileTime(1400000000 - 3600 * int64_t(i), 2222222);
        // One in summer, one in winter: the offset to UTC differs.
        records[i].writeTime = FileTime(i % 2 ? 1690000000 : 1700000000, 3333333 * uint32_t(i));
    }
    const Archive archive = MakeArchive(records);
    const std::string path = dir.file("x.qza");
    ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));

    Handle a;
    ASSERT_EQ(qz_archive_open(a, path.c_str(), 0), QZ_ARCHIVE_OK);
    EXPECT_EQ(qz_archive_extract(a, dir.file("none").c_str()), QZ_E_STATE);  // no current entry yet
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(records[i].name);
        const std::string legacyOut = dir.file("legacy-" + records[i].name);
        const std::string handleOut = dir.file("handle-" + records[i].name);
        qzt::Call call;
        call.archive = path;
        call.output = legacyOut;
        call.password = "right";
        call.startOffset = uint32_t(archive.RecordOffset(i));
        const int legacy = qzt::Unpack(call).result;

        // The handle's file replaces whatever was there.
        ASSERT_TRUE(qzw::WriteFile(handleOut, qzt::MakeData(10, 't', 9)));
        const qz_entry *entry = Next(a);
        ASSERT_NE(entry, nullptr);
        int result;
        if (records[i].encrypted()) {
            // Refused before the file is touched (it stays as it was), then
            // extracted once the password is set.
            qz_archive_set_password(a, "wrong");
            EXPECT_EQ(qz_archive_extract(a, handleOut.c_str()), QZ_E_PASSWORD);
            EXPECT_EQ(qzt::ReadBytes(handleOut), qzt::MakeData(10, 't', 9));
            qz_archive_set_password(a, "right");
        }
        result = qz_archive_extract(a, handleOut.c_str());
        EXPECT_EQ(result, qzt::HandleVerdict(legacy, entry->method)) << "legacy " << legacy;
        EXPECT_EQ(qzt::Exists(handleOut), result == QZ_ARCHIVE_OK);
        EXPECT_EQ(qzt::Exists(legacyOut), legacy == QZ_OK);
        if (result != QZ_ARCHIVE_OK || legacy != QZ_OK)
            continue;
        // Before anything reads the files and moves their access times.
        const Stamp handleStamp = StampOf(handleOut);
        EXPECT_TRUE(handleStamp == StampOf(legacyOut));
        EXPECT_EQ(handleStamp.unixWrite, entry->mtime);
        EXPECT_TRUE(qzt::ReadBytes(handleOut) == qzt::ReadBytes(legacyOut));
    }
    const qz_entry *entry = nullptr;
    EXPECT_EQ(qz_archive_next(a, &entry), QZ_ARCHIVE_END);

    // Not after a read has begun; not into a directory that is not there.
    ASSERT_EQ(qz_archive_seek(a, 1), QZ_ARCHIVE_OK);
    ASSERT_NE(Next(a), nullptr);
    Bytes got;
    ASSERT_GT(ReadOnce(a, got, 10), 0);
    const std::string late = dir.file("late");
    EXPECT_EQ(qz_archive_extract(a, late.c_str()), QZ_E_STATE);
    EXPECT_FALSE(qzt::Exists(late));
    ASSERT_NE(Next(a), nullptr);
    const std::string nowhere = (dir.path() / "no-such-dir" / "out").string();
    EXPECT_EQ(qz_archive_extract(a, nowhere.c_str()), QZ_E_IO);
    EXPECT_STRNE(qz_archive_error(a), "");
    EXPECT_FALSE(qzt::Exists(nowhere));

#if !defined(_WIN32)
    // A full disk: the output is a symlink to /dev/full in this test's own
    // directory; the clean-up removes the link alone. The handle goes on.
    const std::string full = dir.file("full");
    ASSERT_EQ(qz_archive_seek(a, 1), QZ_ARCHIVE_OK);
    ASSERT_NE(Next(a), nullptr);
    fs::create_symlink("/dev/full", full);
    EXPECT_EQ(qz_archive_extract(a, full.c_str()), QZ_E_IO);
    EXPECT_FALSE(qzt::Exists(full));
    EXPECT_TRUE(fs::exists("/dev/full"));
    ASSERT_NE(Next(a), nullptr);
    qz_archive_set_password(a, "right");
    const std::string fine = dir.file("fine");
    EXPECT_EQ(qz_archive_extract(a, fine.c_str()), QZ_ARCHIVE_OK);
    EXPECT_TRUE(qzt::ReadBytes(fine) == qzt::MakeData(90000, 't', 3));
#endif
}

// ---- progress --------------------------------------------------------------------------

struct ProgressLog {
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    static void Handler(void *user, uint64_t done, uint64_t total) {
        static_cast<ProgressLog *>(user)->calls.emplace_back(done, total);
    }
};

// The reports of one entry of `size` bytes that was verified: each at least
// a MiB beyond the one before, the last at the entry's end (which may repeat
// the report of reaching its last byte).
void ExpectProgress(const std::vector<std::pair<uint64_t, uint64_t>> &calls, uint64_t size) {
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), std::make_pair(size, size));
    uint64_t before = 0;
    for (size_t k = 0; k + 1 < calls.size(); ++k) {
        EXPECT_EQ(calls[k].second, size) << "report " << k;
        const bool lastByte = k + 2 == calls.size() && calls[k].first == size;
        EXPECT_TRUE(calls[k].first >= before + kMiB || lastByte)
            << "report " << k << ": " << calls[k].first << " after " << before;
        before = calls[k].first;
    }
    if (size >= 2 * kMiB) {
        EXPECT_GE(calls.size(), 2u) << "nothing reported before the end";
    }
}

TEST(ArchiveHandle, ProgressIsReportedAtMostEveryMiBAndAtTheEnd) {
    TempDir dir;
    const Bytes large = qzt::TextWithNoise(3 * kMiB + kMiB / 2 + 100, 1);
    const Bytes exact = qzt::MakeData(2 * kMiB, 'r', 2);
    const Bytes small = qzt::MakeData(1000, 't', 3);
    Record badCrc = qzw::StoredRecord("bad-crc", qzt::MakeData(kMiB + 10, 'r', 4));
    badCrc.crc ^= 1;
    const Archive archive = MakeArchive({qzw::DeflatedRecord("large", large, qzw::DeflateOptions{1, 0, 8, 0, 2}),
                                         qzw::StoredRecord("exact", exact), qzw::StoredRecord("small", small),
                                         qzw::StoredRecord("empty", {}), badCrc});
    const std::string path = dir.file("p.qza");
    ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));
    const std::vector<const Bytes *> plains = {&large, &exact, &small};

    for (size_t size : {size_t{7}, size_t{65536}, kMiB + 1}) {
        SCOPED_TRACE("reads of " + std::to_string(size));
        ProgressLog log;
        Handle a;
        qz_archive_set_progress_handler(a, ProgressLog::Handler, &log);
        ASSERT_EQ(qz_archive_open(a, path.c_str(), 0), QZ_ARCHIVE_OK);
        for (size_t i = 0; i < 4; ++i) {
            SCOPED_TRACE(archive.records[i].name);
            ASSERT_NE(Next(a), nullptr);
            log.calls.clear();
            Bytes got;
            ASSERT_EQ(ReadRest(a, got, size), 0);
            ExpectProgress(log.calls, archive.records[i].uncompressedSize);
            if (i < plains.size()) {
                EXPECT_TRUE(got == *plains[i]);
            }
        }
        // A failing entry reports no more than it produced.
        ASSERT_NE(Next(a), nullptr);
        log.calls.clear();
        Bytes got;
        EXPECT_EQ(ReadRest(a, got, size), QZ_E_CRC);
        for (const auto &call : log.calls)
            EXPECT_LE(call.first, call.second);
    }

    // Extraction reports as reading does; a handler set to null is not called.
    ProgressLog log;
    Handle a;
    qz_archive_set_progress_handler(a, ProgressLog::Handler, &log);
    ASSERT_EQ(qz_archive_open(a, path.c_str(), 0), QZ_ARCHIVE_OK);
    ASSERT_NE(Next(a), nullptr);
    ASSERT_EQ(qz_archive_extract(a, dir.file("large").c_str()), QZ_ARCHIVE_OK);
    ExpectProgress(log.calls, large.size());
    qz_archive_set_progress_handler(a, nullptr, &log);
    log.calls.clear();
    ASSERT_NE(Next(a), nullptr);
    Bytes got;
    EXPECT_EQ(ReadRest(a, got), 0);
    EXPECT_TRUE(log.calls.empty());
}

}  // namespace

// Recorded names become UTF-8 by the handle's code page: by default a name
// that is UTF-8 stays as it is and any other is read as 1252; a chosen page
// reads every name in it, two-byte pages included; an unknown page is
// refused and leaves the setting as it was.
TEST(ArchiveHandle, NamesAreReadInTheChosenCodePage) {
    TempDir dir;
    auto named = [](std::string name) { return qzw::StoredRecord(std::move(name), qzt::MakeData(3, 'n', 1)); };
    const Archive archive = MakeArchive({named("caf\xC3\xA9"), named("caf\xE9 \x80\x81"), named("\x81\x9A\xE1"),
                                         named("\x82\xA0\x93\xFA\x96\x7B"), named("\xC4\xE3\xBA\xC3")});
    const std::string path = dir.file("names.qza");
    ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));
    auto names = [&](int codepage) {
        Handle a;
        EXPECT_EQ(qz_archive_set_codepage(a, codepage), QZ_ARCHIVE_OK) << codepage;
        EXPECT_EQ(qz_archive_set_codepage(a, 12345), QZ_E_ARGUMENT);
        EXPECT_EQ(qz_archive_open(a, path.c_str(), 0), QZ_ARCHIVE_OK);
        std::vector<std::string> out;
        const qz_entry *entry = nullptr;
        while (qz_archive_next(a, &entry) == QZ_ARCHIVE_OK)
            out.push_back(entry->name);
        return out;
    };
    const std::vector<std::string> automatic = names(0);
    ASSERT_EQ(automatic.size(), 5u);
    EXPECT_EQ(automatic[0], "caf\xC3\xA9");                        // UTF-8 as it stands
    EXPECT_EQ(automatic[1], "caf\xC3\xA9 \xE2\x82\xAC\xEF\xBF\xBD");  // 1252: euro, 0x81 is no character
    EXPECT_EQ(names(65001)[1], "caf\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(names(437)[2], "\xC3\xBC\xC3\x9C\xC3\x9F");           // ü Ü ß
    EXPECT_EQ(names(932)[3], "\xE3\x81\x82\xE6\x97\xA5\xE6\x9C\xAC");  // あ日本
    EXPECT_EQ(names(936)[4], "\xE4\xBD\xA0\xE5\xA5\xBD");           // 你好
}

#if !defined(_WIN32)
// Paths far longer than the legacy calls' 259 bytes open, and their volumes
// are found, on systems whose file calls take them.
TEST(ArchiveHandle, LongPathsOpenWithTheirVolumes) {
    TempDir dir;
    fs::path deep = dir.path();
    for (int i = 0; i < 12; ++i)
        deep /= std::string(40, char('a' + i));
    fs::create_directories(deep);
    const std::string path = (deep / "split.qza").string();
    ASSERT_GT(path.size(), 500u);
    const Bytes data = qzt::MakeData(20000, 'r', 4);
    const Archive archive = MakeArchive({qzw::StoredRecord("data", data)});
    ASSERT_EQ(qzw::WriteVolumes(path, archive.Serialize(), {archive.Serialize().size() / 2}).size(), 2u);
    Handle a;
    ASSERT_EQ(qz_archive_open(a, path.c_str(), 0), QZ_ARCHIVE_OK) << qz_archive_error(a);
    ASSERT_NE(Next(a), nullptr);
    Bytes got;
    EXPECT_EQ(ReadRest(a, got, 4096), 0) << qz_archive_error(a);
    EXPECT_TRUE(got == data);
    EXPECT_EQ(qz_archive_open(a, std::string(5000, 'x').c_str(), 0), QZ_E_STATE);
    qz_archive_close(a);
    EXPECT_EQ(qz_archive_open(a, std::string(5000, 'x').c_str(), 0), QZ_E_ARGUMENT);
}
#endif
