#include "archive/unpack_state.h"

#include <cstring>

#include "archive/archive_reader.h"
#include "archive/stored_copier.h"

UnpackState gUnpack;  // zero-initialised at load

void CloseIfOpen(HANDLE &h) {
    if (IsOpenHandle(h))
        CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
}

namespace {

void FreeBlock(uint8_t *&block) {
    if (block != nullptr)
        HeapFree(GetProcessHeap(), 0, block);
    block = nullptr;
}

bool AllocatePair(uint8_t *&readBuffer, uint8_t *&staging) {
    HANDLE heap = GetProcessHeap();
    readBuffer = static_cast<uint8_t *>(HeapAlloc(heap, 0, kReadBufferSize));
    staging = static_cast<uint8_t *>(HeapAlloc(heap, 0, kStagingBufferSize));
    if (readBuffer != nullptr && staging != nullptr)
        return true;
    FreeBlock(readBuffer);
    FreeBlock(staging);
    return false;
}

}  // namespace

bool AllocateBuffers() {
    ReleaseBuffers();
    if (!AllocatePair(gReader.readBuffer, gCopier.staging))
        return false;
    gReader.cursor = gReader.readBuffer;
    gReader.left = 0;
    gCopier.cursor = gCopier.staging;
    gCopier.count = 0;
    return true;
}

bool RenewBuffers() {
    uint8_t *readBuffer = nullptr;
    uint8_t *staging = nullptr;
    bool ok = AllocatePair(readBuffer, staging);
    uint32_t pending = gCopier.count;
    if (ok && pending != 0)
        std::memcpy(staging, gCopier.staging, pending);
    ReleaseBuffers();
    if (!ok)
        return false;
    gReader.readBuffer = readBuffer;
    gReader.cursor = readBuffer;
    gReader.left = 0;
    gCopier.staging = staging;
    gCopier.cursor = staging + pending;
    gCopier.count = pending;
    return true;
}

void ReleaseBuffers() {
    FreeBlock(gReader.readBuffer);
    FreeBlock(gCopier.staging);
    gReader.cursor = nullptr;
    gReader.left = 0;
    gCopier.cursor = nullptr;
    gCopier.count = 0;
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
