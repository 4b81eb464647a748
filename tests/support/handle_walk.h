// An archive read two ways: entry by entry through the handle API
// (qz_archive_*) into a buffer of a chosen size, and through the legacy
// exports (QZUnpack in walk mode, every entry extracted to a file), and the
// comparison of the two. The handle API must hand out the very bytes a
// legacy extraction writes and reach the same verdict for every entry:
//
//   legacy result                       handle API
//   0                                   reads end with 0 (size and CRC checked)
//   8 / 7                               QZ_E_CRC / QZ_E_SIZE from the last read
//                                       (or, for a compressed entry whose
//                                       stream runs on past its recorded
//                                       size, 0 with the recorded bytes)
//   6                                   QZ_E_DATA, or QZ_E_METHOD for a method
//                                       other than 0, 8 and 9
//   12 / 999 / -1                       QZ_E_VOLUME / QZ_E_PASSWORD / QZ_E_NOMEM
//   50                                  qz_archive_next gives QZ_ARCHIVE_END
//   99                                  QZ_E_RECORD from qz_archive_next, or
//                                       QZ_E_VOLUME where the data before the
//                                       record runs into a missing volume
//                                       (see CompareWithLegacy)
//
// While it reads, the handle walk checks what every read promises whatever
// the archive holds: no read hands out more than it was asked for or writes
// past that, a verified entry has its recorded size and CRC, the verdict
// stays, and a failure leaves a message.
//
// Shared by the behaviour tests and the handle API's fuzz target, whose
// input is kHandleChoiceBytes bytes of choices (fuzz/fuzz_handle.cpp) and
// then an archive input (archive_input.h).
#ifndef QZARC_HANDLE_WALK_H
#define QZARC_HANDLE_WALK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "qzarc.h"
#include "writer/writer.h"

namespace qzt {

using qzw::Bytes;

constexpr size_t kHandleChoiceBytes = 8;

// The handle API's verdict for an entry the legacy walk gave `legacy`.
int64_t HandleVerdict(int legacy, unsigned method);

// An owned handle.
class Handle {
public:
    Handle() : a_(qz_archive_new()) {}
    ~Handle() { qz_archive_free(a_); }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    qz_archive *get() const { return a_; }
    operator qz_archive *() const { return a_; }

private:
    qz_archive *a_;
};

enum class ReadPlan {
    kWhole,     // every entry read to its verdict
    kPeek,      // one read of each entry, then on to the next (the rest skipped)
    kNextOnly,  // no reads at all
};

struct HandleWalkOptions {
    const char *password = nullptr;  // set on the handle before it opens
    uint64_t startOffset = 0;
    size_t readSize = 65536;
    ReadPlan plan = ReadPlan::kWhole;
    size_t maxEntries = 100000;
    // More bytes from one entry are a fault, or (overLimitIsFault false) the
    // entry is left there unread and the walk goes on with the next.
    uint64_t maxEntryBytes = uint64_t{64} << 20;
    bool overLimitIsFault = true;
};

struct HandleEntry {
    std::string rawName;
    unsigned method = 0;
    uint32_t crc = 0;
    uint64_t size = 0;    // uncompressed, as recorded
    int64_t verdict = 1;  // 0 verified, < 0 the failure; 1 when not read to its end
    Bytes bytes;          // everything the reads handed out
};

struct HandleWalk {
    std::vector<HandleEntry> entries;
    // What ended the walk: QZ_ARCHIVE_END, or the failure of qz_archive_open
    // or qz_archive_next.
    int64_t end = 0;
    // The first broken promise seen on the way ("" when none).
    std::string fault;
};

// Opens `path` on the handle (whose handlers the caller has set), walks it
// as `options` say, and closes it again.
HandleWalk WalkWithHandle(qz_archive *a, const std::string &path, const HandleWalkOptions &options);
HandleWalk WalkWithHandle(const std::string &path, const HandleWalkOptions &options);

struct LegacyCall {
    int result;
    std::string name;  // nameOut ("<untouched>" when the call wrote none)
    Bytes bytes;       // the extracted file, for result 0
};

struct LegacyWalk {
    // False when no record starts at the start offset: the legacy walk reads
    // a damaged first record as if it were sound (after a message box, which
    // would wait for a user on Windows), so such archives are not walked.
    bool walked = false;
    bool nothingAtStart = false;  // the file ends at the start offset
    std::vector<LegacyCall> calls;
    // The same archive walked header-only, which follows the record chain
    // through every volume whatever the data holds.
    std::vector<LegacyCall> headers;
};

// Extracts every entry with QZUnpack in walk mode (no host callback: a
// missing volume fails at once) to `output`, until the walk ends or after
// maxCalls calls, and closes the walk; then walks it header-only.
LegacyWalk WalkWithLegacy(const std::string &path, uint32_t startOffset, const std::string &password,
                          const std::string &output, int maxCalls);

// "" when the handle walk (ReadPlan::kWhole) agrees with the legacy walk,
// otherwise the first difference; entries the handle walk left unread are
// compared by name only. writeFailures: legacy results 4 (a write
// refused by a size cap) say nothing about the entry and are passed over.
std::string CompareWithLegacy(const LegacyWalk &legacy, const HandleWalk &handle, bool writeFailures = false);

// "" when two handle walks of one archive agree: the same entries and end,
// the same verdicts and verified bytes where both read whole entries, and
// everything handed out for an entry a prefix of what the other walk got.
std::string CompareHandleWalks(const HandleWalk &reference, const HandleWalk &other);

}  // namespace qzt

#endif  // QZARC_HANDLE_WALK_H
