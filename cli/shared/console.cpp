#include "console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "progress.h"

namespace qzcli {
namespace {

ProgressLine *gProgress = nullptr;
std::recursive_mutex gConsole;

void WipeProgress() {
    if (gProgress != nullptr)
        gProgress->Clear();
}

}  // namespace

std::string Printable(const std::string &text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

ConsoleLock::ConsoleLock() { gConsole.lock(); }

ConsoleLock::~ConsoleLock() { gConsole.unlock(); }

void Out(const std::string &line) {
    ConsoleLock lock;
    WipeProgress();
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Err(const std::string &message) {
    ConsoleLock lock;
    WipeProgress();
    std::fflush(stdout);
    std::fputs("qzarc: ", stderr);
    std::fputs(message.c_str(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void Ask(const std::string &question) {
    ConsoleLock lock;
    WipeProgress();
    std::fflush(stdout);
    std::fputs(question.c_str(), stderr);
    std::fflush(stderr);
}

void SetProgressLine(ProgressLine *line) {
    ConsoleLock lock;
    gProgress = line;
}

bool WriteToStandardOutput(const void *data, size_t size, std::string *error) {
#if defined(_WIN32)
    // No line-end translation of the data.
    static const bool binary = _setmode(_fileno(stdout), _O_BINARY) != -1;
    (void)binary;
#endif
    if (std::fwrite(data, 1, size, stdout) != size || std::fflush(stdout) != 0) {
        *error = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace qzcli
