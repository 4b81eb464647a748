// libFuzzer target of the handle API (qz_archive_*). An input is
// kHandleChoiceBytes bytes of choices and then one to three volume files
// (archive_input.h):
//
//   byte 0       bits 0-2: the read size of the whole walk (kReadSizes)
//   bytes 1-7    the steps of the random walk, taken in turn, 48 in all:
//                bits 5-7 the step, bits 0-4 its parameter p
//                  0  read, kReadSizes[p & 7] bytes, (p >> 3) + 1 times
//                  1  read to the entry's verdict, kReadSizes[p & 7] at a time
//                  2  next            3  seek(p % (count + 2))
//                  4  skip            5  count
//                  6  extract         7  seek(p)
//
// Every input is read four ways: by the legacy exports (every entry
// extracted), by a whole walk of the handle API, by a walk that reads once
// into each entry and goes on, and by the random walk. The whole walk must
// agree with the legacy one (handle_walk.h), the peeking walk with the whole
// one, and each step of the random walk with what the whole walk saw at that
// entry: the same entry fields, bytes that are a prefix of the same bytes,
// the same verdict, the same end. Besides: the handle's heap stays bounded
// while it reads, progress
// reports count up to the recorded size, volume requests are well formed,
// and once a handle is freed no heap block and no file of the library is
// left. Any broken rule aborts the run.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "archive_input.h"
#include "fuzz_files.h"
#include "handle_walk.h"
#include "platform/test_hooks.h"
#include "qzarc.h"
#include "test_support.h"

namespace {

using qzt::Bytes;

constexpr size_t kReadSizes[8] = {1, 7, 64, 258, 4093, 32768, 65536, size_t{1} << 20};
constexpr int kSteps = 48;
constexpr uint64_t kEntryLimit = uint64_t{8} << 20;  // bytes read from one entry at most
// As in the archive target: files of this process are capped, so an entry
// declaring gigabytes costs a failed write rather than minutes.
constexpr rlim_t kOutputLimit = rlim_t{1} << 20;
constexpr int kMaxVolumes = 3;
// What a handle may hold: its state, its two buffers, the name in both
// forms, the password, its record marks, the decoder's window and the code
// tables of one block (a read may build those, never more of them).
constexpr long kMostBlocks = 12;

std::string gDir;
std::string gFault;

void Fail(const std::string &what) {
    if (gFault.empty())
        gFault = what;
}

std::string VolumePath(int k) {
    if (k == 0)
        return gDir + "/walk.qza";
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%03d", k);
    return gDir + "/walk." + suffix;
}

struct Progress {
    uint64_t total = 0;  // the current entry's recorded size
    bool stored = false; // a stored entry is as long as its data, whatever size it records
    uint64_t last = 0;
    bool any = false;
};

void OnProgress(void *user, uint64_t done, uint64_t total) {
    Progress &p = *static_cast<Progress *>(user);
    if (total != p.total)
        Fail("progress total " + std::to_string(total) + ", recorded " + std::to_string(p.total));
    // Strictly up, except that the report of the verified end may repeat
    // one made on reaching the last byte.
    if ((done > total && !p.stored) || (p.any && (done < p.last || (done == p.last && done != total))))
        Fail("progress " + std::to_string(done) + " of " + std::to_string(total) + " after " +
             std::to_string(p.last));
    p.last = done;
    p.any = true;
}

int OnVolume(void *, unsigned number, char *path, size_t size) {
    if (number < 1 || number > 999 || path == nullptr || size < 260 || path[0] == '\0')
        Fail("volume request " + std::to_string(number));
    return 1;  // the file is there or it is not
}

// The random walk's model of the handle: where it stands and what it has
// handed out of the current entry, checked against the whole walk.
class RandomWalk {
public:
    RandomWalk(qz_archive *a, const qzt::HandleWalk &whole, Progress &progress, long blocks)
        : a_(a), whole_(whole), progress_(progress), buffer_(kReadSizes[7] + 64), blocks_(blocks) {
        if (whole.end == QZ_ARCHIVE_END)
            count_ = static_cast<int64_t>(whole.entries.size());
    }

