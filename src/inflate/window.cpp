#include "inflate/window.h"

#include <cstring>

#include "crypto/crc32.h"

namespace {

// Long runs are copied in pieces of 4 KiB. Whole runs (up to a slice) take
// the run-time library's byte-wise string move, which is no faster here and
// which an instruction count under valgrind takes byte by byte, so that the
// benchmark's count would say little about the work done; a 4 KiB piece is
// one word-wise move. (Pieces of 128 bytes were a string move each on
// 32-bit processors, each with its start-up cost.)
constexpr uint32_t kCopyPiece = 4096;

void CopyRun(uint8_t *to, const uint8_t *from, uint32_t n) {
    for (; n > kCopyPiece; n -= kCopyPiece, to += kCopyPiece, from += kCopyPiece)
        std::memcpy(to, from, kCopyPiece);
    std::memcpy(to, from, n);
}

} // namespace

void FlushWindow(InflateStream &st) {
    const uint32_t n = st.windowPos - st.flushStart;
    if (n == 0)
        return;
    const uint8_t *from = st.window + st.flushStart;
    CrcUpdate(st.crc, from, n);
    CopyRun(st.outCursor, from, n);
    st.outCursor += n;
    st.flushStart += n;
    st.outputTotal += n;
}

void SlideWindow(InflateStream &st) {
    FlushWindow(st);
    // The area is at least as large as the history, so the last capacity
    // bytes and the front do not overlap.
    const uint32_t moved = st.windowLimit - st.windowCapacity;
    CopyRun(st.window, st.window + moved, st.windowCapacity);
    st.historyDirty = true;
    st.windowPos -= moved;
    st.flushStart = st.windowPos;
    st.copyFrom -= moved;
}

void AppendToWindow(InflateStream &st, const uint8_t *end, uint32_t n) {
    if (n == 0)
        return;
    const uint32_t capacity = st.windowCapacity;
    const uint32_t area = st.windowLimit - capacity;
    // Where the window would stand: it slides each time it reaches the
    // limit, back to the start of the area.
    const uint32_t from = st.windowPos - capacity;
    const uint32_t to = uint32_t((uint64_t(from) + n) % area);
    const uint32_t pos = capacity + to;
    if (n >= capacity) {
        std::memcpy(st.window + pos - capacity, end - capacity, capacity);
    } else {
        // The last capacity - n bytes of the old history stay history, in
        // front of the new bytes.
        if (uint64_t(from) + n >= area)
            std::memmove(st.window + pos - capacity, st.window + st.windowPos - (capacity - n), capacity - n);
        std::memcpy(st.window + pos - n, end - n, n);
    }
    st.historyDirty = true;
    st.windowPos = pos;
    st.flushStart = pos;
    st.outputTotal += n;
}
