#include "archive/extract_stored.h"

#include "archive/stored_copier.h"
#include "archive/unpack_state.h"
#include "crypto/crc32.h"

UnpackStatus ExtractStored(UnpackState &s, char *crcOut) {
    CrcReset(s.crcRegister);
    CopyStored(s);
    if (s.readError != kStatusOk)
        s.status = s.readError;
    else if (s.copier.writeFailed)
        s.status = kStatusWriteFailed;
    else if (CrcValue(s.crcRegister) != s.crc)
        s.status = kStatusBadCrc;
    if (s.status == kStatusOk)
        WriteCrcText(s, crcOut);
    return s.status;
}
