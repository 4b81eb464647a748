// Reads the first entry of a zip file, enough to take out the raw compressed
// stream that another encoder wrote, with the sizes and CRC it recorded.
#ifndef QZARC_ZIP_READER_H
#define QZARC_ZIP_READER_H

#include <cstdint>
#include <string>

#include "writer/writer.h"

namespace qzt {

struct ZipEntry {
    uint16_t flags = 0;
    uint16_t method = 0;  // 0 stored, 8 Deflate, 9 Deflate64
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    std::string name;
    qzw::Bytes data;  // the entry's raw (compressed) bytes
};

// The first local entry of zip. When bit 3 of its flags is set the local
// header holds no sizes and they come from the central directory. Returns
// false, with a reason in *error, when zip is not such a file.
bool ReadFirstZipEntry(const qzw::Bytes &zip, ZipEntry *entry, std::string *error);

}  // namespace qzt

#endif  // QZARC_ZIP_READER_H
