#include "half_walk.h"

#include <cstring>
#include <fstream>

namespace qzcli {
namespace {

// Smaller archives are walked by one thread: a second one would not save
// the time it takes to start.
constexpr uint64_t kLeastSplitBytes = uint64_t(1) << 20;
// Records the other walk reads from where it starts before the walk from
// the start may take it up: a record made up of entry data that reads like
// one seldom has a first successor, let alone three.
constexpr size_t kRecordsToTrust = 4;
// How far past the middle a record is looked for.
constexpr uint64_t kMostSearched = uint64_t(4) << 20;
constexpr size_t kSearchChunk = 64 * 1024;

}  // namespace

HalfWalk::HalfWalk(const Library &library, const std::string &archive, uint64_t startOffset)
    : library_(library) {
    std::ifstream file(archive, std::ios::binary | std::ios::ate);
    if (!file)
        return;
    const std::streamoff size = file.tellg();
    if (size < 0 || uint64_t(size) < startOffset + kLeastSplitBytes)
        return;
    const uint64_t middle = startOffset + (uint64_t(size) - startOffset) / 2;
    thread_ = std::thread(&HalfWalk::Walk, this, archive, middle);
}

HalfWalk::~HalfWalk() { Stop(); }

void HalfWalk::Stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void HalfWalk::Walk(std::string archive, uint64_t from) {
    std::ifstream file(archive, std::ios::binary);
    std::vector<unsigned char> chunk(kSearchChunk + sizeof kRecordMagic);
    for (uint64_t at = from; at < from + kMostSearched && !stop_;) {
        file.clear();
        file.seekg(static_cast<std::streamoff>(at));
        file.read(reinterpret_cast<char *>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
        const size_t got = static_cast<size_t>(file.gcount());
        if (got < sizeof kRecordMagic)
            return;
        for (size_t i = 0; i + sizeof kRecordMagic <= got; ++i) {
            if (std::memcmp(chunk.data() + i, kRecordMagic, sizeof kRecordMagic) == 0 && WalkFrom(archive, at + i))
                return;
            if (stop_)
                return;
        }
        at += got - (sizeof kRecordMagic - 1);
    }
}

bool HalfWalk::WalkFrom(const std::string &archive, uint64_t offset) {
    qz_archive *handle = library_.archiveNew();
    if (handle == nullptr)
        return true;  // no memory: the walk from the start reads it all
    std::vector<CatalogueEntry> entries;
    int result = library_.open(handle, archive.c_str(), offset);
    while (result == QZ_ARCHIVE_OK && !stop_) {
        const qz_entry *entry = nullptr;
        result = library_.next(handle, &entry);
        if (result != QZ_ARCHIVE_OK)
            break;
        entries.push_back(CatalogueEntryOf(*entry));
        if (entries.size() == kRecordsToTrust)
            start_ = offset;
    }
    library_.archiveFree(handle);
    const bool trusted = entries.size() >= kRecordsToTrust;
    if (result == QZ_ARCHIVE_END && !stop_) {
        // A short run of records that ends the archive cleanly is trusted
        // too: the walk from the start has to arrive at its first one.
        clean_ = true;
        entries_ = std::move(entries);
        start_ = offset;
        return true;
    }
    return trusted;
}

bool HalfWalk::Arrived(uint64_t offset, std::vector<CatalogueEntry> *entries) {
    if (!thread_.joinable())
        return false;
    const uint64_t start = start_.load();
    if (offset < start)
        return false;
    if (offset > start) {
        Stop();  // it started where no record is: dropped
        return false;
    }
    thread_.join();  // it ends at the archive's end, or stops at trouble
    if (!clean_)
        return false;
    entries->insert(entries->end(), std::make_move_iterator(entries_.begin()),
                    std::make_move_iterator(entries_.end()));
    return true;
}

}  // namespace qzcli