    void Step(uint8_t choice) {
        const unsigned p = choice & 31u;
        switch (choice >> 5) {
        case 0:
            for (unsigned i = 0; i <= (p >> 3) && !stopped_; ++i)
                Read(kReadSizes[p & 7]);
            break;
        case 1:
            while (gFault.empty() && !stopped_ && current_ >= 0 && verdict_ == 1 && readable_ &&
                   handed_.size() < kEntryLimit)
                Read(kReadSizes[p & 7]);
            break;
        case 2:
            Next();
            break;
        case 3:
            if (count_ >= 0)
                Seek(p % static_cast<uint64_t>(count_ + 2));
            break;
        case 4:
            Skip();
            break;
        case 5:
            Count();
            break;
        case 6:
            Extract();
            break;
        default:
            if (count_ >= 0)
                Seek(p);
            break;
        }
    }
    bool stopped() const { return stopped_; }

private:
    const qzt::HandleEntry *Expected() const {
        return current_ >= 0 ? &whole_.entries[static_cast<size_t>(current_)] : nullptr;
    }
    std::string At() const { return "random walk, entry " + std::to_string(current_) + ": "; }

    void Read(size_t size) {
        if (!readable_)
            return;  // after a skip, an extraction or a seek: nothing defined to check
        if (current_ < 0) {
            const int64_t r = qz_archive_read(a_, buffer_.data(), size);
            if (r != QZ_E_STATE)
                Fail("random walk: a read without a current entry returned " + std::to_string(r));
            return;
        }
        const qzt::HandleEntry &e = *Expected();
        if (handed_.size() >= kEntryLimit)
            return;
        const int64_t r = qz_archive_read(a_, buffer_.data(), size);
        if (qzarc_test::LiveBlocks() - blocks_ > kMostBlocks)
            Fail(At() + "the handle holds " + std::to_string(qzarc_test::LiveBlocks() - blocks_) + " heap blocks");
        // A refused password takes nothing of the entry: it may still be
        // extracted (and is refused again).
        if (r != QZ_E_PASSWORD)
            touched_ = true;
        if (r > static_cast<int64_t>(size)) {
            Fail(At() + "a read of " + std::to_string(size) + " returned " + std::to_string(r));
            return;
        }
        if (verdict_ != 1) {
            if (r != verdict_)
                Fail(At() + "a read after verdict " + std::to_string(verdict_) + " returned " + std::to_string(r));
            return;
        }
        if (r > 0) {
            handed_.insert(handed_.end(), buffer_.begin(), buffer_.begin() + r);
            const size_t common = std::min(handed_.size(), e.bytes.size());
            if (!std::equal(handed_.begin(), handed_.begin() + static_cast<std::ptrdiff_t>(common), e.bytes.begin()) ||
                (e.verdict == 0 && handed_.size() > e.bytes.size()))
                Fail(At() + "the bytes differ from the whole walk's");
            return;
        }
        verdict_ = r;
        if (e.verdict != 1 && r != e.verdict)
            Fail(At() + "verdict " + std::to_string(r) + ", in the whole walk " + std::to_string(e.verdict));
        if (r == 0 && e.verdict == 0 && handed_ != e.bytes)
            Fail(At() + "verified other bytes than the whole walk");
        if (r == 0 && (!progress_.any || progress_.last != handed_.size()))
            Fail(At() + "verified without a progress report of its end");
    }

    void Next() {
        if (lost_)
            return;
        const qz_entry *entry = nullptr;
        const int r = qz_archive_next(a_, &entry);
        Enter(-1);
        if (position_ < whole_.entries.size()) {
            const qzt::HandleEntry &e = whole_.entries[position_];
            if (r != QZ_ARCHIVE_OK || entry == nullptr || entry->index != position_ ||
                std::string(reinterpret_cast<const char *>(entry->raw_name), entry->raw_name_length) != e.rawName ||
                entry->crc32 != e.crc || entry->uncompressed_size != e.size || entry->method != e.method) {
                Fail("random walk: next to entry " + std::to_string(position_) + " returned " + std::to_string(r) +
                     " or another entry");
                stopped_ = true;
                return;
            }
            Enter(static_cast<int64_t>(position_));
            progress_.total = entry->uncompressed_size;
            progress_.stored = entry->method == 0;
            ++position_;
            return;
        }
        if (r != whole_.end)
            Fail("random walk: next at " + std::to_string(position_) + " returned " + std::to_string(r) +
                 ", the whole walk ended with " + std::to_string(whole_.end));
        if (r < 0)
            stopped_ = true;  // where the handle stands now is not defined
    }

