// MessageBoxA for the POSIX platform layer: there is no desktop to show a
// box on, so the text goes to stderr and the "user" always answers OK.
#if !defined(_WIN32)

#include "platform/platform.h"

#include <cstdio>

int MessageBoxA(HWND /*owner*/, LPCSTR text, LPCSTR /*caption*/, UINT /*type*/) {
    std::fputs(text != nullptr ? text : "", stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    return IDOK;
}

#endif // !_WIN32
