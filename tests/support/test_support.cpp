#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

namespace qzt {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::random_device rd;
    for (;;) {
        path_ = fs::temp_directory_path() /
                ("qzarc-test-" + std::to_string(stamp) + "-" + std::to_string(rd()) + "-" +
                 std::to_string(counter++));
        if (fs::create_directory(path_))
            break;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only files are removable on POSIX, but not on Windows.
    for (auto &entry : fs::recursive_directory_iterator(path_, ec))
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string &name) const { return (path_ / name).string(); }

std::string Hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

qzw::Record Encrypted(qzw::Record record, const std::string &password, const Bytes &header) {
    record.flags |= 1u;
    record.password = password;
    record.encryptionHeader = header;
    return record;
}

qzw::Record CompressedRecord(const std::string &name, const Bytes &plain, const Bytes &stream,
                             uint16_t method) {
    qzw::Record record = qzw::StoredRecord(name, plain);
    record.method = method;
    record.payload = stream;
    return record;
}

qzw::Record CutShortRecord(const std::string &name, size_t size, uint32_t declared) {
    Bytes stream = {0x00, 0xFF, 0xFF, 0x00, 0x00};  // BFINAL 0, BTYPE 0; LEN 65535, NLEN 0
    const Bytes data = MakeData(size - stream.size(), 'r', 7);
    stream.insert(stream.end(), data.begin(), data.end());
    qzw::Record record = CompressedRecord(name, {}, stream);
    record.uncompressedSize = declared;
    record.crc = 0x12345678u;
    return record;
}

Bytes ReadBytes(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const fs::path &path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

std::vector<std::string> ListFiles(const fs::path &dir) {
    std::vector<std::string> names;
    for (auto &entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes MakeData(size_t size, char kind, uint32_t seed) {
    Bytes out(size);
    std::mt19937 rng(seed);
    static const char *const words[] = {"archive ", "volume ", "entry ", "record ", "the ",
                                        "data ", "of ", "and ", "name\n", "0123 "};
    size_t i = 0;
    while (i < size) {
        switch (kind) {
        case 'z':
            out[i++] = 0;
            break;
        case 't': {
            const char *w = words[rng() % 10];
            for (size_t k = 0; w[k] != '\0' && i < size; ++k)
                out[i++] = static_cast<uint8_t>(w[k]);
            break;
        }
        default:
            out[i++] = static_cast<uint8_t>(rng());
            break;
        }
    }
    return out;
}

namespace {

HostRecorder *gRecorder = nullptr;

int QZ_STDCALL RecordingCallback(int kind, int value, int a, int b, char *text) {
    if (gRecorder == nullptr)
        return 0;
    gRecorder->calls.push_back({kind, value, a, b, text != nullptr ? text : ""});
    return 0;  // replaced below by the responder's answer
}

HostRecorder::Responder gResponder;

int QZ_STDCALL DispatchingCallback(int kind, int value, int a, int b, char *text) {
    RecordingCallback(kind, value, a, b, text);
    if (gResponder)
        return gResponder(kind, value, text);
    return kind == QZ_NOTIFY_VOLUME ? QZ_STOP_WAITING : 0;
}

}  // namespace

HostRecorder::HostRecorder(Responder respond) : respond_(std::move(respond)) {
    gRecorder = this;
    gResponder = respond_;
    QZCallback(DispatchingCallback);
}

HostRecorder::~HostRecorder() {
    QZCallback(nullptr);
    gRecorder = nullptr;
    gResponder = nullptr;
}

std::vector<int> HostRecorder::progressValues() const {
    std::vector<int> values;
    for (const auto &c : calls)
        if (c.kind == QZ_NOTIFY_PROGRESS)
            values.push_back(c.value);
    return values;
}

std::vector<Notification> HostRecorder::volumeRequests() const {
    std::vector<Notification> out;
    for (const auto &c : calls)
        if (c.kind == QZ_NOTIFY_VOLUME)
            out.push_back(c);
    return out;
}

CallResult Unpack(const Call &call) {
    char name[1024];
    char crc[64];
    std::memset(name, 0, sizeof name);
    std::memset(crc, 0, sizeof crc);
    std::strncpy(name, call.nameBefore.c_str(), sizeof name - 1);
    std::strncpy(crc, call.crcBefore.c_str(), sizeof crc - 1);
    int result = QZUnpack(call.archive.c_str(), call.output.c_str(), name, call.password.c_str(),
                          call.startOffset, crc, call.flags);
    return {result, name, crc};
}

std::vector<CallResult> WalkHeaders(const std::string &archive, uint32_t startOffset, int maxCalls) {
    std::vector<CallResult> results;
    for (int i = 0; i < maxCalls; ++i) {
        Call call;
        call.archive = archive;
        call.startOffset = startOffset;
        call.flags = QZ_HEADER_ONLY | (i == 0 ? QZ_KEEP_OPEN : 0);
        results.push_back(Unpack(call));
        if (results.back().result != 0)
            break;
    }
    return results;
}

}  // namespace qzt
