// What an archive holds: every record's name and header, read once through
// a handle (the commands select, order and check the entries by it), and
// the handles that then read the entries. Several workers may start on the
// first entries while the walk goes on (CatalogueWatch).
#ifndef QZARC_CLI_CATALOGUE_H
#define QZARC_CLI_CATALOGUE_H

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "library.h"

namespace qzcli {

class VolumeAsker;

// A record's header as the tool uses it.
struct EntryDetails {
    uint32_t method = 0;           // 0 stored, 8 Deflate, 9 Deflate64
    bool encrypted = false;
    uint32_t attributes = 0;       // Win32 bits
    uint32_t crc = 0;
    uint64_t compressedSize = 0;   // without the encryption header
    uint64_t uncompressedSize = 0;
    uint64_t creationTime = 0;     // FILETIMEs as recorded (local time)
    uint64_t accessTime = 0;
    uint64_t writeTime = 0;
    uint32_t nameLength = 0;       // as recorded
};

struct CatalogueEntry {
    // The recorded name, cut to kMaxNameLength bytes: a longer name cannot
    // be a file name on Windows, and is refused on every platform alike.
    std::string name;
    std::string shown;        // as it reads here (code page converted)
    EntryDetails details;
    size_t segment = 0;       // the walk it was found by (see Catalogue)
};

// A walk through the archive: the first volume's path and the offset of
// its first record. An archive has one; recovery (--scan) adds one for
// every place past damage where records were found again.
struct WalkSegment {
    std::string path;
    uint64_t startOffset = 0;
    size_t first = 0;      // index of its first entry in the catalogue
    int volumeBase = 0;    // the archive's volume that is this walk's first
};

struct Catalogue {
    // A deque: an entry stays where it is while later ones are added, so a
    // worker may go on using it while the walk goes on.
    std::deque<CatalogueEntry> entries;
    std::vector<WalkSegment> segments;
    std::vector<std::string> skipped;  // byte ranges recovery passed over
    // How the walk ended: QZ_ARCHIVE_END when every record was read,
    // otherwise the failure that stopped it (QZ_E_RECORD: no record where
    // the previous one ended; QZ_E_VOLUME: a volume holding a header is
    // missing; ...), with the library's message.
    int end = QZ_ARCHIVE_END;
    std::string endMessage;
    bool openFailed = false;  // the first volume could not be opened: no entries
};

// The bytes every record starts with.
constexpr unsigned char kRecordMagic[4] = {'Q', 'Z', 3, 4};

// A record as the catalogue keeps it.
CatalogueEntry CatalogueEntryOf(const qz_entry &e);

// "" when path starts with a record; otherwise why it cannot be an archive
// (it cannot be opened, or it is something else). The library is not asked:
// a foreign file is better named as such than as a damaged archive.
std::string CheckArchiveStart(const std::string &path);

// For a command that works on entries while the walk goes on. Entry k is
// handed over once record k+1 has been read (or the walk has ended): every
// volume that entry k's data lies in has then been asked for by the walk,
// so a missing one is reported by the walk, as when the whole catalogue
// comes first.
struct CatalogueWatch {
    // Held while the walk adds to the catalogue's entries.
    std::mutex *lock = nullptr;
    // The first volume is open and starts with a record.
    std::function<void()> opened;
    // Entries [0, ready) are in the catalogue for good (called without the lock).
    std::function<void(size_t ready)> found;
};

Catalogue ReadCatalogue(const Library &library, const std::string &archive, uint64_t startOffset,
                        VolumeAsker *asker);
// The same into *catalogue, which `watch` is told about as it grows.
void ReadCatalogueWatched(const Library &library, const std::string &archive, uint64_t startOffset,
                          VolumeAsker *asker, const CatalogueWatch &watch, Catalogue *catalogue);

// Why the archive's first volume could not be opened.
std::string DescribeOpenFailure(const Catalogue &catalogue);

// Why a catalogue walk stopped before the end of the archive. A volume
// found missing means the last entry's data runs past the end of the file:
// the archive was cut short, or it is split and the next volume is not there.
std::string DescribeWalkEnd(const Catalogue &catalogue, const std::string &missingVolume);

// A handle for reading the catalogue's entries, in any order, on one
// thread: it opens the walk an entry belongs to when needed and seeks to
// the entry (cheaply when it is the one after the last).
class EntryReader {
public:
    // The progress handler (or none) is given to the handle.
    EntryReader(const Library &library, const Catalogue &catalogue, VolumeAsker *asker,
                qz_progress_handler progress = nullptr, void *progressUser = nullptr);
    ~EntryReader();
    EntryReader(const EntryReader &) = delete;
    EntryReader &operator=(const EntryReader &) = delete;

    // Makes entry i (`wanted`: the catalogue's entry i, looked up by the
    // caller, who knows when the catalogue may be growing) the handle's
    // current entry. QZ_ARCHIVE_OK, or the failure that kept it
    // from being reached (its record is not where the catalogue found it,
    // or a volume is missing).
    int Select(size_t i, const CatalogueEntry &wanted);
    // The handle, for reading or extracting the selected entry.
    qz_archive *handle() const { return handle_; }
    // The library's message for its last failure.
    std::string Message() const;

private:
    const Library &library_;
    const Catalogue &catalogue_;
    VolumeAsker *asker_;
    qz_progress_handler progress_;
    void *progressUser_;
    qz_archive *handle_ = nullptr;
    size_t segment_ = SIZE_MAX;  // the walk open on the handle
    size_t next_ = SIZE_MAX;     // the catalogue entry the next `next` call gives
};

}  // namespace qzcli

#endif  // QZARC_CLI_CATALOGUE_H
