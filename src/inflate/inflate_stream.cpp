#include "inflate/inflate_stream.h"

#include <cstring>

#include "inflate/bit_input.h"
#include "inflate/code_table.h"
#include "inflate/coded_blocks.h"
#include "crypto/crc32.h"
#include "platform/platform.h"
#include "inflate/stored_block.h"
#include "inflate/window.h"

UnpackStatus StartInflate(InflateStream &st, bool largeWindow, uint16_t method, const InflateInput &input) {
    st.status = kStatusOk;
    const uint32_t wanted = largeWindow ? kLargeWindow : kSmallWindow;
    // Every stream ends with FinishInflate or ReleaseInflate, which give the
    // window back (unless the owner keeps it for its next stream), so each
    // stream has a new one. Its history starts zeroed, so that a distance
    // reaching before the stream's first byte copies zeros instead of
    // whatever the heap or the last stream left; the area is written before
    // it is read. Tables of a stream abandoned in mid-block go too.
    const bool reuse = st.keepWindow && st.window != nullptr && st.windowCapacity == wanted;
    if (reuse)
        FreeBlockTables(st);
    else
        ReleaseInflate(st);
    const uint32_t limit = wanted + kWindowAreaFactor * wanted;
    if (!reuse)
        st.window = static_cast<uint8_t *>(HeapAlloc(GetProcessHeap(), 0, limit + kWindowSlack));
    if (st.window == nullptr) {
        st.status = kStatusNoMemory;
        return kStatusNoMemory;
    }
    // A kept window whose history no stream has slid into is still zeroed.
    if (!reuse || st.historyDirty)
        std::memset(st.window, 0, wanted);
    st.historyDirty = false;
    st.windowCapacity = wanted;
    st.windowLimit = limit;
    st.input = input;
    st.viewLeft = 0;
    st.method = method;
    st.flags = 0;
    st.outputTotal = 0;
    CrcReset(st.crc);
    st.windowPos = wanted;
    st.bitBuffer = 0;
    st.bitCount = 0;
    st.flushStart = wanted;
    st.stopBit = kNoStop;
    st.stopped = false;
    return kStatusOk;
}

uint64_t ConsumedBits(const InflateStream &st) {
    return (st.input.position(st.input.context) - st.viewLeft) * 8u - st.bitCount;
}

bool SelectMethodTables(InflateStream &st) {
    if (st.method == kMethodDeflate) {
        st.lengthBase = LengthBase8;
        st.lengthExtra = LengthExtra8;
        st.distanceBase = DistanceBase8;
        return true;
    }
    if (st.method == kMethodDeflate64 && st.windowCapacity >= kLargeWindow) {
        st.lengthBase = LengthBase9;
        st.lengthExtra = LengthExtra9;
        st.distanceBase = DistanceBase9;
        return true;
    }
    // Includes Deflate64 on a stream started with the small window.
    return false;
}

namespace {

uint32_t Slice(InflateStream &st, uint8_t *out, uint32_t count) {
    if ((st.flags & kStreamStarted) == 0) {
        if (st.window == nullptr || st.input.nextByte == nullptr) {
            st.status = kStatusOk;
            return 0;
        }
        st.flags |= kStreamStarted;
    }
    if (st.status != kStatusOk)
        return 0;  // a failed stream decodes nothing more and pulls no input
    // A stream whose input ran out before its final block ended is damaged:
    // everything it would decode from here on comes from fillers. Checked
    // once per call, so at most one slice of them is produced.
    const bool finished = (st.flags & (kFinalSeen | kBlockKindMask)) == kFinalSeen;
    if (!finished && st.input.overrun != nullptr && st.input.overrun(st.input.context)) {
        st.status = kStatusBadData;
        return 0;
    }

    if (!SelectMethodTables(st)) {
        st.status = kStatusBadMethod;
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
            if (st.stopBit != kNoStop && ConsumedBits(st) >= st.stopBit) {
                st.stopped = true;
                return produced;
            }
            if (ReadBits(st, 1) != 0)
                st.flags |= kFinalSeen;
            const uint32_t type = ReadBits(st, 2);
            if (type == 3) {
                st.status = kStatusBadData;
                st.callVoided = true;
                return 0;
            }
            st.flags = uint8_t(st.flags | (type + 1));
        }

        uint32_t got;
        switch (st.flags & kBlockKindMask) {
        case kBlockStored:
            got = StoredBlockSlice(st, count - produced);
            break;
        case kBlockFixed:
            got = FixedBlockSlice(st, count - produced);
            break;
        default:
            got = DynamicBlockSlice(st, count - produced);
            break;
        }
        if (st.status != kStatusOk)
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

uint32_t InflateSlice(InflateStream &st, uint8_t *out, uint32_t count) {
    st.stopped = false;
    st.callVoided = false;
    const uint32_t produced = Slice(st, out, count);
    ReleaseView(st);
    return produced;
}

UnpackStatus FinishInflate(InflateStream &st, uint32_t expectedCrc, uint32_t expectedSize) {
    st.status = kStatusOk;
    UnpackStatus result = kStatusOk;
    if (st.window != nullptr && st.input.nextByte != nullptr && (st.flags & kStreamStarted) != 0) {
        if ((st.flags & kFinalSeen) == 0)
            result = kStatusUnfinished;
        else if (CrcValue(st.crc) != expectedCrc)
            result = kStatusBadCrc;
        else if (st.outputTotal != expectedSize)
            result = kStatusBadSize;
        st.status = result;
    }
    if (st.keepWindow)
        FreeBlockTables(st);
    else
        ReleaseInflate(st);
    st.flags = 0;
    st.input = InflateInput{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return result;
}

void ReleaseInflate(InflateStream &st) {
    if (st.window != nullptr) {
        HeapFree(GetProcessHeap(), 0, st.window);
        st.window = nullptr;
        st.windowCapacity = 0;
    }
    ReleaseCodeTableBlock(&st.literals);
    ReleaseCodeTableBlock(&st.distances);
}
