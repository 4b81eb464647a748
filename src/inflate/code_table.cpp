#include "inflate/code_table.h"

#include <cstring>

#include "inflate/bit_input.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kMaxSymbols = 288;
constexpr uint32_t kExtraInvalid = 99;  // an extra-bits value that marks a symbol invalid

inline uint32_t MakeEntry(uint32_t used, uint32_t op, uint32_t value, uint32_t ahead) {
    return used | op << kEntryOpShift | value << kEntryValueShift | (op == kOpLiteral ? kEntryLiteralFlag : 0u) |
           ahead << kEntryAheadShift;
}

// The codes of one set in canonical order (RFC 1951, 3.2.2) with the table
// geometry they get: a root of rootBits, and a sub-table wherever codes go
// on past a table's width. Unused patterns are dummy codes of the longest
// length, placed after every real code, so that every table is filled; they
// decode as invalid. Walked twice: once to size the block, once to fill it.
struct CodeSet {
    const uint32_t *lengths;
    uint32_t s;
    const uint16_t *base;
    const uint16_t *extra;
    uint32_t count[kMaxCodeLength + 1];  // codes per length, dummies included
    uint32_t longest;
    uint32_t rootBits;
    uint32_t realCodes;
    uint32_t allCodes;
    uint16_t ordered[kMaxSymbols];       // real symbols by length, then by symbol
};

// The leaf of one code, its lookups having asked for `demand` bits from the
// code's start, w of its len bits resolved by the levels above.
inline uint32_t LeafEntry(const CodeSet &set, bool dummy, uint32_t sym, uint32_t len, uint32_t w, uint32_t demand) {
    uint32_t op;
    uint32_t value = 0;
    if (dummy) {
        op = kOpInvalid;
    } else if (sym < set.s) {
        op = sym < 256 ? kOpLiteral : kOpEndOfBlock;
        value = sym;
    } else {
        op = set.extra[sym - set.s] & 0xFFu;
        value = set.base[sym - set.s];
        if (op == kExtraInvalid)
            op = kOpInvalid;
    }
    // A length or distance reads its extra bits as a field right after the
    // code: it asks for exactly those bits, so they count as used.
    const uint32_t extraBits = op <= kMaxExtraBits ? op : 0;
    const uint32_t end = len + extraBits;
    const uint32_t ahead = demand > end ? demand - end : 0;
    return MakeEntry(len - w + extraBits, op, value, ahead);
}

// The next code of length len in bit-reversed form: add 1 from the top bit
// down. Appending a 0 bit at the end (going on to the next length) leaves
// the reversed form as it is.
inline uint32_t NextCode(uint32_t code, uint32_t len) {
    uint32_t bit = uint32_t(1) << (len - 1);
    while ((code & bit) != 0)
        bit >>= 1;
    return bit != 0 ? (code & (bit - 1u)) + bit : 0;
}

// Fills the root table with the codes of at most rootBits bits: the codes of
// each length go into a table as wide as they are, which is then doubled,
// so that every code ends up in every entry whose low bits are its own.
// *next receives the index (in canonical order) of the first longer code,
// *code that code, bit-reversed.
void FillRoot(const CodeSet &set, uint32_t *table, uint32_t *next, uint32_t *code) {
    uint32_t k = 0;
    uint32_t c = 0;
    for (uint32_t len = 1; len <= set.rootBits; ++len) {
        const uint32_t n = set.count[len];
        for (uint32_t i = 0; i < n; ++i, ++k) {
            const bool dummy = k >= set.realCodes;
            table[c] = LeafEntry(set, dummy, dummy ? 0 : set.ordered[k], len, 0, set.rootBits);
            c = NextCode(c, len);
        }
        if (len < set.rootBits)
            std::memcpy(table + (uint32_t(1) << len), table, (size_t(1) << len) * sizeof(uint32_t));
    }
    *next = k;
    *code = c;
}

