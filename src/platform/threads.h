// Threads for the library's own helpers: start and join, one lock with
// one condition to wait on, and a clock to tell whether they pay. On
// Windows the system's threads, slim reader/writer lock and condition
// variable; elsewhere POSIX threads. A handle decodes on threads only when
// its host asks it to (qz_archive_set_threads); nothing else in the
// library starts one.
#ifndef QZARC_PLATFORM_THREADS_H
#define QZARC_PLATFORM_THREADS_H

#if defined(_WIN32)
#include "platform/platform.h"
#else
#include <pthread.h>
#include <time.h>
#endif

#include <cstdint>

typedef void (*ThreadMain)(void *argument);

#if defined(_WIN32)

struct ThreadRef {
    HANDLE thread;
};

struct ThreadLock {
    SRWLOCK lock;
    CONDITION_VARIABLE changed;
};

namespace threads_detail {
struct Start {
    ThreadMain main;
    void *argument;
};
inline DWORD WINAPI Trampoline(LPVOID start) {
    const Start s = *static_cast<Start *>(start);
    HeapFree(GetProcessHeap(), 0, start);
    s.main(s.argument);
    return 0;
}
} // namespace threads_detail

inline bool StartThread(ThreadRef &ref, ThreadMain main, void *argument) {
    using threads_detail::Start;
    Start *start = static_cast<Start *>(HeapAlloc(GetProcessHeap(), 0, sizeof(Start)));
    if (start == nullptr)
        return false;
    start->main = main;
    start->argument = argument;
    ref.thread = CreateThread(nullptr, 0, threads_detail::Trampoline, start, 0, nullptr);
    if (ref.thread == nullptr) {
        HeapFree(GetProcessHeap(), 0, start);
        return false;
    }
    return true;
}

// The test builds count the files the library leaves open through
// CloseHandle; a thread's handle is not one of them.
#pragma push_macro("CloseHandle")
#undef CloseHandle
inline void JoinThread(ThreadRef &ref) {
    WaitForSingleObject(ref.thread, INFINITE);
    CloseHandle(ref.thread);
}
#pragma pop_macro("CloseHandle")

inline void InitThreadLock(ThreadLock &l) {
    InitializeSRWLock(&l.lock);
    InitializeConditionVariable(&l.changed);
}
inline void FreeThreadLock(ThreadLock &) {}
inline void Lock(ThreadLock &l) { AcquireSRWLockExclusive(&l.lock); }
inline void Unlock(ThreadLock &l) { ReleaseSRWLockExclusive(&l.lock); }
// Releases the lock until the condition is signalled, then holds it again.
inline void WaitForChange(ThreadLock &l) { SleepConditionVariableSRW(&l.changed, &l.lock, INFINITE, 0); }
inline void SignalChange(ThreadLock &l) { WakeAllConditionVariable(&l.changed); }

// A steady clock, in ticks of a fixed length (only ratios of its times
// are taken).
inline uint64_t ClockTicks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return uint64_t(now.QuadPart);
}

#else

struct ThreadRef {
    pthread_t thread;
};

struct ThreadLock {
    pthread_mutex_t lock;
    pthread_cond_t changed;
};

namespace threads_detail {
struct Start {
    ThreadMain main;
    void *argument;
};
// The function and its argument travel in a heap block that the new
// thread frees once it has read them.
void *Trampoline(void *start);
} // namespace threads_detail

bool StartThread(ThreadRef &ref, ThreadMain main, void *argument);

inline void JoinThread(ThreadRef &ref) { pthread_join(ref.thread, nullptr); }

inline void InitThreadLock(ThreadLock &l) {
    pthread_mutex_init(&l.lock, nullptr);
    pthread_cond_init(&l.changed, nullptr);
}
inline void FreeThreadLock(ThreadLock &l) {
    pthread_cond_destroy(&l.changed);
    pthread_mutex_destroy(&l.lock);
}
inline void Lock(ThreadLock &l) { pthread_mutex_lock(&l.lock); }
inline void Unlock(ThreadLock &l) { pthread_mutex_unlock(&l.lock); }
inline void WaitForChange(ThreadLock &l) { pthread_cond_wait(&l.changed, &l.lock); }
inline void SignalChange(ThreadLock &l) { pthread_cond_broadcast(&l.changed); }

// A steady clock, in nanoseconds (only ratios of its times are taken).
inline uint64_t ClockTicks() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}

#endif

#endif // QZARC_PLATFORM_THREADS_H
