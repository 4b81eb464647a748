// Huffman-coded blocks: fixed codes (BTYPE 1) and dynamic codes (BTYPE 2),
// with the length and distance tables of Deflate and Deflate64.
#ifndef QZARC_CODED_BLOCKS_H
#define QZARC_CODED_BLOCKS_H

#include <cstdint>

#include "inflate/inflate_state.h"

// Length symbols 257..287, indexed by symbol - 257. Deflate64 differs only
// in symbol 285: 3 plus 16 extra bits instead of a fixed 258. An extra value
// of 99 makes the table builder mark the symbol (286, 287) invalid.
extern const uint16_t LengthBase8[31];
extern const uint16_t LengthExtra8[31];
extern const uint16_t LengthBase9[31];
extern const uint16_t LengthExtra9[31];

// Distance codes 0..31 with the same extra bits in both methods. Deflate64's
// codes 30 and 31 reach up to 65536 bytes back. Deflate's 32 KiB window has
// no such distances, yet its decoders have always taken them modulo the
// window, 32769 being 1: its table says so with bases reduced by 32768.
extern const uint16_t DistanceBase8[32];
extern const uint16_t DistanceBase9[32];
extern const uint16_t DistanceExtra[32];

// The order in which a dynamic block header lists the code-length code lengths.
extern const uint8_t CodeLengthOrder[19];

// Block decoders: produce at most count bytes into the window, deliver them
// with FlushWindow, and return how many. 0 with status set is a failure.
// Both build their block's tables on first entry and free them when the
// block ends or fails.
uint32_t FixedBlockSlice(InflateStream &st, uint32_t count);
uint32_t DynamicBlockSlice(InflateStream &st, uint32_t count);

// Builds the current block's tables (fixed or dynamic, by st.flags), reading
// a dynamic block's code description, unless they are built already. False
// with status set (and both slots empty) when the description is bad or
// memory ran out.
bool SetUpCodedBlock(InflateStream &st);

// Decodes the data of a fixed or dynamic block with the tables in the
// stream's two slots; count >= 1.
uint32_t CodedSlice(InflateStream &st, uint32_t count);

// Frees both table slots.
void FreeBlockTables(InflateStream &st);

#endif // QZARC_CODED_BLOCKS_H
