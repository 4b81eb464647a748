// Shared by the fault sweeps: the walk fixture with its private directory
// and leak baseline, and small helpers for the files a sweep damages.
#ifndef QZARC_FAULT_SUPPORT_H
#define QZARC_FAULT_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "archive_walker.h"
#include "reference_archive.h"
#include "test_support.h"

namespace qzfault {

using qzfuzz::ArchiveInput;
using qzfuzz::Bytes;

// Sends stderr to /dev/null while it lives: the damaged first records of a
// sweep make the library show its "#1" / "#2" message boxes, which the
// POSIX layer prints there, thousands of times.
class QuietStderr {
public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr &) = delete;
    QuietStderr &operator=(const QuietStderr &) = delete;

private:
    int saved_ = -1;
};

// Walks in a private directory; checks after every test that the library
// holds no heap block or handle beyond those it held before.
class WalkTest : public ::testing::Test {
protected:
    WalkTest();
    void SetUp() override;
    void TearDown() override;

    static int CloseNow();
    void ExpectNothingHeld() const;

    // The offset in the joined volumes at which volume k starts.
    static uint64_t VolumeStart(const ArchiveInput &input, size_t k);

    qzt::TempDir dir_;
    qzfuzz::ArchiveWalker walker_;
    long blocks_ = 0;
    long handles_ = 0;
};

// The reference archive, built once.
const qzfuzz::ReferenceArchive &Reference();

// The name of reference record i.
std::string RecordName(size_t i);

// Truncates a file in place (same file, as an open handle sees it), or
// replaces it with a new file of the given contents under the same name.
void TruncateInPlace(const std::string &path, uint64_t length);
void ReplaceFile(const std::string &path, const Bytes &contents);

}  // namespace qzfault

#endif  // QZARC_FAULT_SUPPORT_H
