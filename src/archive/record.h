// The entry record: a four-byte magic, a fixed 58-byte header, the name, an
// optional 12-byte encryption header and the entry's data. All integers are
// little-endian. Only the data may continue into a later volume.
#ifndef QZARC_ARCHIVE_RECORD_H
#define QZARC_ARCHIVE_RECORD_H

#include <cstdint>

#include "common/methods.h"

constexpr uint32_t kRecordMagic = 0x04035A51u;  // "QZ", 0x03, 0x04
constexpr uint32_t kEntryHeaderSize = 58;       // offsets 4..61 of the record
constexpr uint32_t kRecordFixedSize = 62;       // magic + header
constexpr uint32_t kEncryptionHeaderSize = 12;
// Bits of the header's flags field.
constexpr uint16_t kFlagEncrypted = 0x0001;

// The 58 header bytes as read; fields are decoded from the bytes so that the
// layout never depends on the compiler's packing or the host's byte order.
struct EntryHeader {
    uint8_t bytes[kEntryHeaderSize];
};

// Offsets within EntryHeader (record offset minus the 4 magic bytes).
namespace header_offset {
constexpr uint32_t kFlags = 2;
constexpr uint32_t kMethod = 4;
constexpr uint32_t kCreationTime = 6;
constexpr uint32_t kAccessTime = 14;
constexpr uint32_t kWriteTime = 22;
constexpr uint32_t kAttributes = 30;
constexpr uint32_t kCrc = 34;
constexpr uint32_t kCompressedSize = 38;
constexpr uint32_t kUncompressedSize = 42;
constexpr uint32_t kNameLength = 54;
}  // namespace header_offset

inline uint16_t ReadLe16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t ReadLe32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint16_t HeaderField16(const EntryHeader &h, uint32_t offset) { return ReadLe16(h.bytes + offset); }
inline uint32_t HeaderField32(const EntryHeader &h, uint32_t offset) { return ReadLe32(h.bytes + offset); }

#endif // QZARC_ARCHIVE_RECORD_H
