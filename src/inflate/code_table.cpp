#include "inflate/code_table.h"

#include <cstring>

#include "inflate/bit_input.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kMaxSymbols = 288;
constexpr uint32_t kExtraInvalid = 99;  // an extra-bits value that marks a symbol invalid

// A length or distance leaf: its code's bits, its extra bits and its base.
inline uint32_t LeafWithExtra(uint32_t len, uint32_t extraBits, uint32_t value) {
    return (len + extraBits) | len << kEntryCodeShift | value << kEntryValueShift;
}

// Any other entry: its used bits (a link's main table width), its kind's
// flags and its value; a link's sub-table width goes where a leaf's code
// bits would.
inline uint32_t SpecialEntry(uint32_t used, uint32_t flags, uint32_t value, uint32_t linkBits = 0) {
    return used | linkBits << kEntryCodeShift | flags | kEntrySpecialFlag | value << kEntryValueShift;
}

// The codes of one set in canonical order (RFC 1951, 3.2.2). Unused patterns
// are dummy codes of the longest length, placed after every real code, so
// that every table is filled; they decode as invalid.
struct CodeSet {
    const uint32_t *lengths;
    uint32_t s;
    const uint16_t *base;
    const uint16_t *extra;
    uint32_t count[kMaxCodeLength + 1];  // codes per length, dummies included
    uint32_t longest;
    uint32_t realCodes;
    uint32_t allCodes;
    uint16_t ordered[kMaxSymbols];       // real symbols by length, then by symbol
};

