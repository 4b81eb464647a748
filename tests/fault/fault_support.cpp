#include "fault_support.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "qzarc.h"
#include "platform/test_hooks.h"

namespace qzfault {

QuietStderr::QuietStderr() {
    std::fflush(stderr);
    saved_ = dup(2);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, 2);
        close(null);
    }
}

QuietStderr::~QuietStderr() {
    std::fflush(stderr);
    if (saved_ >= 0) {
        dup2(saved_, 2);
        close(saved_);
    }
}

WalkTest::WalkTest() : walker_(dir_.path().string()) {}

void WalkTest::SetUp() {
    qzarc_test::FailAllocation(0);
    CloseNow();
    blocks_ = qzarc_test::LiveBlocks();
    handles_ = qzarc_test::LiveHandles();
}

void WalkTest::TearDown() {
    qzarc_test::FailAllocation(0);
    CloseNow();
    ExpectNothingHeld();
}

int WalkTest::CloseNow() {
    return QZUnpack(nullptr, nullptr, nullptr, nullptr, 0, nullptr, QZ_CLOSE_NOW);
}

void WalkTest::ExpectNothingHeld() const {
    EXPECT_EQ(qzarc_test::LiveBlocks(), blocks_);
    EXPECT_EQ(qzarc_test::LiveHandles(), handles_);
}

uint64_t WalkTest::VolumeStart(const ArchiveInput &input, size_t k) {
    uint64_t start = 0;
    for (size_t v = 0; v < k; ++v)
        start += input.volumes[v].size();
    return start;
}

const qzfuzz::ReferenceArchive &Reference() {
    static const qzfuzz::ReferenceArchive reference = qzfuzz::BuildReferenceArchive();
    return reference;
}

std::string RecordName(size_t i) { return Reference().archive.records[i].name; }

void TruncateInPlace(const std::string &path, uint64_t length) {
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(length)), 0) << path;
}

void ReplaceFile(const std::string &path, const Bytes &contents) {
    // Removed and written anew rather than renamed over: the effect on the
    // walk is the same (a new file under the old name), without the flush
    // to disk that some file systems force on a rename over a file.
    ASSERT_EQ(unlink(path.c_str()), 0) << path;
    ASSERT_TRUE(qzw::WriteFile(path, contents));
}

}  // namespace qzfault
