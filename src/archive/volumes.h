// The volume chain. Volume 0 is the archive path the host passed; volume k
// (1..999) is that path with its last three characters replaced by k as
// "%03d" (data.cab, data.001, data.002, ...).
#ifndef QZARC_ARCHIVE_VOLUMES_H
#define QZARC_ARCHIVE_VOLUMES_H

#include "archive/unpack_state.h"

#include <cstdint>

constexpr int kMaxVolumeNumber = 999;

// Writes the name of volume k into out (kPathCapacity bytes). False when the name
// cannot be formed: a path of fewer than three characters, or k beyond 999.
bool VolumeName(const char *path, int k, char *out);

// Closes the current volume and opens the next one, asking the state's
// requester while its file does not exist. The read and staging buffers
// belong to the layers above (the byte source and the stored copier); when
// the state names a renewal step they are replaced at the switch, after the
// file has been asked for and before it is opened, and a renewal that finds
// no memory fails the switch. On success the state is marked as
// switched with the carried count of the current record. On failure the
// archive handle is INVALID_HANDLE_VALUE.
bool OpenNextVolume(UnpackState &s);

// Opens the file of volume k for reading, asking the state's requester
// while it does not exist (volume 0 is never asked for), and with renew
// replacing the buffers before the open as a switch does. Leaves the
// state's open volume alone; INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenVolumeFile(UnpackState &s, int k, bool renew);

// Skips length bytes of the current entry from the archive's current
// position, opening later volumes as needed. When a later volume was opened
// the state is left switched, so that the next call finds the following record
// where the skipped data ends. False when the position of an open volume
// cannot be read or moved (an I/O error): the following record cannot be
// found then. A later volume that cannot be opened is not such a failure:
// nothing is open to move, and the next call finds no record.
bool SkipEntryData(UnpackState &s, uint64_t length);

#endif // QZARC_ARCHIVE_VOLUMES_H
