#include "inflate/bit_input.h"

InflateStream gInflate;  // zero-initialised at load: no window, no input, no tables

bool HoldView() {
    if (gInflate.input.buffered == nullptr)
        return false;
    const uint8_t *at = nullptr;
    const uint32_t n = gInflate.input.buffered(&at);
    if (n == 0)
        return false;
    gInflate.input.take(n);
    gInflate.viewAt = at;
    gInflate.viewLeft = n;
    return true;
}

void ReleaseView() {
    if (gInflate.viewLeft != 0)
        gInflate.input.giveBack(gInflate.viewLeft);
    gInflate.viewLeft = 0;
}

int PullByte() {
    if (gInflate.viewLeft != 0 || HoldView()) {
        --gInflate.viewLeft;
        return *gInflate.viewAt++;
    }
    return gInflate.input.nextByte();
}
