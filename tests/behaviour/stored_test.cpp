// Extraction of stored (method 0) entries through the public interface:
// exact bytes and CRC text at the 64 KiB staging and chunk boundaries,
// encryption, wrong passwords, CRC failures, entries running over volume
// ends, failures to create or write the output file, and the time stamps
// and attributes given to the extracted file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "extraction_fixture.h"
#include "qzarc.h"
#include "test_support.h"
#include "writer/writer.h"

#if defined(_WIN32)
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <windows.h>
#else
#  include <sys/stat.h>
#endif

namespace {

using qzt::CallResult;
using qzt::Encrypted;
using qzt::kMiB;
using qzt::kUntouched;
using qzw::Archive;
using qzw::Bytes;
using qzw::Record;

// A FILETIME tick count (100 ns since 1601) for a calendar time, taken as
// UTC arithmetic; the tests use it for the record's local time stamps.
uint64_t Ticks(int year, int month, int day, int hour, int minute, int second, uint32_t fraction) {
    // Days from 1970-01-01 to the date (proleptic Gregorian calendar).
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int mp = (month + 9) % 12;
    const int doy = (153 * mp + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = int64_t{era} * 146097 + doe - 719468;
    const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return static_cast<uint64_t>(seconds + 11644473600ll) * 10000000ull + fraction;
}

class StoredTest : public qzt::ExtractionTest {};

// The staging buffer flushes at 65536 bytes and the reader's chunk is
// compressed size + 4, capped at 65536: these sizes sit on both edges.
TEST_F(StoredTest, ExtractsBoundarySizesInWalkAndSingleMode) {
    const std::vector<size_t> sizes = {0, 1, 65535, 65536, 65537, 3 * kMiB};
    Archive archive;
    std::vector<Bytes> data;
    for (size_t i = 0; i < sizes.size(); ++i) {
        data.push_back(qzt::MakeData(sizes[i], 'r', static_cast<uint32_t>(i + 7)));
        archive.records.push_back(qzw::StoredRecord("entry" + std::to_string(i), data.back()));
    }
    const std::string path = Write(archive);

    for (size_t i = 0; i < sizes.size(); ++i) {
        const std::string out = dir_.file("walk" + std::to_string(i));
        CallResult r = Extract(path, out, i == 0 ? QZ_KEEP_OPEN : 0);
        ExpectExtracted(r, archive.records[i], data[i], out);
    }
    EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
    EXPECT_FALSE(qzt::Exists(dir_.file("end")));

    for (size_t i = 0; i < sizes.size(); ++i) {
        const std::string out = dir_.file("single" + std::to_string(i));
        CallResult r = Extract(path, out, 0, "", static_cast<uint32_t>(archive.RecordOffset(i)));
        ExpectExtracted(r, archive.records[i], data[i], out);
    }

    // An empty entry: an empty file, and eight zero digits.
    CallResult r = Extract(path, dir_.file("zero"), 0);
    EXPECT_EQ(r.result, QZ_OK);
    EXPECT_EQ(r.crc, "00000000");
    EXPECT_TRUE(qzt::Exists(dir_.file("zero")));
    EXPECT_TRUE(qzt::ReadBytes(dir_.file("zero")).empty());
}

// Decryption runs over whole chunks in the reader, including bytes beyond the
// entry that belong to the next record; the copied bytes must be the plain ones.
TEST_F(StoredTest, EncryptedEntriesExtractLikeTheirPlainTwins) {
    const std::vector<size_t> sizes = {0, 1, 12, 65531, 65532, 65536, 65537, 140000};
    const std::string password = "Geheim!";
    Archive archive;
    std::vector<Bytes> data;
    for (size_t i = 0; i < sizes.size(); ++i) {
        data.push_back(qzt::MakeData(sizes[i], i % 2 ? 't' : 'r', static_cast<uint32_t>(i + 100)));
        Record plain = qzw::StoredRecord("plain" + std::to_string(i), data.back());
        Record locked = Encrypted(qzw::StoredRecord("locked" + std::to_string(i), data.back()),
                                  password);
        archive.records.push_back(locked);
        archive.records.push_back(plain);
    }
    // The empty password is a password like any other.
    data.push_back(qzt::MakeData(3000, 'r', 55));
    archive.records.push_back(Encrypted(qzw::StoredRecord("nopass", data.back()), ""));
    const std::string path = Write(archive);

    for (size_t i = 0; i < archive.records.size(); ++i) {
        const Record &record = archive.records[i];
        const Bytes &expected = data[i / 2];
        const std::string out = dir_.file("out" + std::to_string(i));
        CallResult r = Extract(path, out, i == 0 ? QZ_KEEP_OPEN : 0,
                               record.name == "nopass" ? "" : password);
        ExpectExtracted(r, record, expected, out);
    }
    EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
}

TEST_F(StoredTest, WrongPasswordRefusesEntryAndTheWalkGoesOn) {
    const Bytes secret = qzt::MakeData(150000, 'r', 3);
    const Bytes after = qzt::MakeData(3000, 't', 4);
    Archive archive;
    archive.records.push_back(Encrypted(qzw::StoredRecord("locked", secret), "right"));
    archive.records.push_back(qzw::StoredRecord("after", after));
    ExpectOnlyTheRightPasswordOpens(archive, secret, after);
}

// The password check compares one byte, so about one wrong password in 256
// gets past it. Such a record is built here directly: its encryption header
// is the one a writer makes under "impostor", its data is encrypted under
// "owner". "impostor" passes the check and decrypts the data to garbage,
// which the CRC comparison must catch.
TEST_F(StoredTest, WrongPasswordPassingTheCheckByteFailsOnTheCrc) {
    const Bytes data = qzt::MakeData(70000, 'r', 9);
    const Record asImpostor = Encrypted(qzw::StoredRecord("lucky", data), "impostor");
    const Record asOwner = Encrypted(qzw::StoredRecord("lucky", data), "owner");
    const Bytes impostorBytes = qzw::SerializeRecord(asImpostor);
    const Bytes ownerBytes = qzw::SerializeRecord(asOwner);
    const size_t headerEnd = asOwner.headerSize();

    Record lucky = qzw::StoredRecord("lucky", data);
    lucky.flags |= 1u;  // encrypted, but serialized as given (no password)
    lucky.encryptionHeader.assign(impostorBytes.begin() + (headerEnd - 12),
                                  impostorBytes.begin() + headerEnd);
    lucky.payload.assign(ownerBytes.begin() + headerEnd, ownerBytes.end());

    Archive archive;
    archive.records.push_back(lucky);
    const Bytes after = qzt::MakeData(500, 't', 10);
    archive.records.push_back(qzw::StoredRecord("after", after));
    const std::string path = Write(archive);

    const std::string out = dir_.file("lucky");
    ExpectFailed(Extract(path, out, QZ_KEEP_OPEN, "impostor"), QZ_ERR_CRC, out);
    const std::string next = dir_.file("after");
    ExpectExtracted(Extract(path, next, 0, "impostor"), archive.records[1], after, next);
    EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);

    // The owner's password is the one the header refuses.
    ExpectFailed(Extract(path, out, 0, "owner"), QZ_ERR_PASSWORD, out);
}

TEST_F(StoredTest, CrcMismatchFailsOnlyThatEntry) {
    const Bytes first = qzt::MakeData(1000, 'r', 11);
    const Bytes bad = qzt::MakeData(70000, 'r', 12);
    const Bytes last = qzt::MakeData(2000, 't', 13);
    Archive archive;
    archive.records.push_back(qzw::StoredRecord("first", first));
    Record badRecord = qzw::StoredRecord("bad", bad);
    badRecord.crc ^= 0x00010000u;
    archive.records.push_back(badRecord);
    Record emptyBad = qzw::StoredRecord("emptybad", {});
    emptyBad.crc = 0x12345678u;  // an empty entry's CRC is 0
    archive.records.push_back(emptyBad);
    archive.records.push_back(qzw::StoredRecord("last", last));
    const std::string path = Write(archive);

    const std::string out0 = dir_.file("first"), out1 = dir_.file("bad"),
                      out2 = dir_.file("emptybad"), out3 = dir_.file("last");
    ExpectExtracted(Extract(path, out0, QZ_KEEP_OPEN), archive.records[0], first, out0);
    ExpectFailed(Extract(path, out1, 0), QZ_ERR_CRC, out1);
    ExpectFailed(Extract(path, out2, 0), QZ_ERR_CRC, out2);
    ExpectExtracted(Extract(path, out3, 0), archive.records[3], last, out3);
    EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
    EXPECT_EQ(qzt::ListFiles(dir_.path()), (std::vector<std::string>{"a.qza", "first", "last"}));
}

// A stored entry follows the volume chain: the reader opens the next volume
// when the current one ends while data is still owed, and the next record is
// found in the later volume where the entry's data ended.
TEST_F(StoredTest, EntrySpanningVolumesExtractsWholeAndTheWalkGoesOn) {
    struct Case {
        const char *what;
        std::vector<uint64_t> cuts;  // into the big entry's payload
        bool encrypted;
    };
    const Case cases[] = {
        {"two volumes", {70000}, false},
        {"cut at the end of the first chunk", {65536}, false},
        {"one byte left for the second volume", {199999}, false},
        {"first volume ends with the header", {0}, false},
        {"three volumes", {50000, 150000}, false},
        {"three volumes, one byte in the middle", {100000, 100001}, false},
        {"encrypted, two volumes", {70000}, true},
        {"encrypted, three volumes", {30000, 131073}, true},
    };
    const Bytes small = qzt::MakeData(100, 'r', 21);
    const Bytes big = qzt::MakeData(200000, 'r', 22);
    const Bytes after = qzt::MakeData(5000, 't', 23);
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Archive archive;
        archive.records.push_back(qzw::StoredRecord("small", small));
        Record bigRecord = qzw::StoredRecord("big", big);
        archive.records.push_back(c.encrypted ? Encrypted(bigRecord, "pw") : bigRecord);
        archive.records.push_back(qzw::StoredRecord("after", after));
        ExpectSpanningEntryExtracts(archive, c.cuts, "v" + std::to_string(n++) + ".qza", small,
                                    big, after);
    }
}

