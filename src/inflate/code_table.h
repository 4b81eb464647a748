// Huffman lookup tables: one table format for the exact decoder and the
// fast one.
//
// A code set is decoded by table lookup rather than bit by bit. Its table is
// one heap block of 32-bit entries: a main table indexed by the next
// lookupBits input bits, then sub-tables for the codes longer than that, each
// indexed by the bits after the main table's; then a byte per entry (see
// below). Codes of up to 16 bits need one sub-table level at most.
//
// How many input bytes a decode step pulls is not the main table's business.
// Under the byte-at-a-time rule a step asks for bits in the steps of a
// narrower geometry: first the set's root width (CodeTable::bits), then, for
// a code longer than that, the full width of the sub-table the code falls in,
// and so on. That geometry depends on the code lengths alone, and beside
// every leaf is kept how far it asked beyond the end of its code, so both
// decoders pull exactly the bytes it decides while the main table resolves
// long codes in one step.
//
// An entry, least significant bit first:
//   bits  0-7   used: for a leaf the code's bits from its start plus, for a
//               length or distance, its extra bits (at most 31); for a link
//               the main table's width
//   bits  8-12  for a length or distance leaf, the code's own bits (where
//               its extra bits start); for a link, the sub-table's width
//   bit  12     in an entry with bit 14 (which keeps no code bits): an
//               invalid pattern, no symbol or a symbol that is not allowed
//   bit  13     a simple symbol below 256: a literal, or a code-length symbol
//   bit  14     anything but a length or distance leaf
//   bit  15     a link
//   bits 16-31  value: the symbol or base value; for a link the sub-table's
//               first entry, counted from the end of the main table
// A simple symbol of 256 or more (the end of a block) has bit 14 alone.
//
// The fast loops take a length or distance in a few instructions: its
// extra bits are the input's low `used` bits shifted right by the code's
// bits, and its value is the entry shifted right by 16; and they consume
// any leaf by its low byte, which is its `used`.
//
// How far the byte-at-a-time rule asked beyond a leaf's code (its extra
// bits not counted) is kept beside the entries, one byte per entry, for the
// exact decoder and for the fast loops' account of the bytes they pulled:
// the entries have no room for it, and the loops never need it per symbol.
#ifndef QZARC_CODE_TABLE_H
#define QZARC_CODE_TABLE_H

#include <cstdint>

#include "inflate/inflate_state.h"

// What DecodeSymbol and EntryOp tell: 0..16 a length or distance leaf with
// that many extra bits; then the kinds of other entries.
constexpr uint32_t kOpEndOfBlock = 17;
constexpr uint32_t kOpLiteral = 18;
constexpr uint32_t kOpLink = 19;
constexpr uint32_t kOpInvalid = 31;

constexpr uint32_t kEntryUsedMask = 0xFFu;
constexpr uint32_t kEntryCodeShift = 8;
constexpr uint32_t kEntryInvalidFlag = 1u << 12;
constexpr uint32_t kEntryLiteralFlag = 1u << 13;
constexpr uint32_t kEntrySpecialFlag = 1u << 14;
constexpr uint32_t kEntryLinkFlag = 1u << 15;
constexpr uint32_t kEntryValueShift = 16;

constexpr uint32_t kMaxCodeLength = 16;

// Main table widths of the blocks' literal/length and distance tables: most
// codes resolve in one lookup, and the tables stay small enough for the
// first-level cache.
constexpr uint32_t kLiteralLookupBits = 11;
constexpr uint32_t kDistanceLookupBits = 8;
constexpr uint32_t kMaxExtraBits = 16;

// The widths are enough: a length or distance uses at most 31 bits, so its
// extra bits' mask is a 32-bit one (Deflate's codes are at most 15 bits
// long; a 16-bit code with 16 extra bits, which no stream has, is made
// invalid); a link's main table is at most 16 bits wide; a code's own bits
// (at most 16) and a sub-table's width (at most 15) fit in five bits; values
// and sub-table offsets fit in 16 bits (sub-tables hold at most 2^16
// entries, one per pattern of the longest length, and the last starts at
// least one entry before the end).
constexpr uint32_t kMostLeafBits = 31;
static_assert(kMostLeafBits < 32, "used field: the extra bits' mask is a 32-bit one");
static_assert(kEntryValueShift + 16 == 32, "value field");

