// Win32 ANSI string helpers for the POSIX platform layer.
#if !defined(_WIN32)

#include "platform/platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// wsprintfA never produces more than this many bytes, NUL included.
constexpr size_t kWsprintfLimit = 1024;

} // namespace

LPSTR lstrcpyA(LPSTR dest, LPCSTR src) {
    if (dest == nullptr || src == nullptr) {
        return nullptr;
    }
    return std::strcpy(dest, src);
}

LPSTR lstrcpynA(LPSTR dest, LPCSTR src, int size) {
    if (dest == nullptr || size <= 0) {
        return dest;
    }
    if (src == nullptr) {
        src = "";
    }
    // Copy at most size - 1 characters and always terminate.
    size_t room = static_cast<size_t>(size) - 1;
    size_t n = 0;
    while (n < room && src[n] != '\0') {
        dest[n] = src[n];
        ++n;
    }
    dest[n] = '\0';
    return dest;
}

int lstrlenA(LPCSTR s) {
    return s != nullptr ? static_cast<int>(std::strlen(s)) : 0;
}

int wsprintfA(LPSTR out, LPCSTR format, ...) {
    if (out == nullptr || format == nullptr) {
        return 0;
    }
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(out, kWsprintfLimit, format, args);
    va_end(args);
    if (n < 0) {
        out[0] = '\0';
        return 0;
    }
    // vsnprintf reports the untruncated length; report what was stored.
    if (static_cast<size_t>(n) >= kWsprintfLimit) {
        return static_cast<int>(kWsprintfLimit - 1);
    }
    return n;
}

#endif // !_WIN32
