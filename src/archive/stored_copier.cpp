#include "stored_copier.h"

#include "archive_reader.h"
#include "crc32.h"
#include "unpack_state.h"

StoredCopier gCopier = {nullptr, nullptr, 0, false};

void ResetCopier() {
    gCopier.count = 0;
    gCopier.cursor = gCopier.staging;
    gCopier.writeFailed = false;
}

void Put(uint8_t byte) {
    *gCopier.cursor++ = byte;
    gCopier.count += 1;
    if (gCopier.count == kStagingFlushSize)
        Flush();
}

void Flush() {
    if (gCopier.count == 0)
        return;
    CrcUpdate(gCopier.staging, gCopier.count);
    if (!gCopier.writeFailed) {
        DWORD written = 0;
        if (!WriteFile(gUnpack.output, gCopier.staging, gCopier.count, &written, nullptr) ||
            written != gCopier.count)
            gCopier.writeFailed = true;
    }
    gCopier.count = 0;
    gCopier.cursor = gCopier.staging;
}

void CopyStored() {
    if (gCopier.staging == nullptr)
        return;
    // After a failed write the rest of the data is still read (and not
    // written), so that a walk finds the next record even when this entry
    // runs on into later volumes.
    uint8_t byte = 0;
    while (NextDataByte(byte))
        Put(byte);
    Flush();
}
