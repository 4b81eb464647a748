#include "archive_walker.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <zlib.h>

#include "fuzz_files.h"
#include "qzarc.h"
#include "platform/test_hooks.h"

namespace qzfuzz {
namespace {

constexpr size_t kNameBufferSize = 260;  // MAX_PATH: what the library may fill
constexpr size_t kCrcBufferSize = 9;     // eight hex digits and a terminator
constexpr size_t kSmallestRecord = 62;   // magic and fixed header
constexpr int kMaxVolumes = 8;  // fuzz inputs have up to 3; the fault tests use more

// What the callback saw that it should not have; reported by Walk.
std::string gCallbackFault;
// The tracer of the walk under way, if it is traced.
qztrace::WalkTracer *gTracer = nullptr;

int QZ_STDCALL CheckingCallback(int kind, int value, int a, int b, char *text) {
    if (a != 0 || b != 0)
        gCallbackFault = "callback: reserved arguments not zero";
    if (text == nullptr) {
        gCallbackFault = "callback: null text";
        return 0;
    }
    if (gTracer != nullptr)
        gTracer->Note(kind, value, text);
    if (kind == QZ_NOTIFY_VOLUME) {
        if (value < 1 || value > 999)
            gCallbackFault = "callback: volume number " + std::to_string(value);
        if (memchr(text, '\0', kNameBufferSize) == nullptr)
            gCallbackFault = "callback: volume name not terminated";
        return QZ_STOP_WAITING;  // never wait: the file is there or it is not
    }
    if (kind == QZ_NOTIFY_PROGRESS) {
        if (value < 0 || value > 100)
            gCallbackFault = "callback: progress " + std::to_string(value);
        if (text[0] != '\0')
            gCallbackFault = "callback: progress text not empty";
        return 0;
    }
    gCallbackFault = "callback: unknown kind " + std::to_string(kind);
    return 0;
}

bool FileExists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// CRC-32 of a file's contents; false when it cannot be read.
bool FileCrc(const std::string &path, uint32_t &crc) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    uLong value = crc32(0L, Z_NULL, 0);
    std::vector<uint8_t> buffer(1 << 16);
    for (;;) {
        ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        value = crc32(value, buffer.data(), static_cast<uInt>(n));
    }
    close(fd);
    crc = static_cast<uint32_t>(value);
    return true;
}

constexpr int kOpenNoMemory = QZ_ERR_OPEN_ARCHIVE - 8;  // ERROR_NOT_ENOUGH_MEMORY

bool ResultAllowed(int result, bool headerOnly, bool opening, const WalkOptions &options) {
    if (options.injectedFailures && opening && result == kOpenNoMemory)
        return true;
    if (options.injectedFailures && !headerOnly && result == QZ_ERR_INFLATE_START)
        return true;
    if (options.writeFailures && !headerOnly && result == QZ_ERR_WRITE)
        return true;
    switch (result) {
    case QZ_OK:
    case QZ_END_OF_ARCHIVE:
    case QZ_BAD_RECORD:
        return true;
    case QZ_ERR_TRUNCATED:
    case QZ_ERR_SIZE:
    case QZ_ERR_CRC:
    case QZ_ERR_VOLUME:
    case QZ_ERR_PASSWORD:
        return !headerOnly;
    default:
        // 1, 3, 5 and 10 never leave the inflater; 4 and the negative
        // results need a failing disk, heap or path, which a walk over
        // intact files in a private directory does not have.
        return false;
    }
}

std::string Describe(int call, int flags, int result) {
    return "call " + std::to_string(call) + " (flags " + std::to_string(flags) + ") returned " +
           std::to_string(result);
}

}  // namespace

std::string ArchiveWalker::volumePath(int k) const {
    if (k == 0)
        return archive_;
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%03d", k);
    return archive_.substr(0, archive_.size() - 3) + suffix;
}

ArchiveWalker::ArchiveWalker(std::string dir)
    : dir_(std::move(dir)), archive_(dir_ + "/walk.qza"), output_(dir_ + "/entry.out") {}

ArchiveWalker::~ArchiveWalker() {
    for (int k = 0; k < kMaxVolumes; ++k)
        unlink(volumePath(k).c_str());
    unlink(output_.c_str());
}

std::string ArchiveWalker::Walk(const uint8_t *data, size_t size, const WalkOptions &options) {
    return Walk(ParseArchiveInput(data, size), options);
}