    void Seek(uint64_t index) {
        const int r = qz_archive_seek(a_, index);
        Enter(-1);
        readable_ = false;
        if (index > static_cast<uint64_t>(count_)) {
            if (r != QZ_E_ARGUMENT)
                Fail("random walk: seek past the end returned " + std::to_string(r));
            lost_ = true;  // until a seek that succeeds
            return;
        }
        if (r != QZ_ARCHIVE_OK) {
            Fail("random walk: seek(" + std::to_string(index) + ") returned " + std::to_string(r));
            stopped_ = true;
            return;
        }
        lost_ = false;
        position_ = static_cast<size_t>(index);
    }

    void Skip() {
        if (lost_)
            return;
        const int r = qz_archive_skip(a_);
        if (current_ < 0) {
            if (r != QZ_E_STATE && readable_)
                Fail("random walk: skip without a current entry returned " + std::to_string(r));
            return;
        }
        readable_ = false;
        if (r != QZ_ARCHIVE_OK && whole_.end == QZ_ARCHIVE_END && Expected()->verdict == 0)
            Fail(At() + "skip returned " + std::to_string(r));
        if (r < 0)
            stopped_ = true;
    }

    void Count() {
        const int64_t r = qz_archive_count(a_);
        if (whole_.end == QZ_ARCHIVE_END ? r != count_ : r >= 0)
            Fail("random walk: count " + std::to_string(r) + ", the whole walk found " +
                 std::to_string(whole_.entries.size()) + " entries ending with " + std::to_string(whole_.end));
    }

    void Extract() {
        if (current_ < 0 || !readable_)
            return;
        const std::string out = gDir + "/extract.out";
        const int r = qz_archive_extract(a_, out.c_str());
        const bool exists = qzt::Exists(out);
        const qzt::HandleEntry &e = *Expected();
        if (touched_) {
            if (r != QZ_E_STATE)
                Fail(At() + "extract after a read returned " + std::to_string(r));
        } else if (r == QZ_ARCHIVE_OK) {
            if (e.verdict != 1 && (e.verdict != 0 || qzt::ReadBytes(out) != e.bytes))
                Fail(At() + "extracted, but the whole walk's verdict was " + std::to_string(e.verdict) +
                     " or its bytes differ");
        } else {
            // The file size cap of this process fails the writes of a large
            // entry (QZ_E_IO); an entry the whole walk did not finish may
            // fail in any way.
            const bool capped = e.size >= kOutputLimit || e.bytes.size() >= kOutputLimit;
            if (r != e.verdict && !(r == QZ_E_IO && capped) && !(r < 0 && e.verdict == 1))
                Fail(At() + "extract returned " + std::to_string(r) + ", the whole walk's verdict " +
                     std::to_string(e.verdict));
            if (exists)
                Fail(At() + "a failed extraction left its file");
        }
        if (exists)
            unlink(out.c_str());
        readable_ = false;
    }

    void Enter(int64_t index) {
        current_ = index;
        handed_.clear();
        verdict_ = 1;
        readable_ = true;
        touched_ = false;
        progress_.last = 0;
        progress_.any = false;
    }

