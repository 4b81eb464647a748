#include "archive/extract_compressed.h"

#include "archive/archive_reader.h"
#include "archive/host_callback.h"
#include "archive/unpack_state.h"
#include "inflate/inflate_stream.h"

namespace {

constexpr int kSlicesPerReport = 16;

// Once the declared size is out, the rest of the entry's input is inflated
// and discarded, so that an over-long stream fails the end check.
void Drain(uint8_t *buffer) {
    if (gUnpack.remaining == 0)
        return;
    for (;;) {
        uint32_t n = InflateSlice(buffer, gUnpack.slice);
        gUnpack.status = InflateStatus();
        AfterSlice(gUnpack.slice, n);
        if (gUnpack.remaining == 0 || gReader.delivered == gUnpack.compressedSize ||
            gUnpack.readError != kStatusOk || n == 0)
            return;
    }
}

}  // namespace

int ExtractCompressed(const char *outputPath, char *crcOut, bool &immediate) {
    const UnpackStatus started = StartInflate(true, gUnpack.method, kEntryInput);
    gUnpack.status = InflateStatus();
    if (started != kStatusOk) {
        // No memory for the window: nothing of the entry is left behind.
        CloseIfOpen(gUnpack.output);
        DeleteFileA(outputPath);
        immediate = true;
        return kStatusInflateStart;
    }

    uint8_t buffer[kMaxChunk];
    char noText[1] = {'\0'};
    gReader.delivered = 0;
    uint32_t written = 0;
    int slicesSinceReport = 0;
    uint32_t progress = 1;

    uint32_t n;
    do {
        n = InflateSlice(buffer, gUnpack.slice);
        // The inflater's verdict so far is the entry's.
        gUnpack.status = InflateStatus();
        AfterSlice(gUnpack.slice, n);
        if (gUnpack.readError != kStatusOk)
            break;
        if (++slicesSinceReport == kSlicesPerReport) {
            slicesSinceReport = 0;
            progress += 1;
            NotifyHost(kNotifyProgress, 100 - RemainingPercent(gUnpack.totalMiB, progress), 0, 0, noText);
        }
        DWORD done = 0;
        if (!WriteFile(gUnpack.output, buffer, n, &done, nullptr) || done != n) {
            // The end check does not run; the window and tables go at once.
            ReleaseInflate();
            gUnpack.status = kStatusWriteFailed;
            return kStatusWriteFailed;
        }
        written += n;
        if (written >= gUnpack.uncompressedSize) {
            Drain(buffer);
            break;
        }
    } while (n == gUnpack.slice);

    UnpackStatus result = FinishInflate(gUnpack.crc, gUnpack.uncompressedSize);
    if (result == kStatusOk)
        WriteCrcText(crcOut);
    // Data that ran into a volume that could not be opened fails as such,
    // whatever the end check made of the part that was there: the host is
    // told a volume is missing, not that the entry is damaged.
    if (gUnpack.readError != kStatusOk)
        result = gUnpack.readError;
    gUnpack.status = result;
    return result;
}
