#include "code_table.h"

#include <cstring>
#include <type_traits>

#include "inflate_stream.h"
#include "platform.h"
#include "unpack_state.h"

const uint16_t BitMask[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F, 0x003F,
                              0x007F, 0x00FF, 0x01FF, 0x03FF, 0x07FF, 0x0FFF, 0x1FFF,
                              0x3FFF, 0x7FFF, 0xFFFF};

namespace {

constexpr uint32_t kMaxCodeLength = 16;
constexpr uint32_t kMaxSymbols = 288;

inline uint32_t LowMask(uint32_t bits) { return (uint32_t(1) << bits) - 1u; }

// An entry's bytes as two plain words (10 bytes with 64-bit pointers, 6
// with 32-bit ones): the head, then a 16-bit tail.
typedef std::conditional<sizeof(CodeEntry) == 10, uint64_t, uint32_t>::type EntryHead;
static_assert(sizeof(EntryHead) + sizeof(uint16_t) == sizeof(CodeEntry), "an entry is 6 or 10 bytes");

// Frees a chain that starts at a root table (the entry after the first
// block's link entry).
void FreeChain(CodeEntry *table) {
    HANDLE heap = GetProcessHeap();
    while (table != nullptr) {
        CodeEntry *block = table - 1;
        CodeEntry *next = block->next;
        HeapFree(heap, 0, block);
        table = next;
    }
}

} // namespace