    qz_archive *a_;
    const qzt::HandleWalk &whole_;
    Progress &progress_;
    Bytes buffer_;
    long blocks_;             // heap blocks before the handle was made
    int64_t count_ = -1;      // the number of entries, when the whole walk reached the end
    size_t position_ = 0;     // the entry the next qz_archive_next gives
    int64_t current_ = -1;    // the current entry, -1 when none
    Bytes handed_;
    int64_t verdict_ = 1;
    bool readable_ = true;
    bool touched_ = false;    // a read was made on the current entry
    bool lost_ = false;       // after a failed seek
    bool stopped_ = false;
};

void Run(const uint8_t *data, size_t size) {
    uint8_t choices[qzt::kHandleChoiceBytes] = {};
    const size_t head = std::min(size, qzt::kHandleChoiceBytes);
    std::copy(data, data + head, choices);
    const qzfuzz::ArchiveInput input = qzfuzz::ParseArchiveInput(data + head, size - head);
    size_t total = 0;
    for (int k = 0; k < kMaxVolumes; ++k) {
        if (static_cast<size_t>(k) < input.volumes.size()) {
            if (!qzfuzz::WriteWhole(VolumePath(k), input.volumes[k]))
                return Fail("cannot write " + VolumePath(k));
            total += input.volumes[k].size();
        } else {
            unlink(VolumePath(k).c_str());
        }
    }
    const std::string path = VolumePath(0);
    const long blocks = qzarc_test::LiveBlocks();
    const long files = qzarc_test::LiveHandles();

    qzt::HandleWalkOptions options;
    options.password = qzfuzz::kPassword;
    options.readSize = kReadSizes[choices[0] & 7];
    options.maxEntries = total / 62 + 2;
    options.maxEntryBytes = kEntryLimit;
    options.overLimitIsFault = false;
    Progress progress;
    qzt::HandleWalk whole;
    {
        qzt::Handle a;
        qz_archive_set_volume_handler(a, OnVolume, nullptr);
        whole = qzt::WalkWithHandle(a, path, options);
    }
    if (!whole.fault.empty())
        return Fail("whole walk: " + whole.fault);

    const qzt::LegacyWalk legacy =
        qzt::WalkWithLegacy(path, 0, qzfuzz::kPassword, gDir + "/legacy.out", static_cast<int>(total / 62 + 3));
    const std::string legacyDifference = qzt::CompareWithLegacy(legacy, whole, true);
    if (!legacyDifference.empty())
        return Fail("against the legacy walk: " + legacyDifference);

    options.plan = qzt::ReadPlan::kPeek;
    options.readSize = kReadSizes[(choices[0] + 3) & 7];
    const std::string peekDifference = qzt::CompareHandleWalks(whole, qzt::WalkWithHandle(path, options));
    if (!peekDifference.empty())
        return Fail("peeking walk: " + peekDifference);

    {
        qzt::Handle a;
        qz_archive_set_password(a, qzfuzz::kPassword);
        qz_archive_set_volume_handler(a, OnVolume, nullptr);
        qz_archive_set_progress_handler(a, OnProgress, &progress);
        const int opened = qz_archive_open(a, path.c_str(), 0);
        if (opened != QZ_ARCHIVE_OK) {
            if (opened != whole.end || !whole.entries.empty())
                Fail("random walk: open returned " + std::to_string(opened));
        } else {
            RandomWalk walk(a, whole, progress, blocks);
            for (int i = 0; i < kSteps && !walk.stopped() && gFault.empty(); ++i)
                walk.Step(choices[1 + i % (qzt::kHandleChoiceBytes - 1)]);
        }
    }
    if (qzarc_test::LiveBlocks() != blocks || qzarc_test::LiveHandles() != files)
        Fail("after qz_archive_free: " + std::to_string(qzarc_test::LiveBlocks() - blocks) + " heap blocks and " +
             std::to_string(qzarc_test::LiveHandles() - files) + " files left");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (gDir.empty()) {
        gDir = qzfuzz::MakePrivateDirectory("qzarc-fuzz-handle");
        std::signal(SIGXFSZ, SIG_IGN);  // a write past the cap fails with EFBIG instead
        struct rlimit limit = {kOutputLimit, kOutputLimit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            std::perror("setrlimit");
            std::abort();
        }
        std::atexit([] {
            for (int k = 0; k < kMaxVolumes; ++k)
                unlink(VolumePath(k).c_str());
            unlink((gDir + "/extract.out").c_str());
            unlink((gDir + "/legacy.out").c_str());
            rmdir(gDir.c_str());
        });
    }
    gFault.clear();
    Run(data, size);
    if (!gFault.empty()) {
        std::fprintf(stderr, "fuzz_handle: %s\n", gFault.c_str());
        std::abort();
    }
    return 0;
}
