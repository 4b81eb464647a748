#include "inflate/fast_decode.h"

#include <cstring>

#include "inflate/bit_input.h"
#include "inflate/code_table.h"
#include "inflate/window.h"

namespace {

// Input FastRun needs in view on entry, and keeps unread while it runs: a
// step reads at most 16 bytes past where it starts (two refills of a 64-bit
// buffer, each moving on by at most 7 bytes and reading 8; or five of a
// 32-bit one, each moving on by at most 3 and reading 4).
constexpr uint32_t kFastInputReserve = 16;
constexpr uint32_t kFastMinInput = 32;

// The bit buffer is a machine word: 64 bits where registers are that wide,
// 32 bits where a 64-bit shift costs a branch (a 32-bit processor).
template <typename Word> inline Word LoadWord(const uint8_t *p) {
    Word v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = sizeof v == 8 ? Word(__builtin_bswap64(uint64_t(v))) : Word(__builtin_bswap32(uint32_t(v)));
#endif
    return v;
}

inline uint32_t Mask(uint32_t n) { return (uint32_t(1) << n) - 1u; }

} // namespace

// The loop. Every block's tables have main tables of kLiteralLookupBits
// and kDistanceLookupBits, known when it is compiled: constant masks leave
// registers free for the loop's state.
//
// A refill leaves the buffer with at least kRefilled bits: 56 in a 64-bit
// word, enough for a whole step (up to three literals, or a length and a
// distance with one refill between them); 24 in a 32-bit word, enough for
// any one code and, all but the longest, with its extra bits.
template <typename Word> QZARC_ALWAYS_INLINE FastStop FastLoop(InflateStream &st, uint32_t count, uint32_t &produced) {
    constexpr uint32_t kWordBits = sizeof(Word) * 8;
    constexpr uint32_t kRefilled = kWordBits - 8;
    constexpr bool kWide = kWordBits == 64;
    const uint8_t *start = nullptr;
    const uint32_t available = ViewBytes(st, &start);
    // A distance set with patterns that do not decode shows a bad code only
    // after its length has been taken; such blocks stay with the exact
    // decoder, and so do the rare ones whose literal/length root is narrower
    // than the distance root (see below).
    if (available < kFastMinInput || !st.distancesComplete || st.literals.bits < st.distances.bits ||
        st.literals.lookupBits != kLiteralLookupBits || st.distances.lookupBits != kDistanceLookupBits)
        return kFastNotRun;

    constexpr uint32_t literalMask = (uint32_t(1) << kLiteralLookupBits) - 1u;
    constexpr uint32_t distanceMask = (uint32_t(1) << kDistanceLookupBits) - 1u;
    // Sub-tables are counted from the end of their main table.
    const uint32_t *const literals = st.literals.entries;
    const uint32_t *const distances = st.distances.entries;
    constexpr uint32_t literalSubs = uint32_t(1) << kLiteralLookupBits;
    constexpr uint32_t distanceSubs = uint32_t(1) << kDistanceLookupBits;
    const uint8_t *const last = start + (available - kFastInputReserve);
    const uint8_t *in = start;
    Word buffer = st.bitBuffer;
    uint32_t bits = st.bitCount;
    const uint32_t bitsAtStart = bits;

    // How far the exact decoder would have asked. Each literal/length
    // lookup asks for at least the literal/length root width from its
    // code's start, and no lookup asks more than a root width (literal/length
    // or distance, the former being at least the latter) past the end of its
    // own code. So a literal/length lookup reaches at least as far as every
    // lookup before it, and the last symbol says it all: a literal, or a
    // match's length and distance. Their entries are only kept here, and
    // read when the loop ends.
    constexpr uint32_t kNothingAsked = kEntrySpecialFlag | kEntryLiteralFlag;  // a literal of no bits
    uint32_t asked = kNothingAsked;
    uint32_t askedDistance = 0;
    uint8_t *const window = st.window;
    const uint32_t limit = st.windowLimit;
    uint8_t *out = window + st.windowPos;  // where the next byte goes
    // Output goes in stretches that end at the area's end or where the
    // call's count is reached, whichever comes first.
    uint32_t room = count - produced;
    uint8_t *stretch = out;
    uint8_t *end = out + (room < limit - st.windowPos ? room : limit - st.windowPos);
    FastStop stop = kStoppedAtSymbol;

    // Branch-free refill to kRefilled or more bits: the byte only partly
    // loaded sits above `bits` and is loaded again, whole, by the next one.
#define QZARC_REFILL()                                                   \
    do {                                                                 \
        buffer |= LoadWord<Word>(in) << bits;                            \
        in += (kWordBits - 1u - bits) >> 3;                              \
        bits |= kRefilled;                                               \
    } while (0)
#define QZARC_CONSUME(n)                                                 \
    do {                                                                 \
        buffer >>= (n);                                                  \
        bits -= (n);                                                     \
    } while (0)
    // A literal: consumed, and put out.
#define QZARC_LITERAL(e)                                                 \
    do {                                                                 \
        QZARC_CONSUME(EntryUsed(e));                                     \
        asked = (e);                                                     \
        *out++ = uint8_t(EntryValue(e));                                 \
    } while (0)
    // At the end of a stretch: count it, slide a full area (flushing it,
    // as the exact decoder does) and start the next one, or stop.
#define QZARC_END_STRETCH()                                              \
    do {                                                                 \
        const uint32_t done = uint32_t(out - stretch);                   \
        produced += done;                                                \
        room -= done;                                                    \
        if (out == window + limit) {                                     \
            st.windowPos = limit;                                        \
            SlideWindow(st);                                               \
            out = window + st.windowPos;                                 \
        }                                                                \
        stretch = out;                                                   \
        const uint32_t left = limit - uint32_t(out - window);            \
        if (room == 0)                                                   \
            goto finish;                                                 \
        end = out + (room < left ? room : left);                         \
    } while (0)

    // The next symbol's main-table entry is looked up as soon as the bits
    // before it are consumed, and before the refill: the lookup then never
    // waits for the refill's load, which depends only on the consumption
    // before it. Every step leaves at least kLiteralLookupBits bits for it.
    QZARC_REFILL();
    uint32_t e = literals[uint32_t(buffer) & literalMask];
    while (in <= last) {
        QZARC_REFILL();
        if (EntryIsLiteral(e)) {
            // The stretch has room for one byte at least. A refill leaves
            // bits for one main-table literal code (at most 11 bits) and
            // the lookup after it; a 64-bit one for three and the lookup,
            // and with room for two more they go out unchecked.
            QZARC_LITERAL(e);
            e = literals[uint32_t(buffer) & literalMask];
            if (kWide && end - out >= 2) {
                if (!EntryIsLiteral(e))
                    goto notLiteral;
                QZARC_LITERAL(e);
                e = literals[uint32_t(buffer) & literalMask];
                if (!EntryIsLiteral(e))
                    goto notLiteral;
                QZARC_LITERAL(e);
                e = literals[uint32_t(buffer) & literalMask];
            }
            if (out == end)
                QZARC_END_STRETCH();
            continue;
        }
    notLiteral:
        {
            if (__builtin_expect(EntryIsSpecial(e), 0)) {
                if (!EntryIsLink(e))
                    break;  // end of block or an invalid code: the exact decoder takes it
                // Codes of up to 16 bits end in the sub-table behind the link.
                e = literals[literalSubs + EntryValue(e) + ((uint32_t(buffer) >> kLiteralLookupBits) & Mask(EntryLinkBits(e)))];
                if (EntryIsLiteral(e)) {
                    QZARC_LITERAL(e);
                    if (!kWide)
                        QZARC_REFILL();  // a code of up to 16 bits may leave fewer than the lookup's
                    e = literals[uint32_t(buffer) & literalMask];
                    if (out == end)
                        QZARC_END_STRETCH();
                    continue;
                }
                if (EntryIsSpecial(e))
                    break;
            }

            // A length, then its distance, which always decodes here. Each
            // takes its extra bits with its code. A 64-bit refill at the top
            // left at least 56 bits; two literals (at most 11 bits each) and
            // a length (15 code bits, 16 extra with Deflate64) fit in them,
            // and one more refill makes room for the distance (15 + 14) and
            // the next lookup. In a 32-bit word every code fits after a
            // refill, and so do the extra bits of all but Deflate64's longest
            // lengths, which are left to the exact decoder (they come with
            // 258 bytes or more), and its longest distances, which take
            // their extra bits after one more refill.
            const uint32_t lengthTaken = EntryUsed(e);
            if (!kWide && __builtin_expect(lengthTaken > bits, 0))
                break;
            const uint32_t length = EntryValue(e) + EntryExtra(e, uint32_t(buffer));
            QZARC_CONSUME(lengthTaken);
            if (!kWide || bits < 15 + 14 + kLiteralLookupBits)
                QZARC_REFILL();
            uint32_t d = distances[uint32_t(buffer) & distanceMask];
            if (__builtin_expect(EntryIsSpecial(d), 0))
                d = distances[distanceSubs + EntryValue(d) + ((uint32_t(buffer) >> kDistanceLookupBits) & Mask(EntryLinkBits(d)))];
            const uint32_t distanceTaken = EntryUsed(d);
            uint32_t distance;
            if (kWide || __builtin_expect(distanceTaken <= bits, 1)) {
                distance = EntryValue(d) + EntryExtra(d, uint32_t(buffer));
                QZARC_CONSUME(distanceTaken);
            } else {
                const uint32_t codeBits = EntryCodeBits(d);
                QZARC_CONSUME(codeBits);
                QZARC_REFILL();
                distance = EntryValue(d) + (uint32_t(buffer) & Mask(distanceTaken - codeBits));
                QZARC_CONSUME(distanceTaken - codeBits);
            }
            asked = e;
            askedDistance = d;
            if (!kWide)
                QZARC_REFILL();
            e = literals[uint32_t(buffer) & literalMask];

            // The source lies in the window (window.h).
            const uint8_t *const src = out - distance;
            if (__builtin_expect(distance >= 8 && length <= 32 && length <= uint32_t(end - out), 1)) {
                // Four words, whatever the length: with the source 8 or more
                // back, each reads only bytes that are final. What they
                // write past the match lies ahead of the output, where the
                // next bytes will go, or in the slack past the area.
                window_detail::Copy8(out, src);
                window_detail::Copy8(out + 8, src + 8);
                window_detail::Copy8(out + 16, src + 16);
                window_detail::Copy8(out + 24, src + 24);
            } else if (length <= uint32_t(end - out)) {
                const uint32_t to = uint32_t(out - window);
                CopyInWindow(window, to, to - distance, length);
            } else {
                // Cut by the count or by the area's end: the chunk loop copies it.
                st.copyLength = length;
                st.copyFrom = uint32_t(out - window) - distance;
                stop = kStoppedAtMatch;
                break;
            }
            out += length;
            if (out == end)
                QZARC_END_STRETCH();
        }
    }
    produced += uint32_t(out - stretch);

finish:
#undef QZARC_REFILL
#undef QZARC_CONSUME
#undef QZARC_LITERAL
#undef QZARC_END_STRETCH
    {
        // The bits asked for beyond the current position: the pending bits
        // at the start, and what the last lookups asked. Their codes are
        // looked up again from where they start (`at` bits past the first
        // pending bit), in the pending bits or the view; bits past the
        // view's end, which no code reached, read as zeros.
        const uint32_t consumed = uint32_t(in - start) * 8u + bitsAtStart - bits;
        const uint32_t pending = st.bitBuffer;
        auto inputAt = [&](uint32_t at) -> uint32_t {
            const uint32_t from = at >= bitsAtStart ? (at - bitsAtStart) >> 3 : 0u;
            uint64_t word = 0;
            for (uint32_t k = 0; k < 5 && from + k < available; ++k)
                word |= uint64_t(start[from + k]) << (8u * k);
            if (at >= bitsAtStart)
                return uint32_t(word >> ((at - bitsAtStart) & 7u));
            return uint32_t((uint64_t(pending) >> at) | word << (bitsAtStart - at));
        };
        int32_t ahead = int32_t(bitsAtStart) - int32_t(consumed);
        int32_t last = 0;
        if (EntryIsLiteral(asked)) {
            if (asked != kNothingAsked)
                last = int32_t(CodeAhead(st.literals, inputAt(consumed - EntryUsed(asked))));
        } else {
            // A match: its length's ask reaches past the length's extra bits
            // and its whole distance, or its distance's past the distance's
            // extra bits.
            const uint32_t distanceAt = consumed - EntryUsed(askedDistance);
            const int32_t byLength = int32_t(CodeAhead(st.literals, inputAt(distanceAt - EntryUsed(asked)))) -
                                     int32_t(EntryOp(asked)) - int32_t(EntryUsed(askedDistance));
            const int32_t byDistance =
                int32_t(CodeAhead(st.distances, inputAt(distanceAt))) - int32_t(EntryOp(askedDistance));
            last = byLength > byDistance ? byLength : byDistance;
        }
        if (ahead < last)
            ahead = last;
        if (ahead < 0)
            ahead = 0;
        // Keep what the exact decoder would have pulled: the smallest whole
        // number of bytes covering `ahead` (pending bits and pulled bytes
        // always differ by a multiple of 8); give back the rest.
        const uint32_t keep = uint32_t(ahead) + ((bits - uint32_t(ahead)) & 7u);
        in -= (bits - keep) >> 3;
        st.bitBuffer = uint32_t(uint64_t(buffer) & ((uint64_t(1) << keep) - 1u));
        st.bitCount = keep;
    }
    st.windowPos = uint32_t(out - window);
    TakeView(st, uint32_t(in - start));
    return stop;
}

#if defined(QZARC_TEST_HOOKS)
bool gNarrowBitBuffer = false;
#endif

// Where the loader can choose among versions of a function (ELF ifuncs),
// the loop is also built for processors with the BMI2 shifts and masks,
// which take their counts from any register; the choice is made once, at
// load time.
#if defined(__ELF__) && (defined(__x86_64__) || defined(__i386__)) && !defined(__clang__)
__attribute__((target_clones("default", "bmi2")))
#endif
FastStop FastRun(InflateStream &st, uint32_t count, uint32_t &produced) {
#if defined(QZARC_TEST_HOOKS)
    if (gNarrowBitBuffer)
        return FastLoop<uint32_t>(st, count, produced);
#endif
#if UINTPTR_MAX > 0xFFFFFFFFu
    return FastLoop<uint64_t>(st, count, produced);
#else
    return FastLoop<uint32_t>(st, count, produced);
#endif
}
