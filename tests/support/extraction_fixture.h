// The fixture of the tests that extract entries through QZUnpack: a private
// directory for archives and outputs, no walk left open on either side of a
// test, and the calls and checks every such test makes.
//
// Defined in this header alone: the sources of tests/support are also built
// into the test-data tool, which has no GoogleTest.
#ifndef QZARC_EXTRACTION_FIXTURE_H
#define QZARC_EXTRACTION_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qzarc.h"
#include "test_support.h"
#include "writer/writer.h"

namespace qzt {

class ExtractionTest : public ::testing::Test {
protected:
    void SetUp() override { CloseNow(); }
    void TearDown() override { CloseNow(); }

    // Ends whatever walk is open; returns the call's result.
    static int CloseNow() {
        Call call;
        call.flags = QZ_CLOSE_NOW;
        return Unpack(call).result;
    }

    std::string Write(const qzw::Archive &archive, const std::string &name = "a.qza") {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(qzw::WriteFile(path, archive.Serialize()));
        return path;
    }

    // Writes the archive as volumes cut at the given payload offsets of record i.
    std::string WriteCut(const qzw::Archive &archive, size_t i, const std::vector<uint64_t> &into,
                         const std::string &name = "s.qza") {
        std::vector<uint64_t> cuts;
        for (uint64_t x : into)
            cuts.push_back(qzw::CutInPayload(archive, i, x));
        const std::string path = dir_.file(name);
        EXPECT_EQ(qzw::WriteVolumes(path, archive.Serialize(), cuts).size(), cuts.size() + 1);
        return path;
    }

    static CallResult Extract(const std::string &archive, const std::string &output, int flags,
                              const std::string &password = "", uint32_t startOffset = 0) {
        Call call;
        call.archive = archive;
        call.output = output;
        call.flags = flags;
        call.password = password;
        call.startOffset = startOffset;
        return Unpack(call);
    }

    // A successful extraction of `record`: its name, the CRC text of
    // `data`, and `data` in `output`.
    static void ExpectExtracted(const CallResult &r, const qzw::Record &record, const Bytes &data,
                                const std::string &output) {
        EXPECT_EQ(r.result, QZ_OK) << record.name;
        EXPECT_EQ(r.name, record.name);
        EXPECT_EQ(r.crc, Hex8(qzw::Crc32(data))) << record.name;
        EXPECT_TRUE(ReadBytes(output) == data) << record.name << ": extracted bytes differ";
    }

    // A failed entry: the result, crcOut untouched, no file left behind.
    static void ExpectFailed(const CallResult &r, int expected, const std::string &output) {
        EXPECT_EQ(r.result, expected) << r.name;
        EXPECT_EQ(r.crc, kUntouched) << r.name;
        EXPECT_FALSE(Exists(output)) << output << " was left behind";
    }

    // Writes `archive`, three records holding `first`, `spanned` and
    // `last`, as volumes cut at the given offsets into the payload of the
    // middle record, under `name`. A walk with password "pw" extracts all
    // three and then ends; single mode extracts the middle record alone.
    void ExpectSpanningEntryExtracts(const qzw::Archive &archive, const std::vector<uint64_t> &cuts,
                                     const std::string &name, const Bytes &first,
                                     const Bytes &spanned, const Bytes &last) {
        const std::string path = WriteCut(archive, 1, cuts, name);
        const std::string o0 = dir_.file("o0"), o1 = dir_.file("o1"), o2 = dir_.file("o2");
        ExpectExtracted(Extract(path, o0, QZ_KEEP_OPEN, "pw"), archive.records[0], first, o0);
        ExpectExtracted(Extract(path, o1, 0, "pw"), archive.records[1], spanned, o1);
        ExpectExtracted(Extract(path, o2, 0, "pw"), archive.records[2], last, o2);
        EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);

        const std::string single = dir_.file("single");
        ExpectExtracted(Extract(path, single, 0, "pw",
                                static_cast<uint32_t>(archive.RecordOffset(1))),
                        archive.records[1], spanned, single);
    }

    // Record 0 of `archive`, "locked", holds `secret` encrypted under
    // "right"; record 1 holds `after`. Written as one volume and cut 70000
    // bytes into the locked payload: a wrong password is refused in a walk
    // that goes on to the next entry, in single mode the empty password is
    // refused too, and "right" opens the entry.
    void ExpectOnlyTheRightPasswordOpens(const qzw::Archive &archive, const Bytes &secret,
                                         const Bytes &after) {
        struct Case {
            const char *what;
            std::vector<uint64_t> cuts;  // into the locked entry's payload
        };
        const Case cases[] = {{"one volume", {}}, {"spanning two volumes", {70000}}};
        int n = 0;
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            const std::string path =
                WriteCut(archive, 0, c.cuts, "w" + std::to_string(n++) + ".qza");

            const std::string refused = dir_.file("refused");
            CallResult r = Extract(path, refused, QZ_KEEP_OPEN, "wrong");
            ExpectFailed(r, QZ_ERR_PASSWORD, refused);
            EXPECT_EQ(r.name, "locked");
            const std::string out = dir_.file("after");
            ExpectExtracted(Extract(path, out, 0, "wrong"), archive.records[1], after, out);
            EXPECT_EQ(Extract(path, dir_.file("end"), 0).result, QZ_END_OF_ARCHIVE);

            ExpectFailed(Extract(path, refused, 0, ""), QZ_ERR_PASSWORD, refused);
            const std::string opened = dir_.file("opened");
            ExpectExtracted(Extract(path, opened, 0, "right"), archive.records[0], secret,
                            opened);
            EXPECT_TRUE(Exists(opened));
        }
    }

    TempDir dir_;
};

}  // namespace qzt

#endif  // QZARC_EXTRACTION_FIXTURE_H
