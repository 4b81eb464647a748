// The reference archive of the fault sweeps and the seed corpus: eight
// entries of every kind the extractor handles (stored, Deflate in several
// blocks, Deflate64, encrypted stored and encrypted Deflate, an empty entry),
// over three volumes, with a Deflate entry and an encrypted stored entry
// running on from one volume into the next.
#ifndef QZARC_FUZZ_REFERENCE_ARCHIVE_H
#define QZARC_FUZZ_REFERENCE_ARCHIVE_H

#include <cstdint>
#include <string>
#include <vector>

#include "archive_input.h"
#include "writer/writer.h"

namespace qzfuzz {

struct ReferenceArchive {
    qzw::Archive archive;
    std::vector<Bytes> plain;     // each entry's extracted contents
    std::vector<uint64_t> cuts;   // volume boundaries in the serialized archive
    Bytes bytes;                  // the serialized archive

    // The volumes as a walk input.
    ArchiveInput Input() const;
    // Offset of record i's first byte, and one past its last, in bytes.
    uint64_t RecordStart(size_t i) const;
    uint64_t RecordEnd(size_t i) const;
};

ReferenceArchive BuildReferenceArchive();

// Deterministic text-like data (words from a small vocabulary).
Bytes TextData(size_t size, uint32_t seed);

}  // namespace qzfuzz

#endif  // QZARC_FUZZ_REFERENCE_ARCHIVE_H
