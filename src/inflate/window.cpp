#include "window.h"

#include <cstring>

#include "crc32.h"

void FlushWindow() {
    const uint32_t n = gInflate.windowPos - gInflate.flushStart;
    if (n == 0)
        return;
    const uint8_t *from = gInflate.window + gInflate.flushStart;
    CrcUpdate(from, n);
    std::memcpy(gInflate.outCursor, from, n);
    gInflate.outCursor += n;
    // A whole 65536-byte window wraps flushStart to 0, where the wrap puts it anyway.
    gInflate.flushStart = uint16_t(gInflate.flushStart + n);
    gInflate.outputTotal += n;
}

void WrapWindow() {
    FlushWindow();
    gInflate.windowPos = 0;
    gInflate.flushStart = 0;
}
