#include "archive/host_callback.h"

namespace {
HostCallback gCallback = nullptr;  // kept until the host registers another one
}

void SetHostCallback(HostCallback callback) { gCallback = callback; }

bool HostRegistered() { return gCallback != nullptr; }

int NotifyHost(int kind, int value, int a, int b, char *text) {
    if (gCallback == nullptr)
        return 0;
    return gCallback(kind, value, a, b, text);
}

int RemainingPercent(uint32_t total, uint32_t done) {
    if (done >= total)
        return 0;
    // Unsigned 32-bit arithmetic, truncating; (total - done) * 200 may wrap
    // for totals beyond 21 million MiB, as it always has.
    return static_cast<int>(((total - done) * 200u / total + 1u) / 2u);
}
