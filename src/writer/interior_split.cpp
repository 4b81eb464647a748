// Splitting an archive into volumes that a record walk can follow.
//
// The reader follows an entry's data from one volume into the next, and it
// finds the next record right where that data ended. What it cannot do is
// step from a volume whose last record's data ends exactly with the volume
// into the next volume: at that point it sees the end of the archive. So
// every cut here lies strictly inside a payload, and each volume but the last
// ends partway through some entry's data.
#include "writer/writer.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace qzw {
namespace {

constexpr size_t kMaxCuts = 999;  // volumes 0..999

// The offsets a cut may take inside one payload: [first, last], both inclusive.
struct Interior {
    uint64_t first;
    uint64_t last;
};

std::vector<Interior> InteriorRanges(const Archive &archive) {
    std::vector<Interior> ranges;
    uint64_t offset = archive.prefix.size();
    for (const Record &record : archive.records) {
        const uint64_t payloadStart = offset + record.headerSize();
        const uint64_t payloadEnd = payloadStart + record.payload.size();
        // At least one payload byte before and one after the cut.
        if (payloadEnd >= payloadStart + 2)
            ranges.push_back({payloadStart + 1, payloadEnd - 1});
        offset = payloadEnd;
    }
    return ranges;
}

uint64_t SerializedSize(const Archive &archive) {
    uint64_t size = archive.prefix.size();
    for (const Record &record : archive.records)
        size += record.headerSize() + uint64_t{record.payload.size()};
    return size;
}

// Writes a byte stream into consecutive volume files, switching at the cuts.
class VolumeSink {
public:
    VolumeSink(const std::string &archivePath, const std::vector<uint64_t> &cuts)
        : archivePath_(archivePath), cuts_(cuts) {}

    bool Open() { return OpenVolume(0); }

    bool Write(const uint8_t *data, size_t size) {
        while (size > 0) {
            const uint64_t end = volume_ < cuts_.size() ? cuts_[volume_] : UINT64_MAX;
            if (position_ == end) {
                if (!CloseVolume() || !OpenVolume(volume_ + 1))
                    return false;
                continue;
            }
            const size_t n = static_cast<size_t>(std::min<uint64_t>(size, end - position_));
            out_.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(n));
            if (!out_)
                return false;
            data += n;
            size -= n;
            position_ += n;
        }
        return true;
    }

    // Closes the last volume; a full disk may show up only here.
    bool Finish() { return CloseVolume() && volume_ == cuts_.size(); }

    void RemoveAll() {
        if (out_.is_open())
            out_.close();
        for (const std::string &path : paths_)
            std::remove(path.c_str());
        paths_.clear();
    }

    const std::vector<std::string> &paths() const { return paths_; }

private:
    bool OpenVolume(size_t k) {
        volume_ = k;
        const std::string path = VolumeName(archivePath_, static_cast<unsigned>(k));
        out_.open(path, std::ios::binary | std::ios::trunc);
        if (!out_.is_open())
            return false;
        paths_.push_back(path);
        return true;
    }

    bool CloseVolume() {
        out_.close();
        return !out_.fail();
    }

    std::string archivePath_;
    const std::vector<uint64_t> &cuts_;
    std::ofstream out_;
    std::vector<std::string> paths_;
    size_t volume_ = 0;
    uint64_t position_ = 0;
};

}  // namespace

std::optional<std::vector<uint64_t>> InteriorCuts(const Archive &archive, uint64_t maxVolumeSize) {
    const std::vector<Interior> ranges = InteriorRanges(archive);
    const uint64_t total = SerializedSize(archive);
    std::vector<uint64_t> cuts;
    uint64_t start = 0;
    while (total - start > maxVolumeSize) {
        if (cuts.size() == kMaxCuts)
            return std::nullopt;
        const uint64_t limit = start + maxVolumeSize;
        // The last range that begins at or before the limit, clipped to it.
        auto after = std::upper_bound(ranges.begin(), ranges.end(), limit,
                                      [](uint64_t value, const Interior &r) { return value < r.first; });
        if (after == ranges.begin())
            return std::nullopt;
        const uint64_t cut = std::min(std::prev(after)->last, limit);
        if (cut <= start)
            return std::nullopt;  // no payload interior in (start, limit]
        cuts.push_back(cut);
        start = cut;
    }
    return cuts;
}

std::vector<std::string> WriteArchiveVolumes(const std::string &archivePath, const Archive &archive,
                                             const std::vector<uint64_t> &cuts) {
    const uint64_t total = SerializedSize(archive);
    if (cuts.size() > kMaxCuts)
        return {};
    for (size_t i = 0; i < cuts.size(); ++i) {
        if (cuts[i] >= total || (i > 0 && cuts[i] <= cuts[i - 1]))
            return {};
    }

    VolumeSink sink(archivePath, cuts);
    bool ok = sink.Open() && sink.Write(archive.prefix.data(), archive.prefix.size());
    for (size_t i = 0; ok && i < archive.records.size(); ++i) {
        const Bytes bytes = SerializeRecord(archive.records[i]);
        ok = sink.Write(bytes.data(), bytes.size());
    }
    ok = ok && sink.Finish();
    if (!ok) {
        sink.RemoveAll();
        return {};
    }
    return sink.paths();
}

}  // namespace qzw
