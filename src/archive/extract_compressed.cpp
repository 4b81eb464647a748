// The compressed extraction loop: the inflater is driven in output slices of
// at most ReadChunk bytes, each slice written with one WriteFile, progress
// reported every sixteenth slice, and the rest of the input drained once the
// declared size has been produced. The inflater's end check gives the verdict.
#include "archive/archive_reader.h"
#include "archive/extract_entry.h"
#include "export/host_callback.h"
#include "inflate/inflate_stream.h"
#include "qzarc.h"
#include "archive/unpack_state.h"

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
        if (gUnpack.remaining == 0 || gReader.delivered == gUnpack.compressedSize ||
            gUnpack.readError != 0 || n == 0)
            return;
    }
}

}  // namespace

int ExtractCompressed(const char *outputPath, char *crcOut, bool &immediate) {
    const int started = StartInflate(true, gUnpack.method, kEntryInput);
    gUnpack.status = InflateStatus();
    if (started != 0) {
        // No memory for the window: nothing of the entry is left behind.
        CloseIfOpen(gUnpack.output);
        DeleteFileA(outputPath);
        immediate = true;
        return QZ_ERR_INFLATE_START;
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
        if (gUnpack.readError != 0)
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
            gUnpack.status = QZ_ERR_WRITE;
            return QZ_ERR_WRITE;
        }
        written += n;
        if (written >= gUnpack.uncompressedSize) {
            Drain(buffer);
            break;
        }
    } while (n == gUnpack.slice);

    int result = FinishInflate(gUnpack.crc, gUnpack.uncompressedSize);
    gUnpack.status = result;
    if (result == 0) {
        WriteCrcText(crcOut);
        if (gUnpack.readError != 0) {
            gUnpack.status = gUnpack.readError;
            result = gUnpack.readError;
        }
    }
    return result;
}
