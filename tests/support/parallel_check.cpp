#include "parallel_check.h"

#include <cstdio>
#include <filesystem>
#include <thread>

#include "archive/parallel_read.h"
#include "archive_input.h"
#include "platform/test_hooks.h"
#include "qzarc.h"
#include "raw_streams.h"
#include "test_support.h"

namespace qzt {
namespace {

constexpr size_t kGuard = 16;
constexpr uint8_t kGuardByte = 0xA5;
constexpr int kMostEntries = 64;

// What the handlers note into, and the thread the walk runs on.
struct Listener {
    Transcript *transcript;
    std::thread::id self;

    std::string Where() const { return std::this_thread::get_id() == self ? "" : " (on another thread)"; }
};

void Note(Transcript &t, WalkEvent event) {
    if (event.kind == 'r' && event.value > 0 && !t.events.empty()) {
        WalkEvent &last = t.events.back();
        if (last.kind == 'r' && last.value == event.value && last.text == event.text) {
            ++last.count;
            return;
        }
    }
    t.events.push_back(std::move(event));
}

void NoteMessage(Transcript &t, qz_archive *a) {
    const char *message = qz_archive_error(a);
    Note(t, {'m', 0, 0, message != nullptr ? message : "<null>"});
}

void OnProgress(void *user, uint64_t done, uint64_t total) {
    const Listener &l = *static_cast<Listener *>(user);
    Note(*l.transcript, {'p', int64_t(done), total, l.Where()});
}

int OnVolume(void *user, unsigned number, char *path, size_t size) {
    const Listener &l = *static_cast<Listener *>(user);
    Note(*l.transcript, {'v', int64_t(number), size, std::string(path != nullptr ? path : "<null>") + l.Where()});
    return 1;  // give up: the volume is missing
}

// One read into the buffer (readSize bytes and a guard behind them).
int64_t Read(qz_archive *a, Transcript &t, Bytes &buffer, size_t readSize, Bytes &into) {
    std::fill(buffer.begin() + long(readSize), buffer.end(), kGuardByte);
    const int64_t r = qz_archive_read(a, buffer.data(), readSize);
    WalkEvent event{'r', r};
    for (size_t i = readSize; i < buffer.size(); ++i)
        if (buffer[i] != kGuardByte)
            event.text = "wrote past the buffer";
    if (r > 0 && uint64_t(r) <= readSize)
        into.insert(into.end(), buffer.begin(), buffer.begin() + long(r));
    Note(t, event);
    if (r < 0)
        NoteMessage(t, a);
    return r;
}

}  // namespace

std::string WalkEvent::Describe() const {
    const std::string v = std::to_string(value);
    switch (kind) {
    case 'o':
        return "open " + v;
    case 'n':
        return "next " + v + (value == 0 ? " (entry " + std::to_string(extra) + " " + text + ")" : "");
    case 'r':
        return "read " + v + (count > 1 ? " x" + std::to_string(count) : "") + (text.empty() ? "" : " " + text);
    case 'x':
        return "extract " + v;
    case 'f':
        return value != 0 ? "the failed extraction left its file" : "no file left";
    case 'm':
        return "message \"" + text + "\"";
    case 'p':
        return "progress " + v + " of " + std::to_string(extra) + text;
    case 'v':
        return "volume request " + v + " for " + text;
    case 'e':
        return "entry left after " + v + " bytes";
    case 'c':
        return "close " + v;
    case 's':
        return "qz_archive_set_threads " + v;
    case 'k':
        return "count " + v;
    case 'b':
        return "seek back " + v;
    case 'l':
        return "left " + v + " heap blocks and " + std::to_string(extra) + " files";
    default:
        return std::string("event '") + kind + "'";
    }
}

Transcript WalkTranscript(const std::string &path, const char *password, const Threading &threading,
                          const WalkPlan &plan, const std::string &scratch) {
    Transcript t;
    Listener listener{&t, std::this_thread::get_id()};
    const long blocks = qzarc_test::LiveBlocks();
    const long files = qzarc_test::LiveHandles();
    gParallelStretchBytes = threading.stretch;
    gParallelJudging = threading.letGoEarly ? ParallelJudging::kLetGoEarly : ParallelJudging::kNeverJudged;
    gParallelInputFails = threading.inputFails;
    qz_archive *a = qz_archive_new();
    const int set = qz_archive_set_threads(a, threading.threads);
    if (set != QZ_ARCHIVE_OK)
        Note(t, {'s', set});
    qz_archive_set_password(a, password);
    qz_archive_set_progress_handler(a, OnProgress, &listener);
    qz_archive_set_volume_handler(a, OnVolume, &listener);
    Bytes buffer(plan.readSize + kGuard);
    int r = qz_archive_open(a, path.c_str(), 0);
    Note(t, {'o', r});
    if (r < 0)
        NoteMessage(t, a);
    uint32_t reads = 0;
    bool freed = false;
    bool wentBack = false;
    for (int k = 0; r == QZ_ARCHIVE_OK && k < kMostEntries && !freed; ++k) {
        const qz_entry *entry = nullptr;
        r = qz_archive_next(a, &entry);
        WalkEvent next{'n', r};
        if (r == QZ_ARCHIVE_OK && entry != nullptr) {
            next.extra = entry->index;
            next.text = entry->name;
        }
        Note(t, next);
        if (r < 0)
            NoteMessage(t, a);
        if (r != QZ_ARCHIVE_OK || entry == nullptr)
            break;
        const uint64_t index = entry->index;
        t.entries.emplace_back();
        Bytes &bytes = t.entries.back();
        if (entry->encrypted && plan.wrongPassword != nullptr) {
            qz_archive_set_password(a, plan.wrongPassword);
            Read(a, t, buffer, plan.readSize, bytes);
            ++reads;
            qz_archive_set_password(a, password);
        }
        if (plan.extract) {
            r = qz_archive_extract(a, scratch.c_str());
            Note(t, {'x', r});
            if (r == QZ_ARCHIVE_OK) {
                bytes = ReadBytes(scratch);
            } else {
                NoteMessage(t, a);
                Note(t, {'f', Exists(scratch) ? 1 : 0});
            }
            std::error_code ec;
            fs::remove(scratch, ec);
            r = QZ_ARCHIVE_OK;
            continue;
        }
        for (uint32_t n = 0;;) {
            if (plan.switchThreads && n == 2)
                qz_archive_set_threads(a, 1);
            if (plan.switchThreads && n == 4)
                qz_archive_set_threads(a, threading.threads);
            const int64_t got = Read(a, t, buffer, plan.readSize, bytes);
            ++n;
            ++reads;
            if (got <= 0) {
                Read(a, t, buffer, plan.readSize, bytes);  // the verdict stays
                break;
            }
            if (plan.countMidway && n == 2) {
                const int64_t count = qz_archive_count(a);
                Note(t, {'k', count});
                if (count < 0)
                    NoteMessage(t, a);
            }
            if (plan.seekBack && !wentBack && n == 3 && index == 0) {
                wentBack = true;
                const int back = qz_archive_seek(a, 0);
                Note(t, {'b', back});
                if (back < 0)
                    NoteMessage(t, a);
                break;
            }
            if (plan.freeAfter != 0 && reads >= plan.freeAfter) {
                freed = true;
                break;
            }
            if (plan.readsPerEntry != 0 && n >= plan.readsPerEntry)
                break;
            if (bytes.size() >= plan.maxEntryBytes) {
                Note(t, {'e', int64_t(bytes.size())});
                break;
            }
        }
        if (plan.switchThreads)
            qz_archive_set_threads(a, threading.threads);
    }
    if (!freed)
        Note(t, {'c', qz_archive_close(a)});
    qz_archive_free(a);
    gParallelStretchBytes = 0;
    gParallelJudging = ParallelJudging::kJudgedAsBuilt;
    gParallelInputFails = false;
    Note(t, {'l', qzarc_test::LiveBlocks() - blocks, uint64_t(qzarc_test::LiveHandles() - files)});
    return t;
}

std::string TranscriptDifference(const Transcript &oneThread, const Transcript &other) {
    const std::vector<WalkEvent> &a = oneThread.events, &b = other.events;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] == b[i])
            continue;
        return "event " + std::to_string(i) + ": one thread: " + a[i].Describe() + "; here: " + b[i].Describe() +
               (i > 0 ? " (after " + a[i - 1].Describe() + ")" : "");
    }
    if (a.size() != b.size()) {
        const size_t i = a.size() < b.size() ? a.size() : b.size();
        return "one thread: " + std::to_string(a.size()) + " events, here " + std::to_string(b.size()) +
               "; the first unmatched: " + (a.size() > i ? a[i] : b[i]).Describe();
    }
    for (size_t k = 0; k < oneThread.entries.size() && k < other.entries.size(); ++k) {
        const Bytes &x = oneThread.entries[k], &y = other.entries[k];
        if (x == y)
            continue;
        size_t at = 0;
        while (at < x.size() && at < y.size() && x[at] == y[at])
            ++at;
        return "entry " + std::to_string(k) + ": the bytes differ from byte " + std::to_string(at) + " (one thread " +
               std::to_string(x.size()) + " bytes, here " + std::to_string(y.size()) + ")";
    }
    return "";
}

