// Walking an archive through the library: one QZUnpack call per record.
//
// A walk call reads a record's header and name and, in the same call, either
// extracts the entry or skips its data. The tool must decide which before it
// sees the name, so it walks twice: a catalogue walk in header-only mode
// collects every name and record, then an entry walk handles entry i with
// the i-th call, knowing what entry i is.
#ifndef QZARC_CLI_WALK_H
#define QZARC_CLI_WALK_H

#include <string>
#include <vector>

#include "library.h"

namespace qzcli {

struct CatalogueEntry {
    std::string name;         // as the library hands it out
    std::string shown;        // as it reads here (code page converted)
    QZEntryDetails details{};
    size_t segment = 0;       // the walk it was found by (see Catalogue)
};

// A walk through the library: the first volume's path and the offset of
// its first record. An archive has one; recovery (--scan) adds one for
// every place past damage where records were found again.
struct WalkSegment {
    std::string path;
    uint32_t startOffset = 0;
    size_t first = 0;      // index of its first entry in the catalogue
    int volumeBase = 0;    // the archive's volume that is this walk's first
};

struct Catalogue {
    std::vector<CatalogueEntry> entries;
    std::vector<WalkSegment> segments;
    std::vector<std::string> skipped;  // byte ranges recovery passed over
    // How the walk ended: QZ_END_OF_ARCHIVE when every record was read,
    // QZ_BAD_RECORD when a record was not where the previous one ended, or a
    // failure to open the archive (then there are no entries).
    int end = 0;
};

// "" when path starts with a record; otherwise why it cannot be an archive
// (it cannot be opened, or it is something else). The library is not asked:
// given a foreign file it would read the first bytes as a record regardless.
std::string CheckArchiveStart(const std::string &path);

Catalogue ReadCatalogue(const Library &library, const std::string &archive,
                        uint32_t startOffset = 0);

// Why a catalogue walk stopped before the end of the archive. A volume
// found missing means the last entry's data runs past the end of the file:
// the archive was cut short, or it is split and the next volume is not there.
std::string DescribeWalkEnd(const Catalogue &catalogue, const std::string &missingVolume);

// The entry walk: Handle(i, ...) may be called in any order but is cheapest
// for increasing i. When a failed entry leaves the walk out of step (its
// data ran into a volume that could not be followed), or an entry has to be
// tried again, the walk starts over from the first record and skips to i.
class EntryWalk {
public:
    EntryWalk(const Library &library, const Catalogue &catalogue);
    ~EntryWalk();
    EntryWalk(const EntryWalk &) = delete;
    EntryWalk &operator=(const EntryWalk &) = delete;

    struct Outcome {
        bool reached = false;  // the call handled entry i (otherwise result says why not)
        int result = 0;
    };

    // Extracts entry i into `output`, or skips it when output is null.
    Outcome Handle(size_t i, const char *output, const std::string &password);

    // Ends the walk (closes the archive).
    void Close();

private:
    int Call(const char *output, const std::string &password, bool headerOnly, std::string *name);

    void Select(size_t segment);

    const Library &library_;
    const Catalogue &catalogue_;
    size_t segment_ = 0;
    bool open_ = false;
    size_t next_ = 0;  // the entry the next call handles
};

}  // namespace qzcli

#endif  // QZARC_CLI_WALK_H
