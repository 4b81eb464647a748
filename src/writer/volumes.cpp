// Writing archives to disk, whole or as a set of volumes.
//
// A split archive is just the serialized archive cut into consecutive pieces:
// volume 0 keeps the archive's own path, volume k (1..999) swaps the path's
// last three characters for k as three digits. The reader only follows a
// payload into the next volume, so every magic, header, name and encryption
// header must sit wholly inside one volume; WriteSplit keeps to that,
// WriteVolumes deliberately does not check it.
#include "writer/writer.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace qzw {
namespace {

constexpr unsigned kMaxVolumeIndex = 999;

bool WriteRange(const std::string &path, const uint8_t *data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    if (size != 0)
        out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    // Data may sit in the stream buffer until close; a full disk shows up only there.
    out.close();
    return !out.fail();
}

}  // namespace

std::string VolumeName(const std::string &archivePath, unsigned k) {
    if (k == 0)
        return archivePath;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03u", k);
    const size_t keep = archivePath.size() >= 3 ? archivePath.size() - 3 : 0;
    return archivePath.substr(0, keep) + digits;
}

bool WriteFile(const std::string &path, const Bytes &bytes) {
    return WriteRange(path, bytes.data(), bytes.size());
}

std::vector<std::string> WriteVolumes(const std::string &archivePath, const Bytes &archive,
                                      const std::vector<uint64_t> &cuts) {
    if (cuts.size() > kMaxVolumeIndex)
        return {};
    uint64_t previous = 0;
    for (size_t i = 0; i < cuts.size(); ++i) {
        // A cut at the very end is allowed (it leaves an empty last volume).
        if (cuts[i] > archive.size() || (i > 0 && cuts[i] <= previous))
            return {};
        previous = cuts[i];
    }

    std::vector<std::string> paths;
    uint64_t start = 0;
    for (size_t k = 0; k <= cuts.size(); ++k) {
        const uint64_t end = k < cuts.size() ? cuts[k] : archive.size();
        const std::string path = VolumeName(archivePath, static_cast<unsigned>(k));
        if (!WriteRange(path, archive.data() + start, static_cast<size_t>(end - start)))
            return {};
        paths.push_back(path);
        start = end;
    }
    return paths;
}

uint64_t CutInPayload(const Archive &archive, size_t i, uint64_t into) {
    return archive.PayloadOffset(i) + into;
}

std::vector<std::string> WriteSplit(const std::string &archivePath, const Archive &archive,
                                    uint64_t maxVolumeSize) {
    // The positions WriteSplit may cut at, as closed ranges ordered by offset:
    // for each record, from its first payload byte + 1 to its payload's end.
    // "Strictly after the header" means every volume that ends in a record
    // holds at least one byte of its payload; a record with an empty payload
    // therefore offers no cut point of its own.
    struct Range {
        uint64_t first;
        uint64_t last;
    };
    std::vector<Range> ranges;
    uint64_t offset = archive.prefix.size();
    for (const Record &record : archive.records) {
        const uint64_t payloadStart = offset + record.headerSize();
        const uint64_t payloadEnd = payloadStart + record.payload.size();
        if (payloadEnd > payloadStart)
            ranges.push_back({payloadStart + 1, payloadEnd});
        offset = payloadEnd;
    }

    const Bytes bytes = archive.Serialize();
    const uint64_t total = bytes.size();
    std::vector<uint64_t> cuts;
    uint64_t start = 0;
    while (total - start > maxVolumeSize) {
        if (cuts.size() == kMaxVolumeIndex)
            return {};
        // The latest allowed position in (start, start + maxVolumeSize]: the
        // last range beginning at or before the limit, clipped to the limit.
        const uint64_t limit = start + maxVolumeSize;
        auto after = std::upper_bound(ranges.begin(), ranges.end(), limit,
                                      [](uint64_t value, const Range &r) { return value < r.first; });
        if (after == ranges.begin())
            return {};
        const uint64_t cut = std::min(std::prev(after)->last, limit);
        // Nothing after start fits: a header (or the prefix plus the first
        // header) is larger than a volume.
        if (cut <= start)
            return {};
        cuts.push_back(cut);
        start = cut;
    }
    return WriteVolumes(archivePath, bytes, cuts);
}

}  // namespace qzw
