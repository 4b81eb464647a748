#include "volume_writer.h"

#include <algorithm>
#include <random>

#include "files.h"
#include "interrupt.h"
#include "writer/writer.h"

namespace qzcli {
namespace {

// Finished records remembered as places to cut back to; a header never
// needs to reach further back than the last few.
constexpr size_t kRememberedInteriors = 4096;
constexpr size_t kCopyChunk = 1 << 16;

std::string DirectoryOf(const std::string &path) {
    const size_t slash = path.find_last_of(PathSeparator() == '\\' ? "\\/" : "/");
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

}  // namespace

std::string TemporaryBeside(const std::string &final) {
    static std::mt19937 random{std::random_device{}()};
    for (;;) {
        const std::string candidate = DirectoryOf(final) + ".qzarc-" +
                                      std::to_string(random() % 100000000u) + ".tmp";
        if (KindOf(candidate) == FileKind::Missing)
            return candidate;
    }
}

VolumeWriter::VolumeWriter(const std::string &archive, uint64_t limit, bool split, bool overwrite)
    : archive_(archive), limit_(std::min(limit, kMaxVolumeSize)), split_(split), overwrite_(overwrite) {}

VolumeWriter::~VolumeWriter() {
    if (!finished_)
        Abandon();
}

bool VolumeWriter::Open(std::string *error) { return StartVolume(0, error); }

bool VolumeWriter::StartVolume(uint64_t start, std::string *error) {
    const size_t k = volumes_.size();
    if (k == kMaxVolumes) {
        *error = "it would need more than " + std::to_string(kMaxVolumes - 1) +
                 " volumes after the first; use a larger -v";
        return false;
    }
    const std::string name = qzw::VolumeName(archive_, static_cast<unsigned>(k));
    if (!overwrite_ && KindOf(name) != FileKind::Missing) {
        *error = name + " exists; -y replaces it";
        return false;
    }
    if (current_.isOpen() && !current_.Close(error))
        return false;
    Volume volume{TemporaryBeside(name), name, start};
    // Registered first: an interrupt right after the file appears removes it.
    RemoveOnInterrupt(volume.temp);
    if (!current_.Create(volume.temp, error)) {
        ForgetOnInterrupt(volume.temp);
        return false;
    }
    volumes_.push_back(volume);
    return true;
}

bool VolumeWriter::RoomError(std::string *error) {
    if (!split_) {
        tooLarge_ = true;
        *error = "the archive would reach 2 GiB, more than a QZ archive file can address";
    } else {
        *error = "cannot split into volumes of " + std::to_string(limit_) +
                 " bytes: a record header must lie wholly in one volume, after at least one "
                 "byte of the data before it; use a larger -v";
    }
    return false;
}

bool VolumeWriter::MoveTail(uint64_t keepFrom, uint64_t need, std::string *error) {
    if (!split_)
        return RoomError(error);
    const uint64_t volumeStart = volumes_.back().start;
    // The latest cut inside a finished record's data in this volume that
    // leaves the moved bytes and the new ones room in the next volume.
    uint64_t cut = 0;
    for (auto it = interiors_.rbegin(); it != interiors_.rend(); ++it) {
        const uint64_t low = std::max(it->first, volumeStart + 1);
        if (it->last < low)
            continue;
        if (it->last > keepFrom)
            continue;
        if (position_ - it->last + need <= limit_)
            cut = it->last;
        break;
    }
    if (cut == 0)
        return RoomError(error);

    const uint64_t tailStart = cut - volumeStart;
    const uint64_t tailSize = position_ - cut;
    // The volume is reopened (one handle at a time) to copy its tail, at
    // most one volume's worth, through a small buffer into the next one.
    RawFile old;
    if (!current_.Close(error) || !old.Open(volumes_.back().temp, error))
        return false;
    if (!StartVolume(cut, error))
        return false;
    std::vector<uint8_t> buffer(kCopyChunk);
    for (uint64_t done = 0; done < tailSize;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, tailSize - done));
        if (!old.ReadAt(tailStart + done, buffer.data(), n, error) ||
            !current_.Append(buffer.data(), n, error))
            return false;
        done += n;
    }
    return old.Truncate(tailStart, error) && old.Close(error);
}

