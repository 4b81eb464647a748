// Turning a stretch's marked symbols (stretch_decode.h) into bytes, once
// the history before the stretch is known.
//
// The map gives every 16-bit symbol its byte: a value below 256 is that
// byte, a marker 256 + k the byte k + 1 places before the stretch.
#ifndef QZARC_INFLATE_MARKER_RESOLVE_H
#define QZARC_INFLATE_MARKER_RESOLVE_H

#include <cstdint>

constexpr uint32_t kSymbolMapSize = 65536;

// Fills the map for a history whose last byte (the one just before the
// stretch) is historyEnd[-1]; the kSymbolMapSize - 256 bytes before
// historyEnd must be readable.
void FillSymbolMap(uint8_t *map, const uint8_t *historyEnd);

// Symbols [i, end) into bytes [i, end) through the map. The bytes may be
// the symbols' own memory (bytes == the symbols' first byte): byte i is
// written only once symbol i has been read. Otherwise the two do not
// overlap. Uses the processor's 512-bit byte and 16-bit compress
// instructions where it has them.
void ResolveSymbols(const uint16_t *symbols, uint8_t *bytes, const uint8_t *map, uint32_t i, uint32_t end);

// The same without vector instructions (what processors without them use).
void ResolveSymbolsPlain(const uint16_t *symbols, uint8_t *bytes, const uint8_t *map, uint32_t i, uint32_t end);

#if defined(QZARC_TEST_HOOKS)
// Test builds only: the widest path ResolveSymbols may take (0: the plain
// one, 1: 512-bit byte instructions, 2: with the 16-bit compress as well),
// so that tests reach every path the processor has.
extern int gResolveLevelCap;
#endif

#endif // QZARC_INFLATE_MARKER_RESOLVE_H