TEST_F(StoredTest, MissingVolumeFailsTheEntryWith12) {
    const Bytes big = qzt::MakeData(200000, 'r', 31);
    Archive archive;
    archive.records.push_back(qzw::StoredRecord("big", big));
    archive.records.push_back(qzw::StoredRecord("after", qzt::MakeData(100, 'r', 32)));
    const std::string path = WriteCut(archive, 0, {70000});
    const std::string volume1 = qzw::VolumeName(path, 1);
    const Bytes saved = qzt::ReadBytes(volume1);
    ASSERT_FALSE(saved.empty());
    ASSERT_TRUE(qzt::fs::remove(volume1));
    const std::string out = dir_.file("big");

    {
        SCOPED_TRACE("the host gives up (answers 1)");
        qzt::HostRecorder host;
        ExpectFailed(Extract(path, out, QZ_KEEP_OPEN), QZ_ERR_VOLUME, out);
        const auto requests = host.volumeRequests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].value, 1);
        EXPECT_EQ(requests[0].text, volume1);
        // The rest of the entry's data was never found: no record follows.
        EXPECT_EQ(Extract(path, dir_.file("next"), 0).result, QZ_BAD_RECORD);
        EXPECT_FALSE(qzt::Exists(dir_.file("next")));
    }
    {
        SCOPED_TRACE("no host registered: nobody is waited for");
        ExpectFailed(Extract(path, out, 0), QZ_ERR_VOLUME, out);
    }
    {
        SCOPED_TRACE("the host supplies the volume when asked");
        qzt::HostRecorder host([&](int kind, int, char *text) {
            if (kind == QZ_NOTIFY_VOLUME)
                qzw::WriteFile(text, saved);
            return 0;
        });
        ExpectExtracted(Extract(path, out, 0), archive.records[0], big, out);
        EXPECT_EQ(host.volumeRequests().size(), 1u);
    }
}

