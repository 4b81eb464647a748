#include "bit_input.h"

InflateStream gInflate;  // zero-initialised at load: no window, no input, no tables

int PullByte() {
    const uint8_t *at;
    if (ViewBytes(&at) != 0) {
        // What the byte function would do for a byte already in memory,
        // without the call.
        const int byte = *at;
        gInflate.input.take(1);
        return byte;
    }
    return gInflate.input.nextByte();
}
