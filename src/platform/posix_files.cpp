// Win32 file calls over POSIX file descriptors.
//
// Where the two systems disagree the layer follows Windows, because the
// library is written (and tested) against Windows behaviour:
//  - a directory can never be opened as a file;
//  - a regular file with no write permission bit is read-only for everyone,
//    root included: it cannot be opened for writing, truncated or replaced;
//  - DeleteFileA removes files (and symlinks themselves), never devices,
//    FIFOs or directories;
//  - SetFileAttributesA only ever changes regular files.
#if !defined(_WIN32)

#define _FILE_OFFSET_BITS 64

#include "platform/posix_internal.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

using qzarc_posix::FileHandle;
using qzarc_posix::SetErrorFromErrno;

// Largest single read()/write() request; the kernel caps transfers a little
// below 2 GiB anyway and a DWORD count can be up to 4 GiB.
constexpr size_t kMaxTransfer = size_t{1} << 30;

constexpr mode_t kAnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;

bool IsNullOrEmpty(LPCSTR name) {
    return name == nullptr || name[0] == '\0';
}

bool IsReadOnlyFile(const struct stat &st) {
    return S_ISREG(st.st_mode) && (st.st_mode & kAnyWriteBit) == 0;
}

int OpenFlagsFor(DWORD access, DWORD disposition, bool *ok) {
    int flags = O_CLOEXEC;
    bool wantRead = (access & GENERIC_READ) != 0;
    bool wantWrite = (access & GENERIC_WRITE) != 0;
    if (wantRead && wantWrite) {
        flags |= O_RDWR;
    } else if (wantWrite) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }
    *ok = true;
    switch (disposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        // Windows insists on write access to truncate.
        if (!wantWrite) {
            *ok = false;
        }
        flags |= O_TRUNC;
        break;
    default:
        *ok = false;
        break;
    }
    return flags;
}

// The table of open files. The legacy calls hold an archive volume and an
// output file at a time, each handle of the handle API two files of its
// archive and an output file; the rest is room for hosts that keep many
// handles open and for tests that use the layer directly.
constexpr uint32_t kSlotCount = 1024;
FileHandle gSlots[kSlotCount];
pthread_mutex_t gSlotsLock = PTHREAD_MUTEX_INITIALIZER;

// A handle is (generation << 12) | (slot << 3) | 4: never NULL, never
// INVALID_HANDLE_VALUE, and as wide as a pointer allows.
constexpr unsigned kGenerationShift = 14;
static_assert(kSlotCount <= (1u << (kGenerationShift - 3)), "slot numbers fit below the generation");
constexpr uintptr_t kGenerationMask = ~uintptr_t{0} >> (kGenerationShift + 1);

HANDLE MakeHandle(uint32_t slot, uint32_t generation) {
    const uintptr_t value = ((uintptr_t{generation} & kGenerationMask) << kGenerationShift) |
                            (uintptr_t{slot} << 3) | 4u;
    return reinterpret_cast<HANDLE>(value);
}

// The open slot a handle names, or nullptr.
FileHandle *LookUp(HANDLE handle) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if ((value & 7u) != 4u)
        return nullptr;
    const uintptr_t slot = (value >> 3) & ((uintptr_t{1} << (kGenerationShift - 3)) - 1);
    if (slot >= kSlotCount)
        return nullptr;
    FileHandle &file = gSlots[slot];
    if (!file.open || (uintptr_t{file.generation} & kGenerationMask) != (value >> kGenerationShift))
        return nullptr;
    return &file;
}

// Takes a free slot for fd; INVALID_HANDLE_VALUE when every slot is taken.
HANDLE TakeSlot(int fd) {
    pthread_mutex_lock(&gSlotsLock);
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (uint32_t slot = 0; slot < kSlotCount; ++slot) {
        FileHandle &file = gSlots[slot];
        if (!file.open) {
            file.open = true;
            file.fd = fd;
            handle = MakeHandle(slot, file.generation);
            break;
        }
    }
    pthread_mutex_unlock(&gSlotsLock);
    return handle;
}

// Frees the slot of handle and returns its descriptor; -1 when the handle
// names no open file.
int GiveUpSlot(HANDLE handle) {
    pthread_mutex_lock(&gSlotsLock);
    FileHandle *file = LookUp(handle);
    int fd = -1;
    if (file != nullptr) {
        fd = file->fd;
        file->open = false;
        file->fd = -1;
        file->generation += 1;  // every handle of the slot so far is stale now
    }
    pthread_mutex_unlock(&gSlotsLock);
    return fd;
}

} // namespace

