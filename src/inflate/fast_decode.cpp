#include "fast_decode.h"

#include <cstring>

#include "bit_input.h"
#include "code_table.h"
#include "window.h"

namespace {

// Input FastRun needs in view on entry, and keeps unread while it runs: two
// refills of eight bytes each per step at most.
constexpr uint32_t kFastInputReserve = 16;
constexpr uint32_t kFastMinInput = 32;

inline uint64_t Load64(const uint8_t *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

inline uint32_t Mask(uint32_t n) { return (uint32_t(1) << n) - 1u; }

// Follows links from entry e down to a leaf, without consuming: *skip gets
// the bits the links take (the leaf's bits come after them).
inline uint32_t FollowLinks(const uint32_t *entries, uint32_t e, uint64_t buffer, uint32_t *skip) {
    uint32_t s = 0;
    do {
        s += EntryUsed(e);
        e = entries[EntryValue(e) + (uint32_t(buffer >> s) & Mask(EntryAhead(e)))];
    } while (EntryOp(e) == kOpLink);
    *skip = s;
    return e;
}

} // namespace

FastStop FastRun(uint32_t count, uint32_t &produced) {
    InflateStream &st = gInflate;
    const uint8_t *start = nullptr;
    const uint32_t available = ViewBytes(&start);
    // A distance set with patterns that do not decode shows a bad code only
    // after its length has been taken; such blocks stay with the exact
    // decoder.
    if (available < kFastMinInput || !st.distancesComplete)
        return kFastNotRun;
    st.input.take(available);

    const uint32_t *const literals = st.literals.entries;
    const uint32_t literalMask = Mask(st.literals.bits);
    const uint32_t *const distances = st.distances.entries;
    const uint32_t distanceMask = Mask(st.distances.bits);
    const uint8_t *const last = start + (available - kFastInputReserve);
    const uint8_t *in = start;
    uint64_t buffer = st.bitBuffer;
    uint32_t bits = st.bitCount;
    // Bits asked for beyond the current position: all pending ones at first.
    uint32_t ahead = bits;
    uint8_t *const window = st.window;
    const uint32_t windowSize = st.windowSize;
    uint8_t *out = window + st.windowPos;
    // Output goes in stretches that end at the window's end or where the
    // call's count is reached, whichever comes first.
    uint32_t room = count - produced;
    uint8_t *stretch = out;
    uint8_t *end = out + (room < windowSize - st.windowPos ? room : windowSize - st.windowPos);
    FastStop stop = kStoppedAtSymbol;

    // Branch-free refill to 56..63 bits: the byte only partly loaded sits
    // above `bits` and is loaded again, whole, by the next refill.
#define QZARC_REFILL()                                                   \
    do {                                                                 \
        buffer |= Load64(in) << bits;                                    \
        in += (63u - bits) >> 3;                                         \
        bits |= 56u;                                                     \
    } while (0)
    // Consumes `n` bits whose lookups asked for `reach` bits from their start.
#define QZARC_CONSUME(n, reach)                                          \
    do {                                                                 \
        if (ahead < (reach))                                             \
            ahead = (reach);                                             \
        ahead -= (n);                                                    \
        buffer >>= (n);                                                  \
        bits -= (n);                                                     \
    } while (0)
    // A leaf reached after `skip` bits of links.
#define QZARC_TAKE(e, skip)                                              \
    do {                                                                 \
        const uint32_t taken_ = (skip) + EntryUsed(e);                   \
        QZARC_CONSUME(taken_, taken_ + EntryAhead(e));                   \
    } while (0)
    // At the end of a stretch: count it, wrap a full window (flushing it,
    // as the exact decoder does) and start the next one, or stop.
#define QZARC_END_STRETCH()                                              \
    do {                                                                 \
        const uint32_t done = uint32_t(out - stretch);                   \
        produced += done;                                                \
        room -= done;                                                    \
        if (out == window + windowSize) {                                \
            st.windowPos = windowSize;                                   \
            WrapWindow();                                                \
            out = window;                                                \
        }                                                                \
        stretch = out;                                                   \
        if (room == 0)                                                   \
            goto finish;                                                 \
        end = out + (room < windowSize - uint32_t(out - window)          \
                         ? room                                          \
                         : windowSize - uint32_t(out - window));         \
    } while (0)
    // Puts a root-level literal out, ending the stretch when it fills.
#define QZARC_PUT_LITERAL(e)                                             \
    do {                                                                 \
        QZARC_TAKE(e, 0u);                                               \
        *out++ = uint8_t(e >> kEntryValueShift);                         \
        if (out == end)                                                  \
            QZARC_END_STRETCH();                                         \
    } while (0)

    while (in <= last) {
        // With the index bits already there, the lookup does not wait for
        // the refill.
        uint32_t e;
        if (bits >= 16) {
            e = literals[uint32_t(buffer) & literalMask];
            QZARC_REFILL();
        } else {
            QZARC_REFILL();
            e = literals[uint32_t(buffer) & literalMask];
        }
        if (EntryIsLiteral(e)) {
            QZARC_PUT_LITERAL(e);
            // A refill leaves bits for two more literal codes (at most 15
            // bits each) before the next one.
            e = literals[uint32_t(buffer) & literalMask];
            if (!EntryIsLiteral(e))
                goto notLiteral;
            QZARC_PUT_LITERAL(e);
            e = literals[uint32_t(buffer) & literalMask];
            if (!EntryIsLiteral(e))
                goto notLiteral;
            QZARC_PUT_LITERAL(e);
            continue;
        }
    notLiteral:
        {
            uint32_t skip = 0;
            if (EntryOp(e) == kOpLink) {
                e = FollowLinks(literals, e, buffer, &skip);
                if (EntryIsLiteral(e)) {
                    QZARC_TAKE(e, skip);
                    *out++ = uint8_t(e >> kEntryValueShift);
                    if (out == end)
                        QZARC_END_STRETCH();
                    continue;
                }
            }
            const uint32_t op = EntryOp(e);
            if (op > kMaxExtraBits)
                break;  // end of block or an invalid code: the exact decoder takes it

            // A length, then its distance, which always decodes here. Each
            // takes its extra bits with its code. The refill at the top left
            // at least 56 bits; two root literals (at most 9 bits each) and
            // a length (15 code bits, 16 extra with Deflate64) fit in them,
            // and one more refill makes room for the distance (15 + 14).
            const uint32_t length =
                EntryValue(e) + (uint32_t(buffer >> (skip + EntryUsed(e) - op)) & Mask(op));
            QZARC_TAKE(e, skip);
            if (bits < 32)
                QZARC_REFILL();
            uint32_t d = distances[uint32_t(buffer) & distanceMask];
            skip = 0;
            if (EntryOp(d) == kOpLink)
                d = FollowLinks(distances, d, buffer, &skip);
            const uint32_t dop = EntryOp(d);
            const uint32_t distance =
                EntryValue(d) + (uint32_t(buffer >> (skip + EntryUsed(d) - dop)) & Mask(dop));
            QZARC_TAKE(d, skip);

            const uint32_t pos = uint32_t(out - window);
            const uint32_t from = (pos - distance) & (windowSize - 1u);
            if (length > uint32_t(end - out) || length > windowSize - from) {
                // Cut by the count or by the window's end: the chunk loop copies it.
                st.copyLength = length;
                st.copyFrom = pos - distance;
                stop = kStoppedAtMatch;
                break;
            }
            CopyInWindow(window, pos, from, length);
            out += length;
            if (out == end)
                QZARC_END_STRETCH();
        }
    }
    produced += uint32_t(out - stretch);

finish:
#undef QZARC_REFILL
#undef QZARC_CONSUME
#undef QZARC_TAKE
#undef QZARC_END_STRETCH
#undef QZARC_PUT_LITERAL
    // Keep what the exact decoder would have pulled: the smallest whole
    // number of bytes covering `ahead` (pending bits and pulled bytes always
    // differ by a multiple of 8); give back the rest.
    const uint32_t keep = ahead + ((bits - ahead) & 7u);
    in -= (bits - keep) >> 3;
    st.bitBuffer = uint32_t(buffer & ((uint64_t(1) << keep) - 1u));
    st.bitCount = keep;
    st.windowPos = uint32_t(out - window);
    st.input.giveBack(available - uint32_t(in - start));
    return stop;
}
