// The decode fast path of Huffman-coded blocks.
//
// While the reader's view holds plenty of the entry's bytes, the block
// decoder hands the decoding to FastRun. It takes the view, loads the input
// a word at a time into a bit buffer of the machine's word (eight bytes
// into 64 bits, or four into 32 on a 32-bit processor), decodes through the
// block's own tables with the next entry's lookup made before the refill,
// puts literal runs out without a refill in between (64 bits), and copies
// matches a word at a time. Its output, window and CRC
// are those of the exact decoder; what differs is only how far ahead it
// has read.
//
// That is undone when it leaves. The exact decoder pulls a byte only when a
// step asks for more bits than are pending, so the bytes it would have
// pulled are fixed by the furthest bit any step asked for; beside every
// table entry is kept how far its lookups asked (code_table.h). The last
// symbol's codes tell the furthest, and FastRun looks them up again when it
// leaves, giving back every whole byte beyond it: the bit buffer, the
// reader and all its counts are left as the exact decoder would have left
// them.
#ifndef QZARC_FAST_DECODE_H
#define QZARC_FAST_DECODE_H

#include <cstdint>

#include "inflate/inflate_state.h"

enum FastStop {
    kFastNotRun,       // too little input in view, or a block it cannot take
    kStoppedAtSymbol,  // the next symbol is the exact decoder's
    kStoppedAtMatch,   // a match is decoded (copyLength, copyFrom) for the chunk loop
};

// Decodes while the view has input and the count has room, adding the bytes
// produced to `produced`. Needs a block with both tables set up.
FastStop FastRun(InflateStream &st, uint32_t count, uint32_t &produced);

#if defined(QZARC_TEST_HOOKS)
// Test builds only: when set, FastRun keeps its bits in a 32-bit word, as it
// does on 32-bit processors, so that tests on 64-bit machines check that
// loop against the exact decoder too.
extern bool gNarrowBitBuffer;
#endif

#endif // QZARC_FAST_DECODE_H