namespace qzarc_posix {

FileHandle *ToFile(HANDLE handle) {
    FileHandle *file = LookUp(handle);
    if (file == nullptr)
        SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

} // namespace qzarc_posix

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD /*share*/, SECURITY_ATTRIBUTES * /*security*/,
                   DWORD disposition, DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/) {
    if (IsNullOrEmpty(name)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    bool flagsOk = false;
    int flags = OpenFlagsFor(access, disposition, &flagsOk);
    if (!flagsOk) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }

    // Root may write to any file, Windows lets nobody write to a read-only
    // one. Refuse before open() so that O_TRUNC never destroys its contents.
    bool modifies = (access & GENERIC_WRITE) != 0 || (flags & O_TRUNC) != 0;
    struct stat before;
    if (modifies && stat(name, &before) == 0 && IsReadOnlyFile(before)) {
        if (disposition == CREATE_NEW) {
            SetLastError(ERROR_FILE_EXISTS);
        } else {
            SetLastError(ERROR_ACCESS_DENIED);
        }
        return INVALID_HANDLE_VALUE;
    }

    int fd;
    do {
        fd = open(name, flags, 0666);  // the umask trims the mode
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetErrorFromErrno(errno, name);
        return INVALID_HANDLE_VALUE;
    }

    // open() happily gives read access to a directory; Windows does not.
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int err = errno;
        close(fd);
        SetErrorFromErrno(err, name);
        return INVALID_HANDLE_VALUE;
    }
    if (S_ISDIR(st.st_mode)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }

    HANDLE handle = TakeSlot(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        close(fd);
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
#if defined(QZARC_TEST_HOOKS)
    qzarc_posix::hooks::OnHandleOpened();
#endif
    return handle;
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, OVERLAPPED * /*overlapped*/) {
    if (read != nullptr) {
        *read = 0;
    }
    FileHandle *file = qzarc_posix::ToFile(handle);
    if (file == nullptr) {
        return FALSE;
    }
#if defined(QZARC_TEST_HOOKS)
    if (qzarc_posix::hooks::OnReadFile()) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
#endif
    uint8_t *out = static_cast<uint8_t *>(buffer);
    DWORD total = 0;
    // A pipe or a FIFO hands data over in pieces; Windows' synchronous
    // ReadFile on a file fills the buffer unless it hits the end.
    while (total < toRead) {
        size_t want = toRead - total;
        if (want > kMaxTransfer) {
            want = kMaxTransfer;
        }
        ssize_t got = ::read(file->fd, out + total, want);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            int err = errno;
            if (read != nullptr) {
                *read = total;
            }
            SetErrorFromErrno(err, nullptr);
            return FALSE;
        }
        if (got == 0) {
            break;  // end of file
        }
        total += static_cast<DWORD>(got);
    }
    if (read != nullptr) {
        *read = total;
    }
    return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               OVERLAPPED * /*overlapped*/) {
#if defined(QZARC_TEST_HOOKS)
    qzarc_posix::hooks::OnWriteFile(toWrite);
#endif
    if (written != nullptr) {
        *written = 0;
    }
    FileHandle *file = qzarc_posix::ToFile(handle);
    if (file == nullptr) {
        return FALSE;
    }
    const uint8_t *in = static_cast<const uint8_t *>(buffer);
    DWORD total = 0;
    while (total < toWrite) {
        size_t want = toWrite - total;
        if (want > kMaxTransfer) {
            want = kMaxTransfer;
        }
        ssize_t put = ::write(file->fd, in + total, want);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            // write() returning 0 for a non-empty request means no room.
            int err = put < 0 ? errno : ENOSPC;
            if (written != nullptr) {
                *written = total;
            }
            SetErrorFromErrno(err, nullptr);
            return FALSE;
        }
        total += static_cast<DWORD>(put);
    }
    if (written != nullptr) {
        *written = total;
    }
    return TRUE;
}

