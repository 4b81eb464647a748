// The volume chain. Volume 0 is the archive path the host passed; volume k
// (1..999) is that path with its last three characters replaced by k as
// "%03d" (data.cab, data.001, data.002, ...).
#ifndef QZARC_VOLUMES_H
#define QZARC_VOLUMES_H

constexpr int kMaxVolumeNumber = 999;

// Writes the name of volume k into out (MAX_PATH bytes). False when the name
// cannot be formed: a path of fewer than three characters, or k beyond 999.
bool VolumeName(const char *path, int k, char *out);

// Closes the current volume and opens the next one, asking the host (kind
// 100) while its file does not exist. On success the state is marked as
// switched with the carried count of the current record. On failure the
// archive handle is INVALID_HANDLE_VALUE.
bool OpenNextVolume();

#endif // QZARC_VOLUMES_H