bool VolumeWriter::WriteHeader(const uint8_t *data, size_t size, std::string *error) {
    recordStart_ = position_;
    if (position_ - volumes_.back().start + size > limit_ &&
        !MoveTail(position_, size, error))
        return false;
    if (!current_.Append(data, size, error))
        return false;
    position_ += size;
    dataStart_ = position_;
    return true;
}

bool VolumeWriter::WriteData(const uint8_t *data, size_t size, std::string *error) {
    while (size > 0) {
        const uint64_t used = position_ - volumes_.back().start;
        if (used >= limit_) {
            if (!split_)
                return RoomError(error);
            // A cut right here has data of this record on both sides, unless
            // its header ended the volume: then the header must move too.
            if (position_ > dataStart_) {
                if (!StartVolume(position_, error))
                    return false;
            } else if (!MoveTail(recordStart_, 1, error)) {
                return false;
            }
            continue;
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(size, limit_ - used));
        if (!current_.Append(data, n, error))
            return false;
        position_ += n;
        data += n;
        size -= n;
    }
    return true;
}

void VolumeWriter::EndRecord() {
    if (position_ >= dataStart_ + 2) {
        interiors_.push_back({dataStart_ + 1, position_ - 1});
        if (interiors_.size() > kRememberedInteriors)
            interiors_.pop_front();
    }
}

size_t VolumeWriter::VolumeAt(uint64_t offset) const {
    size_t k = 0;
    while (k + 1 < volumes_.size() && volumes_[k + 1].start <= offset)
        ++k;
    return k;
}

bool VolumeWriter::Patch(uint64_t offset, const uint8_t *data, size_t size, std::string *error) {
    const size_t k = VolumeAt(offset);
    const uint64_t at = offset - volumes_[k].start;
    if (k + 1 == volumes_.size())
        return current_.WriteAt(at, data, size, error);
    RawFile file;
    return file.Open(volumes_[k].temp, error) && file.WriteAt(at, data, size, error) &&
           file.Close(error);
}

bool VolumeWriter::TruncateTo(uint64_t offset, std::string *error) {
    const size_t k = VolumeAt(offset);
    if (k + 1 != volumes_.size()) {
        if (!current_.Close(error))
            return false;
        while (volumes_.size() > k + 1) {
            RemoveFile(volumes_.back().temp);
            ForgetOnInterrupt(volumes_.back().temp);
            volumes_.pop_back();
        }
        if (!current_.Open(volumes_.back().temp, error))
            return false;
    }
    while (!interiors_.empty() && interiors_.back().last >= offset)
        interiors_.pop_back();
    position_ = offset;
    return current_.Truncate(offset - volumes_.back().start, error);
}

bool VolumeWriter::Finish(std::vector<std::string> *written, std::string *error) {
    if (!current_.Close(error))
        return false;
    for (const Volume &volume : volumes_) {
        if (!overwrite_ && KindOf(volume.name) != FileKind::Missing) {
            *error = volume.name + " exists; -y replaces it";
            return false;
        }
    }
    written->clear();
    for (const Volume &volume : volumes_) {
        // Until the set is complete, each renamed volume is unfinished.
        RemoveOnInterrupt(volume.name);
        if (!MoveOver(volume.temp, volume.name, error)) {
            *error = "cannot name " + volume.name + ": " + *error;
            // The volumes already renamed belong to an unfinished set.
            ForgetOnInterrupt(volume.name);
            for (const std::string &name : *written) {
                RemoveFile(name);
                ForgetOnInterrupt(name);
            }
            return false;
        }
        ForgetOnInterrupt(volume.temp);
        written->push_back(volume.name);
    }
    for (const Volume &volume : volumes_)
        ForgetOnInterrupt(volume.name);
    finished_ = true;
    return true;
}

void VolumeWriter::Abandon() {
    std::string ignored;
    current_.Close(&ignored);
    for (const Volume &volume : volumes_) {
        RemoveFile(volume.temp);
        ForgetOnInterrupt(volume.temp);
    }
    volumes_.clear();
    finished_ = true;
}

}  // namespace qzcli
