#if defined(_WIN32)

#include <windows.h>

#include "processors.h"

namespace qzcli {

unsigned UsableProcessors() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    unsigned count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
        for (; process != 0; process &= process - 1)
            ++count;
    }
    if (count == 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        count = info.dwNumberOfProcessors;
    }
    return count > 0 ? count : 1;
}

}  // namespace qzcli

#endif  // _WIN32
