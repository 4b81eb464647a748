// The decoder of stored blocks (BTYPE 0): LEN and NLEN, then LEN bytes
// copied as they are.
#ifndef QZARC_STORED_BLOCK_H
#define QZARC_STORED_BLOCK_H

#include <cstdint>

#include "inflate/inflate_state.h"

// Produces at most count bytes into the window and delivers them; returns
// how many. 0 with kStatusBadData when NLEN is not LEN's complement.
uint32_t StoredBlockSlice(InflateStream &st, uint32_t count);

#endif // QZARC_STORED_BLOCK_H
