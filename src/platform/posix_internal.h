// Private to the POSIX platform layer: what its translation units share.
// Nothing outside src/platform includes this.
#ifndef QZARC_POSIX_INTERNAL_H
#define QZARC_POSIX_INTERNAL_H

#if !defined(_WIN32)

#include "platform/platform.h"

#include <cstdint>

namespace qzarc_posix {

// What a HANDLE from CreateFileA points at. The tag lets the calls reject a
// pointer that is plainly not one of ours (NULL, INVALID_HANDLE_VALUE, or a
// handle that was already closed) instead of handing garbage to the kernel.
struct FileHandle {
    uint32_t tag;
    int fd;
};

constexpr uint32_t kFileTag = 0x51464831u;  // "QFH1"
constexpr uint32_t kDeadTag = 0xDEADF11Eu;

// The handle's state, or nullptr with last error ERROR_INVALID_HANDLE.
FileHandle *ToFile(HANDLE handle);

// Records the Win32 error corresponding to errno value `err`. `path` (may be
// null) is the name the failing call was given: a missing file is reported
// as ERROR_FILE_NOT_FOUND only when its directory exists, otherwise as
// ERROR_PATH_NOT_FOUND, which is how Windows distinguishes the two.
void SetErrorFromErrno(int err, const char *path);

// Win32 error number for errno value `err`, without the path refinement.
DWORD Win32ErrorFromErrno(int err);

#if defined(QZARC_TEST_HOOKS)
namespace hooks {
// Called on every HeapAlloc; true when this allocation must fail.
bool OnHeapAlloc();
void OnBlockAllocated();
void OnBlockFreed();
void OnHandleOpened();
void OnHandleClosed();
void OnWriteFile(DWORD size);
} // namespace hooks
#endif

} // namespace qzarc_posix

#endif // !_WIN32

#endif // QZARC_POSIX_INTERNAL_H