std::string Describe(const Threading &threading, const WalkPlan &plan) {
    std::string s = std::to_string(threading.threads) + " threads, stretch " + std::to_string(threading.stretch);
    s += plan.extract ? ", extracted" : ", reads of " + std::to_string(plan.readSize);
    if (plan.readsPerEntry != 0)
        s += ", " + std::to_string(plan.readsPerEntry) + " reads per entry";
    if (plan.switchThreads)
        s += ", one thread for reads 3 and 4";
    if (plan.wrongPassword != nullptr)
        s += ", a wrong password first";
    if (plan.freeAfter != 0)
        s += ", freed after " + std::to_string(plan.freeAfter) + " reads";
    if (plan.countMidway)
        s += ", counted midway";
    if (plan.seekBack)
        s += ", back to the first entry midway";
    return s;
}

std::string CompareThreadings(const std::string &path, const char *password, const WalkPlan &plan,
                              const std::vector<Threading> &threadings, const std::string &scratch) {
    const Transcript one = WalkTranscript(path, password, Threading{}, plan, scratch);
    for (const Threading &threading : threadings) {
        const std::string difference =
            TranscriptDifference(one, WalkTranscript(path, password, threading, plan, scratch));
        if (!difference.empty())
            return Describe(threading, plan) + ": " + difference;
    }
    return "";
}

