// Private to the POSIX platform layer: what its translation units share.
// Nothing outside src/platform includes this.
#ifndef QZARC_POSIX_INTERNAL_H
#define QZARC_POSIX_INTERNAL_H

#if !defined(_WIN32)

#include "platform/platform.h"

#include <cstdint>

namespace qzarc_posix {

// An open file of the layer. A HANDLE from CreateFileA is not a pointer but
// a slot number of a fixed table together with the slot's generation, which
// every close advances: a handle that was closed (or was never ours) finds
// no open slot of its generation and is rejected with ERROR_INVALID_HANDLE,
// without anything of it being read but the table's own entry.
struct FileHandle {
    uint32_t generation;  // advanced by every close of the slot
    bool open;
    int fd;
};

// The handle's open file, or nullptr with last error ERROR_INVALID_HANDLE.
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
// Called on every ReadFile / SetFilePointer; true when this one must fail.
bool OnReadFile();
bool OnSetFilePointer();
} // namespace hooks
#endif

} // namespace qzarc_posix

#endif // !_WIN32

#endif // QZARC_POSIX_INTERNAL_H