// The leaf of one code of len bits.
inline uint32_t LeafEntry(const CodeSet &set, bool dummy, uint32_t sym, uint32_t len) {
    if (dummy)
        return SpecialEntry(len, kEntryInvalidFlag, 0);
    if (sym < set.s)
        return sym < 256 ? SpecialEntry(len, kEntryLiteralFlag, sym) : SpecialEntry(len, 0, sym);
    const uint32_t extraBits = set.extra[sym - set.s] & 0xFFu;
    if (extraBits == kExtraInvalid || len + extraBits > kMostLeafBits)
        return SpecialEntry(len, kEntryInvalidFlag, 0);
    // A length or distance reads its extra bits as a field right after the
    // code, so they count as used.
    return LeafWithExtra(len, extraBits, set.base[sym - set.s]);
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

// The sub-tables one table geometry opens for the codes longer than its
// root, as they come in canonical order: a root of rootBits, then levels of
// at most `stride` bits each. A table is opened as narrow as the codes that
// fall in it allow. Sub-tables are laid out one after the other behind the
// root.
struct Levels {
    uint32_t rootBits;
    uint32_t stride;
    uint32_t unplaced[kMaxCodeLength + 1];  // codes per length not yet placed
    uint32_t start[kMaxCodeLength + 1];     // first entry of the open table of each level
    uint32_t widths[kMaxCodeLength + 1];
    uint32_t resolved[kMaxCodeLength + 1];  // code bits resolved by the levels above
    uint32_t prefix[kMaxCodeLength + 1];    // low resolved bits shared by the codes of each open table
    uint32_t level;
    uint32_t used;                          // entries laid out so far
};

void InitLevels(Levels &lv, const CodeSet &set, uint32_t rootBits, uint32_t stride) {
    lv.rootBits = rootBits;
    lv.stride = stride;
    for (uint32_t len = 0; len <= kMaxCodeLength; ++len)
        lv.unplaced[len] = len > rootBits ? set.count[len] : 0;
    lv.start[0] = 0;
    lv.widths[0] = rootBits;
    lv.resolved[0] = 0;
    lv.prefix[0] = 0;
    lv.level = 0;
    lv.used = uint32_t(1) << rootBits;
}

// Opens the tables a code of len > rootBits bits (bit-reversed) needs,
// storing their links when `table` is given; the code then ends in the
// table of lv.level.
void EnterLevels(Levels &lv, const CodeSet &set, uint32_t code, uint32_t len, uint32_t *table, uint8_t *aheads) {
    while (len > lv.resolved[lv.level] + lv.widths[lv.level]) {
        const uint32_t above = lv.level++;
        const uint32_t w = lv.resolved[above] + lv.widths[above];
        const uint32_t limit = set.longest - w < lv.stride ? set.longest - w : lv.stride;
        uint32_t width = len - w < limit ? len - w : limit;
        // Fewer codes of this length than patterns: a wider table may still
        // be filled by the longer codes that follow.
        if (width < limit && lv.unplaced[len] < (uint32_t(1) << width)) {
            uint32_t left = (uint32_t(1) << width) - lv.unplaced[len];
            for (;;) {
                ++width;
                if (width == limit)
                    break;
                left *= 2;
                if (set.count[w + width] >= left)
                    break;
                left -= set.count[w + width];
            }
        }
        const uint32_t level = lv.level;
        lv.start[level] = lv.used;
        lv.widths[level] = width;
        lv.resolved[level] = w;
        lv.prefix[level] = LowBits(code, w);
        if (table != nullptr) {
            const uint32_t at = lv.start[above] + LowBits(code >> lv.resolved[above], lv.widths[above]);
            table[at] = SpecialEntry(lv.widths[above], kEntryLinkFlag, lv.used - (uint32_t(1) << lv.rootBits), width);
            aheads[at] = 0;
        }
        lv.used += uint32_t(1) << width;
    }
    --lv.unplaced[len];
}

// After a code: leaves the levels whose prefix the next code does not share.
void LeaveLevels(Levels &lv, uint32_t next) {
    while (lv.level > 0 && LowBits(next, lv.resolved[lv.level]) != lv.prefix[lv.level])
        --lv.level;
}

// Places every code. The byte-at-a-time rule's geometry (`ask`: root
// slot bits, levels as wide as the root) is followed alongside the main
// table's (`main`: one level below it), only to learn how far each code's
// lookups asked.
void PlaceCodes(const CodeSet &set, uint32_t rootBits, uint32_t lookupBits, uint32_t *table, uint8_t *aheads) {
    Levels ask;
    InitLevels(ask, set, rootBits, rootBits);
    Levels main;
    InitLevels(main, set, lookupBits, set.longest > lookupBits ? set.longest - lookupBits : 1);
    uint32_t code = 0;
    uint32_t k = 0;
    const uint32_t top = set.longest > lookupBits ? set.longest : lookupBits;
    for (uint32_t len = 1; len <= top; ++len) {
        for (uint32_t i = 0; i < set.count[len]; ++i, ++k) {
            const bool dummy = k >= set.realCodes;
            const uint32_t sym = dummy ? 0 : set.ordered[k];
            // Every lookup asks for its table's full width; the deepest one
            // reaches furthest.
            uint32_t demand = rootBits;
            if (len > rootBits) {
                EnterLevels(ask, set, code, len, nullptr, nullptr);
                demand = ask.resolved[ask.level] + ask.widths[ask.level];
            }
            const uint32_t entry = LeafEntry(set, dummy, sym, len);
            const uint8_t ahead = uint8_t(demand - len);
            if (len <= lookupBits) {
                // Codes of the main table go first into a table as wide as
                // they are, which is then doubled (below), so that every code
                // ends up in every entry whose low bits are its own.
                table[code] = entry;
                aheads[code] = ahead;
            } else {
                // The leaf answers every index of its sub-table whose low
                // bits are the code's past the main table's.
                EnterLevels(main, set, code, len, table, aheads);
                const uint32_t w = main.resolved[main.level];
                const uint32_t first = main.start[main.level];
                const uint32_t size = uint32_t(1) << main.widths[main.level];
                for (uint32_t j = code >> w; j < size; j += uint32_t(1) << (len - w)) {
                    table[first + j] = entry;
                    aheads[first + j] = ahead;
                }
            }
            code = NextCode(code, len);
            LeaveLevels(ask, code);
            LeaveLevels(main, code);
        }
        if (len < lookupBits) {
            std::memcpy(table + (uint32_t(1) << len), table, (size_t(1) << len) * sizeof(uint32_t));
            std::memcpy(aheads + (uint32_t(1) << len), aheads, size_t(1) << len);
        }
    }
}

} // namespace

