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

bool AllocateBuffers() {
    ReleaseBuffers();
    uint8_t *readBuffer = nullptr;
    uint8_t *staging = nullptr;
    if (!AllocatePair(readBuffer, staging))
        return false;
    SwapReadBuffer(readBuffer);
    SwapStagingBuffer(staging, false);
    SetBufferRenewal(RenewBuffers);
    return true;
}

bool RenewBuffers() {
    uint8_t *readBuffer = nullptr;
    uint8_t *staging = nullptr;
    const bool ok = AllocatePair(readBuffer, staging);
    // Without memory both are null now: the old blocks go all the same.
    FreeBlock(SwapReadBuffer(readBuffer));
    FreeBlock(SwapStagingBuffer(staging, true));
    return ok;
}

void ReleaseBuffers() {
    FreeBlock(SwapReadBuffer(nullptr));
    FreeBlock(SwapStagingBuffer(nullptr, false));
}

void ReleaseArchive() {
    ReleaseBuffers();
    CloseIfOpen(gUnpack.archive);
    gUnpack.volumeNumber = 0;
}
