#include "archive/unpack_state.h"

UnpackState gUnpack;  // zero-initialised at load

void CloseIfOpen(HANDLE &h) {
    if (IsOpenHandle(h))
        CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
}

uint64_t ArchivePosition() {
    if (!IsOpenHandle(gUnpack.archive))
        return UINT64_MAX;
    LONG high = 0;
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(gUnpack.archive, 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return UINT64_MAX;
    return (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low;
}

namespace {

bool Seek(int64_t distance, DWORD method) {
    if (!IsOpenHandle(gUnpack.archive))
        return false;
    LONG high = static_cast<LONG>(static_cast<uint64_t>(distance) >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(gUnpack.archive, static_cast<LONG>(static_cast<uint32_t>(distance)),
                               &high, method);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

}  // namespace

bool SeekArchive(uint64_t position) { return Seek(static_cast<int64_t>(position), FILE_BEGIN); }

bool SeekArchiveBy(int64_t distance) { return Seek(distance, FILE_CURRENT); }

bool ReadArchiveExact(void *buffer, uint32_t n, bool *readFailed) {
    if (readFailed != nullptr)
        *readFailed = false;
    if (!IsOpenHandle(gUnpack.archive)) {
        if (readFailed != nullptr)
            *readFailed = true;
        return false;
    }
    DWORD got = 0;
    if (!ReadFile(gUnpack.archive, buffer, n, &got, nullptr)) {
        if (readFailed != nullptr)
            *readFailed = true;
        return false;
    }
    return got == n;
}

void WriteCrcText(char *crcOut) {
    if (crcOut != nullptr)
        wsprintfA(crcOut, "%08lX", static_cast<unsigned long>(gUnpack.crc));
}