TEST_F(StoredTest, OutputInMissingDirectoryReturnsCreateError) {
    const Bytes a = qzt::MakeData(800, 'r', 41);
    const Bytes b = qzt::MakeData(900, 'r', 42);
    Archive archive;
    archive.records.push_back(qzw::StoredRecord("a", a));
    archive.records.push_back(qzw::StoredRecord("b", b));
    const std::string path = Write(archive);
    const std::string nowhere = (dir_.path() / "missing" / "x").string();
    const int pathNotFound = QZ_ERR_CREATE_OUTPUT - 3;

    CallResult r = Extract(path, nowhere, 0);
    EXPECT_EQ(r.result, pathNotFound);
    EXPECT_EQ(r.crc, kUntouched);
    // The failed single-mode call left nothing open that disturbs the next one.
    const std::string outA = dir_.file("a");
    ExpectExtracted(Extract(path, outA, 0), archive.records[0], a, outA);

    // In walk mode the failed call still counts as handling its record.
    EXPECT_EQ(Extract(path, nowhere, QZ_KEEP_OPEN).result, pathNotFound);
    const std::string outB = dir_.file("b");
    ExpectExtracted(Extract(path, outB, 0), archive.records[1], b, outB);
    EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
}

TEST_F(StoredTest, ReadOnlyOutputFileIsNotReplaced) {
    const Bytes data = qzt::MakeData(1000, 'r', 51);
    Archive archive;
    archive.records.push_back(qzw::StoredRecord("entry", data));
    const std::string path = Write(archive);

    const std::string existing = dir_.file("existing");
    const Bytes kept = {'k', 'e', 'e', 'p'};
    ASSERT_TRUE(qzw::WriteFile(existing, kept));
#if defined(_WIN32)
    ASSERT_TRUE(SetFileAttributesA(existing.c_str(), FILE_ATTRIBUTE_READONLY));
    // Windows refuses to open a read-only file for writing. Wine running as
    // root maps the attribute to permission bits that root ignores; there the
    // file system itself gives no read-only file to test against.
    HANDLE probe = CreateFileA(existing.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        GTEST_SKIP() << "this system lets a writer open a read-only file";
    }
#else
    qzt::fs::permissions(existing,
                         qzt::fs::perms::owner_write | qzt::fs::perms::group_write |
                             qzt::fs::perms::others_write,
                         qzt::fs::perm_options::remove);
#endif

    CallResult r = Extract(path, existing, 0);
    EXPECT_EQ(r.result, QZ_ERR_CREATE_OUTPUT - 5);
    EXPECT_EQ(r.crc, kUntouched);
    EXPECT_TRUE(qzt::ReadBytes(existing) == kept);

    const std::string out = dir_.file("fresh");
    ExpectExtracted(Extract(path, out, 0), archive.records[0], data, out);
}

