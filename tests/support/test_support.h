// Shared helpers of the test programs: private temporary directories, file
// contents, generated data, and a recording host callback.
#ifndef QZARC_TEST_SUPPORT_H
#define QZARC_TEST_SUPPORT_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "qzarc.h"
#include "writer/writer.h"

namespace qzt {

namespace fs = std::filesystem;
using qzw::Bytes;

// A fresh directory, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const fs::path &path() const { return path_; }
    // path()/name as a narrow string, the form the library takes.
    std::string file(const std::string &name) const;

private:
    fs::path path_;
};

constexpr size_t kMiB = size_t{1} << 20;

// What Unpack puts into nameOut and crcOut before a call (see Call), so that
// a test sees whether the library wrote them.
inline const std::string kUntouched = "<untouched>";

// The CRC text the library writes into crcOut: eight upper-case hex digits.
std::string Hex8(uint32_t value);

// The record, encrypted under `password` when it is serialized. `header`
// gives the encryption header's first 11 bytes; the writer adds the check
// byte. One wrong password in 256 passes that check, and which ones do
// depends on the header: a test whose wrong passwords must be refused keeps
// the header it was checked with.
qzw::Record Encrypted(qzw::Record record, const std::string &password,
                      const Bytes &header = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});

// A record of `plain` (its CRC and size) whose payload is `stream`, a raw
// Deflate (method 8) or Deflate64 (method 9) stream.
qzw::Record CompressedRecord(const std::string &name, const Bytes &plain, const Bytes &stream,
                             uint16_t method = 8);

// A damaged Deflate entry whose data ends early: `size` bytes (at least 5)
// holding a non-final stored block that announces 65535 bytes, recorded as
// `declared` bytes of plain data. Past its data the inflater would decode
// the byte source's fillers as the block's contents.
qzw::Record CutShortRecord(const std::string &name, size_t size, uint32_t declared);

Bytes ReadBytes(const fs::path &path);
bool Exists(const fs::path &path);
// The names of the regular files in dir, sorted.
std::vector<std::string> ListFiles(const fs::path &dir);

// size bytes of a deterministic kind: 'r' random, 't' text, 'z' zeros.
Bytes MakeData(size_t size, char kind = 'r', uint32_t seed = 1);

// A record of one host notification.
struct Notification {
    int kind;
    int value;
    int a;
    int b;
    std::string text;
};

// Registers a callback with QZCallback that records every notification and
// answers with `respond` (default: 1 for kind 100, 0 otherwise). respond may
// rewrite the text buffer of a kind-100 request. Unregisters on destruction.
class HostRecorder {
public:
    using Responder = std::function<int(int kind, int value, char *text)>;
    explicit HostRecorder(Responder respond = nullptr);
    ~HostRecorder();
    HostRecorder(const HostRecorder &) = delete;
    HostRecorder &operator=(const HostRecorder &) = delete;

    std::vector<Notification> calls;
    std::vector<int> progressValues() const;
    std::vector<Notification> volumeRequests() const;

private:
    Responder respond_;
};

// One QZUnpack call with owned output buffers.
struct CallResult {
    int result;
    std::string name;  // nameOut after the call
    std::string crc;   // crcOut after the call
};

struct Call {
    std::string archive;
    std::string output;
    std::string password;
    uint32_t startOffset = 0;
    int flags = 0;
    std::string nameBefore = kUntouched;
    std::string crcBefore = kUntouched;
};

CallResult Unpack(const Call &call);

// Walks an archive in header-only walk mode, returning each result and name
// in turn, ending with the call that returned something other than 0 (or
// after maxCalls).
std::vector<CallResult> WalkHeaders(const std::string &archive, uint32_t startOffset = 0,
                                    int maxCalls = 100);

}  // namespace qzt

#endif  // QZARC_TEST_SUPPORT_H
