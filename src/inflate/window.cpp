#include "inflate/window.h"

#include <cstring>

#include "crypto/crc32.h"

void FlushWindow() {
    const uint32_t n = gInflate.windowPos - gInflate.flushStart;
    if (n == 0)
        return;
    const uint8_t *from = gInflate.window + gInflate.flushStart;
    CrcUpdate(from, n);
    // Runs of window bytes are copied 128 at a time: they are long (up to a
    // window's worth) and the copy is the one cost every output byte has.
    uint8_t *to = gInflate.outCursor;
    uint32_t i = 0;
    for (; i + 128 <= n; i += 128)
        std::memcpy(to + i, from + i, 128);
    std::memcpy(to + i, from + i, n - i);
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