// The record's times are local FILETIMEs; the file gets them converted to
// UTC with the offset in force now.
TEST_F(StoredTest, RestoresTimesConvertedToUtc) {
    const Bytes data = qzt::MakeData(70000, 'r', 61);
    Record record = qzw::StoredRecord("stamped", data);
    record.creationTime = Ticks(2019, 1, 2, 3, 4, 5, 1234567);
    record.accessTime = Ticks(2020, 6, 15, 12, 0, 0, 5000000);
    record.writeTime = Ticks(2021, 11, 30, 23, 59, 59, 9999999);
    Archive archive;
    archive.records.push_back(record);
    const std::string path = Write(archive);
    const std::string out = dir_.file("stamped");
    ASSERT_EQ(Extract(path, out, 0).result, QZ_OK);

#if defined(_WIN32)
    auto utc = [](uint64_t local) {
        FILETIME in{static_cast<DWORD>(local), static_cast<DWORD>(local >> 32)};
        FILETIME converted{};
        EXPECT_TRUE(LocalFileTimeToFileTime(&in, &converted));
        return (uint64_t{converted.dwHighDateTime} << 32) | converted.dwLowDateTime;
    };
    auto ticks = [](const FILETIME &ft) {
        return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
    };
    HANDLE h = CreateFileA(out.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME created{}, accessed{}, written{};
    EXPECT_TRUE(GetFileTime(h, &created, &accessed, &written));
    CloseHandle(h);

    // Whether this file system keeps a creation time at all (wine on Linux
    // does not: it reports the last-write time instead).
    const std::string scratch = dir_.file("scratch");
    HANDLE s = CreateFileA(scratch.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(s, INVALID_HANDLE_VALUE);
    const FILETIME probe{0x12345678u, 0x01D00000u};
    FILETIME probed{};
    SetFileTime(s, &probe, nullptr, nullptr);
    GetFileTime(s, &probed, nullptr, nullptr);
    CloseHandle(s);
    if (ticks(probed) == ticks(probe))
        EXPECT_EQ(ticks(created), utc(record.creationTime));
    else
        std::printf("note: creation times are not kept here; only the other two are checked\n");
    EXPECT_EQ(ticks(accessed), utc(record.accessTime));
    EXPECT_EQ(ticks(written), utc(record.writeTime));
#else
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);  // before anything reads the file
    const time_t now = std::time(nullptr);
    struct tm parts;
    ASSERT_NE(localtime_r(&now, &parts), nullptr);
    const int64_t offset = static_cast<int64_t>(parts.tm_gmtoff) * 10000000;
    auto ticks = [](const struct timespec &ts) {
        return static_cast<uint64_t>(ts.tv_sec + 11644473600ll) * 10000000ull +
               static_cast<uint64_t>(ts.tv_nsec / 100);
    };
    EXPECT_EQ(ticks(st.st_atim), record.accessTime - offset);
    EXPECT_EQ(ticks(st.st_mtim), record.writeTime - offset);
#endif
    EXPECT_TRUE(qzt::ReadBytes(out) == data);
}

TEST_F(StoredTest, RestoresAttributes) {
    struct Case {
        const char *name;
        uint32_t attributes;
    };
    // read-only | archive, hidden | archive, archive only
    const Case cases[] = {{"readonly", 0x21}, {"hidden", 0x22}, {"plain", 0x20}};
    Archive archive;
    for (const Case &c : cases) {
        Record record = qzw::StoredRecord(c.name, qzt::MakeData(300, 't', 71));
        record.attributes = c.attributes;
        archive.records.push_back(record);
    }
    const std::string path = Write(archive);

    for (size_t i = 0; i < archive.records.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const std::string out = dir_.file(cases[i].name);
        ASSERT_EQ(Extract(path, out, i == 0 ? QZ_KEEP_OPEN : 0).result, QZ_OK);
#if defined(_WIN32)
        const DWORD attributes = GetFileAttributesA(out.c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(attributes & 0x27u, cases[i].attributes);
#else
        struct stat st;
        ASSERT_EQ(stat(out.c_str(), &st), 0);
        const bool readOnly = (cases[i].attributes & 1u) != 0;
        if (readOnly)
            EXPECT_EQ(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH), 0u);
        else
            EXPECT_NE(st.st_mode & S_IWUSR, 0u);
#endif
    }
    EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
}

#if !defined(_WIN32)
// The output path is a symlink to /dev/full inside the test's own directory:
// every write fails, and the library's clean-up removes only the symlink.
TEST_F(StoredTest, FailedWriteFailsWith4AndRemovesTheOutput) {
    const Bytes small = qzt::MakeData(1000, 'r', 81);  // written only by the final flush
    const Bytes big = qzt::MakeData(150000, 'r', 82);  // fails on the first 64 KiB write
    const Bytes after = qzt::MakeData(700, 't', 83);
    Archive archive;
    archive.records.push_back(qzw::StoredRecord("small", small));
    archive.records.push_back(qzw::StoredRecord("big", big));
    archive.records.push_back(qzw::StoredRecord("after", after));
    const std::string path = Write(archive);

    const std::string full1 = dir_.file("full1"), full2 = dir_.file("full2");
    qzt::fs::create_symlink("/dev/full", full1);
    qzt::fs::create_symlink("/dev/full", full2);

    ExpectFailed(Extract(path, full1, QZ_KEEP_OPEN), QZ_ERR_WRITE, full1);
    ExpectFailed(Extract(path, full2, 0), QZ_ERR_WRITE, full2);
    const std::string out = dir_.file("after");
    ExpectExtracted(Extract(path, out, 0), archive.records[2], after, out);
    EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);
    EXPECT_TRUE(qzt::fs::exists("/dev/full"));
}
#endif

}  // namespace
