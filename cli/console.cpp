#include "console.h"

#include <cstdio>

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

}  // namespace qzcli
