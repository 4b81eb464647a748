#include "archive/extract_stored.h"

#include "archive/stored_copier.h"
#include "archive/unpack_state.h"
#include "crypto/crc32.h"

UnpackStatus ExtractStored(char *crcOut) {
    CrcReset();
    CopyStored();
    if (gUnpack.readError != kStatusOk)
        gUnpack.status = gUnpack.readError;
    else if (gCopier.writeFailed)
        gUnpack.status = kStatusWriteFailed;
    else if (CrcValue() != gUnpack.crc)
        gUnpack.status = kStatusBadCrc;
    if (gUnpack.status == kStatusOk)
        WriteCrcText(crcOut);
    return gUnpack.status;
}
