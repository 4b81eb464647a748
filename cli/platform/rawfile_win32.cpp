#if defined(_WIN32)

#include <windows.h>

#include "rawfile.h"
#include "results.h"

namespace qzcli {
namespace {

bool Fail(std::string *error) {
    *error = DescribeSystemError(static_cast<uint32_t>(GetLastError()));
    return false;
}

bool Seek(HANDLE handle, uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle, to, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

RawFile::~RawFile() {
    if (handle_ != nullptr)
        CloseHandle(handle_);
}

bool RawFile::isOpen() const { return handle_ != nullptr; }

bool RawFile::Create(const std::string &path, std::string *error) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return Fail(error);
    handle_ = h;
    size_ = 0;
    return true;
}

bool RawFile::Open(const std::string &path, std::string *error) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return Fail(error);
    handle_ = h;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h, &size))
        return Fail(error);
    size_ = static_cast<uint64_t>(size.QuadPart);
    return true;
}

bool RawFile::Close(std::string *error) {
    if (handle_ == nullptr)
        return true;
    const BOOL ok = CloseHandle(handle_);
    handle_ = nullptr;
    return ok != 0 || Fail(error);
}

bool RawFile::WriteAt(uint64_t offset, const uint8_t *data, size_t size, std::string *error) {
    if (!Seek(handle_, offset))
        return Fail(error);
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(handle_, data, chunk, &written, nullptr))
            return Fail(error);
        data += written;
        size -= written;
        offset += written;
        if (offset > size_)
            size_ = offset;
    }
    return true;
}

bool RawFile::ReadAt(uint64_t offset, uint8_t *data, size_t size, std::string *error) {
    if (!Seek(handle_, offset))
        return Fail(error);
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD read = 0;
        if (!ReadFile(handle_, data, chunk, &read, nullptr))
            return Fail(error);
        if (read == 0) {
            *error = "unexpected end of file";
            return false;
        }
        data += read;
        size -= read;
    }
    return true;
}

bool RawFile::Truncate(uint64_t size, std::string *error) {
    if (!Seek(handle_, size) || !SetEndOfFile(handle_))
        return Fail(error);
    size_ = size;
    return true;
}

}  // namespace qzcli

#endif  // _WIN32
