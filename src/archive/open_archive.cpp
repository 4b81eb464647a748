#include "archive/open_archive.h"

#include <cstdint>

#include "archive/archive_reader.h"
#include "archive/stored_copier.h"
#include "archive/unpack_state.h"
#include "archive/volumes.h"

namespace {

void FreeBlock(uint8_t *block) {
    if (block != nullptr)
        HeapFree(GetProcessHeap(), 0, block);
}

bool AllocatePair(uint8_t *&readBuffer, uint8_t *&staging) {
    HANDLE heap = GetProcessHeap();
    readBuffer = static_cast<uint8_t *>(HeapAlloc(heap, 0, kReadBufferSize));
    staging = static_cast<uint8_t *>(HeapAlloc(heap, 0, kStagingBufferSize));
    if (readBuffer != nullptr && staging != nullptr)
        return true;
    FreeBlock(readBuffer);
    FreeBlock(staging);
    readBuffer = nullptr;
    staging = nullptr;
    return false;
}

}  // namespace

bool AllocateBuffers(UnpackState &s) {
    ReleaseBuffers(s);
    uint8_t *readBuffer = nullptr;
    uint8_t *staging = nullptr;
    if (!AllocatePair(readBuffer, staging))
        return false;
    SwapReadBuffer(s, readBuffer);
    SwapStagingBuffer(s, staging, false);
    s.renewBuffers = RenewBuffers;
    return true;
}

bool RenewBuffers(UnpackState &s) {
    uint8_t *readBuffer = nullptr;
    uint8_t *staging = nullptr;
    const bool ok = AllocatePair(readBuffer, staging);
    // Without memory both are null now: the old blocks go all the same.
    FreeBlock(SwapReadBuffer(s, readBuffer));
    FreeBlock(SwapStagingBuffer(s, staging, true));
    return ok;
}

void ReleaseBuffers(UnpackState &s) {
    FreeBlock(SwapReadBuffer(s, nullptr));
    FreeBlock(SwapStagingBuffer(s, nullptr, false));
}

void ReleaseArchive(UnpackState &s) {
    ReleaseBuffers(s);
    CloseIfOpen(s.archive);
    s.volumeNumber = 0;
}
