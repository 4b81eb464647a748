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
enum class PasswordCheck { kMatches, kRefused, kUnreadable };

// Reads the 12-byte encryption header that follows the name, straight from
// the archive (it lies outside the entry's compressed size and wholly in the
// record's volume), decrypts it with the password and compares its last
// byte with the top byte of the record's crc. The keys are left as the
// header left them; the data's keystream starts from the password alone.
PasswordCheck CheckPassword(UnpackState &s, const char *password);

// Gives the output file (s.output, still open, and its path) the record's
// times, converted from local time to UTC, and then its attributes. A
// failure of either is not reported.
void StampOutput(UnpackState &s, const char *outputPath);

int ExtractEntry(UnpackState &s, const char *outputPath, const char *password, char *crcOut, bool &immediate);

#endif // QZARC_ARCHIVE_EXTRACT_ENTRY_H
