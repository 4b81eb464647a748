#include "archive/host_callback.h"

void SetHostCallback(UnpackState &s, HostCallback callback) { s.callback = callback; }

bool HostRegistered(UnpackState &s) { return s.callback != nullptr; }

int NotifyHost(UnpackState &s, int kind, int value, int a, int b, char *text) {
    if (s.callback == nullptr)
        return 0;
    return s.callback(kind, value, a, b, text);
}

bool AskHostForVolume(UnpackState &s, int number, char *name) {
    if (!HostRegistered(s))
        return false;
    const int answer = NotifyHost(s, kNotifyVolume, number, 0, 0, name);
    // The host's buffer is MAX_PATH bytes, as it has always been told.
    name[MAX_PATH - 1] = '\0';
    return answer != 1;
}

int RemainingPercent(uint32_t total, uint32_t done) {
    if (done >= total)
        return 0;
    // Unsigned 32-bit arithmetic, truncating; (total - done) * 200 may wrap
    // for totals beyond 21 million MiB, as it always has.
    return static_cast<int>(((total - done) * 200u / total + 1u) / 2u);
}
