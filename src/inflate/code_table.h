// Huffman lookup tables: one table format for the exact decoder and the
// fast one.
//
// A code set is decoded by table lookup rather than bit by bit. Its table is
// one heap block of 32-bit entries: a main table indexed by the next
// lookupBits input bits, then sub-tables for the codes longer than that, each
// indexed by the bits after the main table's. Codes of up to 16 bits need one
// sub-table level at most.
//
// How many input bytes a decode step pulls is not the main table's business.
// Under the byte-at-a-time rule a step asks for bits in the steps of a
// narrower geometry: first the set's root width (CodeTable::bits), then, for
// a code longer than that, the full width of the sub-table the code falls in,
// and so on. That geometry depends on the code lengths alone, and every leaf
// carries how far it asked beyond the end of its code, so both decoders pull
// exactly the bytes it decides while the main table resolves long codes in
// one step.
//
// An entry, least significant bit first:
//   bits  0-5   used: for a leaf the code's bits from its start plus, for a
//               length or distance, its extra bits; for a link the main
//               table's width
//   bits  6-9   ahead: for a leaf, the bits the byte-at-a-time rule asked
//               for beyond the end of the code (its extra bits not counted);
//               for a link, the sub-table's width
//   bits 10-25  value: the symbol or base value; for a link the sub-table's
//               first entry, counted from the end of the main table
//   bit  26     set exactly in op-18 entries, so one test finds literals
//   bits 27-31  op: 0..16 a length or distance leaf with op extra bits;
//               17 a simple symbol of 256 or more (end of block); 18 a simple
//               symbol below 256 (a literal, or a code-length symbol); 19 a
//               link; 31 an invalid pattern (no symbol, or a symbol that is
//               not allowed)
#ifndef QZARC_CODE_TABLE_H
#define QZARC_CODE_TABLE_H

#include <cstdint>

#include "inflate/inflate_state.h"

constexpr uint32_t kOpEndOfBlock = 17;
constexpr uint32_t kOpLiteral = 18;
constexpr uint32_t kOpLink = 19;
constexpr uint32_t kOpInvalid = 31;

constexpr uint32_t kEntryUsedMask = 0x3Fu;
constexpr uint32_t kEntryAheadShift = 6;
constexpr uint32_t kEntryValueShift = 10;
constexpr uint32_t kEntryLiteralFlag = 1u << 26;
constexpr uint32_t kEntryOpShift = 27;

constexpr uint32_t kMaxCodeLength = 16;

// Main table widths of the blocks' literal/length and distance tables: most
// codes resolve in one lookup, and the tables stay small enough for the
// first-level cache.
constexpr uint32_t kLiteralLookupBits = 11;
constexpr uint32_t kDistanceLookupBits = 8;
constexpr uint32_t kMaxExtraBits = 16;

// The widths are enough: a code of 16 bits with 16 extra bits; asks never
// more than 15 bits past a code's end (a level asks for at most its width,
// 16 bits, and its codes end inside it) and sub-tables of at most 15 bits
// (the main table is at least one bit wide); 16-bit values and sub-table
// offsets (sub-tables hold at most 2^16 entries, one per pattern of the
// longest length, and the last starts at least one entry before the end);
// and every op.
static_assert(kMaxCodeLength + kMaxExtraBits <= kEntryUsedMask, "used field");
static_assert(kMaxCodeLength - 1 < (1u << (kEntryValueShift - kEntryAheadShift)), "ahead field");
static_assert(kEntryValueShift + 16 <= 26, "value field");
static_assert(kOpInvalid < (1u << (32 - kEntryOpShift)), "op field");

inline uint32_t EntryUsed(uint32_t e) { return e & kEntryUsedMask; }
inline uint32_t EntryOp(uint32_t e) { return e >> kEntryOpShift; }
inline uint32_t EntryValue(uint32_t e) { return (e >> kEntryValueShift) & 0xFFFFu; }
inline uint32_t EntryAhead(uint32_t e) { return (e >> kEntryAheadShift) & 15u; }
inline bool EntryIsLiteral(uint32_t e) { return (e & kEntryLiteralFlag) != 0; }
// The code bits of a leaf from the code's start (used less any extra bits).
inline uint32_t EntryCodeBits(uint32_t e) {
    const uint32_t op = EntryOp(e);
    return EntryUsed(e) - (op <= kMaxExtraBits ? op : 0);
}

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
