// One QZUnpack call: find the record (opening the archive, or moving on from
// the previous record of an open walk), read its header and name, then skip
// its data (header-only mode) or extract it, and end the call as the flags say.
#ifndef QZARC_ARCHIVE_RECORD_WALK_H
#define QZARC_ARCHIVE_RECORD_WALK_H

#include "archive/unpack_state.h"

#include <cstdint>

int UnpackOneEntry(UnpackState &s, const char *archivePath, const char *outputPath, char *nameOut,
                   const char *password, uint32_t startOffset, char *crcOut, int flags);

#endif // QZARC_ARCHIVE_RECORD_WALK_H
