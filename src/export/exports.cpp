// The library's three exports. All use the caller-cleans (cdecl) convention;
// the module definition fixes QZUnpack at ordinal 3, QZCallback at 4 and
// QZEntryInfo at 5.
#include "qzarc.h"

#include "archive/host_callback.h"
#include "archive/record.h"
#include "archive/record_walk.h"
#include "archive/unpack_state.h"
#include "export/legacy_state.h"

extern "C" QZ_EXPORT int QZ_CDECL QZUnpack(const char *archivePath, const char *outputPath,
                                           char *nameOut, const char *password,
                                           unsigned int startOffset, char *crcOut, int flags) {
    return UnpackOneEntry(gUnpack, archivePath, outputPath, nameOut, password, startOffset, crcOut, flags);
}

extern "C" QZ_EXPORT int QZ_CDECL QZCallback(HostCallback callback) {
    SetHostCallback(gUnpack, callback);
    return callback != nullptr ? 1 : 0;
}

extern "C" QZ_EXPORT int QZ_CDECL QZEntryInfo(QZEntryDetails *details) {
    if (details == nullptr || !gUnpack.headerRead)
        return 0;
    const EntryHeader &h = gUnpack.header;
    details->method = HeaderField16(h, header_offset::kMethod);
    details->encrypted = (HeaderField16(h, header_offset::kFlags) & kFlagEncrypted) != 0 ? 1u : 0u;
    details->attributes = HeaderField32(h, header_offset::kAttributes);
    details->crc = HeaderField32(h, header_offset::kCrc);
    details->compressedSize = HeaderField32(h, header_offset::kCompressedSize);
    details->uncompressedSize = HeaderField32(h, header_offset::kUncompressedSize);
    const uint32_t times[3] = {header_offset::kCreationTime, header_offset::kAccessTime,
                               header_offset::kWriteTime};
    unsigned int *out[3] = {details->creationTime, details->accessTime, details->writeTime};
    for (int i = 0; i < 3; ++i) {
        out[i][0] = HeaderField32(h, times[i]);
        out[i][1] = HeaderField32(h, times[i] + 4);
    }
    details->nameLength = HeaderField16(h, header_offset::kNameLength);
    return 1;
}
