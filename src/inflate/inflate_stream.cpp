#include "inflate/inflate_stream.h"

#include "inflate/bit_input.h"
#include "inflate/code_table.h"
#include "inflate/coded_blocks.h"
#include "crypto/crc32.h"
#include "platform/platform.h"
#include "inflate/stored_block.h"
#include "inflate/window.h"

int StartInflate(bool largeWindow, uint16_t method, const InflateInput &input) {
    InflateStream &st = gInflate;
    st.status = kInflateOk;
    const uint32_t wanted = largeWindow ? kLargeWindow : kSmallWindow;
    HANDLE heap = GetProcessHeap();
    if (st.window != nullptr && st.windowCapacity < wanted) {
        // A kept window too small for Deflate64 cannot be reused.
        HeapFree(heap, 0, st.window);
        st.window = nullptr;
    }
    if (st.window == nullptr) {
        // Zeroed, so that a distance reaching before the stream's first byte
        // copies zeros instead of whatever the heap held.
        st.window = static_cast<uint8_t *>(HeapAlloc(heap, HEAP_ZERO_MEMORY, wanted + kWindowSlack));
        if (st.window == nullptr) {
            st.status = kInflateNoMemory;
            return 1;
        }
        st.windowCapacity = wanted;
    }
    // Tables of a stream abandoned in mid-block would otherwise leak.
    FreeBlockTables();
    st.input = input;
    st.viewLeft = 0;
    st.method = method;
    st.flags = 0;
    st.outputTotal = 0;
    CrcReset();
    st.windowPos = 0;
    st.bitBuffer = 0;
    st.bitCount = 0;
    st.flushStart = 0;
    return 0;
}

namespace {

uint32_t Slice(uint8_t *out, uint32_t count) {
    InflateStream &st = gInflate;
    if ((st.flags & kStreamStarted) == 0) {
        if (st.window == nullptr || st.input.nextByte == nullptr) {
            st.status = kInflateOk;
            return 0;
        }
        st.flags |= kStreamStarted;
    }
    if (st.status != kInflateOk)
        return 0;  // a failed stream decodes nothing more and pulls no input

    if (st.method == kInflateDeflate) {
        st.windowSize = kSmallWindow;
        st.lengthBase = LengthBase8;
        st.lengthExtra = LengthExtra8;
    } else if (st.method == kInflateDeflate64 && st.windowCapacity >= kLargeWindow) {
        st.windowSize = kLargeWindow;
        st.lengthBase = LengthBase9;
        st.lengthExtra = LengthExtra9;
    } else {
        // Includes Deflate64 on a stream started with the small window.
        st.status = kInflateBadMethod;
        return 0;
    }
    if (count == 0)
        return 0;

    st.outCursor = out;
    uint32_t produced = 0;
    for (;;) {
        if ((st.flags & kBlockKindMask) == 0) {
            if ((st.flags & kFinalSeen) != 0)
                return produced;  // nothing after the final block is read
            if (ReadBits(1) != 0)
                st.flags |= kFinalSeen;
            const uint32_t type = ReadBits(2);
            if (type == 3) {
                st.status = kInflateBadData;
                return 0;
            }
            st.flags = uint8_t(st.flags | (type + 1));
        }

        uint32_t got;
        switch (st.flags & kBlockKindMask) {
        case kBlockStored:
            got = StoredBlockSlice(count - produced);
            break;
        case kBlockFixed:
            got = FixedBlockSlice(count - produced);
            break;
        default:
            got = DynamicBlockSlice(count - produced);
            break;
        }
        if (st.status != kInflateOk)
            return produced;  // what earlier blocks of this call delivered
        if (got == 0 && (st.flags & kFinalSeen) != 0)
            return produced;
        // A decoder stops short of its count only when its block has ended.
        produced += got;
        if (produced >= count)
            return produced;
    }
}

} // namespace

uint32_t InflateSlice(uint8_t *out, uint32_t count) {
    const uint32_t produced = Slice(out, count);
    ReleaseView();
    return produced;
}

int FinishInflate(uint32_t expectedCrc, uint32_t expectedSize) {
    InflateStream &st = gInflate;
    st.status = kInflateOk;
    int result = kInflateOk;
    if (st.window != nullptr && st.input.nextByte != nullptr && (st.flags & kStreamStarted) != 0) {
        if ((st.flags & kFinalSeen) == 0)
            result = kInflateUnfinished;
        else if (CrcValue() != expectedCrc)
            result = kInflateBadCrc;
        else if (st.outputTotal != expectedSize)
            result = kInflateBadSize;
        st.status = result;
    }
    ReleaseInflate();
    st.flags = 0;
    st.input = InflateInput{nullptr, nullptr, nullptr, nullptr};
    return result;
}

void ReleaseInflate() {
    InflateStream &st = gInflate;
    if (st.window != nullptr) {
        HeapFree(GetProcessHeap(), 0, st.window);
        st.window = nullptr;
        st.windowCapacity = 0;
    }
    FreeBlockTables();
}
