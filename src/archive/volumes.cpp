#include "archive/volumes.h"

#include "archive/unpack_state.h"

bool VolumeName(const char *path, int k, char *out) {
    int length = lstrlenA(path);
    if (k < 0 || k > kMaxVolumeNumber || length >= kPathCapacity)
        return false;
    if (k == 0) {
        lstrcpyA(out, path);
        return true;
    }
    if (length < 3)
        return false;
    // Keep the first length - 3 characters, then the number (three digits):
    // as long as the path, so it always fits.
    lstrcpynA(out, path, length - 3 + 1);
    wsprintfA(out + (length - 3), "%03d", k);
    return true;
}

namespace {

bool VolumeExists(const char *name) { return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

HANDLE OpenVolumeFile(UnpackState &s, int k, bool renew) {
    char name[kPathCapacity];
    name[0] = '\0';
    bool named = VolumeName(s.archivePath, k, name);

    if (named && k != 0) {
        // The requester may put another path into the buffer; the following
        // volume is still named from the archive path.
        while (!VolumeExists(name) && s.requestVolume != nullptr && s.requestVolume(s, k, name)) {
        }
    }

    // The read and staging buffers are replaced at every switch, by the step
    // their owner named (open_archive.cpp). The staging buffer may hold
    // bytes of a stored entry that runs on into this volume; they move to
    // the new buffer.
    if ((renew && s.renewBuffers != nullptr && !s.renewBuffers(s)) || !named)
        return INVALID_HANDLE_VALUE;

    return CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

bool OpenNextVolume(UnpackState &s) {
    CloseIfOpen(s.archive);
    s.archive = INVALID_HANDLE_VALUE;
    s.volumeNumber += 1;
    HANDLE volume = OpenVolumeFile(s, s.volumeNumber, true);
    if (volume == INVALID_HANDLE_VALUE)
        return false;
    s.archive = volume;
    s.volumeSize = GetFileSize(volume, nullptr);
    s.switched = true;
    s.carried = static_cast<uint64_t>(s.headerSize) + s.consumed;
    return true;
}

bool SkipEntryData(UnpackState &s, uint64_t length) {
    const uint64_t here = ArchivePosition(s);
    if (here == UINT64_MAX)
        return false;
    uint64_t end = here + length;
    if (end <= s.volumeSize)
        return SeekArchive(s, end);
    uint64_t rest = end - s.volumeSize;
    bool opened = false;
    while (OpenNextVolume(s)) {
        opened = true;
        if (rest <= s.volumeSize)
            break;
        rest -= s.volumeSize;
    }
    const bool moved = SeekArchive(s, rest);
    if (opened) {
        s.switched = true;
        s.carried = static_cast<uint64_t>(s.headerSize) + s.compressedSize - rest;
    }
    return moved || !IsOpenHandle(s.archive);
}
