// Test instruments of the POSIX platform layer: allocation failure
// injection and counters of heap blocks, file handles and write sizes.
// Compiled to nothing unless QZARC_TEST_HOOKS is defined.
#if !defined(_WIN32) && defined(QZARC_TEST_HOOKS)

#include "platform/posix_internal.h"
#include "platform/test_hooks.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace {

std::atomic<uint32_t> g_failCountdown{0};  // 0: disarmed
std::atomic<uint32_t> g_readCountdown{0};
std::atomic<uint32_t> g_seekCountdown{0};
std::atomic<uint32_t> g_allocationCount{0};
std::atomic<long> g_liveBlocks{0};
std::atomic<long> g_liveHandles{0};

std::mutex g_writeMutex;
std::vector<uint32_t> g_writeSizes;

// True for the call that takes an armed countdown to zero.
bool CountDown(std::atomic<uint32_t> &countdown) {
    uint32_t left = countdown.load(std::memory_order_relaxed);
    while (left != 0) {
        if (countdown.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
            return left == 1;
        }
    }
    return false;
}

} // namespace

namespace qzarc_posix {
namespace hooks {

bool OnHeapAlloc() {
    g_allocationCount.fetch_add(1, std::memory_order_relaxed);
    return CountDown(g_failCountdown);
}

bool OnReadFile() { return CountDown(g_readCountdown); }

bool OnSetFilePointer() { return CountDown(g_seekCountdown); }

void OnBlockAllocated() {
    g_liveBlocks.fetch_add(1, std::memory_order_relaxed);
}

void OnBlockFreed() {
    g_liveBlocks.fetch_sub(1, std::memory_order_relaxed);
}

void OnHandleOpened() {
    g_liveHandles.fetch_add(1, std::memory_order_relaxed);
}

void OnHandleClosed() {
    g_liveHandles.fetch_sub(1, std::memory_order_relaxed);
}

void OnWriteFile(DWORD size) {
    std::lock_guard<std::mutex> lock(g_writeMutex);
    g_writeSizes.push_back(size);
}

} // namespace hooks
} // namespace qzarc_posix

namespace qzarc_test {

void FailAllocation(uint32_t nth) {
    g_failCountdown.store(nth, std::memory_order_relaxed);
}

void FailRead(uint32_t nth) { g_readCountdown.store(nth, std::memory_order_relaxed); }

void FailSeek(uint32_t nth) { g_seekCountdown.store(nth, std::memory_order_relaxed); }

uint32_t AllocationCount() {
    return g_allocationCount.load(std::memory_order_relaxed);
}

long LiveBlocks() {
    return g_liveBlocks.load(std::memory_order_relaxed);
}

long LiveHandles() {
    return g_liveHandles.load(std::memory_order_relaxed);
}

std::vector<uint32_t> WriteSizes() {
    std::lock_guard<std::mutex> lock(g_writeMutex);
    return g_writeSizes;
}

void ResetCounters() {
    g_allocationCount.store(0, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(g_writeMutex);
    g_writeSizes.clear();
}

} // namespace qzarc_test

#endif // !_WIN32 && QZARC_TEST_HOOKS
