// The world failing around an extraction: a full disk, an output directory
// that cannot take the file, and volumes that vanish or shrink while a walk
// is open. Each failure ends as a defined result, a failed entry leaves no
// file, the walk goes on or ends as the record walk says, and nothing of the
// library is left held.
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "fault_support.h"
#include "qzarc.h"
#include "platform/test_hooks.h"
#include "test_support.h"

namespace qzfault {
namespace {

using qzfuzz::WalkMode;
using qzfuzz::WalkOptions;

std::vector<int> Results(const qzfuzz::ArchiveWalker &walker) {
    std::vector<int> results;
    for (const auto &call : walker.log())
        results.push_back(call.result);
    return results;
}

// --- A full disk: the output path is a symlink to /dev/full. ---------------

class DiskFullTest : public WalkTest {
protected:
    // Before each extract call of a walk whose call i handles record i:
    // the output becomes a symlink to /dev/full, except for an empty entry,
    // which would succeed and stamp the device with the record's times.
    void PointOutputAtFullDevice(int call) {
        const auto &records = Reference().archive.records;
        unlink(walker_.outputPath().c_str());
        if (static_cast<size_t>(call) < records.size() && records[call].uncompressedSize > 0) {
            ASSERT_EQ(symlink("/dev/full", walker_.outputPath().c_str()), 0);
        }
    }
};

TEST_F(DiskFullTest, EveryEntryOfAWalkFailsWithAWriteErrorAndTheWalkGoesOn) {
    ArchiveInput whole;
    whole.volumes.push_back(Reference().bytes);
    WalkOptions options;
    options.mode = WalkMode::kExtractAll;
    options.writeFailures = true;
    options.beforeCall = [this](int call) { PointOutputAtFullDevice(call); };
    ASSERT_EQ(walker_.Walk(whole, options), "");
    // Record 5 is the empty entry, written to an ordinary file.
    EXPECT_EQ(Results(walker_), (std::vector<int>{4, 4, 4, 4, 4, 0, 4, 4, QZ_END_OF_ARCHIVE}));
}

TEST_F(DiskFullTest, AcrossVolumesTheWalkEndsWhereAFailedEntryLeftItsData) {
    WalkOptions options;
    options.mode = WalkMode::kExtractAll;
    options.writeFailures = true;
    // Only the two calls that extract get the device: the third finds no
    // record and would leave the link behind as if it were an entry's file.
    options.beforeCall = [this](int call) {
        if (call < 2)
            PointOutputAtFullDevice(call);
    };
    ASSERT_EQ(walker_.Walk(Reference().Input(), options), "");
    // Record 1 runs on into volume 1. A failed write ends its call at once,
    // before its data has been read to the volume's end, so the next call
    // finds no record where it looks.
    EXPECT_EQ(Results(walker_), (std::vector<int>{4, 4, QZ_BAD_RECORD}));
}

TEST_F(DiskFullTest, LargeEntriesReleaseEverythingAtTheFailedWrite) {
    const Bytes big = qzfuzz::TextData(300000, 40);
    qzw::Archive archive;
    archive.records.push_back(qzw::StoredRecord("big.txt", big));
    archive.records.push_back(qzw::DeflatedRecord("big.z", big));
    const std::string path = dir_.file("big.qza");
    ASSERT_TRUE(qzw::WriteFile(path, archive.Serialize()));
    const std::string output = dir_.file("full.out");

    for (size_t r = 0; r < archive.records.size(); ++r) {
        ASSERT_EQ(symlink("/dev/full", output.c_str()), 0);
        qzt::Call call;
        call.archive = path;
        call.output = output;
        call.startOffset = static_cast<uint32_t>(archive.RecordOffset(r));
        const qzt::CallResult result = qzt::Unpack(call);
        EXPECT_EQ(result.result, QZ_ERR_WRITE) << "record " << r;
        EXPECT_EQ(result.crc, "<untouched>") << "record " << r;
        EXPECT_FALSE(qzt::Exists(output)) << "record " << r;
        // Single mode: the buffers, the archive and the inflater's window
        // are all given back by the call itself.
        ExpectNothingHeld();
    }
}

// --- An output path that cannot be created. --------------------------------

class UnwritableOutputTest : public WalkTest {
protected:
    void SetUp() override {
        WalkTest::SetUp();
        archive_ = dir_.file("whole.qza");
        ASSERT_TRUE(qzw::WriteFile(archive_, Reference().bytes));
    }

