#include "bench_files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace qzb {

namespace {

[[noreturn]] void Fail(const std::string &message) {
    std::fprintf(stderr, "qzbench: %s\n", message.c_str());
    std::exit(2);
}

void Put16(Bytes &b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(Bytes &b, uint32_t v) {
    Put16(b, v & 0xFFFFu);
    Put16(b, v >> 16);
}
uint32_t Get16(const Bytes &b, size_t at) {
    if (at + 2 > b.size())
        Fail("zip cut short");
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8;
}
uint32_t Get32(const Bytes &b, size_t at) { return Get16(b, at) | Get16(b, at + 2) << 16; }

constexpr uint32_t kDosTime = 0x0000;       // 00:00:00
constexpr uint32_t kDosDate = (44u << 9) | (1u << 5) | 1u;  // 2024-01-01

}  // namespace

Bytes ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string &path, const Bytes &bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (!qzw::WriteFile(path, bytes))
        Fail("cannot write " + path);
}

bool Exists(const std::string &path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

Bytes MakeZip(const std::vector<ZipMember> &members) {
    Bytes zip;
    Bytes central;
    for (const ZipMember &m : members) {
        const uint32_t offset = uint32_t(zip.size());
        const uint32_t version = m.method == 9 ? 21 : 20;
        Put32(zip, 0x04034B50u);
        Put16(zip, version);
        Put16(zip, 0);  // flags
        Put16(zip, m.method);
        Put16(zip, kDosTime);
        Put16(zip, kDosDate);
        Put32(zip, m.crc);
        Put32(zip, uint32_t(m.data.size()));
        Put32(zip, m.size);
        Put16(zip, uint32_t(m.name.size()));
        Put16(zip, 0);
        zip.insert(zip.end(), m.name.begin(), m.name.end());
        zip.insert(zip.end(), m.data.begin(), m.data.end());

        Put32(central, 0x02014B50u);
        Put16(central, (3u << 8) | version);  // made by Unix
        Put16(central, version);
        Put16(central, 0);
        Put16(central, m.method);
        Put16(central, kDosTime);
        Put16(central, kDosDate);
        Put32(central, m.crc);
        Put32(central, uint32_t(m.data.size()));
        Put32(central, m.size);
        Put16(central, uint32_t(m.name.size()));
        Put16(central, 0);  // extra
        Put16(central, 0);  // comment
        Put16(central, 0);  // disk
        Put16(central, 0);  // internal attributes
        Put32(central, 0100644u << 16);  // external: a regular file, rw-r--r--
        Put32(central, offset);
        central.insert(central.end(), m.name.begin(), m.name.end());
    }
    const uint32_t centralOffset = uint32_t(zip.size());
    zip.insert(zip.end(), central.begin(), central.end());
    Put32(zip, 0x06054B50u);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, uint32_t(members.size()));
    Put16(zip, uint32_t(members.size()));
    Put32(zip, uint32_t(central.size()));
    Put32(zip, centralOffset);
    Put16(zip, 0);
    return zip;
}

std::vector<ZipMember> ReadZip(const Bytes &zip) {
    if (zip.size() < 22)
        Fail("not a zip");
    size_t end = zip.size() - 22;
    while (end > 0 && Get32(zip, end) != 0x06054B50u)
        --end;
    if (Get32(zip, end) != 0x06054B50u)
        Fail("no end of central directory");
    const uint32_t count = Get16(zip, end + 10);
    size_t at = Get32(zip, end + 16);
    std::vector<ZipMember> members;
    for (uint32_t i = 0; i < count; ++i) {
        if (Get32(zip, at) != 0x02014B50u)
            Fail("bad central directory header");
        ZipMember m;
        m.method = uint16_t(Get16(zip, at + 10));
        m.crc = Get32(zip, at + 16);
        const uint32_t compressed = Get32(zip, at + 20);
        m.size = Get32(zip, at + 24);
        const uint32_t nameLength = Get16(zip, at + 28);
        const uint32_t extraLength = Get16(zip, at + 30);
        const uint32_t commentLength = Get16(zip, at + 32);
        const uint32_t local = Get32(zip, at + 42);
        m.name.assign(zip.begin() + long(at + 46), zip.begin() + long(at + 46 + nameLength));
        at += 46 + nameLength + extraLength + commentLength;
        if (Get32(zip, local) != 0x04034B50u)
            Fail("bad local header");
        const size_t data = local + 30 + Get16(zip, local + 26) + Get16(zip, local + 28);
        if (data + compressed > zip.size())
            Fail("zip member runs past the end");
        m.data.assign(zip.begin() + long(data), zip.begin() + long(data + compressed));
        members.push_back(std::move(m));
    }
    return members;
}

ZipMember ReadFirstRecord(const Bytes &archive) {
    if (archive.size() < qzw::kFixedHeaderSize || Get32(archive, 0) != qzw::kRecordMagic)
        Fail("not a QZ archive");
    if ((Get16(archive, 6) & 1u) != 0)
        Fail("the archive's first record is encrypted");
    ZipMember m;
    m.method = uint16_t(Get16(archive, 8));
    m.crc = Get32(archive, 38);
    const uint32_t compressed = Get32(archive, 42);
    m.size = Get32(archive, 46);
    const size_t data = qzw::kFixedHeaderSize + Get16(archive, 58);
    if (data + compressed > archive.size())
        Fail("the archive's first record runs past its end");
    m.name.assign(archive.begin() + long(qzw::kFixedHeaderSize), archive.begin() + long(data));
    m.data.assign(archive.begin() + long(data), archive.begin() + long(data + compressed));
    return m;
}

Bytes MakeGzip(const Bytes &rawDeflate, uint32_t crc, uint32_t size) {
    Bytes gz = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3};
    gz.insert(gz.end(), rawDeflate.begin(), rawDeflate.end());
    Put32(gz, crc);
    Put32(gz, size);
    return gz;
}

}  // namespace qzb
