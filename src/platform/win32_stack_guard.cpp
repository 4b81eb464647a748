// The stack protector's guard and failure handler for the Windows builds.
// Code compiled with -fstack-protector-strong compares a copy of
// __stack_chk_guard kept below its local arrays with the guard itself before
// it returns, and calls __stack_chk_fail when an overflow changed the copy.
// The compiler's runtime for this seeds the guard through ADVAPI32; this one
// uses KERNEL32 only, which every program and QZARC.dll import anyway.
//
// The guard is seeded once, by a constructor that runs while the module
// loads, before any code of ours. Until then it holds a fixed value: a
// function entered before the seeding and left after it would find its copy
// changed, and no protected function of ours can be on the stack then.
#include <windows.h>

#include <cstdint>

extern "C" {

uintptr_t __stack_chk_guard = static_cast<uintptr_t>(0x5AF1C3D27E94B68Bull);

// A stack overflow was detected: nothing on this stack can be trusted, so
// the process ends at once, with the status Windows itself uses for it.
__attribute__((noreturn)) void __stack_chk_fail(void) {
    TerminateProcess(GetCurrentProcess(), 0xC0000409u);  // STATUS_STACK_BUFFER_OVERRUN
    __builtin_trap();
}

}  // extern "C"

namespace {

// Unpredictable enough for a guard: the counter's ticks, the process and
// thread numbers, and where the system placed this stack and this module.
__attribute__((constructor, no_stack_protector)) void SeedStackGuard() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uint64_t seed = static_cast<uint64_t>(counter.QuadPart);
    seed ^= static_cast<uint64_t>(GetCurrentProcessId()) << 32 ^ GetCurrentThreadId();
    seed ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&counter)) << 16;
    seed ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&__stack_chk_guard));
    seed ^= static_cast<uint64_t>(GetTickCount()) << 40;
    // One round of a 64-bit mixer, so that every input bit reaches every
    // output bit; a guard with a zero byte stops string overflows early.
    seed ^= seed >> 33;
    seed *= 0xFF51AFD7ED558CCDull;
    seed ^= seed >> 33;
    __stack_chk_guard = static_cast<uintptr_t>(seed) & ~static_cast<uintptr_t>(0xFF);
}

}  // namespace
