// The fuzz builds' MessageBoxA: the POSIX platform layer prints the text of
// the damaged-record boxes ("#1", "#2") to stderr, which for damaged inputs
// by the million would drown libFuzzer's own reports. This one only counts.
#include "platform/platform.h"

namespace qzfuzz {
unsigned long gMessageBoxes = 0;
}

int MessageBoxA(HWND, LPCSTR, LPCSTR, UINT) {
    ++qzfuzz::gMessageBoxes;
    return IDOK;
}
