#if !defined(_WIN32)

#include <sched.h>

#include <thread>

#include "processors.h"

namespace qzcli {

unsigned UsableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0)
            return static_cast<unsigned>(count);
    }
    const unsigned machine = std::thread::hardware_concurrency();
    return machine > 0 ? machine : 1;
}

}  // namespace qzcli

#endif  // !_WIN32
