// The messages that must not mislead: a cut-short archive is said to end
// inside an entry, not to miss a volume it never had; a directory or a pipe
// given as the archive is named as such (a pipe is read through a copy);
// an encrypted entry that fails its CRC points at the password.
#include <gtest/gtest.h>

#include <thread>

#if !defined(_WIN32)
#include <fstream>
#include <sys/stat.h>
#endif

#include "cli_harness.h"

namespace {

namespace fs = std::filesystem;
using qzct::CliRun;
using qzct::Qzarc;
using qzt::TempDir;

using qzct::Contains;
using qzct::Describe;

TEST(CliMessages, ArchiveCutShortIsSaidToEndInsideTheEntry) {
    TempDir dir;
    qzw::Archive archive;
    archive.records.push_back(qzw::StoredRecord("first.txt", qzt::MakeData(500, 't', 1)));
    archive.records.push_back(qzw::StoredRecord("second.bin", qzt::MakeData(5000, 'r', 2)));
    qzw::Bytes bytes = archive.Serialize();
    bytes.resize(bytes.size() - 1000);
    qzct::WriteBytes(dir.path() / "tr.qza", bytes);

    for (const char *command : {"l", "t"}) {
        SCOPED_TRACE(command);
        const CliRun run = Qzarc({command, "tr.qza"}, dir.path());
        EXPECT_EQ(run.status, 1) << Describe(run);
        EXPECT_TRUE(Contains(run.err, "cannot be read past entry 2: the archive ends inside the data of "
                                      "entry second.bin (it is truncated, or its next volume "))
            << run.err;
        EXPECT_TRUE(Contains(run.err, "tr.001 is missing)")) << run.err;
    }
}

TEST(CliMessages, WhatIsNotAnArchiveFileIsNamed) {
    TempDir dir;
    fs::create_directories(dir.path() / "folder.qza");
    for (const char *command : {"l", "t", "x"}) {
        SCOPED_TRACE(command);
        const CliRun run = Qzarc({command, "folder.qza"}, dir.path());
        EXPECT_EQ(run.status, 2) << Describe(run);
        EXPECT_TRUE(Contains(run.err, "folder.qza: is a directory, not an archive")) << run.err;
    }
}

TEST(CliMessages, EncryptedEntryFailingItsCrcPointsAtThePassword) {
    TempDir dir;
    qzw::Archive archive;
    // The check byte (the CRC's top byte) passes; the CRC itself does not.
    qzw::Record record = qzw::StoredRecord("locked.txt", qzt::MakeData(800, 't', 3));
    record.crc ^= 1;
    record.flags |= 1;
    record.password = "pw";
    archive.records.push_back(record);
    qzct::WriteBytes(dir.path() / "e.qza", archive.Serialize());
    const CliRun run = Qzarc({"x", "e.qza", "-p", "pw", "-o", "out"}, dir.path());
    EXPECT_EQ(run.status, 1) << Describe(run);
    EXPECT_TRUE(Contains(run.err, "locked.txt: CRC mismatch (wrong password?)")) << run.err;
}

#if !defined(_WIN32)
TEST(CliMessages, ArchiveFromAPipeIsReadThroughATemporaryCopy) {
    TempDir dir;
    qzw::Archive archive;
    archive.records.push_back(qzw::DeflatedRecord("piped.txt", qzt::MakeData(3000, 't', 4)));
    const qzw::Bytes bytes = archive.Serialize();
    const fs::path fifo = dir.path() / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        std::ofstream out(fifo, std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    });
    qzct::ScopedEnvironment tmpdir("TMPDIR", dir.path().string());
    const CliRun run = Qzarc({"l", fifo.string()});
    writer.join();
    EXPECT_EQ(run.status, 0) << Describe(run);
    EXPECT_TRUE(Contains(run.out, "piped.txt")) << run.out;
    // The copy is gone.
    EXPECT_EQ(qzct::TreeListing(dir.path()), std::vector<std::string>{"pipe"});
}
#endif

}  // namespace
