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

void Out(const std::string &line) {
    WipeProgress();
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Err(const std::string &message) {
    WipeProgress();
    std::fflush(stdout);
    std::fputs("qzarc: ", stderr);
    std::fputs(message.c_str(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void Ask(const std::string &question) {
    WipeProgress();
    std::fflush(stdout);
    std::fputs(question.c_str(), stderr);
    std::fflush(stderr);
}

void SetProgressLine(ProgressLine *line) { gProgress = line; }

bool CopyToStandardOutput(const std::string &path, std::string *error) {
#if defined(_WIN32)
    // No line-end translation of the data.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::FILE *in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        *error = std::strerror(errno);
        return false;
    }
    char buffer[65536];
    size_t n;
    bool ok = true;
    while (ok && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        ok = std::fwrite(buffer, 1, n, stdout) == n;
    ok = ok && std::ferror(in) == 0 && std::fflush(stdout) == 0;
    if (!ok)
        *error = std::strerror(errno);
    std::fclose(in);
    return ok;
}

}  // namespace qzcli
