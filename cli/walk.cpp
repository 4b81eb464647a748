#include "walk.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "codepage.h"
#include "console.h"
#include "results.h"

namespace qzcli {
namespace {

// QZUnpack's name buffer must hold the name (at most 259 bytes handed out)
// and a terminator; the CRC text needs nine bytes.
constexpr size_t kNameBuffer = 260;
constexpr size_t kCrcBuffer = 16;
constexpr unsigned char kMagic[4] = {'Q', 'Z', 3, 4};

}  // namespace

std::string CheckArchiveStart(const std::string &path) {
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return std::string("cannot open the archive: ") + std::strerror(errno);
    unsigned char start[4] = {0, 0, 0, 0};
    const size_t got = std::fread(start, 1, sizeof start, file);
    std::fclose(file);
    if (got != sizeof start || std::memcmp(start, kMagic, sizeof kMagic) != 0)
        return "not a QZ archive (it does not start with an entry record)";
    return "";
}

std::string DescribeWalkEnd(const Catalogue &catalogue, const std::string &missingVolume) {
    if (missingVolume.empty() || catalogue.entries.empty())
        return DescribeResult(catalogue.end);
    return "the archive ends inside the data of entry " + Printable(catalogue.entries.back().shown) +
           " (it is truncated, or its next volume " + Printable(missingVolume) + " is missing)";
}

Catalogue ReadCatalogue(const Library &library, const std::string &archive, uint32_t startOffset) {
    Catalogue catalogue;
    catalogue.segments.push_back({archive, startOffset, 0, 0});
    int flags = QZ_KEEP_OPEN | QZ_HEADER_ONLY;
    for (;;) {
        char name[kNameBuffer] = {0};
        char crc[kCrcBuffer] = {0};
        const int result = library.unpack(archive.c_str(), "", name, "", startOffset, crc, flags);
        if (result != QZ_OK) {
            catalogue.end = result;
            break;
        }
        CatalogueEntry entry;
        entry.name = name;
        entry.shown = NameFromArchive(entry.name);
        library.entryInfo(&entry.details);
        catalogue.entries.push_back(entry);
        flags = QZ_HEADER_ONLY;
    }
    if (catalogue.end != QZ_END_OF_ARCHIVE && catalogue.end != QZ_BAD_RECORD) {
        // An opening failure leaves nothing open; anything else might.
        char name[kNameBuffer] = {0};
        library.unpack(archive.c_str(), "", name, "", 0, nullptr, QZ_CLOSE_NOW);
    }
    return catalogue;
}

EntryWalk::EntryWalk(const Library &library, const Catalogue &catalogue)
    : library_(library), catalogue_(catalogue) {}

EntryWalk::~EntryWalk() { Close(); }

void EntryWalk::Close() {
    const WalkSegment &segment = catalogue_.segments[segment_];
    if (open_) {
        char name[kNameBuffer] = {0};
        library_.unpack(segment.path.c_str(), "", name, "", 0, nullptr, QZ_CLOSE_NOW);
    }
    open_ = false;
    next_ = segment.first;
}

void EntryWalk::Select(size_t segment) {
    if (segment == segment_)
        return;
    Close();
    segment_ = segment;
    next_ = catalogue_.segments[segment_].first;
}

int EntryWalk::Call(const char *output, const std::string &password, bool headerOnly,
                    std::string *name) {
    char nameOut[kNameBuffer] = {0};
    char crc[kCrcBuffer] = {0};
    int flags = headerOnly ? QZ_HEADER_ONLY : 0;
    if (!open_)
        flags |= QZ_KEEP_OPEN;
    const WalkSegment &segment = catalogue_.segments[segment_];
    const int result = library_.unpack(segment.path.c_str(), output != nullptr ? output : "", nameOut,
                                       password.c_str(), segment.startOffset, crc, flags);
    *name = nameOut;
    if (result == QZ_END_OF_ARCHIVE || result == QZ_BAD_RECORD ||
        (!open_ && IsOpenFailure(result))) {
        // The walk is over (or never began); the library has closed the archive.
        open_ = false;
        next_ = segment.first;
        return result;
    }
    open_ = true;
    return result;
}

EntryWalk::Outcome EntryWalk::Handle(size_t i, const char *output, const std::string &password) {
    Outcome outcome;
    Select(catalogue_.entries[i].segment);
    // The second attempt starts from the first record: a failure before
    // entry i may have left the walk looking in the wrong place.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0 || !open_ || next_ > i)
            Close();
        std::string name;
        bool lost = false;
        while (next_ < i) {
            const int result = Call(nullptr, "", true, &name);
            if (result != QZ_OK || name != catalogue_.entries[next_].name) {
                outcome.result = result != QZ_OK ? result : QZ_BAD_RECORD;
                lost = true;
                break;
            }
            ++next_;
        }
        if (lost)
            continue;
        const int result = Call(output, password, output == nullptr, &name);
        if (result == QZ_END_OF_ARCHIVE || result == QZ_BAD_RECORD ||
            IsOpenFailure(result) || name != catalogue_.entries[i].name) {
            outcome.result = result == QZ_OK ? QZ_BAD_RECORD : result;
            if (open_)
                Close();
            continue;
        }
        next_ = i + 1;
        outcome.reached = true;
        outcome.result = result;
        return outcome;
    }
    return outcome;
}

}  // namespace qzcli