std::string ArchiveWalker::Walk(const ArchiveInput &input, const WalkOptions &options) {
    log_.clear();
    size_t total = 0;
    if (input.volumes.size() > static_cast<size_t>(kMaxVolumes))
        return "more than " + std::to_string(kMaxVolumes) + " volumes";
    for (int k = 0; k < kMaxVolumes; ++k) {
        const std::string path = volumePath(k);
        if (static_cast<size_t>(k) < input.volumes.size()) {
            if (!WriteWhole(path, input.volumes[k]))
                return "cannot write " + path;
            total += input.volumes[k].size();
        } else {
            unlink(path.c_str());
        }
    }
    unlink(output_.c_str());

    // The same walk is closed first, in case an earlier input left it open
    // after a failed check.
    QZUnpack(nullptr, nullptr, nullptr, nullptr, 0, nullptr, QZ_CLOSE_NOW);
    qztrace::SetExactPathsOnly(options.exactPathsOnly);
    std::unique_ptr<qztrace::WalkTracer> tracer;
    if (options.trace != nullptr)
        tracer = std::make_unique<qztrace::WalkTracer>(*options.trace);
    gTracer = tracer.get();
    const long blocks = qzarc_test::LiveBlocks();
    const long handles = qzarc_test::LiveHandles();
    gCallbackFault.clear();
    QZCallback(CheckingCallback);

    std::unique_ptr<char[]> name(new char[kNameBufferSize]);
    std::unique_ptr<char[]> crc(new char[kCrcBufferSize]);
    const int maxCalls = static_cast<int>(total / kSmallestRecord) + 3;
    bool headerOnly = options.mode == WalkMode::kAlternate ? input.firstHeaderOnly
                                                           : options.mode == WalkMode::kHeaderOnlyAll;
    bool ended = false;
    std::string fault;

    for (int i = 0; i < maxCalls && fault.empty(); ++i) {
        if (i > 0 && options.mode == WalkMode::kAlternate)
            headerOnly = !headerOnly;
        if (options.beforeCall)
            options.beforeCall(i);
        const int flags = (i == 0 ? QZ_KEEP_OPEN : 0) | (headerOnly ? QZ_HEADER_ONLY : 0);
        std::memcpy(name.get(), "<unset>", 8);
        std::memcpy(crc.get(), "<unset>", 8);
        if (tracer)
            tracer->BeginCall(flags);
        const int result =
            QZUnpack(archive_.c_str(), output_.c_str(), name.get(), kPassword, 0, crc.get(), flags);
        if (tracer)
            tracer->EndCall(result, name.get(), kNameBufferSize, crc.get(), kCrcBufferSize, output_);
        const std::string what = Describe(i, flags, result);
        log_.push_back({flags, result, memchr(name.get(), '\0', kNameBufferSize) != nullptr
                                           ? std::string(name.get())
                                           : std::string()});

        if (!gCallbackFault.empty()) {
            fault = what + ": " + gCallbackFault;
            break;
        }
        if (!ResultAllowed(result, headerOnly, i == 0, options)) {
            fault = what + ": not a result of this mode";
            break;
        }
        if (memchr(name.get(), '\0', kNameBufferSize) == nullptr) {
            fault = what + ": name not terminated within 260 bytes";
            break;
        }
        const bool exists = FileExists(output_);
        if (headerOnly || result != QZ_OK) {
            if (exists) {
                fault = what + ": output file left behind";
                break;
            }
            if (headerOnly && result == QZ_OK && crc[0] != '\0') {
                fault = what + ": header-only call left CRC text";
                break;
            }
            // A failed entry leaves crcOut as it was; only a compressed
            // entry that passed its end check before a volume went missing
            // (12) may have written it.
            if (!headerOnly && result != QZ_ERR_VOLUME && std::strcmp(crc.get(), "<unset>") != 0) {
                fault = what + ": a failed call wrote the CRC text";
                break;
            }
        } else {
            uint32_t fileCrc = 0;
            char *end = nullptr;
            const unsigned long reported = std::strtoul(crc.get(), &end, 16);
            if (!exists) {
                fault = what + ": no output file";
            } else if (end != crc.get() + 8 || *end != '\0') {
                fault = what + ": CRC text is not eight hex digits";
            } else if (!FileCrc(output_, fileCrc) || fileCrc != reported) {
                fault = what + ": output file's CRC differs from the reported one";
            }
            unlink(output_.c_str());
            if (!fault.empty())
                break;
        }
        // An opening call that fails leaves no walk to continue.
        if (result == QZ_END_OF_ARCHIVE || result == QZ_BAD_RECORD ||
            (i == 0 && result == kOpenNoMemory)) {
            ended = true;
            if (qzarc_test::LiveBlocks() != blocks || qzarc_test::LiveHandles() != handles)
                fault = what + ": the walk ended but kept heap blocks or handles";
            break;
        }
    }
    if (fault.empty() && !ended)
        fault = "the walk did not end within " + std::to_string(maxCalls) + " calls";

    const int closed = QZUnpack(archive_.c_str(), output_.c_str(), name.get(), kPassword, 0,
                                crc.get(), QZ_CLOSE_NOW);
    QZCallback(nullptr);
    gTracer = nullptr;
    qztrace::SetExactPathsOnly(false);
    if (fault.empty() && closed != QZ_CLOSE_NOW)
        fault = "close-now returned " + std::to_string(closed);
    if (fault.empty() && qzarc_test::LiveBlocks() != blocks)
        fault = "heap blocks left after close-now: " + std::to_string(qzarc_test::LiveBlocks() - blocks);
    if (fault.empty() && qzarc_test::LiveHandles() != handles)
        fault = "handles left after close-now: " + std::to_string(qzarc_test::LiveHandles() - handles);
    if (fault.empty() && FileExists(output_))
        fault = "output file left after close-now";
    unlink(output_.c_str());
    return fault;
}

std::string ArchiveWalker::WalkBothWays(const uint8_t *data, size_t size, const WalkOptions &options) {
    return WalkBothWays(ParseArchiveInput(data, size), options);
}

std::string ArchiveWalker::WalkBothWays(const ArchiveInput &input, const WalkOptions &options) {
    qztrace::WalkTrace exact;
    qztrace::WalkTrace fast;
    WalkOptions way = options;
    way.exactPathsOnly = true;
    way.trace = &exact;
    std::string fault = Walk(input, way);
    if (!fault.empty())
        return "exact paths: " + fault;
    way.exactPathsOnly = false;
    way.trace = &fast;
    fault = Walk(input, way);
    if (!fault.empty())
        return "fast paths: " + fault;
    const std::string difference = qztrace::Difference(exact, fast);
    return difference.empty() ? "" : "fast and exact paths differ: " + difference;
}

}  // namespace qzfuzz
