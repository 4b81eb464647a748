#include "inflate/stored_block.h"

#include <cstring>

#include "inflate/bit_input.h"
#include "inflate/window.h"

namespace {

// One byte of a stored block. Whole bytes still pending in the bit buffer
// were pulled ahead by a lookup wider than the codes it resolved; they are
// the block's next bytes and come before any further input.
int StoredByte(InflateStream &st) {
    if (st.bitCount >= 8) {
        const int byte = int(st.bitBuffer & 0xFFu);
        st.bitBuffer >>= 8;
        st.bitCount -= 8;
        if (st.bitCount == 0)
            st.bitBuffer = 0;  // discard any bits a -1 set above the pending ones
        return byte;
    }
    return PullByte(st);
}

} // namespace

uint32_t StoredBlockSlice(InflateStream &st, uint32_t count) {
    if ((st.flags & kBlockReady) == 0) {
        // The rest of the byte that held the block header is padding.
        DropBits(st, st.bitCount & 7u);
        if (st.bitCount == 0)
            st.bitBuffer = 0;
        // LEN and NLEN, little-endian; input results are combined unmasked,
        // so a -1 can never pass the complement test.
        uint32_t len = uint32_t(StoredByte(st));
        len |= uint32_t(StoredByte(st)) << 8;
        uint32_t nlen = uint32_t(StoredByte(st));
        nlen |= uint32_t(StoredByte(st)) << 8;
        if (len != (nlen ^ 0xFFFFu)) {
            st.status = kStatusBadData;
            return 0;
        }
        st.storedLeft = len;
        st.flags |= kBlockReady;
    }

    uint32_t i = 0;
    while (i < count) {
        if (st.storedLeft == 0) {
            st.flags &= kStreamFlags;
            break;
        }
        // With no whole byte pending in the bit buffer, the block's next
        // bytes come straight from the reader's view: copied as one run that
        // stops at the block's end, the count, the area's end or the
        // view's end, whichever is first.
        const uint8_t *at = nullptr;
        const uint32_t buffered = st.bitCount < 8 ? ViewBytes(st, &at) : 0;
        if (buffered != 0) {
            uint32_t run = st.storedLeft;
            if (run > count - i)
                run = count - i;
            if (run > st.windowLimit - st.windowPos)
                run = st.windowLimit - st.windowPos;
            if (run > buffered)
                run = buffered;
            std::memcpy(st.window + st.windowPos, at, run);
            TakeView(st, run);
            st.storedLeft -= run;
            st.windowPos += run;
            i += run;
            if (st.windowPos == st.windowLimit)
                SlideWindow(st);
            continue;
        }
        --st.storedLeft;
        PutWindowByte(st, uint8_t(StoredByte(st)));
        ++i;
    }
    FlushWindow(st);
    return i;
}
