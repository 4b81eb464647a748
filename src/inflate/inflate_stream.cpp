#include "inflate_stream.h"

#include <cstring>

#include "archive_reader.h"
#include "coded_blocks.h"
#include "crc32.h"
#include "platform.h"
#include "unpack_state.h"

InflateStream gInflate;  // zero-initialised at load: no window, no source, no tables

void NeedBits(uint32_t n) {
    while (gInflate.bitCount < n) {
        uint32_t byte;
        if (gInflate.source == ByteSource && FastPathsAllowed() && BufferedEntryBytes() != 0) {
            // What ByteSource would do for a byte already in the read chunk,
            // without the call.
            byte = *gReader.cursor;
            TakeBufferedBytes(1);
        } else {
            // The source's int is ORed in as is: a -1 (failed volume) sets
            // every bit from bitCount up, and the garbage decodes to a
            // failure or a wrong CRC rather than being mistaken for data.
            byte = uint32_t(gInflate.source());
        }
        gInflate.bitBuffer |= byte << gInflate.bitCount;
        gInflate.bitCount += 8;
    }
}

void FlushWindow() {
    const uint32_t n = gInflate.windowPos - gInflate.flushStart;
    if (n == 0)
        return;
    const uint8_t *from = gInflate.window + gInflate.flushStart;
    CrcUpdate(from, n);
    std::memcpy(gInflate.outCursor, from, n);
    gInflate.outCursor += n;
    // A whole 65536-byte window wraps flushStart to 0, where the wrap puts it anyway.
    gInflate.flushStart = uint16_t(gInflate.flushStart + n);
    gInflate.outputTotal += n;
}

void PutWindowByte(uint8_t byte) {
    gInflate.window[gInflate.windowPos++] = byte;
    if (gInflate.windowPos == gInflate.windowSize) {
        FlushWindow();
        gInflate.windowPos = 0;
        gInflate.flushStart = 0;
    }
}

int StartInflate(bool largeWindow, InflateSource source) {
    gUnpack.status = kInflateOk;
    const uint32_t wanted = largeWindow ? kLargeWindow : kSmallWindow;
    HANDLE heap = GetProcessHeap();
    if (gInflate.window != nullptr && gInflate.windowCapacity < wanted) {
        // A kept window too small for Deflate64 cannot be reused.
        HeapFree(heap, 0, gInflate.window);
        gInflate.window = nullptr;
    }
    if (gInflate.window == nullptr) {
        // Zeroed, so that a distance reaching before the stream's first byte
        // copies zeros instead of whatever the heap held.
        gInflate.window = static_cast<uint8_t *>(HeapAlloc(heap, HEAP_ZERO_MEMORY, wanted));
        if (gInflate.window == nullptr) {
            gUnpack.status = kInflateNoMemory;
            return 1;
        }
        gInflate.windowCapacity = wanted;
    }
    // Tables of a stream abandoned in mid-block would otherwise leak.
    FreeCodeTable(&gInflate.literalTable);
    FreeCodeTable(&gInflate.distanceTable);
    gInflate.source = source;
    gInflate.flags = 0;
    gInflate.outputTotal = 0;
    CrcReset();
    gInflate.windowPos = 0;
    gInflate.bitBuffer = 0;
    gInflate.bitCount = 0;
    gInflate.flushStart = 0;
    return 0;
}

