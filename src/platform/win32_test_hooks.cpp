// Test instruments on Windows: the same counters as the POSIX layer keeps,
// kept by wrappers that the test build of the library calls in place of
// CreateFileA, CloseHandle, WriteFile, ReadFile, SetFilePointer, HeapAlloc
// and HeapFree.
#if defined(_WIN32) && defined(QZARC_TEST_HOOKS)

#define QZARC_HOOKS_IMPL
#include "platform/platform.h"
#include "platform/test_hooks.h"

#include <atomic>
#include <mutex>

namespace {

// Atomic: a handle that decodes on helper threads allocates and frees on
// them too. The countdowns are armed by single-threaded tests.
std::atomic<uint32_t> gFailCountdown{0};
std::atomic<uint32_t> gReadCountdown{0};
std::atomic<uint32_t> gSeekCountdown{0};
std::atomic<uint32_t> gAllocationCount{0};
std::atomic<long> gLiveBlocks{0};
std::atomic<long> gLiveHandles{0};
std::mutex gWriteMutex;
std::vector<uint32_t> gWriteSizes;

}  // namespace

HANDLE QzHookCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                         DWORD disposition, DWORD flags, HANDLE templateFile) {
    HANDLE h = CreateFileA(name, access, share, security, disposition, flags, templateFile);
    if (h != INVALID_HANDLE_VALUE)
        ++gLiveHandles;
    return h;
}

BOOL QzHookCloseHandle(HANDLE h) {
    BOOL ok = CloseHandle(h);
    if (ok)
        --gLiveHandles;
    return ok;
}

BOOL QzHookWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    {
        std::lock_guard<std::mutex> lock(gWriteMutex);
        gWriteSizes.push_back(size);
    }
    return WriteFile(file, buffer, size, written, overlapped);
}

BOOL QzHookReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
    if (gReadCountdown != 0 && --gReadCountdown == 0) {
        if (read != nullptr)
            *read = 0;
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    return ReadFile(file, buffer, size, read, overlapped);
}

DWORD QzHookSetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
    if (gSeekCountdown != 0 && --gSeekCountdown == 0) {
        SetLastError(ERROR_GEN_FAILURE);
        return INVALID_SET_FILE_POINTER;
    }
    return SetFilePointer(file, distance, distanceHigh, method);
}

LPVOID QzHookHeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    ++gAllocationCount;
    if (gFailCountdown != 0 && --gFailCountdown == 0)
        return nullptr;
    LPVOID block = HeapAlloc(heap, flags, bytes);
    if (block != nullptr)
        ++gLiveBlocks;
    return block;
}

BOOL QzHookHeapFree(HANDLE heap, DWORD flags, LPVOID block) {
    if (block != nullptr)
        --gLiveBlocks;
    return HeapFree(heap, flags, block);
}

namespace qzarc_test {

void FailAllocation(uint32_t nth) { gFailCountdown = nth; }
void FailRead(uint32_t nth) { gReadCountdown = nth; }
void FailSeek(uint32_t nth) { gSeekCountdown = nth; }
uint32_t AllocationCount() { return gAllocationCount; }
long LiveBlocks() { return gLiveBlocks; }
long LiveHandles() { return gLiveHandles; }
std::vector<uint32_t> WriteSizes() {
    std::lock_guard<std::mutex> lock(gWriteMutex);
    return gWriteSizes;
}
void ResetCounters() {
    gAllocationCount = 0;
    std::lock_guard<std::mutex> lock(gWriteMutex);
    gWriteSizes.clear();
}

}  // namespace qzarc_test

#endif
