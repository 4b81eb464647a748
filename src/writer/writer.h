// The archive writer: builds entry records byte-exact from their fields and
// writes them out as one archive file or as a set of volumes.
//
// Not part of the extraction library. Tests use it to build every archive
// they need (including ones with deliberately wrong fields), and the
// command-line tool uses it to create archives.
#ifndef QZARC_WRITER_H
#define QZARC_WRITER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qzw {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kRecordMagic = 0x04035A51u;  // "QZ\x03\x04"
constexpr uint32_t kFixedHeaderSize = 62;       // magic + 58-byte header
constexpr uint32_t kEncryptionHeaderSize = 12;

// Every field of one record. The sizes, the CRC and the name length default
// to what the payload and name imply; set an override to write a wrong one.
struct Record {
    uint16_t version = 20;          // offset 4, not interpreted
    uint16_t flags = 0;             // offset 6; bit 0: encrypted
    uint16_t method = 0;            // offset 8: 0 stored, 8 Deflate, 9 Deflate64
    uint64_t creationTime = 0;      // offset 10, FILETIME in local time
    uint64_t accessTime = 0;        // offset 18
    uint64_t writeTime = 0;         // offset 26
    uint32_t attributes = 0x20;     // offset 34
    uint32_t crc = 0;               // offset 38, CRC-32 of the uncompressed data
    uint32_t uncompressedSize = 0;  // offset 46
    uint64_t reserved50 = 0;        // offset 50, not interpreted
    uint16_t reserved60 = 0;        // offset 60, not interpreted
    std::string name;               // offset 62, not terminated
    Bytes encryptionHeader;         // written (12 bytes) only when flags bit 0 is set
    Bytes payload;                  // the data exactly as stored after the header(s)

    std::optional<uint32_t> compressedSizeOverride;  // default: payload.size()
    std::optional<uint16_t> nameLengthOverride;      // default: name.size()
    std::optional<uint32_t> magicOverride;           // default: kRecordMagic

    // With a password (and flags bit 0 set), the record is encrypted when it
    // is serialized: the 12-byte header (encryptionHeader's first 11 bytes as
    // filler, then the check byte: the crc's top byte unless checkByte says
    // otherwise) under fresh keys, then the payload under fresh keys again.
    // Without one, encryptionHeader and payload are written as they stand.
    std::optional<std::string> password;
    std::optional<uint8_t> checkByte;

    bool encrypted() const { return (flags & 1u) != 0; }
    uint32_t compressedSize() const;
    // 62 + name length (+ 12 when encrypted): where the payload starts.
    uint32_t headerSize() const;
};

// The record's bytes: magic, header, name, encryption header (if flagged), payload.
Bytes SerializeRecord(const Record &record);

uint32_t Crc32(const uint8_t *data, size_t size);
inline uint32_t Crc32(const Bytes &data) { return Crc32(data.data(), data.size()); }
// Continues a CRC-32 over more data: Crc32Update(Crc32(a), b) == Crc32(a + b),
// starting from 0.
uint32_t Crc32Update(uint32_t crc, const uint8_t *data, size_t size);

// The entry cipher over a stream of plain bytes in pieces: the keys start
// from the password and carry on from one Apply to the next.
class Encryptor {
public:
    explicit Encryptor(const std::string &password);
    void Apply(uint8_t *data, size_t size);

private:
    uint32_t keys_[3];
};

// A plain record for a file's contents, stored (method 0), crc and sizes filled in.
Record StoredRecord(const std::string &name, const Bytes &contents);

// Raw Deflate (method 8) through zlib. Defaults give zlib's level 6.
struct DeflateOptions {
    int level = 6;         // 0-9
    int strategy = 0;      // Z_DEFAULT_STRATEGY, Z_FILTERED (1), Z_HUFFMAN_ONLY (2), Z_RLE (3), Z_FIXED (4)
    int memLevel = 8;
    size_t flushEvery = 0; // when not 0, a flush point after every that many input bytes
    int flushMode = 2;     // Z_SYNC_FLUSH (2) or Z_FULL_FLUSH (3)
};

// False when the writer was built without zlib (then DeflateRaw gives nothing).
bool HaveDeflate();
Bytes DeflateRaw(const Bytes &data, const DeflateOptions &options = {});
// A method-8 record of the contents: crc and sizes filled in.
Record DeflatedRecord(const std::string &name, const Bytes &contents,
                      const DeflateOptions &options = {});

// Name of volume k of an archive: volume 0 is the path itself; volume k >= 1
// replaces the last three characters of the path with k as "%03d".
std::string VolumeName(const std::string &archivePath, unsigned k);

// A whole archive in memory: an optional prefix of foreign bytes, then the records.
struct Archive {
    Bytes prefix;
    std::vector<Record> records;

    Bytes Serialize() const;
    // Offset of record i in the serialized archive.
    uint64_t RecordOffset(size_t i) const;
    // Offset of the first payload byte of record i.
    uint64_t PayloadOffset(size_t i) const;
};

// Writes bytes to path, replacing it. Returns false on failure.
bool WriteFile(const std::string &path, const Bytes &bytes);

// Splits the serialized archive into volumes at the given absolute offsets
// (strictly increasing) and writes volume 0 to archivePath, volume k to
// VolumeName(archivePath, k). Returns the list of paths written, or an empty
// list on failure. Cuts are not checked; see CutInPayload for safe cut points.
std::vector<std::string> WriteVolumes(const std::string &archivePath, const Bytes &archive,
                                      const std::vector<uint64_t> &cuts);

// The absolute offset `into` bytes into record i's payload (0 = the payload's
// first byte; payload size = exactly at its end): a cut there never splits a
// magic, header, name or encryption header.
uint64_t CutInPayload(const Archive &archive, size_t i, uint64_t into);

// Writes the archive as volumes of at most maxVolumeSize bytes, each cut made
// as late as possible but only inside or at the end of a record's payload.
// Returns the paths written, or an empty list when no valid cut exists.
// A cut lies strictly after the record's header: each volume that ends in a
// record holds at least one byte of its payload, so a record with an empty
// payload offers no cut point. At most 1000 volumes (0..999) are written.
// A cut at the very end of a payload is allowed here, and a walk stops at
// such a volume end (tests use this); for archives that must be walkable to
// the end, use InteriorCuts with WriteArchiveVolumes.
std::vector<std::string> WriteSplit(const std::string &archivePath, const Archive &archive,
                                    uint64_t maxVolumeSize);

// Cut points for volumes of at most maxVolumeSize bytes that a reader walking
// the archive record by record can follow to the end: every cut lies strictly
// inside a payload, with at least one payload byte on either side. (A cut at
// the very end of a payload puts the next record at the start of a volume;
// the walk, finding the previous data ending with its volume, stops there.)
// Each cut is made as late as possible. Empty optional when no such split
// exists or it would need more than 999 cuts; an empty list when the archive
// fits into one volume.
std::optional<std::vector<uint64_t>> InteriorCuts(const Archive &archive, uint64_t maxVolumeSize);

// Writes the archive cut at the given offsets (strictly increasing, each
// before the archive's end) into volume 0 at archivePath and volume k at
// VolumeName(archivePath, k), serializing one record at a time so that no
// second copy of the whole archive is held. Returns the paths written; on
// failure removes the volumes it created and returns an empty list.
std::vector<std::string> WriteArchiveVolumes(const std::string &archivePath, const Archive &archive,
                                             const std::vector<uint64_t> &cuts);

}  // namespace qzw

#endif  // QZARC_WRITER_H
