#include "archive/extract_compressed.h"

#include "archive/archive_reader.h"
#include "archive/host_callback.h"
#include "archive/unpack_state.h"
#include "inflate/inflate_stream.h"

namespace {

constexpr int kSlicesPerReport = 16;

// Once the declared size is out, the rest of the entry's input is inflated
// and discarded, so that an over-long stream fails the end check.
void Drain(UnpackState &s, uint8_t *buffer) {
    if (s.remaining == 0)
        return;
    for (;;) {
        uint32_t n = InflateSlice(s.inflate, buffer, s.slice);
        s.status = InflateStatus(s.inflate);
        AfterSlice(s.slice, n);
        if (s.remaining == 0 || s.reader.delivered == s.compressedSize ||
            s.readError != kStatusOk || n == 0)
            return;
    }
}

}  // namespace

int ExtractCompressed(UnpackState &s, const char *outputPath, char *crcOut, bool &immediate) {
    const UnpackStatus started = StartInflate(s.inflate, true, s.method, EntryInput(s));
    s.status = InflateStatus(s.inflate);
    if (started != kStatusOk) {
        // No memory for the window: nothing of the entry is left behind.
        CloseIfOpen(s.output);
        DeleteFileA(outputPath);
        immediate = true;
        return kStatusInflateStart;
    }

    uint8_t buffer[kMaxChunk];
    char noText[1] = {'\0'};
    s.reader.delivered = 0;
    uint32_t written = 0;
    int slicesSinceReport = 0;
    uint32_t progress = 1;

    uint32_t n;
    do {
        n = InflateSlice(s.inflate, buffer, s.slice);
        // The inflater's verdict so far is the entry's.
        s.status = InflateStatus(s.inflate);
        AfterSlice(s.slice, n);
        if (s.readError != kStatusOk)
            break;
        if (++slicesSinceReport == kSlicesPerReport) {
            slicesSinceReport = 0;
            progress += 1;
            NotifyHost(s, kNotifyProgress, 100 - RemainingPercent(s.totalMiB, progress), 0, 0, noText);
        }
        DWORD done = 0;
        if (!WriteFile(s.output, buffer, n, &done, nullptr) || done != n) {
            // The end check does not run; the window and tables go at once.
            ReleaseInflate(s.inflate);
            s.status = kStatusWriteFailed;
            return kStatusWriteFailed;
        }
        written += n;
        if (written >= s.uncompressedSize) {
            Drain(s, buffer);
            break;
        }
    } while (n == s.slice);

    UnpackStatus result = FinishInflate(s.inflate, s.crc, s.uncompressedSize);
    if (result == kStatusOk)
        WriteCrcText(s, crcOut);
    // Data that ran into a volume that could not be opened fails as such,
    // whatever the end check made of the part that was there: the host is
    // told a volume is missing, not that the entry is damaged.
    if (s.readError != kStatusOk)
        result = s.readError;
    s.status = result;
    return result;
}
