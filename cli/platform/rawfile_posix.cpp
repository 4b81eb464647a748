#if !defined(_WIN32)

#define _FILE_OFFSET_BITS 64

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rawfile.h"

namespace qzcli {
namespace {

bool Fail(std::string *error) {
    *error = std::strerror(errno);
    return false;
}

}  // namespace

RawFile::~RawFile() {
    if (fd_ >= 0)
        close(fd_);
}

bool RawFile::isOpen() const { return fd_ >= 0; }

bool RawFile::Create(const std::string &path, std::string *error) {
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    size_ = 0;
    return fd_ >= 0 || Fail(error);
}

bool RawFile::Open(const std::string &path, std::string *error) {
    fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0)
        return Fail(error);
    struct stat st;
    if (fstat(fd_, &st) != 0)
        return Fail(error);
    size_ = static_cast<uint64_t>(st.st_size);
    return true;
}

bool RawFile::Close(std::string *error) {
    if (fd_ < 0)
        return true;
    const int rc = close(fd_);
    fd_ = -1;
    return rc == 0 || Fail(error);
}

bool RawFile::WriteAt(uint64_t offset, const uint8_t *data, size_t size, std::string *error) {
    while (size > 0) {
        const ssize_t n = pwrite(fd_, data, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail(error);
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
        if (offset > size_)
            size_ = offset;
    }
    return true;
}

bool RawFile::ReadAt(uint64_t offset, uint8_t *data, size_t size, std::string *error) {
    while (size > 0) {
        const ssize_t n = pread(fd_, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return Fail(error);
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool RawFile::Truncate(uint64_t size, std::string *error) {
    if (ftruncate(fd_, static_cast<off_t>(size)) != 0)
        return Fail(error);
    size_ = size;
    return true;
}

}  // namespace qzcli

#endif  // !_WIN32
