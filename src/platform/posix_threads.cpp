// POSIX threads for platform/threads.h.
#if !defined(_WIN32)

#include "platform/threads.h"

#include "platform/platform.h"

void *threads_detail::Trampoline(void *start) {
    const Start s = *static_cast<Start *>(start);
    HeapFree(GetProcessHeap(), 0, start);
    s.main(s.argument);
    return nullptr;
}

bool StartThread(ThreadRef &ref, ThreadMain main, void *argument) {
    threads_detail::Start *start =
        static_cast<threads_detail::Start *>(HeapAlloc(GetProcessHeap(), 0, sizeof(threads_detail::Start)));
    if (start == nullptr)
        return false;
    start->main = main;
    start->argument = argument;
    if (pthread_create(&ref.thread, nullptr, threads_detail::Trampoline, start) != 0) {
        HeapFree(GetProcessHeap(), 0, start);
        return false;
    }
    return true;
}

#endif // !_WIN32
