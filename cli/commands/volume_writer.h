// The byte stream of a new archive, written as it is produced into one
// file or into a set of volumes.
//
// The format puts two rules on where a volume may end. A record's magic,
// header, name and encryption header lie wholly inside one volume; and a
// volume ends strictly inside some entry's data, with at least one data
// byte on either side (a reader that finds an entry's data ending with its
// volume takes that as the end of the archive). Sizes are not known ahead:
// when a header would not fit into what is left of a volume, the volume is
// cut back to a point inside an earlier entry's data and the bytes after
// that point move to the next volume.
//
// Every position here is an offset in the whole stream, independent of the
// volumes, so patching a header or dropping an entry's bytes again works the
// same wherever the cuts have fallen. The volumes are written to temporary
// files beside the archive and take their names only when Finish succeeds.
#ifndef QZARC_CLI_VOLUME_WRITER_H
#define QZARC_CLI_VOLUME_WRITER_H

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "rawfile.h"

namespace qzcli {

// Positions are 32-bit and seeks signed: no volume may reach 2 GiB.
constexpr uint64_t kMaxVolumeSize = 0x7FFFFFFFu;
// Volume numbers run from 1 to 999 after the first volume.
constexpr size_t kMaxVolumes = 1000;

class VolumeWriter {
public:
    // split: whether volumes after the first may be started (-v); limit:
    // the largest volume. overwrite: existing archive files may be replaced.
    VolumeWriter(const std::string &archive, uint64_t limit, bool split, bool overwrite);
    ~VolumeWriter();  // abandons whatever was not finished
    VolumeWriter(const VolumeWriter &) = delete;
    VolumeWriter &operator=(const VolumeWriter &) = delete;

    // Creates the first volume's temporary file.
    bool Open(std::string *error);

    // A record's header bytes (magic to encryption header).
    bool WriteHeader(const uint8_t *data, size_t size, std::string *error);
    // Bytes of the current record's data.
    bool WriteData(const uint8_t *data, size_t size, std::string *error);
    // The current record is complete.
    void EndRecord();
    // Overwrites bytes already written (they lie in one volume).
    bool Patch(uint64_t offset, const uint8_t *data, size_t size, std::string *error);
    // Drops everything from offset on (the start of the current record).
    bool TruncateTo(uint64_t offset, std::string *error);

    uint64_t position() const { return position_; }
    const std::string &firstTemporary() const { return volumes_.front().temp; }
    size_t volumes() const { return volumes_.size(); }
    // True when the last failure was the stream outgrowing a single archive.
    bool tooLarge() const { return tooLarge_; }

    // Gives the volumes their names; *written lists them.
    bool Finish(std::vector<std::string> *written, std::string *error);
    // Removes every temporary file.
    void Abandon();

private:
    struct Volume {
        std::string temp;
        std::string name;
        uint64_t start;  // stream offset of its first byte
    };
    // Cut positions inside a finished record's data: [first, last].
    struct Interior {
        uint64_t first;
        uint64_t last;
    };

    bool StartVolume(uint64_t start, std::string *error);
    // Makes room for `need` more bytes that must share a volume with the
    // bytes from `keepFrom` on, by cutting inside an earlier record's data.
    bool MoveTail(uint64_t keepFrom, uint64_t need, std::string *error);
    bool RoomError(std::string *error);
    size_t VolumeAt(uint64_t offset) const;

    std::string archive_;
    uint64_t limit_;
    bool split_;
    bool overwrite_;
    std::vector<Volume> volumes_;
    RawFile current_;  // the last volume
    uint64_t position_ = 0;
    uint64_t recordStart_ = 0;
    uint64_t dataStart_ = 0;
    std::deque<Interior> interiors_;
    bool tooLarge_ = false;
    bool finished_ = false;
};

// The temporary name a volume is written under before it takes `final`.
std::string TemporaryBeside(const std::string &final);

}  // namespace qzcli

#endif  // QZARC_CLI_VOLUME_WRITER_H
