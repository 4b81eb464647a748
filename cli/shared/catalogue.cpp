#include "catalogue.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "codepage.h"
#include "console.h"
#include "names.h"
#include "results.h"
#include "volumes.h"

namespace qzcli {

CatalogueEntry CatalogueEntryOf(const qz_entry &e) {
    CatalogueEntry entry;
    const size_t kept = e.raw_name_length < kMaxNameLength ? e.raw_name_length : kMaxNameLength;
    entry.name.assign(reinterpret_cast<const char *>(e.raw_name), kept);
    entry.shown = NameFromArchive(entry.name);
    EntryDetails &d = entry.details;
    d.method = e.method;
    d.encrypted = e.encrypted != 0;
    d.attributes = e.attributes;
    d.crc = e.crc32;
    d.compressedSize = e.compressed_size;
    d.uncompressedSize = e.uncompressed_size;
    d.creationTime = e.creation_time;
    d.accessTime = e.access_time;
    d.writeTime = e.write_time;
    d.nameLength = static_cast<uint32_t>(e.raw_name_length);
    return entry;
}

std::string CheckArchiveStart(const std::string &path) {
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return std::string("cannot open the archive: ") + std::strerror(errno);
    unsigned char start[4] = {0, 0, 0, 0};
    const size_t got = std::fread(start, 1, sizeof start, file);
    std::fclose(file);
    if (got != sizeof start || std::memcmp(start, kRecordMagic, sizeof kRecordMagic) != 0)
        return "not a QZ archive (it does not start with an entry record)";
    return "";
}

std::string DescribeOpenFailure(const Catalogue &catalogue) {
    if (catalogue.end == QZ_E_VOLUME) {
        const std::string why = SystemErrorOf(catalogue.endMessage);
        return "cannot open the archive" + (why.empty() ? "" : ": " + why);
    }
    ResultContext context;
    context.message = catalogue.endMessage;
    return DescribeResult(catalogue.end, context);
}

std::string DescribeWalkEnd(const Catalogue &catalogue, const std::string &missingVolume) {
    if (missingVolume.empty() || catalogue.entries.empty()) {
        ResultContext context;
        context.message = catalogue.endMessage;
        return DescribeResult(catalogue.end, context);
    }
    return "the archive ends inside the data of entry " + Printable(catalogue.entries.back().shown) +
           " (it is truncated, or its next volume " + Printable(missingVolume) + " is missing)";
}

Catalogue ReadCatalogue(const Library &library, const std::string &archive, uint64_t startOffset,
                        VolumeAsker *asker) {
    Catalogue catalogue;
    ReadCatalogueWatched(library, archive, startOffset, asker, CatalogueWatch(), &catalogue);
    return catalogue;
}

void ReadCatalogueWatched(const Library &library, const std::string &archive, uint64_t startOffset,
                          VolumeAsker *asker, const CatalogueWatch &watch, Catalogue *catalogue) {
    std::mutex unwatched;
    std::mutex &lock = watch.lock != nullptr ? *watch.lock : unwatched;
    catalogue->segments.push_back({archive, startOffset, 0, 0});
    qz_archive *handle = library.archiveNew();
    if (handle == nullptr) {
        catalogue->end = QZ_E_NOMEM;
        catalogue->openFailed = true;
        return;
    }
    if (asker != nullptr)
        asker->Attach(library, handle);
    int result = library.open(handle, archive.c_str(), startOffset);
    if (result < 0) {
        catalogue->end = result;
        catalogue->endMessage = library.error(handle);
        catalogue->openFailed = true;
        library.archiveFree(handle);
        return;
    }
    if (watch.opened)
        watch.opened();
    for (;;) {
        const qz_entry *entry = nullptr;
        result = library.next(handle, &entry);
        if (result != QZ_ARCHIVE_OK) {
            catalogue->end = result;
            if (result < 0)
                catalogue->endMessage = library.error(handle);
            break;
        }
        if (watch.found)
            watch.found(catalogue->entries.size());
        CatalogueEntry found = CatalogueEntryOf(*entry);
        std::lock_guard<std::mutex> hold(lock);
        catalogue->entries.push_back(std::move(found));
    }
    library.archiveFree(handle);
}

EntryReader::EntryReader(const Library &library, const Catalogue &catalogue, VolumeAsker *asker,
                         qz_progress_handler progress, void *progressUser)
    : library_(library),
      catalogue_(catalogue),
      asker_(asker),
      progress_(progress),
      progressUser_(progressUser) {}

EntryReader::~EntryReader() {
    if (handle_ != nullptr)
        library_.archiveFree(handle_);
}

std::string EntryReader::Message() const {
    return handle_ != nullptr ? library_.error(handle_) : "out of memory";
}

int EntryReader::Select(size_t i, const CatalogueEntry &wanted) {
    const WalkSegment &segment = catalogue_.segments[wanted.segment];
    if (handle_ == nullptr) {
        handle_ = library_.archiveNew();
        if (handle_ == nullptr)
            return QZ_E_NOMEM;
        if (asker_ != nullptr)
            asker_->Attach(library_, handle_);
        if (progress_ != nullptr)
            library_.setProgressHandler(handle_, progress_, progressUser_);
    }
    if (segment_ != wanted.segment) {
        if (segment_ != SIZE_MAX)
            library_.close(handle_);
        segment_ = SIZE_MAX;
        const int opened = library_.open(handle_, segment.path.c_str(), segment.startOffset);
        if (opened < 0)
            return opened;
        segment_ = wanted.segment;
        next_ = segment.first;
    }
    const bool positioned = next_ == i;
    next_ = SIZE_MAX;  // unknown until this entry is reached
    if (!positioned) {
        const int sought = library_.seek(handle_, i - segment.first);
        if (sought < 0)
            return sought;
    }
    const qz_entry *entry = nullptr;
    const int result = library_.next(handle_, &entry);
    if (result < 0)
        return result;
    // The catalogue was read from the same files: a record that is not the
    // one it found there is damage (or a file changed meanwhile).
    if (result != QZ_ARCHIVE_OK || entry->raw_name_length != wanted.details.nameLength ||
        std::memcmp(entry->raw_name, wanted.name.data(), wanted.name.size()) != 0)
        return QZ_E_RECORD;
    next_ = i + 1;
    return QZ_ARCHIVE_OK;
}

}  // namespace qzcli
