#include "recovery.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "console.h"
#include "files.h"
#include "volumes.h"
#include "interrupt.h"
#include "results.h"
#include "writer/writer.h"

namespace qzcli {
namespace {

constexpr uint64_t kFixedHeader = 62;
constexpr uint32_t kEncryptionHeader = 12;
constexpr size_t kSaneNameLength = 259;
constexpr size_t kScanChunk = 1 << 20;

uint32_t Le32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool ReadAt(const std::string &path, uint64_t offset, unsigned char *data, size_t size) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char *>(data), static_cast<std::streamsize>(size));
    return static_cast<size_t>(in.gcount()) == size;
}

}  // namespace

Recovery::Recovery(const std::string &archive) : archive_(archive) {
    // Every volume the name scheme allows, up to the last one there is.
    size_t last = 0;
    for (unsigned k = 0; k <= 999; ++k) {
        Volume volume;
        volume.path = qzw::VolumeName(archive, k);
        SourceDetails details;
        std::string error;
        volume.exists = ReadSourceDetails(volume.path, &details, &error) && details.kind == FileKind::File;
        volume.size = volume.exists ? details.size : 0;
        volumes_.push_back(volume);
        if (volume.exists)
            last = k;
    }
    volumes_.resize(last + 1);
}

Recovery::~Recovery() {
    for (const std::string &link : links_) {
        RemoveFile(link);
        ForgetOnInterrupt(link);
    }
    for (auto it = linkDirectories_.rbegin(); it != linkDirectories_.rend(); ++it) {
        RemoveEmptyDirectory(*it);
        ForgetOnInterrupt(*it);
    }
}

bool Recovery::StopOf(const Catalogue &catalogue, Place *place) const {
    const WalkSegment &segment = catalogue.segments.back();
    Place at{segment.volumeBase, segment.startOffset};
    Place lastData = at;
    for (size_t i = segment.first; i < catalogue.entries.size(); ++i) {
        const EntryDetails &d = catalogue.entries[i].details;
        at.offset += kFixedHeader + d.nameLength + (d.encrypted ? kEncryptionHeader : 0);
        lastData = at;
        at.offset += d.compressedSize;
        // Data runs on from the end of one volume into the next.
        while (at.volume < static_cast<int>(volumes_.size()) &&
               at.offset > volumes_[static_cast<size_t>(at.volume)].size) {
            if (!volumes_[static_cast<size_t>(at.volume)].exists)
                break;
            at.offset -= volumes_[static_cast<size_t>(at.volume)].size;
            ++at.volume;
        }
        if (at.volume < static_cast<int>(volumes_.size()) && !volumes_[static_cast<size_t>(at.volume)].exists) {
            // Past a missing volume: go on with the next one there is.
            while (at.volume < static_cast<int>(volumes_.size()) &&
                   !volumes_[static_cast<size_t>(at.volume)].exists)
                ++at.volume;
            *place = {at.volume, 0};
            return false;
        }
        if (at.volume >= static_cast<int>(volumes_.size())) {
            // The record claims more data than the archive holds: its header
            // is damaged, and the search starts where its data would.
            *place = lastData;
            return true;
        }
    }
    *place = at;
    return true;
}

bool Recovery::Plausible(const Place &at) const {
    const Volume &volume = volumes_[static_cast<size_t>(at.volume)];
    unsigned char header[kFixedHeader];
    if (at.offset + kFixedHeader > volume.size || !ReadAt(volume.path, at.offset, header, sizeof header))
        return false;
    const uint16_t flags = Le16(header + 6);
    const uint16_t method = Le16(header + 8);
    const uint32_t compressed = Le32(header + 42);
    const uint32_t size = Le32(header + 46);
    const uint16_t nameLength = Le16(header + 58);
    const bool encrypted = (flags & 1u) != 0;
    if (method != 0 && method != 8 && method != 9)
        return false;
    if (nameLength == 0 || nameLength > kSaneNameLength)
        return false;
    if (method == 0 && compressed != size)
        return false;
    const uint64_t headerSize = kFixedHeader + nameLength + (encrypted ? kEncryptionHeader : 0);
    // The header lies wholly in its volume; the data fits into what follows.
    if (at.offset + headerSize > volume.size)
        return false;
    uint64_t room = volume.size - at.offset - headerSize;
    for (size_t k = static_cast<size_t>(at.volume) + 1; k < volumes_.size() && volumes_[k].exists; ++k)
        room += volumes_[k].size;
    if (compressed > room)
        return false;
    unsigned char name[kSaneNameLength];
    if (!ReadAt(volume.path, at.offset + kFixedHeader, name, nameLength))
        return false;
    for (size_t i = 0; i < nameLength; ++i) {
        if (name[i] < 0x20 || name[i] == 0x7F)
            return false;
    }
    return true;
}

