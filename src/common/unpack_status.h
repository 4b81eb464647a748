// The one vocabulary of results and statuses. Every layer records and
// compares its codes with these names: the inflater while it slices and at
// its end check, the byte source when a volume cannot be opened, the entry
// extraction and the record walk for what QZUnpack returns. The numbers are
// the public results of qzarc.h, so a status can be returned as it stands.
#ifndef QZARC_COMMON_UNPACK_STATUS_H
#define QZARC_COMMON_UNPACK_STATUS_H

#include "qzarc.h"

enum UnpackStatus : int {
    kStatusOk = QZ_OK,
    kStatusNoMemory = QZ_ERR_NO_MEMORY,        // inflater: no memory for a code table or the window
    kStatusBadMethod = QZ_ERR_METHOD,          // inflater: not method 8, or 9 without the large window
    kStatusWriteFailed = QZ_ERR_WRITE,
    kStatusBadData = QZ_ERR_DATA,              // inflater: a malformed block
    kStatusUnfinished = QZ_ERR_TRUNCATED,      // end check: the final block's header was never read
    kStatusBadSize = QZ_ERR_SIZE,              // end check
    kStatusBadCrc = QZ_ERR_CRC,                // end check, or a stored entry's CRC
    kStatusVolumeMissing = QZ_ERR_VOLUME,      // a volume the data runs into cannot be opened
    kStatusEndOfArchive = QZ_END_OF_ARCHIVE,
    kStatusBadRecord = QZ_BAD_RECORD,
    kStatusBadPassword = QZ_ERR_PASSWORD,
    kStatusInflateStart = QZ_ERR_INFLATE_START,
    // Bases of the two results built from GetLastError(): base - error.
    kStatusOpenArchiveBase = QZ_ERR_OPEN_ARCHIVE,
    kStatusCreateOutputBase = QZ_ERR_CREATE_OUTPUT,
};

#endif // QZARC_COMMON_UNPACK_STATUS_H