// ---- the fuzz target's input ----

namespace {

constexpr size_t kReadSizes[8] = {1, 7, 64, 258, 4093, 32768, 65536, size_t{1} << 20};
constexpr uint32_t kStretches[16] = {0, 1, 2, 3, 5, 8, 13, 17, 31, 64, 100, 257, 300, 1000, 4096, 65536};
constexpr size_t kMostPlain = size_t{4} << 20;
constexpr const char *kWrongPassword = "not-the-password";

}  // namespace

// The entry is recorded with a size no stream reaches.
bool DecodeOnOneThread(const std::string &path, uint16_t method, const Bytes &stream, Bytes *plain) {
    qzw::Record record;
    record.name = "calibrate";
    record.method = method;
    record.payload = stream;
    record.uncompressedSize = 0xFFFFFFFFu;
    qzw::Archive archive;
    archive.records.push_back(record);
    if (!qzw::WriteFile(path, archive.Serialize()))
        return false;
    qz_archive *a = qz_archive_new();
    const qz_entry *entry = nullptr;
    bool whole = false;
    plain->clear();
    if (qz_archive_open(a, path.c_str(), 0) == QZ_ARCHIVE_OK && qz_archive_next(a, &entry) == QZ_ARCHIVE_OK) {
        Bytes buffer(size_t{1} << 20);
        for (;;) {
            const int64_t r = qz_archive_read(a, buffer.data(), buffer.size());
            if (r <= 0) {
                whole = true;
                break;
            }
            plain->insert(plain->end(), buffer.begin(), buffer.begin() + long(r));
            if (plain->size() > kMostPlain)
                break;
        }
    }
    qz_archive_free(a);
    return whole;
}