bool Recovery::FindRecord(Place from, Place *found) const {
    std::vector<unsigned char> buffer(kScanChunk + sizeof kRecordMagic);
    for (int v = from.volume; v < static_cast<int>(volumes_.size()); ++v) {
        const Volume &volume = volumes_[static_cast<size_t>(v)];
        if (!volume.exists)
            continue;
        std::ifstream in(volume.path, std::ios::binary);
        for (uint64_t at = v == from.volume ? from.offset : 0; at < volume.size;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), volume.size - at));
            in.seekg(static_cast<std::streamoff>(at));
            in.read(reinterpret_cast<char *>(buffer.data()), static_cast<std::streamsize>(n));
            const size_t got = static_cast<size_t>(in.gcount());
            if (got < sizeof kRecordMagic)
                break;
            for (size_t i = 0; i + sizeof kRecordMagic <= got; ++i) {
                if (std::memcmp(buffer.data() + i, kRecordMagic, sizeof kRecordMagic) == 0 && Plausible({v, at + i})) {
                    *found = {v, at + i};
                    return true;
                }
            }
            // The next piece overlaps this one by a magic's length less one.
            at += got - (sizeof kRecordMagic - 1);
            in.clear();
        }
    }
    return false;
}

std::string Recovery::WalkPath(int base, std::string *error) {
    if (base == 0)
        return archive_;
    // Volumes base, base + 1, ... as s.qza, s.001, ...: links in a private
    // directory (hard links beside the archive where symbolic ones are not
    // to be had).
    namespace fs = std::filesystem;
    if (linkRoot_.empty()) {
        if (!MakeTempDirectory(&linkRoot_, error))
            return "";
        linkDirectories_.push_back(linkRoot_);
        RemoveDirectoryOnInterrupt(linkRoot_);
    }
    const std::string directory = JoinPath(linkRoot_, "from" + std::to_string(base));
    if (!MakeDirectory(directory, error))
        return "";
    linkDirectories_.push_back(directory);
    RemoveDirectoryOnInterrupt(directory);
    const std::string first = JoinPath(directory, "s.qza");
    for (size_t k = static_cast<size_t>(base); k < volumes_.size() && volumes_[k].exists; ++k) {
        const std::string link = qzw::VolumeName(first, static_cast<unsigned>(k - static_cast<size_t>(base)));
        std::error_code failed;
        const fs::path target = fs::absolute(volumes_[k].path, failed);
        RemoveOnInterrupt(link);
        links_.push_back(link);
        fs::create_symlink(target, link, failed);
        if (failed) {
            failed.clear();
            fs::create_hard_link(target, link, failed);
        }
        if (failed) {
            *error = "cannot give volume " + volumes_[k].path + " a name of its own: " + failed.message();
            return "";
        }
    }
    return first;
}

std::string Recovery::Describe(const Place &from, const Place &to) const {
    if (from.volume == to.volume)
        return "bytes " + std::to_string(from.offset) + " to " + std::to_string(to.offset - 1) +
               " of " + volumes_[static_cast<size_t>(from.volume)].path;
    return "from byte " + std::to_string(from.offset) + " of " +
           volumes_[static_cast<size_t>(from.volume)].path + " to byte " + std::to_string(to.offset) +
           " of " + volumes_[static_cast<size_t>(to.volume)].path;
}

void Recovery::Extend(const Library &library, VolumeAsker &asker, Catalogue *catalogue) {
    while (catalogue->end != QZ_ARCHIVE_END && !catalogue->openFailed) {
        Place stop;
        if (!StopOf(*catalogue, &stop) && !asker.missingVolume().empty())
            catalogue->skipped.push_back("the missing volume " + Printable(asker.missingVolume()));
        if (stop.volume >= static_cast<int>(volumes_.size()))
            break;
        Place found;
        if (!FindRecord(stop, &found)) {
            const Volume &last = volumes_.back();
            catalogue->skipped.push_back(Describe(stop, {static_cast<int>(volumes_.size()) - 1, last.size}) +
                                         " (no record found there)");
            catalogue->end = QZ_ARCHIVE_END;
            break;
        }
        if (found.volume != stop.volume || found.offset != stop.offset)
            catalogue->skipped.push_back(Describe(stop, found));
        std::string error;
        const std::string path = WalkPath(found.volume, &error);
        if (path.empty()) {
            Err(error);
            break;
        }
        asker.ForgetMissingVolume();
        Catalogue more = ReadCatalogue(library, path, found.offset, &asker);
        const size_t first = catalogue->entries.size();
        WalkSegment segment = more.segments.front();
        segment.first = first;
        segment.volumeBase = found.volume;
        catalogue->segments.push_back(segment);
        for (CatalogueEntry &entry : more.entries) {
            entry.segment = catalogue->segments.size() - 1;
            catalogue->entries.push_back(entry);
        }
        catalogue->end = more.end;
        catalogue->endMessage = more.endMessage;
        if (more.entries.empty())
            break;  // cannot happen for a plausible header; never loop on it
    }
}

}  // namespace qzcli