inline uint32_t EntryUsed(uint32_t e) { return e & kEntryUsedMask; }
inline uint32_t EntryValue(uint32_t e) { return e >> kEntryValueShift; }
inline bool EntryIsLiteral(uint32_t e) { return (e & kEntryLiteralFlag) != 0; }
// Not a length or distance leaf: a literal, the end of a block, a link or
// an invalid pattern.
inline bool EntryIsSpecial(uint32_t e) { return (e & kEntrySpecialFlag) != 0; }
inline bool EntryIsLink(uint32_t e) { return (e & kEntryLinkFlag) != 0; }
// A link's sub-table width.
inline uint32_t EntryLinkBits(uint32_t e) { return (e >> kEntryCodeShift) & 31u; }
// The value of a length's or distance's extra bits, from the input bits
// that start at its code.
inline uint32_t EntryExtra(uint32_t e, uint32_t input) {
    return (input & ((uint32_t(1) << EntryUsed(e)) - 1u)) >> ((e >> kEntryCodeShift) & 31u);
}
// The code bits of a leaf from the code's start (used less any extra bits).
inline uint32_t EntryCodeBits(uint32_t e) {
    return EntryIsSpecial(e) ? EntryUsed(e) : (e >> kEntryCodeShift) & 31u;
}
inline uint32_t EntryOp(uint32_t e) {
    if (!EntryIsSpecial(e))
        return EntryUsed(e) - EntryCodeBits(e);
    if (EntryIsLiteral(e))
        return kOpLiteral;
    if (EntryIsLink(e))
        return kOpLink;
    return (e & kEntryInvalidFlag) != 0 ? kOpInvalid : kOpEndOfBlock;
}

// The index of the leaf that decodes the code at the low bits of `input`
// (at least the main table's width plus its sub-tables').
inline uint32_t LeafIndex(const CodeTable &table, uint32_t input) {
    const uint32_t index = input & ((uint32_t(1) << table.lookupBits) - 1u);
    const uint32_t e = table.entries[index];
    if (!EntryIsLink(e))
        return index;
    return (uint32_t(1) << table.lookupBits) + EntryValue(e) +
           ((input >> table.lookupBits) & ((uint32_t(1) << EntryLinkBits(e)) - 1u));
}
// How far beyond its end the byte-at-a-time rule asked for the code at the
// low bits of `input`.
inline uint32_t CodeAhead(const CodeTable &table, uint32_t input) { return table.aheads[LeafIndex(table, input)]; }

// Outcomes of BuildCodeTable.
enum BuildResult : int {
    kBuildComplete = 0,        // complete set, empty set, or a single 1-bit code
    kBuildIncomplete = 1,      // table built (unused patterns invalid) and left in the slot
    kBuildOversubscribed = 2,  // nothing allocated, slot untouched
    kBuildNoMemory = 3,        // nothing kept, slot empty, status set to kStatusNoMemory
};

// Builds the table for n code lengths (each 0..16, 1 <= n <= 288). Symbols
// below s are simple (value = symbol); symbols from s up take value from
// base[sym - s] and op from the low byte of extra[sym - s] (99 marks a
// symbol as invalid). slot->bits is the root width wanted for the
// byte-at-a-time rule and receives the width used (0 for an empty set);
// the main table is that wide or mainBits wide, whichever is more.
// *complete, when given, tells whether every bit pattern decodes.
int BuildCodeTable(InflateStream &st, const uint32_t *lengths, uint32_t n, uint32_t s, const uint16_t *base,
                   const uint16_t *extra, CodeTable *slot, bool *complete = nullptr,
                   uint32_t mainBits = 0);

// Frees the table and empties the slot; an empty slot is left alone. A
// kept block stays for the next table.
void FreeCodeTable(CodeTable *slot);
// Frees the table and the slot's kept block.
void ReleaseCodeTableBlock(CodeTable *slot);

// Decodes one code through a table, asking for the bits the byte-at-a-time
// rule asks for: the root width, then each deeper level's full width.
// Returns the op of the leaf reached (0..18) with its value in *valueOut,
// or kOpInvalid for an empty table or an invalid pattern; then bitBuffer
// and bitCount are as they were at the call (input pulled is dropped).
uint32_t DecodeSymbol(InflateStream &st, const CodeTable &table, uint32_t *valueOut);

#endif // QZARC_CODE_TABLE_H
