// Compression methods of an entry record, as recorded in its header and as
// the inflater is started with them.
#ifndef QZARC_COMMON_METHODS_H
#define QZARC_COMMON_METHODS_H

#include <cstdint>

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;    // 32 KiB window
constexpr uint16_t kMethodDeflate64 = 9;  // 64 KiB window, longer matches and distances

#endif // QZARC_COMMON_METHODS_H
