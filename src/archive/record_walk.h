// One QZUnpack call: find the record (opening the archive, or moving on from
// the previous record of an open walk), read its header and name, then skip
// its data (header-only mode) or extract it, and end the call as the flags say.
#ifndef QZARC_RECORD_WALK_H
#define QZARC_RECORD_WALK_H

#include <cstdint>

int UnpackOneEntry(const char *archivePath, const char *outputPath, char *nameOut,
                   const char *password, uint32_t startOffset, char *crcOut, int flags);

// Skips length bytes of the current entry from the archive's current
// position, opening later volumes as needed. When a later volume was opened
// the state is left switched, so that the next call finds the following record
// where the skipped data ends. False when the position of an open volume
// cannot be read or moved (an I/O error): the following record cannot be
// found then. A later volume that cannot be opened is not such a failure:
// nothing is open to move, and the next call finds no record.
bool SkipEntryData(uint64_t length);

#endif // QZARC_RECORD_WALK_H
