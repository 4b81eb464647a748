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
    gInflate.flushStart += n;
    gInflate.outputTotal += n;
}

void SlideWindow() {
    InflateStream &st = gInflate;
    FlushWindow();
    // The area is at least as large as the history, so the last capacity
    // bytes and the front do not overlap.
    const uint32_t moved = st.windowLimit - st.windowCapacity;
    std::memcpy(st.window, st.window + moved, st.windowCapacity);
    st.windowPos -= moved;
    st.flushStart = st.windowPos;
    st.copyFrom -= moved;
}