uint32_t InflateSlice(uint8_t *out, uint32_t count) {
    if ((gInflate.flags & kStreamStarted) == 0) {
        if (gInflate.window == nullptr || gInflate.source == nullptr) {
            gUnpack.status = kInflateOk;
            return 0;
        }
        gInflate.flags |= kStreamStarted;
    }
    if (gUnpack.status != kInflateOk)
        return 0;  // a failed stream decodes nothing more and pulls no input

    if (gUnpack.method == 8) {
        gInflate.windowSize = kSmallWindow;
        gInflate.lengthBase = LengthBase8;
        gInflate.lengthExtra = LengthExtra8;
    } else if (gUnpack.method == 9 && gInflate.windowCapacity >= kLargeWindow) {
        gInflate.windowSize = kLargeWindow;
        gInflate.lengthBase = LengthBase9;
        gInflate.lengthExtra = LengthExtra9;
    } else {
        // Includes Deflate64 on a stream started with the small window.
        gUnpack.status = kInflateBadMethod;
        return 0;
    }
    if (count == 0)
        return 0;

    gInflate.outCursor = out;
    uint32_t produced = 0;
    for (;;) {
        if ((gInflate.flags & kBlockKindMask) == 0) {
            if ((gInflate.flags & kFinalSeen) != 0)
                return produced;  // nothing after the final block is read
            if (ReadBits(1) != 0)
                gInflate.flags |= kFinalSeen;
            const uint32_t type = ReadBits(2);
            if (type == 3) {
                gUnpack.status = kInflateBadData;
                return 0;
            }
            gInflate.flags = uint8_t(gInflate.flags | (type + 1));
        }

        uint32_t got;
        switch (gInflate.flags & kBlockKindMask) {
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
        if (gUnpack.status != kInflateOk)
            return produced;  // what earlier blocks of this call delivered
        if (got == 0 && (gInflate.flags & kFinalSeen) != 0)
            return produced;
        // A decoder stops short of its count only when its block has ended.
        produced += got;
        if (produced >= count)
            return produced;
    }
}

namespace {

// One byte of a stored block. Whole bytes still pending in the bit buffer
// were pulled ahead by a lookup wider than the codes it resolved; they are
// the block's next bytes and come before any further source call.
int StoredByte() {
    if (gInflate.bitCount >= 8) {
        const int byte = int(gInflate.bitBuffer & 0xFFu);
        gInflate.bitBuffer >>= 8;
        gInflate.bitCount -= 8;
        if (gInflate.bitCount == 0)
            gInflate.bitBuffer = 0;  // discard any bits a -1 set above the pending ones
        return byte;
    }
    return gInflate.source();
}

} // namespace

uint32_t StoredBlockSlice(uint32_t count) {
    if ((gInflate.flags & kBlockReady) == 0) {
        // The rest of the byte that held the block header is padding.
        DropBits(gInflate.bitCount & 7u);
        if (gInflate.bitCount == 0)
            gInflate.bitBuffer = 0;
        // LEN and NLEN, little-endian; source results are combined unmasked,
        // so a -1 can never pass the complement test.
        uint32_t len = uint32_t(StoredByte());
        len |= uint32_t(StoredByte()) << 8;
        uint32_t nlen = uint32_t(StoredByte());
        nlen |= uint32_t(StoredByte()) << 8;
        if (len != (nlen ^ 0xFFFFu)) {
            gUnpack.status = kInflateBadData;
            return 0;
        }
        gInflate.storedLeft = len;
        gInflate.flags |= kBlockReady;
    }

    const bool bulk = gInflate.source == ByteSource && FastPathsAllowed();
    uint32_t i = 0;
    while (i < count) {
        if (gInflate.storedLeft == 0) {
            gInflate.flags &= kStreamFlags;
            break;
        }
        // With no whole byte pending in the bit buffer, the block's next
        // bytes come straight from the read chunk: copied as one run that
        // stops at the block's end, the count, the window's end or the
        // chunk's end, whichever is first.
        const uint32_t buffered = bulk && gInflate.bitCount < 8 ? BufferedEntryBytes() : 0;
        if (buffered != 0) {
            uint32_t run = gInflate.storedLeft;
            if (run > count - i)
                run = count - i;
            if (run > gInflate.windowSize - gInflate.windowPos)
                run = gInflate.windowSize - gInflate.windowPos;
            if (run > buffered)
                run = buffered;
            std::memcpy(gInflate.window + gInflate.windowPos, gReader.cursor, run);
            TakeBufferedBytes(run);
            gInflate.storedLeft -= run;
            gInflate.windowPos += run;
            i += run;
            if (gInflate.windowPos == gInflate.windowSize) {
                FlushWindow();
                gInflate.windowPos = 0;
                gInflate.flushStart = 0;
            }
            continue;
        }
        --gInflate.storedLeft;
        PutWindowByte(uint8_t(StoredByte()));
        ++i;
    }
    FlushWindow();
    return i;
}

int FinishInflate(uint32_t expectedCrc, uint32_t expectedSize) {
    gUnpack.status = kInflateOk;
    int result = kInflateOk;
    if (gInflate.window != nullptr && gInflate.source != nullptr &&
        (gInflate.flags & kStreamStarted) != 0) {
        if ((gInflate.flags & kFinalSeen) == 0)
            result = kInflateUnfinished;
        else if (CrcValue() != expectedCrc)
            result = kInflateBadCrc;
        else if (gInflate.outputTotal != expectedSize)
            result = kInflateBadSize;
        gUnpack.status = result;
    }
    ReleaseInflate();
    gInflate.flags = 0;
    gInflate.source = nullptr;
    return result;
}

void ReleaseInflate() {
    if (gInflate.window != nullptr) {
        HeapFree(GetProcessHeap(), 0, gInflate.window);
        gInflate.window = nullptr;
        gInflate.windowCapacity = 0;
    }
    FreeCodeTable(&gInflate.literalTable);
    FreeCodeTable(&gInflate.distanceTable);
}
