// A file opened for writing and reading back by offset: the archive
// writer creates its volumes with it, patches record headers once an
// entry's sizes and CRC are known, and moves a volume's tail into the next
// one when a record header would not fit. One implementation per platform.
#ifndef QZARC_CLI_RAWFILE_H
#define QZARC_CLI_RAWFILE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace qzcli {

class RawFile {
public:
    RawFile() = default;
    ~RawFile();
    RawFile(const RawFile &) = delete;
    RawFile &operator=(const RawFile &) = delete;

    // Creates a new file; fails when one exists already.
    bool Create(const std::string &path, std::string *error);
    // Opens an existing file for reading and writing.
    bool Open(const std::string &path, std::string *error);
    bool Close(std::string *error);
    bool isOpen() const;

    // Appends at the end of what was written so far.
    bool Append(const uint8_t *data, size_t size, std::string *error);
    bool WriteAt(uint64_t offset, const uint8_t *data, size_t size, std::string *error);
    bool ReadAt(uint64_t offset, uint8_t *data, size_t size, std::string *error);
    // Cuts the file to size bytes; appending continues from there.
    bool Truncate(uint64_t size, std::string *error);
    uint64_t size() const { return size_; }

private:
#if defined(_WIN32)
    void *handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    uint64_t size_ = 0;
};

}  // namespace qzcli

#endif  // QZARC_CLI_RAWFILE_H
