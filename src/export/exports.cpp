// The library's two exports. Both use the caller-cleans (cdecl) convention;
// the module definition fixes QZUnpack at ordinal 3 and QZCallback at 4.
#include "qzarc.h"

#include "host_callback.h"
#include "record_walk.h"

extern "C" QZ_EXPORT int QZ_CDECL QZUnpack(const char *archivePath, const char *outputPath,
                                           char *nameOut, const char *password,
                                           unsigned int startOffset, char *crcOut, int flags) {
    return UnpackOneEntry(archivePath, outputPath, nameOut, password, startOffset, crcOut, flags);
}

extern "C" QZ_EXPORT int QZ_CDECL QZCallback(HostCallback callback) {
    SetHostCallback(callback);
    return callback != nullptr ? 1 : 0;
}
