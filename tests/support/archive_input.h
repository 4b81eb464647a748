// The layout of an archive fuzz input: a control byte, the lengths of all
// volumes but the last, and the volumes' bytes one after another.
//
//   byte 0        bits 0-1: volume count, 1 + (value % 3)
//                 bit 2:    the walk's first call is header-only (else extract)
//   then          for each volume but the last, its length as 4 bytes,
//                 little-endian (clamped to what the input still holds)
//   then          the volumes' bytes; the last volume takes the rest
//
// Every byte string is a valid input: missing length bytes count as 0.
#ifndef QZARC_FUZZ_ARCHIVE_INPUT_H
#define QZARC_FUZZ_ARCHIVE_INPUT_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qzfuzz {

using Bytes = std::vector<uint8_t>;

// The password every walk uses; encrypted seed entries are made with it.
constexpr const char *kPassword = "qzarc-fuzz";

struct ArchiveInput {
    bool firstHeaderOnly = false;
    std::vector<Bytes> volumes;  // 1 to 3
};

ArchiveInput ParseArchiveInput(const uint8_t *data, size_t size);
Bytes EncodeArchiveInput(const ArchiveInput &input);

}  // namespace qzfuzz

#endif  // QZARC_FUZZ_ARCHIVE_INPUT_H