int BuildCodeTable(InflateStream &st, const uint32_t *lengths, uint32_t n, uint32_t s, const uint16_t *base,
                   const uint16_t *extra, CodeTable *slot, bool *complete, uint32_t mainBits) {
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
        slot->aheads = nullptr;
        slot->bits = 0;
        slot->lookupBits = 0;
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

    // The main table is kept wide even where the codes are shorter (its
    // entries repeat), so that one mask serves every block. The block is
    // sized without placing the codes: every sub-table is opened by a code
    // longer than the main table (dummies included) and is no wider than
    // the bits such a code has left; together they hold at most one entry
    // per pattern of the longest length.
    const uint32_t lookupBits = mainBits > rootBits ? mainBits : rootBits;
    uint32_t longCodes = 0;
    for (uint32_t len = lookupBits + 1; len <= longest; ++len)
        longCodes += set.count[len];
    const uint32_t subBits = longest > lookupBits ? longest - lookupBits : 0;
    uint32_t subEntries = longCodes << subBits;
    if (longCodes != 0 && subEntries > (uint32_t(1) << longest))
        subEntries = uint32_t(1) << longest;
    const uint32_t size = (uint32_t(1) << lookupBits) + subEntries;
    // Each entry and its byte.
    const size_t blockBytes = size_t(size) * (sizeof(uint32_t) + 1u);
    uint32_t *table;
    if (st.keepWindow) {
        if (slot->capacity < size) {
            ReleaseCodeTableBlock(slot);
            slot->block = static_cast<uint32_t *>(HeapAlloc(GetProcessHeap(), 0, blockBytes));
            slot->capacity = slot->block != nullptr ? size : 0;
        }
        table = slot->block;
    } else {
        table = static_cast<uint32_t *>(HeapAlloc(GetProcessHeap(), 0, blockBytes));
    }
    if (table == nullptr) {
        slot->entries = nullptr;
        st.status = kStatusNoMemory;
        return kBuildNoMemory;
    }
    uint8_t *const aheads = reinterpret_cast<uint8_t *>(table + size);
    PlaceCodes(set, rootBits, lookupBits, table, aheads);
    slot->entries = table;
    slot->aheads = aheads;
    slot->lookupBits = lookupBits;
    if (complete != nullptr)
        *complete = spare == 0;
    return (spare != 0 && longest != 1) ? kBuildIncomplete : kBuildComplete;
}

void FreeCodeTable(CodeTable *slot) {
    if (slot->entries == nullptr)
        return;
    if (slot->entries != slot->block)
        HeapFree(GetProcessHeap(), 0, slot->entries);
    slot->entries = nullptr;
}

void ReleaseCodeTableBlock(CodeTable *slot) {
    FreeCodeTable(slot);
    if (slot->block != nullptr)
        HeapFree(GetProcessHeap(), 0, slot->block);
    slot->block = nullptr;
    slot->capacity = 0;
}

uint32_t DecodeSymbol(InflateStream &st, const CodeTable &table, uint32_t *valueOut) {
    if (table.entries == nullptr)
        return kOpInvalid;
    const uint32_t savedBuffer = st.bitBuffer;
    const uint32_t savedCount = st.bitCount;
    const uint32_t *const entries = table.entries;
    // The rule asks for the root width first. The main table may be wider
    // than the bits pending: the entry found then rests on bits not yet
    // pulled, but only when its code is longer than the pending bits, and
    // then so is the right code, whose lookups ask for more than is
    // pending. So a byte is pulled, as the rule would, and the lookup
    // repeated until the code found lies within the pending bits; it is the
    // right one, and the byte beside its entry says how far the rule asked
    // for it.
    NeedBits(st, table.bits);
    uint32_t index;
    uint32_t e;
    for (;;) {
        index = LeafIndex(table, st.bitBuffer);
        e = entries[index];
        if (EntryCodeBits(e) <= st.bitCount)
            break;
        NeedBits(st, st.bitCount + 1);
    }
    NeedBits(st, EntryCodeBits(e) + table.aheads[index]);
    const uint32_t op = EntryOp(e);
    if (op == kOpInvalid) {
        st.bitBuffer = savedBuffer;
        st.bitCount = savedCount;
        return kOpInvalid;
    }
    DropBits(st, EntryCodeBits(e));
    *valueOut = EntryValue(e);
    return op;
}
