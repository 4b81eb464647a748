// Win32-style last-error values for the POSIX platform layer.
#if !defined(_WIN32)

#include "platform/posix_internal.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>

namespace {

// Windows keeps the last error per thread; so do we.
thread_local DWORD t_lastError = NO_ERROR;

// True when the directory that would contain `path` exists. Used to tell a
// missing file (the directory is there) from a missing path.
bool ParentDirectoryExists(const char *path) {
    size_t len = std::strlen(path);
    // "dir/name/" names "dir/name": ignore trailing separators.
    while (len > 1 && path[len - 1] == '/') {
        --len;
    }
    size_t slash = len;
    while (slash > 0 && path[slash - 1] != '/') {
        --slash;
    }
    if (slash == 0) {
        return true;  // relative name in the current directory
    }
    size_t parentLen = slash - 1;
    while (parentLen > 0 && path[parentLen - 1] == '/') {
        --parentLen;  // collapse "a//b"
    }
    if (parentLen == 0) {
        return true;  // the parent is "/"
    }
    char parent[PATH_MAX];
    if (parentLen >= sizeof(parent)) {
        return false;
    }
    std::memcpy(parent, path, parentLen);
    parent[parentLen] = '\0';
    struct stat st;
    return stat(parent, &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

namespace qzarc_posix {

DWORD Win32ErrorFromErrno(int err) {
    switch (err) {
    case 0:
        return NO_ERROR;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:  // Windows reports an overlong path as not found
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:  // Windows reports an exhausted quota as a full disk
        return ERROR_DISK_FULL;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    default:
        return ERROR_GEN_FAILURE;
    }
}

void SetErrorFromErrno(int err, const char *path) {
    DWORD code = Win32ErrorFromErrno(err);
    if (err == ENOENT && path != nullptr && path[0] != '\0' && !ParentDirectoryExists(path)) {
        code = ERROR_PATH_NOT_FOUND;
    }
    t_lastError = code;
}

} // namespace qzarc_posix

DWORD GetLastError() {
    return t_lastError;
}

void SetLastError(DWORD error) {
    t_lastError = error;
}

#endif // !_WIN32
