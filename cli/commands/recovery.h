// Recovery (--scan): when a walk stops at damage (no record where the next
// one should start) or at a missing volume, the rest of the archive is
// searched for the next record magic whose header is plausible, and the
// library walks on from there (a handle opened with the record's offset as
// its start). What was passed over is noted as byte ranges.
//
// A walk through the library always starts at the first volume it is
// given, and it finds later volumes by name. For a record found in a later
// volume, the volumes from that one on are given names of their own (links
// in a private directory) so that the library sees them as a whole archive.
#ifndef QZARC_CLI_RECOVERY_H
#define QZARC_CLI_RECOVERY_H

#include <string>
#include <vector>

#include "library.h"
#include "catalogue.h"

namespace qzcli {

class VolumeAsker;

class Recovery {
public:
    // archive: the first volume as the library reads it.
    explicit Recovery(const std::string &archive);
    ~Recovery();  // removes the links
    Recovery(const Recovery &) = delete;
    Recovery &operator=(const Recovery &) = delete;

    // Walks on past every stop of the catalogue, adding what it finds.
    void Extend(const Library &library, VolumeAsker &asker, Catalogue *catalogue);

private:
    struct Volume {
        std::string path;
        bool exists = false;
        uint64_t size = 0;
    };
    struct Place {
        int volume;
        uint64_t offset;
    };

    // Where the next record of the last walk should have started; false
    // when that lies past a missing volume (*place is then the start of the
    // next volume there is).
    bool StopOf(const Catalogue &catalogue, Place *place) const;
    // The next plausible record at or after `from`.
    bool FindRecord(Place from, Place *found) const;
    bool Plausible(const Place &at) const;
    // The path a walk starting in volume v is given.
    std::string WalkPath(int volume, std::string *error);
    std::string Describe(const Place &from, const Place &to) const;

    std::string archive_;
    std::vector<Volume> volumes_;
    std::string linkRoot_;
    std::vector<std::string> links_;
    std::vector<std::string> linkDirectories_;
};

}  // namespace qzcli

#endif  // QZARC_CLI_RECOVERY_H
