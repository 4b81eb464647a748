#include "handle_walk.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "test_support.h"

namespace qzt {
namespace {

// Bytes past the buffer the reads are given, which they must leave alone.
constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

std::string Where(size_t index, const std::string &what) {
    return "entry " + std::to_string(index) + ": " + what;
}

std::string Printable(const std::string &name) {
    std::string out;
    for (char c : name.substr(0, 60))
        out += (c >= 32 && c < 127) ? c : '?';
    return out;
}

// The name a legacy call hands out for a recorded name: at most 259 bytes,
// up to the first NUL; an empty name leaves the host's buffer as it was.
std::string LegacyName(const std::string &raw) {
    if (raw.empty())
        return kUntouched;
    const std::string kept = raw.substr(0, 259);
    return kept.substr(0, kept.find('\0'));
}

bool IsPrefix(const Bytes &a, const Bytes &b) {
    return a.size() <= b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// Reads the current entry as the plan says; returns the fault, "" when none.
std::string ReadEntry(qz_archive *a, const qz_entry &entry, const HandleWalkOptions &options,
                      Bytes &buffer, HandleEntry &out) {
    if (options.plan == ReadPlan::kNextOnly)
        return "";
    for (;;) {
        std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(options.readSize), buffer.end(), kGuardByte);
        const int64_t r = qz_archive_read(a, buffer.data(), options.readSize);
        for (size_t i = options.readSize; i < buffer.size(); ++i)
            if (buffer[i] != kGuardByte)
                return "a read wrote past the size it was given";
        if (r > static_cast<int64_t>(options.readSize))
            return "a read of " + std::to_string(options.readSize) + " returned " + std::to_string(r);
        if (r > 0) {
            out.bytes.insert(out.bytes.end(), buffer.begin(), buffer.begin() + r);
            if (out.bytes.size() > options.maxEntryBytes) {
                if (!options.overLimitIsFault)
                    return "";
                return "more than " + std::to_string(options.maxEntryBytes) + " bytes handed out";
            }
            if (options.plan == ReadPlan::kPeek)
                return "";
            continue;
        }
        out.verdict = r;
        break;
    }
    if (out.verdict == 0) {
        // A stored entry is its data as it stands, whatever size the record
        // gives for it uncompressed (as the legacy extraction has it).
        const uint64_t size = entry.method == 0 ? entry.compressed_size : entry.uncompressed_size;
        if (out.bytes.size() != size)
            return "verified with " + std::to_string(out.bytes.size()) + " bytes, recorded " + std::to_string(size);
        if (qzw::Crc32(out.bytes) != entry.crc32)
            return "verified bytes do not have the recorded CRC-32";
    } else if (qz_archive_error(a) == nullptr || qz_archive_error(a)[0] == '\0') {
        return "failure " + std::to_string(out.verdict) + " left no message";
    }
    // The verdict stays: a verified entry gives 0 again, a failed one its failure.
    const int64_t again = qz_archive_read(a, buffer.data(), options.readSize);
    if (again != out.verdict)
        return "a read after the verdict " + std::to_string(out.verdict) + " returned " + std::to_string(again);
    return "";
}

// The handle walk's entries from `from` on against a legacy header-only
// walk: the same names and the same end. A header-only call that cannot skip
// its record's data fails with 99 itself, where the handle lists the entry
// and fails to reach the next one.
std::string CompareWithHeaderWalk(const std::vector<LegacyCall> &headers, const HandleWalk &handle, size_t from) {
    for (size_t j = from; j < headers.size(); ++j) {
        const std::string at = "entry " + std::to_string(j) + " (legacy header walk " +
                               std::to_string(headers[j].result) + "): ";
        const bool haveEntry = j < handle.entries.size();
        switch (headers[j].result) {
        case QZ_OK:
            if (!haveEntry || LegacyName(handle.entries[j].rawName) != headers[j].name)
                return at + "the handle walk does not list it";
            break;
        case QZ_END_OF_ARCHIVE:
            if (haveEntry || handle.end != QZ_ARCHIVE_END)
                return at + "the handle walk does not end there";
            return "";
        default:
            if (handle.entries.size() > j + 1 || handle.end >= 0)
                return at + "the handle walk goes on";
            return "";
        }
    }
    return "";
}

}  // namespace

int64_t HandleVerdict(int legacy, unsigned method) {
    switch (legacy) {
    case QZ_OK:
        return 0;
    case QZ_ERR_CRC:
        return QZ_E_CRC;
    case QZ_ERR_SIZE:
        return QZ_E_SIZE;
    case QZ_ERR_TRUNCATED:
        return method == 0 || method == 8 || method == 9 ? QZ_E_DATA : QZ_E_METHOD;
    case QZ_ERR_VOLUME:
        return QZ_E_VOLUME;
    case QZ_ERR_PASSWORD:
        return QZ_E_PASSWORD;
    case QZ_ERR_INFLATE_START:
        return QZ_E_NOMEM;
    case QZ_BAD_RECORD:
        return QZ_E_RECORD;
    default:
        return 1;  // no counterpart
    }
}

HandleWalk WalkWithHandle(qz_archive *a, const std::string &path, const HandleWalkOptions &options) {
    HandleWalk walk;
    if (a == nullptr) {
        walk.fault = "no handle";
        return walk;
    }
    Bytes buffer(options.readSize + kGuard);
    qz_archive_set_password(a, options.password);
    const int opened = qz_archive_open(a, path.c_str(), options.startOffset);
    if (opened != QZ_ARCHIVE_OK) {
        walk.end = opened;
        if (opened >= 0)
            walk.fault = "open returned " + std::to_string(opened);
        return walk;
    }
    for (;;) {
        const qz_entry *entry = nullptr;
        const int next = qz_archive_next(a, &entry);
        if (next != QZ_ARCHIVE_OK) {
            walk.end = next;
            if (next != QZ_ARCHIVE_END && next >= 0)
                walk.fault = "next returned " + std::to_string(next);
            break;
        }
        const size_t index = walk.entries.size();
        if (entry == nullptr || qz_archive_entry(a) != entry || entry->name == nullptr ||
            (entry->raw_name == nullptr && entry->raw_name_length != 0)) {
            walk.fault = Where(index, "next gave no usable entry");
            break;
        }
        if (entry->index != index) {
            walk.fault = Where(index, "next gave index " + std::to_string(entry->index));
            break;
        }
        HandleEntry out;
        out.rawName.assign(reinterpret_cast<const char *>(entry->raw_name), entry->raw_name_length);
        out.method = entry->method;
        out.crc = entry->crc32;
        out.size = entry->uncompressed_size;
        const std::string fault = ReadEntry(a, *entry, options, buffer, out);
        walk.entries.push_back(std::move(out));
        if (!fault.empty()) {
            walk.fault = Where(index, fault);
            break;
        }
        if (walk.entries.size() >= options.maxEntries) {
            walk.fault = "more than " + std::to_string(options.maxEntries) + " entries";
            break;
        }
    }
    qz_archive_close(a);
    return walk;
}

HandleWalk WalkWithHandle(const std::string &path, const HandleWalkOptions &options) {
    Handle a;
    return WalkWithHandle(a, path, options);
}

LegacyWalk WalkWithLegacy(const std::string &path, uint32_t startOffset, const std::string &password,
                          const std::string &output, int maxCalls) {
    LegacyWalk walk;
    {
        std::ifstream in(path, std::ios::binary);
        in.seekg(0, std::ios::end);
        const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
        uint8_t magic[4] = {0, 0, 0, 0};
        in.seekg(startOffset);
        in.read(reinterpret_cast<char *>(magic), 4);
        walk.nothingAtStart = size == static_cast<std::streamoff>(startOffset);
        const uint32_t found = uint32_t{magic[0]} | uint32_t{magic[1]} << 8 | uint32_t{magic[2]} << 16 |
                               uint32_t{magic[3]} << 24;
        if (!in || found != qzw::kRecordMagic)
            return walk;
    }
    walk.walked = true;
    for (int i = 0; i < maxCalls; ++i) {
        Call call;
        call.archive = path;
        call.output = output;
        call.password = password;
        call.startOffset = startOffset;
        call.flags = i == 0 ? QZ_KEEP_OPEN : 0;
        const CallResult r = Unpack(call);
        LegacyCall out{r.result, r.name, {}};
        if (r.result == QZ_OK)
            out.bytes = ReadBytes(output);
        walk.calls.push_back(std::move(out));
        // The entry's attributes may have made the file read-only.
        std::error_code ec;
        fs::permissions(output, fs::perms::owner_write, fs::perm_options::add, ec);
        fs::remove(output, ec);
        if (r.result == QZ_END_OF_ARCHIVE || r.result == QZ_BAD_RECORD || r.result < -1)
            break;
    }
    Call close;
    close.flags = QZ_CLOSE_NOW;
    Unpack(close);
    for (const CallResult &r : WalkHeaders(path, startOffset, maxCalls))
        walk.headers.push_back({r.result, r.name, {}});
    Unpack(close);
    return walk;
}

std::string CompareWithLegacy(const LegacyWalk &legacy, const HandleWalk &handle, bool writeFailures) {
    if (!handle.fault.empty()) {
        // The walk stopped at the entry it found broken: the entries before
        // it are compared first.
        HandleWalk before = handle;
        before.fault.clear();
        before.entries.pop_back();
        before.end = QZ_E_STATE;  // matches nothing the legacy walk gives
        LegacyWalk upTo = legacy;
        if (upTo.calls.size() > before.entries.size())
            upTo.calls.resize(before.entries.size());
        const std::string difference = CompareWithLegacy(upTo, before, writeFailures);
        return difference.empty() ? "handle walk: " + handle.fault : difference;
    }
    if (!legacy.walked) {
        const int64_t expected = legacy.nothingAtStart ? QZ_ARCHIVE_END : QZ_E_RECORD;
        if (!handle.entries.empty() || handle.end != expected)
            return "no record at the start: expected " + std::to_string(expected) + " before any entry, got " +
                   std::to_string(handle.entries.size()) + " entries and " + std::to_string(handle.end);
        return "";
    }
    for (size_t i = 0; i < legacy.calls.size(); ++i) {
        const LegacyCall &call = legacy.calls[i];
        const bool haveEntry = i < handle.entries.size();
        const std::string at = "entry " + std::to_string(i) + " (legacy " + std::to_string(call.result) +
                               (call.result == QZ_OK || call.name != kUntouched ? ", '" + Printable(call.name) + "'" : "") + "): ";
        if (call.result == QZ_END_OF_ARCHIVE) {
            if (haveEntry || handle.end != QZ_ARCHIVE_END)
                return at + "the handle walk has " + std::to_string(handle.entries.size()) + " entries, ending with " +
                       std::to_string(handle.end);
            return "";
        }
        if (call.result == QZ_BAD_RECORD) {
            // No record where this one should start (next fails; with
            // QZ_E_VOLUME when the data before it runs on into a volume that
            // is not there), its encryption header cannot be read (the read
            // fails), or a refused entry's data cannot be skipped (the read
            // is refused, and the next record cannot be reached).
            if (!haveEntry && (handle.end == QZ_E_RECORD || handle.end == QZ_E_VOLUME))
                return "";
            if (haveEntry && handle.entries.size() == i + 1 &&
                (handle.entries[i].verdict == QZ_E_RECORD ||
                 (handle.entries[i].verdict == QZ_E_PASSWORD && handle.end < 0)))
                return "";
            // The extraction walk loses the record chain after an entry whose
            // data it did not read through (a method it does not know); the
            // header-only walk keeps it, and from here the handle walk must
            // list what that one lists.
            if (i < legacy.headers.size() && legacy.headers[i].result != QZ_BAD_RECORD)
                return CompareWithHeaderWalk(legacy.headers, handle, i);
            return at + "the handle walk has " + std::to_string(handle.entries.size()) + " entries" +
                   (haveEntry ? ", this one's verdict " + std::to_string(handle.entries[i].verdict) : "") +
                   ", ending with " + std::to_string(handle.end);
        }
        if (call.result <= QZ_ERR_OPEN_ARCHIVE) {
            if (i != 0 || handle.end != QZ_E_VOLUME || !handle.entries.empty())
                return at + "the handle walk did not fail to open with QZ_E_VOLUME";
            return "";
        }
        if (!haveEntry)
            return at + "the handle walk ended before it with " + std::to_string(handle.end);
        const HandleEntry &entry = handle.entries[i];
        if (LegacyName(entry.rawName) != call.name)
            return at + "the handle walk names it '" + Printable(entry.rawName) + "'";
        if ((writeFailures && call.result == QZ_ERR_WRITE) || entry.verdict == 1)
            continue;
        const int64_t expected = HandleVerdict(call.result, entry.method);
        if (entry.verdict != expected)
            return at + "expected verdict " + std::to_string(expected) + ", got " + std::to_string(entry.verdict) +
                   " after " + std::to_string(entry.bytes.size()) + " bytes";
        if (call.result == QZ_OK && entry.bytes != call.bytes)
            return at + "the bytes differ from the extracted file";
    }
    // The legacy walk stopped after maxCalls: so far they agree.
    return "";
}

std::string CompareHandleWalks(const HandleWalk &reference, const HandleWalk &other) {
    if (!reference.fault.empty())
        return "reference walk: " + reference.fault;
    if (!other.fault.empty())
        return other.fault;
    if (reference.entries.size() != other.entries.size() || reference.end != other.end)
        return std::to_string(other.entries.size()) + " entries ending with " + std::to_string(other.end) +
               ", the reference walk " + std::to_string(reference.entries.size()) + " ending with " +
               std::to_string(reference.end);
    for (size_t i = 0; i < reference.entries.size(); ++i) {
        const HandleEntry &r = reference.entries[i];
        const HandleEntry &o = other.entries[i];
        if (r.rawName != o.rawName)
            return Where(i, "named '" + Printable(o.rawName) + "', in the reference walk '" + Printable(r.rawName) + "'");
        const bool bothWhole = r.verdict != 1 && o.verdict != 1;
        if (bothWhole && r.verdict != o.verdict)
            return Where(i, "verdict " + std::to_string(o.verdict) + ", in the reference walk " +
                                std::to_string(r.verdict));
        const bool differ = (bothWhole && r.verdict == 0) ? r.bytes != o.bytes
                                                          : !IsPrefix(o.bytes, r.bytes) && !IsPrefix(r.bytes, o.bytes);
        if (differ)
            return Where(i, "the bytes differ from the reference walk's (" + std::to_string(o.bytes.size()) + " and " +
                                std::to_string(r.bytes.size()) + " bytes)");
    }
    return "";
}

}  // namespace qzt
