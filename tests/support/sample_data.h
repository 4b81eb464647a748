// Deterministic data with distinct compression behaviour, beyond the plain
// kinds of MakeData: record-structured binary, long runs, and text with
// random stretches.
#ifndef QZARC_SAMPLE_DATA_H
#define QZARC_SAMPLE_DATA_H

#include <cstddef>
#include <cstdint>

#include "writer/writer.h"

namespace qzt {

// Fixed-width records: a counter, a multiple of it, a tag from a small set
// and four random bytes. Matches are short and at regular distances.
qzw::Bytes BinaryRecords(size_t size, uint32_t seed);
// Runs of 1 to maxRun equal bytes, mostly from a small set of values.
qzw::Bytes LongRuns(size_t size, uint32_t seed, uint32_t maxRun = 4000);
// Text with a 1500-byte random stretch every 20 000 bytes.
qzw::Bytes TextWithNoise(size_t size, uint32_t seed);

}  // namespace qzt

#endif  // QZARC_SAMPLE_DATA_H