int BuildCodeTable(const uint32_t *lengths, uint32_t n, uint32_t s, const uint16_t *base,
                   const uint16_t *extra, CodeTable *slot, uint32_t *lookupBits) {
    // Symbols per code length.
    uint32_t count[kMaxCodeLength + 1] = {};
    for (uint32_t i = 0; i < n; ++i) {
        if (lengths[i] > kMaxCodeLength)
            return kBuildOversubscribed;  // no such code can exist; treat it as unusable
        ++count[lengths[i]];
    }
    if (count[0] == n) {
        *slot = nullptr;
        *lookupBits = 0;
        return kBuildComplete;
    }

    uint32_t shortest = 1;
    while (count[shortest] == 0)
        ++shortest;
    uint32_t longest = kMaxCodeLength;
    while (count[longest] == 0)
        --longest;
    uint32_t rootBits = *lookupBits;
    if (rootBits < shortest)
        rootBits = shortest;
    if (rootBits > longest)
        rootBits = longest;
    *lookupBits = rootBits;

    // Kraft check, in units of the shortest code's share: spare ends as the
    // number of longest-length patterns no code uses.
    int32_t spare = int32_t(1) << shortest;
    for (uint32_t len = shortest; len < longest; ++len) {
        spare -= int32_t(count[len]);
        if (spare < 0)
            return kBuildOversubscribed;
        spare *= 2;
    }
    spare -= int32_t(count[longest]);
    if (spare < 0)
        return kBuildOversubscribed;

    // Unused patterns become dummy codes of the longest length, placed after
    // every real code, so every table is filled and they decode as invalid.
    const uint32_t realCodes = n - count[0];
    count[longest] += uint32_t(spare);
    const uint32_t allCodes = realCodes + uint32_t(spare);

    // Real symbols ordered by length, then by symbol: canonical code order.
    uint16_t ordered[kMaxSymbols];
    uint32_t offset[kMaxCodeLength + 2] = {};
    for (uint32_t len = 1; len <= kMaxCodeLength; ++len)
        offset[len + 1] = offset[len] + (len == longest ? count[len] - uint32_t(spare) : count[len]);
    for (uint32_t sym = 0; sym < n; ++sym) {
        if (lengths[sym] != 0)
            ordered[offset[lengths[sym]]++] = uint16_t(sym);
    }

    uint32_t unplaced[kMaxCodeLength + 1];
    for (uint32_t len = 0; len <= kMaxCodeLength; ++len)
        unplaced[len] = count[len];

    HANDLE heap = GetProcessHeap();
    CodeEntry *tables[kMaxCodeLength];  // open table per level
    uint32_t widths[kMaxCodeLength];
    uint32_t prefix[kMaxCodeLength];    // low w bits shared by the codes of each open table
    CodeEntry *root = nullptr;
    CodeEntry *lastBlock = nullptr;     // most recently allocated block (its link entry)

    // The code is kept bit-reversed: its first input bit is bit 0. w counts the
    // code bits resolved by the levels above the current one.
    uint32_t code = 0;
    int32_t level = -1;
    int32_t w = -int32_t(rootBits);

    for (uint32_t k = 0; k < allCodes; ++k) {
        const bool dummy = k >= realCodes;
        const uint32_t sym = dummy ? 0 : ordered[k];
        const uint32_t len = dummy ? longest : lengths[sym];

        // Open tables until this code ends within the current level.
        while (int32_t(len) > w + int32_t(rootBits)) {
            ++level;
            w += int32_t(rootBits);
            const uint32_t uw = uint32_t(w);
            const uint32_t limit = longest - uw < rootBits ? longest - uw : rootBits;
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
                    if (count[uw + width] >= left)
                        break;
                    left -= count[uw + width];
                }
            }

            CodeEntry *block = static_cast<CodeEntry *>(
                HeapAlloc(heap, 0, ((size_t(1) << width) + 1) * sizeof(CodeEntry)));
            if (block == nullptr) {
                FreeChain(root);
                *slot = nullptr;
                gUnpack.status = kInflateNoMemory;
                return kBuildNoMemory;
            }
            block[0].op = 0;
            block[0].bits = 0;
            block[0].next = nullptr;
            CodeEntry *table = block + 1;
            if (root == nullptr)
                root = table;
            else
                lastBlock->next = table;
            lastBlock = block;

            tables[level] = table;
            widths[level] = width;
            prefix[level] = code & LowMask(uw);
            if (level > 0) {
                CodeEntry link;
                link.op = uint8_t(kOpLinkBase + width);
                link.bits = uint8_t(rootBits);
                link.next = table;
                tables[level - 1][(code >> (uw - rootBits)) & LowMask(rootBits)] = link;
            }
        }

        const uint32_t uw = uint32_t(w);
        CodeEntry leaf;
        leaf.next = nullptr;
        leaf.bits = uint8_t(len - uw);
        if (dummy) {
            leaf.op = kOpInvalid;
        } else if (sym < s) {
            leaf.op = sym < 256 ? kOpLiteral : kOpEndOfBlock;
            leaf.value = uint16_t(sym);
        } else {
            leaf.op = uint8_t(extra[sym - s] & 0xFFu);
            leaf.value = base[sym - s];
        }
        // The leaf answers every index whose low len - w bits are the code's.
        // Its bytes are taken once and stored as they are: assigning the
        // packed entry field by field in the loop is several times slower.
        const uint32_t size = uint32_t(1) << widths[level];
        const uint32_t step = uint32_t(1) << (len - uw);
        EntryHead head;
        uint16_t tail;
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&leaf);
        std::memcpy(&head, bytes, sizeof head);
        std::memcpy(&tail, bytes + sizeof head, sizeof tail);
        for (uint32_t i = code >> uw; i < size; i += step) {
            unsigned char *slot = reinterpret_cast<unsigned char *>(&tables[level][i]);
            std::memcpy(slot, &head, sizeof head);
            std::memcpy(slot + sizeof head, &tail, sizeof tail);
        }
        --unplaced[len];

        // Next code of this length, bit-reversed: add 1 from the top bit down.
        uint32_t bit = uint32_t(1) << (len - 1);
        while ((code & bit) != 0)
            bit >>= 1;
        code = bit != 0 ? (code & (bit - 1u)) + bit : 0;

        // Leave the levels whose prefix this code no longer shares.
        while (level >= 0 && (code & LowMask(uint32_t(w))) != prefix[level]) {
            --level;
            w -= int32_t(rootBits);
        }
    }

    *slot = root;
    return (spare != 0 && longest != 1) ? kBuildIncomplete : kBuildComplete;
}

void FreeCodeTable(CodeTable *slot) {
    if (*slot == nullptr)
        return;
    FreeChain(*slot);
    *slot = nullptr;
}

uint32_t DecodeSymbol(uint32_t width, const CodeEntry *table, uint32_t *valueOut) {
    if (table == nullptr)
        return kOpInvalid;
    const uint32_t savedBuffer = gInflate.bitBuffer;
    const uint32_t savedCount = gInflate.bitCount;
    for (;;) {
        NeedBits(width);
        const CodeEntry *entry = table + (gInflate.bitBuffer & BitMask[width]);
        const uint32_t op = entry->op;
        if (op == kOpInvalid) {
            gInflate.bitBuffer = savedBuffer;
            gInflate.bitCount = savedCount;
            return kOpInvalid;
        }
        DropBits(entry->bits);
        if (op > kOpLinkBase) {
            width = op - kOpLinkBase;
            table = entry->next;
            continue;
        }
        *valueOut = entry->value;
        return op;
    }
}

uint32_t ReadBits(uint32_t n) {
    NeedBits(n);
    const uint32_t value = gInflate.bitBuffer & BitMask[n];
    DropBits(n);
    return value;
}
