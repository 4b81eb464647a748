// FILETIME handling for the POSIX platform layer.
//
// A FILETIME counts 100-nanosecond ticks since 1601-01-01 00:00 UTC. The
// Unix epoch is 11644473600 seconds later. FILETIMEs are unsigned, so the
// whole-second part of a conversion is already rounded toward minus
// infinity and the sub-second part is never negative: a time before 1970
// becomes a negative tv_sec with a non-negative tv_nsec, as timespec wants.
#if !defined(_WIN32)

#define _FILE_OFFSET_BITS 64

#include "platform/posix_internal.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <sys/stat.h>

namespace {

constexpr uint64_t kTicksPerSecond = 10000000u;
constexpr int64_t kEpochDifferenceSeconds = 11644473600;

uint64_t Ticks(const FILETIME &ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// NULL, or a FILETIME of zero, leaves that time as it is (Windows treats a
// zero time as "do not change").
struct timespec ToTimespec(const FILETIME *ft) {
    struct timespec ts;
    if (ft == nullptr || Ticks(*ft) == 0) {
        ts.tv_sec = 0;
        ts.tv_nsec = UTIME_OMIT;
        return ts;
    }
    uint64_t ticks = Ticks(*ft);
    ts.tv_sec = static_cast<time_t>(static_cast<int64_t>(ticks / kTicksPerSecond) -
                                    kEpochDifferenceSeconds);
    ts.tv_nsec = static_cast<long>((ticks % kTicksPerSecond) * 100u);
    return ts;
}

} // namespace

BOOL SetFileTime(HANDLE handle, const FILETIME * /*creation*/, const FILETIME *lastAccess,
                 const FILETIME *lastWrite) {
    // There is no settable creation time on POSIX file systems; it is ignored.
    qzarc_posix::FileHandle *file = qzarc_posix::ToFile(handle);
    if (file == nullptr) {
        return FALSE;
    }
    struct timespec times[2] = {ToTimespec(lastAccess), ToTimespec(lastWrite)};
    if (futimens(file->fd, times) != 0) {
        qzarc_posix::SetErrorFromErrno(errno, nullptr);
        return FALSE;
    }
    return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME *local, LPFILETIME utc) {
    if (local == nullptr || utc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Windows applies the bias in force now, not the one of the date being
    // converted (so a summer date converted in winter is off by the DST hour).
    time_t now = time(nullptr);
    struct tm parts;
    int64_t offsetSeconds = 0;
    if (localtime_r(&now, &parts) != nullptr) {
        offsetSeconds = parts.tm_gmtoff;
    }
    // Read everything before writing: `local` and `utc` may be one object.
    uint64_t ticks = Ticks(*local);
    int64_t shift = offsetSeconds * static_cast<int64_t>(kTicksPerSecond);
    if ((shift > 0 && ticks < static_cast<uint64_t>(shift)) ||
        (shift < 0 && ticks > UINT64_MAX - static_cast<uint64_t>(-shift))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint64_t result = ticks - static_cast<uint64_t>(shift);
    utc->dwLowDateTime = static_cast<DWORD>(result);
    utc->dwHighDateTime = static_cast<DWORD>(result >> 32);
    return TRUE;
}

#endif // !_WIN32