void ReserveOutputSpace(HANDLE handle, uint64_t bytes) {
    // Below a few pages there is nothing worth saving.
    constexpr uint64_t kWorthReserving = 1u << 16;
    if (bytes < kWorthReserving) {
        return;
    }
    FileHandle *file = LookUp(handle);
    if (file == nullptr) {
        return;
    }
#if defined(__linux__)
    // The reserved blocks lie past the file's end until the writes reach
    // them; callers ask for no more than a kept file's final size (a failed
    // one is deleted), so none are left over. Devices and file systems
    // without the call refuse (ENODEV, EOPNOTSUPP, ...), which changes
    // nothing: this is the raw call, never an emulation that writes zeros.
    const int saved = errno;
    (void)fallocate(file->fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
    errno = saved;
#endif
}

bool ReadFileAt(HANDLE handle, void *buffer, uint32_t n, uint64_t offset) {
    const FileHandle *file = LookUp(handle);
    if (file == nullptr)
        return false;
    uint8_t *out = static_cast<uint8_t *>(buffer);
    uint32_t total = 0;
    while (total < n) {
        const size_t want = n - total > kMaxTransfer ? kMaxTransfer : n - total;
        const ssize_t got = ::pread(file->fd, out + total, want, static_cast<off_t>(offset + total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        total += static_cast<uint32_t>(got);
    }
    return true;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD method) {
    FileHandle *file = qzarc_posix::ToFile(handle);
    if (file == nullptr) {
        return INVALID_SET_FILE_POINTER;
    }
#if defined(QZARC_TEST_HOOKS)
    if (qzarc_posix::hooks::OnSetFilePointer()) {
        SetLastError(ERROR_GEN_FAILURE);
        return INVALID_SET_FILE_POINTER;
    }
#endif
    // With a high part the distance is a 64-bit value whose low half is the
    // unsigned `distance`; without one it is `distance` itself, signed.
    int64_t move;
    if (distanceHigh != nullptr) {
        uint64_t bits = (static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                        static_cast<uint32_t>(distance);
        move = static_cast<int64_t>(bits);
    } else {
        move = distance;
    }

    int64_t base;
    switch (method) {
    case FILE_BEGIN:
        base = 0;
        break;
    case FILE_CURRENT: {
        off_t here = lseek(file->fd, 0, SEEK_CUR);
        if (here < 0) {
            SetErrorFromErrno(errno, nullptr);
            return INVALID_SET_FILE_POINTER;
        }
        base = here;
        break;
    }
    case FILE_END: {
        struct stat st;
        if (fstat(file->fd, &st) != 0) {
            SetErrorFromErrno(errno, nullptr);
            return INVALID_SET_FILE_POINTER;
        }
        base = st.st_size;
        break;
    }
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }

    // base is never negative, so only a negative move can underflow, and
    // then the target is negative anyway; only a positive one can overflow.
    if (move > 0 && base > INT64_MAX - move) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t target = base + move;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(file->fd, static_cast<off_t>(target), SEEK_SET) < 0) {
        SetErrorFromErrno(errno, nullptr);
        return INVALID_SET_FILE_POINTER;
    }
    uint64_t position = static_cast<uint64_t>(target);
    if (distanceHigh != nullptr) {
        *distanceHigh = static_cast<LONG>(static_cast<uint32_t>(position >> 32));
    }
    DWORD low = static_cast<DWORD>(position);
    // A position whose low half is 0xFFFFFFFF looks like failure; Windows
    // callers tell the two apart by a last error of NO_ERROR.
    if (low == INVALID_SET_FILE_POINTER) {
        SetLastError(NO_ERROR);
    }
    return low;
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
    FileHandle *file = qzarc_posix::ToFile(handle);
    if (file == nullptr) {
        return INVALID_FILE_SIZE;
    }
    struct stat st;
    if (fstat(file->fd, &st) != 0) {
        SetErrorFromErrno(errno, nullptr);
        return INVALID_FILE_SIZE;
    }
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (sizeHigh != nullptr) {
        *sizeHigh = static_cast<DWORD>(size >> 32);
    }
    DWORD low = static_cast<DWORD>(size);
    if (low == INVALID_FILE_SIZE) {
        SetLastError(NO_ERROR);  // as for SetFilePointer: not a failure
    }
    return low;
}

BOOL CloseHandle(HANDLE handle) {
    int fd = GiveUpSlot(handle);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
#if defined(QZARC_TEST_HOOKS)
    qzarc_posix::hooks::OnHandleClosed();
#endif
    // On Linux the descriptor is released even when close() reports an
    // error (EINTR included), so it must never be retried.
    if (close(fd) != 0 && errno != EINTR) {
        SetErrorFromErrno(errno, nullptr);
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteFileA(LPCSTR name) {
    if (IsNullOrEmpty(name)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    // lstat: a symlink is removed itself, whatever it points at.
    struct stat st;
    if (lstat(name, &st) != 0) {
        SetErrorFromErrno(errno, name);
        return FALSE;
    }
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(name) != 0) {
        SetErrorFromErrno(errno, name);
        return FALSE;
    }
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR name) {
    if (IsNullOrEmpty(name)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat st;
    if (stat(name, &st) != 0) {
        SetErrorFromErrno(errno, name);
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = 0;
    if (S_ISDIR(st.st_mode)) {
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    }
    if ((st.st_mode & kAnyWriteBit) == 0) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

BOOL SetFileAttributesA(LPCSTR name, DWORD attributes) {
    if (IsNullOrEmpty(name)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    struct stat st;
    if (stat(name, &st) != 0) {
        SetErrorFromErrno(errno, name);
        return FALSE;
    }
    // Directories, devices and FIFOs keep their modes: the attributes the
    // library sets describe archived files, and a chmod on /dev/null (say)
    // would harm the whole system.
    if (!S_ISREG(st.st_mode)) {
        return TRUE;
    }
    mode_t mode = st.st_mode & 07777;
    mode_t wanted = (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? (mode & ~kAnyWriteBit)
                                                                : (mode | S_IWUSR);
    if (wanted != mode && chmod(name, wanted) != 0) {
        SetErrorFromErrno(errno, name);
        return FALSE;
    }
    return TRUE;
}

#endif // !_WIN32
