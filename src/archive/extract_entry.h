// Extract mode of a QZUnpack call: after the record's header and name have
// been read, create the output file, check the password of an encrypted
// entry, produce the data (stored copy or inflation), and finish the file:
// deleted on any failure, stamped with the record's times and attributes on
// success.
#ifndef QZARC_ARCHIVE_EXTRACT_ENTRY_H
#define QZARC_ARCHIVE_EXTRACT_ENTRY_H

#include "archive/unpack_state.h"

// Returns the entry's result. immediate is set when the result must be
// returned by QZUnpack at once, without the end-of-call clean-up
// (-200000000 - e, or -1 when the inflater cannot start).
int ExtractEntry(UnpackState &s, const char *outputPath, const char *password, char *crcOut, bool &immediate);

#endif // QZARC_ARCHIVE_EXTRACT_ENTRY_H
