// Multi-level Huffman lookup tables and the two readers that consume input.
//
// A code set is decoded by table lookup rather than bit by bit: a root table
// indexed by the next rootBits input bits, and sub-tables for the codes that
// are longer than the root width. Each table lives in its own heap block; the
// blocks of one code set form a chain through a link entry placed in front of
// every table, so the whole set is released by walking that chain.
#ifndef QZARC_CODE_TABLE_H
#define QZARC_CODE_TABLE_H

#include <cstdint>

// What a table entry is, by its op:
//   0..16   length or distance symbol; op extra bits follow the code
//   17      simple symbol of 256 or more (end of block)
//   18      simple symbol below 256 (literal byte, or a code-length symbol)
//   19..34  link: the next op - 18 input bits index the sub-table in `next`
//   99      invalid: no symbol has this bit pattern, or it is not allowed
constexpr uint8_t kOpEndOfBlock = 17;
constexpr uint8_t kOpLiteral = 18;
constexpr uint8_t kOpLinkBase = 18;
constexpr uint8_t kOpInvalid = 99;

#pragma pack(push, 1)
struct CodeEntry {
    uint8_t op;
    uint8_t bits;  // input bits this entry consumes at its level
    union {
        uint16_t value;   // symbol, base length or base distance
        CodeEntry *next;  // link entries: the sub-table; chain heads: the next block's table
    };
};
#pragma pack(pop)

// A table slot refers to the root table of a chain (the entry right after the
// first block's link entry), or is null when the code set has no table.
typedef CodeEntry *CodeTable;

// BitMask[n] = 2^n - 1.
extern const uint16_t BitMask[17];

// Outcomes of BuildCodeTable.
enum BuildResult : int {
    kBuildComplete = 0,        // complete set, empty set, or a single 1-bit code
    kBuildIncomplete = 1,      // table built (unused patterns invalid) and left in the slot
    kBuildOversubscribed = 2,  // nothing allocated, slot untouched
    kBuildNoMemory = 3,        // nothing kept, slot empty, status register set to 1
};

// Builds the lookup tables for n code lengths (each 0..16, 1 <= n <= 288).
// Symbols below s are simple (value = symbol); symbols from s up take value
// from base[sym - s] and op from the low byte of extra[sym - s]. *lookupBits
// is the root width wanted and receives the width used (0 for an empty set).
int BuildCodeTable(const uint32_t *lengths, uint32_t n, uint32_t s, const uint16_t *base,
                   const uint16_t *extra, CodeTable *slot, uint32_t *lookupBits);

// Frees every block of the chain and empties the slot; an empty slot is left alone.
void FreeCodeTable(CodeTable *slot);

// Decodes one symbol through a table of root width `width`. Returns the op of
// the leaf reached (0..18) with its value in *valueOut, or 99 for an empty
// table or an invalid code, in which case no input bits are consumed.
uint32_t DecodeSymbol(uint32_t width, const CodeEntry *table, uint32_t *valueOut);

// The next n input bits (0 <= n <= 16), least significant first.
uint32_t ReadBits(uint32_t n);

#endif // QZARC_CODE_TABLE_H
