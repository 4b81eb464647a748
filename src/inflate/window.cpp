#include "inflate/window.h"

#include <cstring>

#include "crypto/crc32.h"

void FlushWindow() {
    const uint32_t n = gInflate.windowPos - gInflate.flushStart;
    if (n == 0)
        return;
    const uint8_t *from = gInflate.window + gInflate.flushStart;
    CrcUpdate(from, n);
    // One copy for the whole run: runs are long (up to a slice), and the
    // run-time library's copy is the fastest the processor offers.
    std::memcpy(gInflate.outCursor, from, n);
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
