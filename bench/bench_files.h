// File helpers and container formats of the benchmark: reading and writing
// whole files, a zip writer and reader for the peers' archives (every entry,
// through the central directory), the first record of a QZ archive, and the
// gzip wrapper libdeflate-gunzip reads. The compressed streams inside are made elsewhere; these only wrap
// or unwrap them, so that every extractor decodes the very same stream.
#ifndef QZBENCH_BENCH_FILES_H
#define QZBENCH_BENCH_FILES_H

#include <cstdint>
#include <string>
#include <vector>

#include "writer/writer.h"

namespace qzb {

using qzw::Bytes;

Bytes ReadAll(const std::string &path);
void WriteAll(const std::string &path, const Bytes &bytes);  // exits on failure
bool Exists(const std::string &path);

// One member of a zip: the name, the method (0, 8 or 9), the CRC and sizes
// of the plain data, and the data as stored.
struct ZipMember {
    std::string name;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint32_t size = 0;
    Bytes data;
};

// A zip of the members in order, with a central directory; names use '/'.
Bytes MakeZip(const std::vector<ZipMember> &members);

// Every member of a zip, found through its central directory. Exits with a
// message when the file is not a zip this can read.
std::vector<ZipMember> ReadZip(const Bytes &zip);

// The first record of an unencrypted QZ archive, in the same fields: its
// name as recorded, method, CRC, size and payload (for the peers, the raw
// stream of an archive someone else wrote). Exits with a message when the
// archive does not start with such a record.
ZipMember ReadFirstRecord(const Bytes &archive);

// A one-member gzip file around a raw Deflate stream.
Bytes MakeGzip(const Bytes &rawDeflate, uint32_t crc, uint32_t size);

}  // namespace qzb

#endif  // QZBENCH_BENCH_FILES_H
