// The stored path of entry extraction (method 0): the entry's data copied
// to the output file through the stored copier, then the verdict.
#ifndef QZARC_ARCHIVE_EXTRACT_STORED_H
#define QZARC_ARCHIVE_EXTRACT_STORED_H

#include "archive/unpack_state.h"

#include "common/unpack_status.h"

// Copies the whole entry and returns its status, also left in
// s.status: a missing volume first, then a failed write, then a CRC
// that differs. On success the CRC text is written for the host.
UnpackStatus ExtractStored(UnpackState &s, char *crcOut);

#endif // QZARC_ARCHIVE_EXTRACT_STORED_H
