// The inflater's bit input. Fields and Huffman codes are read least
// significant bit first from a 32-bit bit buffer that is topped up one
// input byte at a time, and only when a step asks for more bits than are
// pending: the bytes pulled so far are always exactly those that cover the
// furthest bit any step has asked for. The fast decoder reads ahead with
// wide loads and gives back whatever this rule would not have pulled.
#ifndef QZARC_BIT_INPUT_H
#define QZARC_BIT_INPUT_H

#include <cstdint>

#include "inflate/inflate_state.h"

// The reader's view (inflate_input.h) is taken whole and held while a
// slice runs: its bytes are then handed out from memory, and what is left
// of it is given back before the slice returns, so that the reader's counts
// are exact whenever anyone else looks at them.

// Takes the reader's view when none is held; false when it offers none.
bool HoldView(InflateStream &st);

// Gives back what is left of the held view.
void ReleaseView(InflateStream &st);

// One byte as the byte function would give it: from the held view while it
// lasts, otherwise from nextByte (-1 included).
int PullByte(InflateStream &st);

// Makes at least n (<= 24) bits available, pulling one byte per shortfall.
// The byte's int is ORed in as it is: a -1 (failed volume) sets every bit
// from bitCount up, and the garbage decodes to a failure or a wrong CRC
// rather than being mistaken for data.
inline void NeedBits(InflateStream &st, uint32_t n) {
    while (st.bitCount < n) {
        uint32_t byte;
        if (st.viewLeft != 0) {
            --st.viewLeft;
            byte = *st.viewAt++;
        } else {
            byte = uint32_t(PullByte(st));
        }
        st.bitBuffer |= byte << st.bitCount;
        st.bitCount += 8;
    }
}

// Makes `count` (< 8) bits of `value` the pending ones: the stream then
// reads on from a position its owner has moved the reader to.
inline void SetPendingBits(InflateStream &st, uint32_t value, uint32_t count) {
    st.bitBuffer = value & ((uint32_t(1) << count) - 1u);
    st.bitCount = count;
}

// Consumes n bits.
inline void DropBits(InflateStream &st, uint32_t n) {
    st.bitBuffer >>= n;
    st.bitCount -= n;
}

inline uint32_t LowBits(uint32_t value, uint32_t n) { return value & ((uint32_t(1) << n) - 1u); }

// The next n input bits (0 <= n <= 16) as an unsigned value.
inline uint32_t ReadBits(InflateStream &st, uint32_t n) {
    NeedBits(st, n);
    const uint32_t value = LowBits(st.bitBuffer, n);
    DropBits(st, n);
    return value;
}

// The bytes of the held view, taking the reader's view first when none is
// held; 0 when there are none.
inline uint32_t ViewBytes(InflateStream &st, const uint8_t **at) {
    if (st.viewLeft == 0 && !HoldView(st))
        return 0;
    *at = st.viewAt;
    return st.viewLeft;
}

// Consumes n <= ViewBytes(st) bytes of the held view.
inline void TakeView(InflateStream &st, uint32_t n) {
    st.viewAt += n;
    st.viewLeft -= n;
}

#endif // QZARC_BIT_INPUT_H
