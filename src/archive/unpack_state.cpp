#include "archive/unpack_state.h"

void CloseIfOpen(HANDLE &h) {
    if (IsOpenHandle(h))
        CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
}

uint64_t ArchivePosition(UnpackState &s) {
    if (!IsOpenHandle(s.archive))
        return UINT64_MAX;
    LONG high = 0;
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(s.archive, 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return UINT64_MAX;
    return (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low;
}

namespace {

bool Seek(UnpackState &s, int64_t distance, DWORD method) {
    if (!IsOpenHandle(s.archive))
        return false;
    LONG high = static_cast<LONG>(static_cast<uint64_t>(distance) >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(s.archive, static_cast<LONG>(static_cast<uint32_t>(distance)),
                               &high, method);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

}  // namespace

bool SeekArchive(UnpackState &s, uint64_t position) { return Seek(s, static_cast<int64_t>(position), FILE_BEGIN); }

bool SeekArchiveBy(UnpackState &s, int64_t distance) { return Seek(s, distance, FILE_CURRENT); }

bool ReadArchiveExact(UnpackState &s, void *buffer, uint32_t n, bool *readFailed) {
    if (readFailed != nullptr)
        *readFailed = false;
    if (!IsOpenHandle(s.archive)) {
        if (readFailed != nullptr)
            *readFailed = true;
        return false;
    }
    DWORD got = 0;
    if (!ReadFile(s.archive, buffer, n, &got, nullptr)) {
        if (readFailed != nullptr)
            *readFailed = true;
        return false;
    }
    return got == n;
}

void WriteCrcText(UnpackState &s, char *crcOut) {
    if (crcOut != nullptr)
        wsprintfA(crcOut, "%08lX", static_cast<unsigned long>(s.crc));
}
