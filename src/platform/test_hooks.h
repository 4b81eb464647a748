// Test-only instruments of the platform layer, compiled in only when
// QZARC_TEST_HOOKS is defined (never in the shipped library).
#ifndef QZARC_TEST_HOOKS_H
#define QZARC_TEST_HOOKS_H

#if defined(QZARC_TEST_HOOKS)

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qzarc_test {

// Make the Nth HeapAlloc from now fail (1 = the very next one); 0 disarms.
void FailAllocation(uint32_t nth);
// Make the Nth ReadFile / SetFilePointer call from now fail with
// ERROR_GEN_FAILURE (1 = the very next one); 0 disarms. Nothing is read or
// moved by the failing call.
void FailRead(uint32_t nth);
void FailSeek(uint32_t nth);
// Number of HeapAlloc calls since the last ResetCounters.
uint32_t AllocationCount();
// Heap blocks allocated and not yet freed.
long LiveBlocks();
// Open file handles not yet closed.
long LiveHandles();
// Sizes of every WriteFile call since the last ResetCounters, in order.
std::vector<uint32_t> WriteSizes();
void ResetCounters();

} // namespace qzarc_test

#endif

#endif // QZARC_TEST_HOOKS_H