std::string RunParallelInput(const uint8_t *data, size_t size, const std::string &dir) {
    if (size < kParallelInputHeader)
        return "";
    const uint8_t control = data[0], threadByte = data[1], stretchByte = data[2], readByte = data[3];
    Bytes stream(data + kParallelInputHeader, data + size);
    uint16_t method = (control & 1u) != 0 ? 9 : 8;
    if ((control & 2u) != 0) {
        if (!qzw::HaveDeflate())
            return "";
        qzw::DeflateOptions options;
        const uint8_t choice = stream.empty() ? 0 : stream[0];
        options.level = choice % 10;
        options.strategy = (choice / 10) % 5;
        stream = qzw::DeflateRaw(stream, options);
        method = 8;
    }
    const std::string path = dir + "/parallel.qza";
    const std::string second = qzw::VolumeName(path, 1);
    std::error_code ec;
    fs::remove(second, ec);
    Bytes plain;
    if (!DecodeOnOneThread(path, method, stream, &plain))
        return "";

    const uint32_t p = readByte >> 3;
    const uint32_t kind = (control >> 2) & 7u;
    const bool encrypted = (control & 0x20u) != 0;
    qzw::Record record = CompressedRecord("entry.bin", plain, stream, method);
    const uint32_t payload = uint32_t(stream.size());
    switch (kind) {
    case 1: {
        const uint32_t cut = 1 + p * payload / 64;
        record.compressedSizeOverride = payload > cut ? payload - cut : 0;
        break;
    }
    case 2:
        record.compressedSizeOverride = payload + 1 + 37 * p;
        break;
    case 5:
        record.crc ^= 0x10000u;
        break;
    case 6: {
        const uint32_t cut = 1 + p * record.uncompressedSize / 64;
        record.uncompressedSize = record.uncompressedSize > cut ? record.uncompressedSize - cut : 0;
        break;
    }
    case 7:
        record.uncompressedSize += 1 + p;
        break;
    default:
        break;
    }
    if (encrypted)
        record = Encrypted(record, qzfuzz::kPassword);
    qzw::Archive archive;
    archive.records.push_back(record);
    archive.records.push_back(qzw::StoredRecord("after", MixedData(40, 5)));
    archive.records.push_back(qzw::HaveDeflate() ? qzw::DeflatedRecord("again", MixedData(3000, 6))
                                                 : qzw::StoredRecord("again", MixedData(300, 6)));
    if ((kind == 3 || kind == 4) && payload >= 2) {
        uint64_t into = uint64_t(p) * payload / 32;
        into = into < 1 ? 1 : into > payload - 1 ? payload - 1 : into;
        if (qzw::WriteArchiveVolumes(path, archive, {qzw::CutInPayload(archive, 0, into)}).empty())
            return "cannot write the volumes of " + path;
        if (kind == 4)
            fs::remove(second, ec);
    } else if (!qzw::WriteFile(path, archive.Serialize())) {
        return "cannot write " + path;
    }

    WalkPlan plan;
    plan.readSize = kReadSizes[readByte & 7u];
    plan.extract = (control & 0x40u) != 0;
    plan.readsPerEntry = (control & 0x80u) != 0 ? 3 : 0;
    plan.freeAfter = (threadByte & 0x40u) != 0 ? 5 : 0;
    plan.switchThreads = (threadByte & 0x80u) != 0;
    plan.countMidway = (threadByte & 0x08u) != 0;
    plan.seekBack = (threadByte & 0x10u) != 0;
    plan.wrongPassword = encrypted ? kWrongPassword : nullptr;
    plan.maxEntryBytes = size_t{8} << 20;
    Threading threading;
    threading.threads = 2 + (threadByte & 7);
    const uint32_t stretch = kStretches[stretchByte & 15u];
    threading.stretch = stretch == 0 ? 0 : stretch + (stretchByte >> 4);
    return CompareThreadings(path, qzfuzz::kPassword, plan, {threading}, dir + "/extracted.bin");
}

}  // namespace qzt