// Places the codes longer than the root, from index k (code bit-reversed)
// on, opening sub-tables behind the root as they go.
void PlaceLongCodes(const CodeSet &set, uint32_t *table, uint32_t k, uint32_t code) {
    const uint32_t rootBits = set.rootBits;
    uint32_t unplaced[kMaxCodeLength + 1];
    for (uint32_t len = 0; len <= kMaxCodeLength; ++len)
        unplaced[len] = len > rootBits ? set.count[len] : 0;

    uint32_t start[kMaxCodeLength];   // first entry of the open table of each level
    uint32_t widths[kMaxCodeLength];
    uint32_t prefix[kMaxCodeLength];  // low w bits shared by the codes of each open table
    // The root is open at level 0; w counts the code bits resolved by the
    // levels above the current one.
    start[0] = 0;
    widths[0] = rootBits;
    prefix[0] = 0;
    uint32_t used = uint32_t(1) << rootBits;  // entries allocated so far
    int32_t level = 0;
    int32_t w = 0;

    for (; k < set.allCodes; ++k) {
        const bool dummy = k >= set.realCodes;
        const uint32_t sym = dummy ? 0 : set.ordered[k];
        const uint32_t len = dummy ? set.longest : set.lengths[sym];

        // Open tables until this code ends within the current level.
        while (int32_t(len) > w + int32_t(rootBits)) {
            ++level;
            w += int32_t(rootBits);
            const uint32_t uw = uint32_t(w);
            const uint32_t limit = set.longest - uw < rootBits ? set.longest - uw : rootBits;
            uint32_t width = len - uw < limit ? len - uw : limit;
            // Fewer codes of this length than patterns: a wider table may
            // still be filled by the longer codes that follow.
            if (width < limit && unplaced[len] < (uint32_t(1) << width)) {
                uint32_t left = (uint32_t(1) << width) - unplaced[len];
                for (;;) {
                    ++width;
                    if (width == limit)
                        break;
                    left *= 2;
                    if (set.count[uw + width] >= left)
                        break;
                    left -= set.count[uw + width];
                }
            }
            start[level] = used;
            widths[level] = width;
            prefix[level] = LowBits(code, uw);
            table[start[level - 1] + ((code >> (uw - rootBits)) & ((1u << rootBits) - 1u))] =
                MakeEntry(rootBits, kOpLink, used, width);
            used += uint32_t(1) << width;
        }

        const uint32_t uw = uint32_t(w);
        // Every lookup asks for its table's full width; the deepest one
        // reaches furthest.
        const uint32_t entry = LeafEntry(set, dummy, sym, len, uw, uw + widths[level]);
        // The leaf answers every index whose low len - w bits are the code's.
        uint32_t *t = table + start[level];
        const uint32_t size = uint32_t(1) << widths[level];
        const uint32_t step = uint32_t(1) << (len - uw);
        for (uint32_t i = code >> uw; i < size; i += step)
            t[i] = entry;
        --unplaced[len];
        code = NextCode(code, len);

        // Leave the levels whose prefix this code no longer shares.
        while (level > 0 && LowBits(code, uint32_t(w)) != prefix[level]) {
            --level;
            w -= int32_t(rootBits);
        }
    }
}

} // namespace