    // Single-mode extraction of record 0, then the check that the call gave
    // everything back.
    int ExtractTo(const std::string &output) {
        qzt::Call call;
        call.archive = archive_;
        call.output = output;
        const int result = qzt::Unpack(call).result;
        ExpectNothingHeld();
        return result;
    }

    // A walk whose first extraction goes to `output`: the call fails at
    // once, the walk stays open and the next call handles record 1.
    void ExpectWalkGoesOnAfter(const std::string &output, int expected) {
        qzt::Call first;
        first.archive = archive_;
        first.output = output;
        first.flags = QZ_KEEP_OPEN;
        EXPECT_EQ(qzt::Unpack(first).result, expected);
        qzt::Call next;
        next.archive = archive_;
        next.output = dir_.file("next.out");
        const qzt::CallResult second = qzt::Unpack(next);
        EXPECT_EQ(second.result, QZ_OK);
        EXPECT_EQ(second.name, RecordName(1));
        EXPECT_EQ(CloseNow(), QZ_CLOSE_NOW);
        ExpectNothingHeld();
    }

    std::string archive_;
};

TEST_F(UnwritableOutputTest, ParentIsARegularFile) {
    // Root ignores permission bits, so the directory is made unusable in a
    // way that holds for root too: it is a file.
    const std::string parent = dir_.file("plain.txt");
    ASSERT_TRUE(qzw::WriteFile(parent, Bytes{1, 2, 3}));
    const std::string output = parent + "/entry.out";
    EXPECT_EQ(ExtractTo(output), QZ_ERR_CREATE_OUTPUT - 3);  // ERROR_PATH_NOT_FOUND
    ExpectWalkGoesOnAfter(output, QZ_ERR_CREATE_OUTPUT - 3);
    EXPECT_EQ(qzt::ReadBytes(parent), (Bytes{1, 2, 3}));
}

TEST_F(UnwritableOutputTest, OutputIsADirectory) {
    const std::string output = dir_.file("subdir");
    ASSERT_TRUE(std::filesystem::create_directory(output));
    EXPECT_EQ(ExtractTo(output), QZ_ERR_CREATE_OUTPUT - 5);  // ERROR_ACCESS_DENIED
    ExpectWalkGoesOnAfter(output, QZ_ERR_CREATE_OUTPUT - 5);
    EXPECT_TRUE(std::filesystem::is_directory(output));
}

// An immutable directory (chattr +i) refuses new files even to root.
class ImmutableDirectory {
public:
    explicit ImmutableDirectory(const std::string &path) : path_(path) {
        fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        if (fd_ >= 0 && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            set_ = ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
        }
    }
    ~ImmutableDirectory() {
        int flags = 0;
        if (set_ && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ioctl(fd_, FS_IOC_SETFLAGS, &flags);
        }
        if (fd_ >= 0)
            close(fd_);
    }
    bool set() const { return set_; }

private:
    std::string path_;
    int fd_ = -1;
    bool set_ = false;
};

TEST_F(UnwritableOutputTest, ImmutableDirectory) {
    const std::string locked = dir_.file("locked");
    ASSERT_TRUE(std::filesystem::create_directory(locked));
    ImmutableDirectory immutable(locked);
    if (!immutable.set())
        GTEST_SKIP() << "this file system or this user cannot make a directory immutable";
    const std::string output = locked + "/entry.out";
    EXPECT_EQ(ExtractTo(output), QZ_ERR_CREATE_OUTPUT - 5);  // ERROR_ACCESS_DENIED
    ExpectWalkGoesOnAfter(output, QZ_ERR_CREATE_OUTPUT - 5);
    EXPECT_FALSE(qzt::Exists(output));
}

// --- Volumes that vanish or shrink while a walk is open. -------------------
// In the reference archive record 1 runs from volume 0 into volume 1, record
// 2 lies in volume 1, and record 3 runs from volume 1 into volume 2.

class VolumeChangeTest : public WalkTest {
protected:
    std::string Walk(WalkMode mode, std::function<void(int)> beforeCall) {
        WalkOptions options;
        options.mode = mode;
        options.beforeCall = std::move(beforeCall);
        return walker_.Walk(Reference().Input(), options);
    }
};

TEST_F(VolumeChangeTest, VolumeDeletedBeforeTheWalkNeedsIt) {
    auto deleteVolume2 = [this](int call) {
        if (call == 3)
            unlink(walker_.volumePath(2).c_str());
    };
    ASSERT_EQ(Walk(WalkMode::kExtractAll, deleteVolume2), "");
    EXPECT_EQ(Results(walker_), (std::vector<int>{0, 0, 0, QZ_ERR_VOLUME, QZ_BAD_RECORD}));

    ASSERT_EQ(Walk(WalkMode::kHeaderOnlyAll, deleteVolume2), "");
    EXPECT_EQ(Results(walker_), (std::vector<int>{0, 0, 0, 0, QZ_BAD_RECORD}));

    // A compressed entry whose next volume is gone fails as a missing
    // volume, like a stored one.
    ASSERT_EQ(Walk(WalkMode::kExtractAll,
                   [this](int call) {
                       if (call == 1)
                           unlink(walker_.volumePath(1).c_str());
                   }),
              "");
    EXPECT_EQ(Results(walker_), (std::vector<int>{0, QZ_ERR_VOLUME, QZ_BAD_RECORD}));
}

TEST_F(VolumeChangeTest, OpenVolumeDeletedMidWalkStillReadsToTheEnd) {
    // Deleting a file removes its name, not the open file: the walk reads on.
    for (WalkMode mode : {WalkMode::kExtractAll, WalkMode::kHeaderOnlyAll}) {
        ASSERT_EQ(Walk(mode,
                       [this](int call) {
                           if (call == 2)
                               unlink(walker_.volumePath(1).c_str());
                       }),
                  "");
        EXPECT_EQ(Results(walker_), (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, QZ_END_OF_ARCHIVE}));
    }
}

TEST_F(VolumeChangeTest, VolumeReplacedByAShorterFileAtEveryLength) {
    QuietStderr quiet;
    const ArchiveInput intact = Reference().Input();
    int cases = 0;
    for (WalkMode mode : {WalkMode::kExtractAll, WalkMode::kHeaderOnlyAll}) {
        // Volume 2, not yet opened, replaced by a new, shorter file.
        for (size_t length = 0; length < intact.volumes[2].size(); ++length, ++cases) {
            const Bytes shorter(intact.volumes[2].begin(),
                                intact.volumes[2].begin() + static_cast<long>(length));
            ASSERT_EQ(Walk(mode,
                           [&](int call) {
                               if (call == 3)
                                   ReplaceFile(walker_.volumePath(2), shorter);
                           }),
                      "")
                << "volume 2 replaced by its first " << length << " bytes";
            ASSERT_GE(walker_.log().size(), 4u);
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(walker_.log()[i].result, QZ_OK);
        }
        // Volume 1, open at that moment, cut short in place: the walk still
        // believes the size it saw at the switch.
        for (size_t length = 0; length < intact.volumes[1].size(); ++length, ++cases) {
            ASSERT_EQ(Walk(mode,
                           [&](int call) {
                               if (call == 2)
                                   TruncateInPlace(walker_.volumePath(1), length);
                           }),
                      "")
                << "open volume 1 cut to " << length << " bytes";
            ASSERT_GE(walker_.log().size(), 3u);
            EXPECT_EQ(walker_.log()[0].result, QZ_OK);
            EXPECT_EQ(walker_.log()[1].result, QZ_OK);
        }
    }
    std::printf("[ sweep    ] %d walks with a volume replaced or cut mid-walk\n", cases);
}

}  // namespace
}  // namespace qzfault
