// Building records and whole in-memory archives byte by byte.
//
// Every field is written exactly as the Record holds it, including the
// overrides, so tests can produce archives with deliberately wrong fields.
// The layout itself (where the name, the encryption header and the payload
// land) always follows the bytes actually present: an override changes what
// a field claims, never where the following bytes are.
#include "writer/writer.h"

#include "crypto/cipher.h"
#include "crypto/crc32.h"

namespace qzw {
namespace {

void PutLe(Bytes &out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void EncryptInPlace(Bytes &bytes, const std::string &password) {
    Encryptor(password).Apply(bytes.data(), bytes.size());
}

}  // namespace

uint32_t Record::compressedSize() const {
    return compressedSizeOverride ? *compressedSizeOverride : static_cast<uint32_t>(payload.size());
}

uint32_t Record::headerSize() const {
    // The name as written, not nameLengthOverride: this is where the payload
    // really starts in the serialized bytes.
    return kFixedHeaderSize + static_cast<uint32_t>(name.size()) +
           (encrypted() ? kEncryptionHeaderSize : 0u);
}

Bytes SerializeRecord(const Record &record) {
    Bytes out;
    out.reserve(record.headerSize() + record.payload.size());

    PutLe(out, record.magicOverride ? *record.magicOverride : kRecordMagic, 4);  // 0
    PutLe(out, record.version, 2);                                               // 4
    PutLe(out, record.flags, 2);                                                 // 6
    PutLe(out, record.method, 2);                                                // 8
    PutLe(out, record.creationTime, 8);                                          // 10
    PutLe(out, record.accessTime, 8);                                            // 18
    PutLe(out, record.writeTime, 8);                                             // 26
    PutLe(out, record.attributes, 4);                                            // 34
    PutLe(out, record.crc, 4);                                                   // 38
    PutLe(out, record.compressedSize(), 4);                                      // 42
    PutLe(out, record.uncompressedSize, 4);                                      // 46
    PutLe(out, record.reserved50, 8);                                            // 50
    const uint16_t nameLength = record.nameLengthOverride
                                    ? *record.nameLengthOverride
                                    : static_cast<uint16_t>(record.name.size());
    PutLe(out, nameLength, 2);                                                   // 58
    PutLe(out, record.reserved60, 2);                                            // 60
    out.insert(out.end(), record.name.begin(), record.name.end());              // 62

    if (record.encrypted()) {
        // The reader always consumes exactly 12 bytes here, so the writer
        // never emits anything else: short headers are zero-padded, long ones cut.
        Bytes header = record.encryptionHeader;
        header.resize(kEncryptionHeaderSize, 0);
        Bytes payload = record.payload;
        if (record.password) {
            header[kEncryptionHeaderSize - 1] =
                record.checkByte ? *record.checkByte : static_cast<uint8_t>(record.crc >> 24);
            // The header and the data each start from keys made from the
            // password alone.
            EncryptInPlace(header, *record.password);
            EncryptInPlace(payload, *record.password);
        }
        out.insert(out.end(), header.begin(), header.end());
        out.insert(out.end(), payload.begin(), payload.end());
        return out;
    }
    out.insert(out.end(), record.payload.begin(), record.payload.end());
    return out;
}

uint32_t Crc32(const uint8_t *data, size_t size) {
    return ~CrcAccumulate(0xFFFFFFFFu, data, size);
}

uint32_t Crc32Update(uint32_t crc, const uint8_t *data, size_t size) {
    return ~CrcAccumulate(~crc, data, size);
}

Encryptor::Encryptor(const std::string &password) {
    CipherKeys keys;
    CipherInit(keys, password.c_str());
    keys_[0] = keys.key0;
    keys_[1] = keys.key1;
    keys_[2] = keys.key2;
}

void Encryptor::Apply(uint8_t *data, size_t size) {
    CipherKeys keys{keys_[0], keys_[1], keys_[2]};
    for (size_t i = 0; i < size; ++i) {
        const uint8_t plain = data[i];
        data[i] = static_cast<uint8_t>(plain ^ CipherStreamByte(keys));
        CipherUpdate(keys, plain);
    }
    keys_[0] = keys.key0;
    keys_[1] = keys.key1;
    keys_[2] = keys.key2;
}

Record StoredRecord(const std::string &name, const Bytes &contents) {
    Record record;
    record.method = 0;
    record.name = name;
    record.payload = contents;
    record.crc = Crc32(contents);
    record.uncompressedSize = static_cast<uint32_t>(contents.size());
    return record;
}

Bytes Archive::Serialize() const {
    Bytes out = prefix;
    for (const Record &record : records) {
        const Bytes bytes = SerializeRecord(record);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

uint64_t Archive::RecordOffset(size_t i) const {
    uint64_t offset = prefix.size();
    for (size_t k = 0; k < i && k < records.size(); ++k)
        offset += records[k].headerSize() + uint64_t{records[k].payload.size()};
    return offset;
}

uint64_t Archive::PayloadOffset(size_t i) const {
    return RecordOffset(i) + records.at(i).headerSize();
}

}  // namespace qzw
