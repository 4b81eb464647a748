// Damaged archives: every truncation of each volume of the reference
// archive and every single-byte change of each record's header, name and
// encryption header. Whatever the damage, each walk keeps the extractor's
// guarantees (archive_walker.h: defined results, bounded length, no file
// left by a failed entry, nothing held after the walk), and the records
// before the damage extract as they do from the intact archive.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "fault_support.h"
#include "inflater_run.h"
#include "qzarc.h"
#include "test_support.h"

namespace qzfault {
namespace {

using qzfuzz::WalkMode;
using qzfuzz::WalkOptions;

const char *ModeName(WalkMode mode) {
    switch (mode) {
    case WalkMode::kExtractAll:
        return "extract";
    case WalkMode::kHeaderOnlyAll:
        return "header-only";
    default:
        return "alternating";
    }
}

class CorruptionTest : public WalkTest {
protected:
    // Records 0..count-1 extracted (or were skipped) as from the intact archive.
    void ExpectIntactPrefix(size_t count, const std::string &context) {
        const auto &log = walker_.log();
        ASSERT_GE(log.size(), count) << context;
        for (size_t i = 0; i < count; ++i) {
            EXPECT_EQ(log[i].result, QZ_OK) << context << ", record " << i;
            EXPECT_EQ(log[i].name, RecordName(i)) << context << ", record " << i;
        }
    }

    // Number of reference records that lie wholly before offset `end`.
    static size_t RecordsBefore(uint64_t end) {
        size_t n = 0;
        while (n < Reference().archive.records.size() && Reference().RecordEnd(n) <= end)
            ++n;
        return n;
    }
};

TEST_F(CorruptionTest, IntactReferenceArchiveWalksToTheEndInEveryMode) {
    const size_t records = Reference().archive.records.size();
    for (WalkMode mode : {WalkMode::kExtractAll, WalkMode::kHeaderOnlyAll, WalkMode::kAlternate}) {
        WalkOptions options;
        options.mode = mode;
        ASSERT_EQ(walker_.Walk(Reference().Input(), options), "") << ModeName(mode);
        ASSERT_EQ(walker_.log().size(), records + 1) << ModeName(mode);
        ExpectIntactPrefix(records, ModeName(mode));
        EXPECT_EQ(walker_.log().back().result, QZ_END_OF_ARCHIVE) << ModeName(mode);
    }
}

TEST_F(CorruptionTest, EveryTruncationOfEachVolume) {
    QuietStderr quiet;
    const ArchiveInput intact = Reference().Input();
    int cases = 0;
    for (WalkMode mode : {WalkMode::kExtractAll, WalkMode::kHeaderOnlyAll}) {
        WalkOptions options;
        options.mode = mode;
        for (size_t v = 0; v < intact.volumes.size(); ++v) {
            for (size_t length = 0; length < intact.volumes[v].size(); ++length) {
                ArchiveInput input = intact;
                input.volumes[v].resize(length);
                const std::string context = std::string(ModeName(mode)) + ", volume " +
                                            std::to_string(v) + " cut to " + std::to_string(length);
                ASSERT_EQ(walker_.Walk(input, options), "") << context;
                ExpectIntactPrefix(RecordsBefore(VolumeStart(intact, v) + length), context);
                ++cases;
            }
        }
    }
    const size_t total = Reference().bytes.size();
    EXPECT_EQ(cases, static_cast<int>(2 * total));
    RecordProperty("cases", cases);
    std::printf("[ sweep    ] %d truncated archives walked\n", cases);
}

// Offsets within a record's 62 fixed bytes that the extractor does not
// interpret (version, flags bits 8-15, time stamps, attributes, reserved):
// changing them changes no result of the walk.
bool Uninterpreted(uint64_t offset) {
    return offset == 4 || offset == 5 || offset == 7 || (offset >= 10 && offset < 38) ||
           (offset >= 50 && offset < 58) || offset == 60 || offset == 61;
}

TEST_F(CorruptionTest, EverySingleByteChangeOfEachRecordHeader) {
    QuietStderr quiet;
    const auto &ref = Reference();
    const size_t records = ref.archive.records.size();
    int cases = 0;
    for (size_t r = 0; r < records; ++r) {
        const uint64_t start = ref.RecordStart(r);
        const uint64_t headerEnd = ref.archive.PayloadOffset(r);  // magic, header, name, encryption header
        for (uint64_t at = start; at < headerEnd; ++at) {
            for (int change = 0; change < 2; ++change) {
                Bytes bytes = ref.bytes;
                const uint8_t before = bytes[at];
                bytes[at] = change == 0 ? static_cast<uint8_t>(before ^ 0xFF) : 0x00;
                if (bytes[at] == before)
                    continue;
                ArchiveInput input = ref.Input();
                size_t v = 0;
                uint64_t offset = at;
                while (offset >= input.volumes[v].size()) {
                    offset -= input.volumes[v].size();
                    ++v;
                }
                input.volumes[v][offset] = bytes[at];

                for (WalkMode mode : {WalkMode::kExtractAll, WalkMode::kAlternate}) {
                    WalkOptions options;
                    options.mode = mode;
                    input.firstHeaderOnly = true;
                    const std::string context = std::string(ModeName(mode)) + ", record " +
                                                std::to_string(r) + " byte " +
                                                std::to_string(at - start) +
                                                (change == 0 ? " xor 0xFF" : " set to 0");
                    ASSERT_EQ(walker_.Walk(input, options), "") << context;
                    const uint64_t inRecord = at - start;
                    if (inRecord < 62 && Uninterpreted(inRecord)) {
                        ExpectIntactPrefix(records, context);
                        EXPECT_EQ(walker_.log().back().result, QZ_END_OF_ARCHIVE) << context;
                    } else {
                        ExpectIntactPrefix(r, context);
                    }
                    ++cases;
                }
            }
        }
    }
    RecordProperty("cases", cases);
    std::printf("[ sweep    ] %d archives with one changed header byte walked\n", cases);
    EXPECT_GT(cases, 1000);
}

// Inputs kept from fuzzing runs (each once made a target fail) replayed
// through the same checks; the directory may be empty.
std::vector<std::filesystem::path> Regressions(const char *kind) {
    std::vector<std::filesystem::path> files;
    const std::filesystem::path dir = std::filesystem::path(QZARC_FUZZ_REGRESSIONS) / kind;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST_F(CorruptionTest, FuzzRegressionInputsKeepEveryGuarantee) {
    QuietStderr quiet;
    for (const auto &file : Regressions("archive")) {
        const Bytes bytes = qzt::ReadBytes(file);
        qzfuzz::WalkOptions options;
        EXPECT_EQ(walker_.WalkBothWays(bytes.data(), bytes.size(), options), "") << file;
    }
    for (const auto &file : Regressions("inflater")) {
        const Bytes bytes = qzt::ReadBytes(file);
        EXPECT_EQ(qzfuzz::RunInflater(bytes.data(), bytes.size(), dir_.path().string()).fault, "") << file;
    }
}

}  // namespace
}  // namespace qzfault
