// Faults the fuzzers and sweeps found, each pinned by the smallest archive
// that shows it. (The inputs as found are kept in fuzz/regressions and
// replayed by CorruptionTest.FuzzRegressionInputsKeepEveryGuarantee.)
#include <gtest/gtest.h>

#include "fault_support.h"
#include "qzarc.h"

namespace qzfault {
namespace {

using qzfuzz::WalkMode;
using qzfuzz::WalkOptions;

class RegressionTest : public WalkTest {};

// An empty volume file inside the chain, in the middle of an entry's data:
// the data goes on in the volume after it. The byte source used to hand the
// inflater a filler byte at the empty volume and lose count of one owed
// byte, so a Deflate entry failed, and one whose stream decoded the filler
// endlessly never finished draining (found by fuzz_archive as a timeout).
TEST_F(RegressionTest, EmptyVolumesInsideAnEntrysDataAreSkipped) {
    const Bytes text = qzfuzz::TextData(3000, 50);
    qzw::Record encrypted = qzw::StoredRecord("secret.txt", text);
    encrypted.flags = 1;
    encrypted.password = qzfuzz::kPassword;
    const qzw::Record kinds[] = {qzw::StoredRecord("stored.txt", text),
                                 qzw::DeflatedRecord("deflate.txt", text), encrypted};
    for (const qzw::Record &record : kinds) {
        qzw::Archive archive;
        archive.records.push_back(record);
        archive.records.push_back(qzw::StoredRecord("after.txt", qzfuzz::TextData(50, 51)));
        const Bytes bytes = archive.Serialize();
        // Each place the data can be split at: its first, a middle and its last byte.
        const uint64_t size = record.payload.size();
        for (uint64_t into : {uint64_t{1}, size / 2, size - 1}) {
            const uint64_t cut = qzw::CutInPayload(archive, 0, into);
            for (size_t empties : {1, 2}) {
                ArchiveInput input;
                input.volumes.emplace_back(bytes.begin(), bytes.begin() + static_cast<long>(cut));
                for (size_t e = 0; e < empties; ++e)
                    input.volumes.emplace_back();
                input.volumes.emplace_back(bytes.begin() + static_cast<long>(cut), bytes.end());
                for (WalkMode mode : {WalkMode::kExtractAll, WalkMode::kHeaderOnlyAll}) {
                    WalkOptions options;
                    options.mode = mode;
                    const std::string context = record.name + " cut " + std::to_string(into) +
                                                " bytes in, " + std::to_string(empties) +
                                                " empty volume(s), " +
                                                (mode == WalkMode::kExtractAll ? "extract" : "header-only");
                    ASSERT_EQ(walker_.Walk(input, options), "") << context;
                    ASSERT_EQ(walker_.log().size(), 3u) << context;
                    EXPECT_EQ(walker_.log()[0].result, QZ_OK) << context;
                    EXPECT_EQ(walker_.log()[1].result, QZ_OK) << context;
                    EXPECT_EQ(walker_.log()[1].name, "after.txt") << context;
                    EXPECT_EQ(walker_.log()[2].result, QZ_END_OF_ARCHIVE) << context;
                }
            }
        }
    }
}

}  // namespace
}  // namespace qzfault
