// The process heap of the POSIX platform layer: malloc with Win32 calls.
#if !defined(_WIN32)

#include "platform/posix_internal.h"

#include <cstdlib>

namespace {

// Nobody dereferences the heap handle; it only has to be non-null and stable.
char g_processHeap;

} // namespace

HANDLE GetProcessHeap() {
    return &g_processHeap;
}

LPVOID HeapAlloc(HANDLE /*heap*/, DWORD flags, SIZE_T bytes) {
#if defined(QZARC_TEST_HOOKS)
    if (qzarc_posix::hooks::OnHeapAlloc()) {
        return nullptr;
    }
#endif
    // HeapAlloc of zero bytes gives a valid, distinct block; malloc(0) may
    // legitimately return NULL, so ask for one byte.
    SIZE_T request = bytes != 0 ? bytes : 1;
    void *block = (flags & HEAP_ZERO_MEMORY) != 0 ? std::calloc(request, 1) : std::malloc(request);
#if defined(QZARC_TEST_HOOKS)
    if (block != nullptr) {
        qzarc_posix::hooks::OnBlockAllocated();
    }
#endif
    return block;
}

BOOL HeapFree(HANDLE /*heap*/, DWORD /*flags*/, LPVOID block) {
    if (block == nullptr) {
        return TRUE;
    }
    std::free(block);
#if defined(QZARC_TEST_HOOKS)
    qzarc_posix::hooks::OnBlockFreed();
#endif
    return TRUE;
}

#endif // !_WIN32
