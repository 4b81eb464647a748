// The sliding window: the inflater's only output staging. Every produced
// byte is stored at windowPos; bytes from flushStart up to windowPos are the
// current call's, not yet delivered. Output reaches the caller only through
// FlushWindow, as whole runs with one CRC update each: when the window
// slides and once at the end of each decoder call.
//
// The window is linear, never circular. Its block holds windowCapacity
// bytes of history, then an area four times as large, then slack:
//
//   [0, capacity)       history: the stream's last bytes (zeros before the
//                       first ones, as the block starts zeroed)
//   [capacity, limit)   the area; windowPos starts at capacity and runs up
//   [limit, +slack)     scratch that word copies may overwrite
//
// The capacity bytes before windowPos are always the last ones produced, so
// the source of every match (at most capacity bytes back) is the plain run
// that starts distance bytes before windowPos: no source ever wraps, and
// the bytes past windowPos are nobody's history, free for copies that write
// whole words past a match's end. When windowPos reaches the limit, the
// area is delivered and its last capacity bytes move to the front.
#ifndef QZARC_WINDOW_H
#define QZARC_WINDOW_H

#include <cstdint>
#include <cstring>

#include "inflate/inflate_state.h"

// Delivers the window bytes produced since the last flush to outCursor,
// through the CRC register.
void FlushWindow(InflateStream &st);

// After windowPos has reached windowLimit: flushes, moves the history to
// the front and windowPos (and copyFrom, the source of a match in
// progress) with it.
void SlideWindow(InflateStream &st);

// Moves the stream on over n bytes produced elsewhere, as if it had
// produced and delivered them itself: they become the end of its history
// and are counted (outputTotal), and the window stands where its own
// decoding would have left it, slides included. Only the last of them are
// read: the capacity bytes (or all n, if fewer) that end at `end`. Nothing
// may be pending (between slices); the CRC register is its owner's to
// move on.
void AppendToWindow(InflateStream &st, const uint8_t *end, uint32_t n);

// Stores one produced byte; a full area is flushed and slides.
inline void PutWindowByte(InflateStream &st, uint8_t byte) {
    st.window[st.windowPos++] = byte;
    if (st.windowPos == st.windowLimit)
        SlideWindow(st);
}

namespace window_detail {

inline void Copy4(uint8_t *to, const uint8_t *from) {
    uint32_t v;
    std::memcpy(&v, from, 4);
    std::memcpy(to, &v, 4);
}

inline void Copy8(uint8_t *to, const uint8_t *from) {
    uint64_t v;
    std::memcpy(&v, from, 8);
    std::memcpy(to, &v, 8);
}

inline void Copy16(uint8_t *to, const uint8_t *from) {
    uint64_t a, b;
    std::memcpy(&a, from, 8);
    std::memcpy(&b, from + 8, 8);
    std::memcpy(to, &a, 8);
    std::memcpy(to + 8, &b, 8);
}

// For a source 2..7 bytes back: the smallest multiple of the distance that
// is at least 8. Bytes that far back repeat the same pattern, so once that
// many bytes lie behind, whole words can be copied from there.
constexpr uint8_t kPatternStep[8] = {0, 0, 8, 9, 8, 10, 12, 14};

} // namespace window_detail

// Copies n bytes inside the window from `from` < `to` with the result of a
// front-to-back byte loop: where the source starts less than n bytes before
// the destination, the bytes just written repeat. Nothing beyond to + n is
// written, so the copy may end at the very end of the area.
#if defined(__GNUC__)
#define QZARC_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define QZARC_ALWAYS_INLINE inline
#endif
QZARC_ALWAYS_INLINE void CopyInWindow(uint8_t *window, uint32_t to, uint32_t from, uint32_t n) {
    using namespace window_detail;
    uint8_t *d = window + to;
    const uint8_t *s = window + from;
    const uint32_t ahead = to - from;
    if (ahead >= n) {
        // Disjoint runs: every word is read before any byte of it is
        // written. The last word overlaps the one before it and rewrites
        // bytes of this copy with their own values.
        if (n >= 16) {
            uint32_t i = 0;
            for (; i + 16 < n; i += 16)
                Copy16(d + i, s + i);
            Copy16(d + n - 16, s + n - 16);
        } else if (n >= 8) {
            Copy8(d, s);
            Copy8(d + n - 8, s + n - 8);
        } else if (n >= 4) {
            Copy4(d, s);
            Copy4(d + n - 4, s + n - 4);
        } else {
            for (uint32_t i = 0; i < n; ++i)
                d[i] = s[i];
        }
        return;
    }
    if (ahead >= 8) {
        // 8 <= ahead < n: words as wide as the distance allows, each read
        // only when final, the last one too (it ends at least a word before
        // the copy's end).
        uint32_t i = 0;
        if (ahead >= 16) {
            for (; i + 16 < n; i += 16)
                Copy16(d + i, s + i);
            Copy16(d + n - 16, s + n - 16);
            return;
        }
        for (; i + 8 < n; i += 8)
            Copy8(d + i, s + i);
        Copy8(d + n - 8, s + n - 8);
        return;
    }
    if (ahead == 1) {
        std::memset(d, *s, n);
        return;
    }
    // Byte by byte until a whole multiple of the pattern lies behind, then
    // words from that far back.
    const uint32_t step = kPatternStep[ahead];
    uint32_t i = 0;
    for (; i < step - ahead && i < n; ++i)
        d[i] = s[i];
    for (; i + 8 <= n; i += 8)
        Copy8(d + i, d + i - step);
    for (; i < n; ++i)
        d[i] = d[i - ahead];
}

#endif // QZARC_WINDOW_H
