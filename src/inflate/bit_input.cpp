#include "inflate/bit_input.h"


bool HoldView(InflateStream &st) {
    if (st.input.buffered == nullptr)
        return false;
    const uint8_t *at = nullptr;
    const uint32_t n = st.input.buffered(st.input.context, &at);
    if (n == 0)
        return false;
    st.input.take(st.input.context, n);
    st.viewAt = at;
    st.viewLeft = n;
    return true;
}

void ReleaseView(InflateStream &st) {
    if (st.viewLeft != 0)
        st.input.giveBack(st.input.context, st.viewLeft);
    st.viewLeft = 0;
}

int PullByte(InflateStream &st) {
    if (st.viewLeft != 0 || HoldView(st)) {
        --st.viewLeft;
        return *st.viewAt++;
    }
    return st.input.nextByte(st.input.context);
}
