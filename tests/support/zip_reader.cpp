#include "zip_reader.h"

namespace qzt {
namespace {

constexpr uint32_t kLocalHeader = 0x04034B50u;
constexpr uint32_t kCentralHeader = 0x02014B50u;
constexpr uint32_t kEndOfCentralDirectory = 0x06054B50u;
constexpr uint16_t kSizesInDescriptor = 1u << 3;

struct Reader {
    const qzw::Bytes &b;
    bool ok = true;
    uint32_t u16(size_t at) {
        if (at + 2 > b.size()) {
            ok = false;
            return 0;
        }
        return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8;
    }
    uint32_t u32(size_t at) { return u16(at) | u16(at + 2) << 16; }
};

}  // namespace

bool ReadFirstZipEntry(const qzw::Bytes &zip, ZipEntry *entry, std::string *error) {
    Reader r{zip};
    if (r.u32(0) != kLocalHeader || !r.ok) {
        *error = "no local file header at the start";
        return false;
    }
    entry->flags = static_cast<uint16_t>(r.u16(6));
    entry->method = static_cast<uint16_t>(r.u16(8));
    entry->crc = r.u32(14);
    entry->compressedSize = r.u32(18);
    entry->uncompressedSize = r.u32(22);
    const uint32_t nameLength = r.u16(26);
    const uint32_t extraLength = r.u16(28);
    const size_t dataStart = 30 + size_t{nameLength} + extraLength;
    if (!r.ok || dataStart > zip.size()) {
        *error = "local header cut short";
        return false;
    }
    entry->name.assign(zip.begin() + 30, zip.begin() + 30 + nameLength);

    if ((entry->flags & kSizesInDescriptor) != 0) {
        // The sizes follow the data; the central directory has them too.
        if (zip.size() < 22) {
            *error = "no end of central directory";
            return false;
        }
        size_t end = zip.size() - 22;
        while (end > 0 && r.u32(end) != kEndOfCentralDirectory)
            --end;
        if (r.u32(end) != kEndOfCentralDirectory) {
            *error = "no end of central directory";
            return false;
        }
        const size_t central = r.u32(end + 16);
        if (r.u32(central) != kCentralHeader || !r.ok) {
            *error = "no central directory header";
            return false;
        }
        entry->crc = r.u32(central + 16);
        entry->compressedSize = r.u32(central + 20);
        entry->uncompressedSize = r.u32(central + 24);
    }
    if (!r.ok || dataStart + entry->compressedSize > zip.size()) {
        *error = "entry data runs past the end of the file";
        return false;
    }
    entry->data.assign(zip.begin() + static_cast<long>(dataStart),
                       zip.begin() + static_cast<long>(dataStart + entry->compressedSize));
    return true;
}

}  // namespace qzt
