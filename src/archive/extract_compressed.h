// The compressed path of entry extraction (methods 8 and 9): the inflater
// driven in output slices of at most the entry's slice size, each slice
// written with one WriteFile, progress reported every sixteenth slice, and
// the rest of the input drained once the declared size has been produced.
// The inflater's end check gives the verdict.
#ifndef QZARC_ARCHIVE_EXTRACT_COMPRESSED_H
#define QZARC_ARCHIVE_EXTRACT_COMPRESSED_H

#include "archive/unpack_state.h"

// Returns the entry's result, its status also left in s.status.
// immediate is set when QZUnpack must return the result at once, without
// its clean-up: QZ_ERR_INFLATE_START when the inflater cannot start (the
// output file is then already deleted).
int ExtractCompressed(UnpackState &s, const char *outputPath, char *crcOut, bool &immediate);

#endif // QZARC_ARCHIVE_EXTRACT_COMPRESSED_H