int BuildCodeTable(const uint32_t *lengths, uint32_t n, uint32_t s, const uint16_t *base,
                   const uint16_t *extra, CodeTable *slot, bool *complete) {
    CodeSet set;
    set.lengths = lengths;
    set.s = s;
    set.base = base;
    set.extra = extra;
    for (uint32_t len = 0; len <= kMaxCodeLength; ++len)
        set.count[len] = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (lengths[i] > kMaxCodeLength)
            return kBuildOversubscribed;  // no such code can exist; treat it as unusable
        ++set.count[lengths[i]];
    }
    if (set.count[0] == n) {
        slot->entries = nullptr;
        slot->bits = 0;
        if (complete != nullptr)
            *complete = false;
        return kBuildComplete;
    }

    uint32_t shortest = 1;
    while (set.count[shortest] == 0)
        ++shortest;
    uint32_t longest = kMaxCodeLength;
    while (set.count[longest] == 0)
        --longest;
    uint32_t rootBits = slot->bits;
    if (rootBits < shortest)
        rootBits = shortest;
    if (rootBits > longest)
        rootBits = longest;

    // Kraft check, in units of the shortest code's share: spare ends as the
    // number of longest-length patterns no code uses.
    int32_t spare = int32_t(1) << shortest;
    for (uint32_t len = shortest; len < longest; ++len) {
        spare -= int32_t(set.count[len]);
        if (spare < 0)
            return kBuildOversubscribed;
        spare *= 2;
    }
    spare -= int32_t(set.count[longest]);
    if (spare < 0)
        return kBuildOversubscribed;
    slot->bits = rootBits;

    set.longest = longest;
    set.rootBits = rootBits;
    set.realCodes = n - set.count[0];
    set.count[longest] += uint32_t(spare);
    set.allCodes = set.realCodes + uint32_t(spare);
    uint32_t offset[kMaxCodeLength + 2] = {};
    for (uint32_t len = 1; len <= kMaxCodeLength; ++len)
        offset[len + 1] = offset[len] + (len == longest ? set.count[len] - uint32_t(spare) : set.count[len]);
    for (uint32_t sym = 0; sym < n; ++sym) {
        if (lengths[sym] != 0)
            set.ordered[offset[lengths[sym]]++] = uint16_t(sym);
    }

    // The block is sized without placing the codes: every sub-table is
    // opened by a code longer than the root (dummies included), one per
    // level below the root at most, and none is wider than the root or than
    // the bits such a code has left after the root. That stays far below
    // the 65536 entries a link's value can reach.
    uint32_t longCodes = 0;
    for (uint32_t len = rootBits + 1; len <= longest; ++len)
        longCodes += set.count[len];
    const uint32_t beyond = longest - rootBits;  // 0 when every code fits the root
    const uint32_t subBits = beyond < rootBits ? beyond : rootBits;
    const uint32_t depth = (beyond + rootBits - 1) / rootBits;
    const uint32_t size = (uint32_t(1) << rootBits) + ((longCodes * depth) << subBits);
    uint32_t *table =
        static_cast<uint32_t *>(HeapAlloc(GetProcessHeap(), 0, size_t(size) * sizeof(uint32_t)));
    if (table == nullptr) {
        slot->entries = nullptr;
        gInflate.status = kStatusNoMemory;
        return kBuildNoMemory;
    }
    uint32_t next = 0;
    uint32_t code = 0;
    FillRoot(set, table, &next, &code);
    PlaceLongCodes(set, table, next, code);
    slot->entries = table;
    if (complete != nullptr)
        *complete = spare == 0;
    return (spare != 0 && longest != 1) ? kBuildIncomplete : kBuildComplete;
}

void FreeCodeTable(CodeTable *slot) {
    if (slot->entries == nullptr)
        return;
    HeapFree(GetProcessHeap(), 0, slot->entries);
    slot->entries = nullptr;
}

uint32_t DecodeSymbol(const CodeTable &table, uint32_t *valueOut) {
    if (table.entries == nullptr)
        return kOpInvalid;
    const uint32_t savedBuffer = gInflate.bitBuffer;
    const uint32_t savedCount = gInflate.bitCount;
    const uint32_t *level = table.entries;
    uint32_t width = table.bits;
    for (;;) {
        NeedBits(width);
        const uint32_t e = level[LowBits(gInflate.bitBuffer, width)];
        const uint32_t op = EntryOp(e);
        if (op == kOpInvalid) {
            gInflate.bitBuffer = savedBuffer;
            gInflate.bitCount = savedCount;
            return kOpInvalid;
        }
        if (op == kOpLink) {
            DropBits(EntryUsed(e));
            width = EntryAhead(e);
            level = table.entries + EntryValue(e);
            continue;
        }
        DropBits(EntryCodeBits(e));
        *valueOut = EntryValue(e);
        return op;
    }
}
