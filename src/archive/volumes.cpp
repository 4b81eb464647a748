#include "archive/volumes.h"

#include "archive/host_callback.h"
#include "archive/unpack_state.h"

namespace {
BufferRenewal gRenewBuffers = nullptr;
}

void SetBufferRenewal(BufferRenewal renew) { gRenewBuffers = renew; }

bool VolumeName(const char *path, int k, char *out) {
    int length = lstrlenA(path);
    if (k < 0 || k > kMaxVolumeNumber || length >= MAX_PATH)
        return false;
    if (k == 0) {
        lstrcpyA(out, path);
        return true;
    }
    if (length < 3)
        return false;
    // Keep the first length - 3 characters, then the number: at most
    // 256 + 3 characters and the terminator, so it always fits.
    lstrcpynA(out, path, length - 3 + 1);
    wsprintfA(out + (length - 3), "%03d", k);
    return true;
}

namespace {

bool VolumeExists(const char *name) { return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

bool OpenNextVolume() {
    CloseIfOpen(gUnpack.archive);
    gUnpack.archive = INVALID_HANDLE_VALUE;
    gUnpack.volumeNumber += 1;

    char name[MAX_PATH];
    name[0] = '\0';
    bool named = VolumeName(gUnpack.archivePath, gUnpack.volumeNumber, name);

    if (named) {
        // The host may put another path into the buffer; the following volume
        // is still named from the archive path. Without a registered host
        // there is nobody to make the file appear, so it is tested once.
        while (!VolumeExists(name) && HostRegistered()) {
            int answer = NotifyHost(kNotifyVolume, gUnpack.volumeNumber, 0, 0, name);
            name[MAX_PATH - 1] = '\0';
            if (answer == 1)
                break;
        }
    }

    // The read and staging buffers are replaced at every switch, by the step
    // their owner named (open_archive.cpp). The staging buffer may hold
    // bytes of a stored entry that runs on into this volume; they move to
    // the new buffer.
    if ((gRenewBuffers != nullptr && !gRenewBuffers()) || !named)
        return false;

    HANDLE volume = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (volume == INVALID_HANDLE_VALUE)
        return false;
    gUnpack.archive = volume;
    gUnpack.volumeSize = GetFileSize(volume, nullptr);
    gUnpack.switched = true;
    gUnpack.carried = static_cast<uint64_t>(gUnpack.headerSize) + gUnpack.consumed;
    return true;
}

bool SkipEntryData(uint64_t length) {
    const uint64_t here = ArchivePosition();
    if (here == UINT64_MAX)
        return false;
    uint64_t end = here + length;
    if (end <= gUnpack.volumeSize)
        return SeekArchive(end);
    uint64_t rest = end - gUnpack.volumeSize;
    bool opened = false;
    while (OpenNextVolume()) {
        opened = true;
        if (rest <= gUnpack.volumeSize)
            break;
        rest -= gUnpack.volumeSize;
    }
    const bool moved = SeekArchive(rest);
    if (opened) {
        gUnpack.switched = true;
        gUnpack.carried = static_cast<uint64_t>(gUnpack.headerSize) + gUnpack.compressedSize - rest;
    }
    return moved || !IsOpenHandle(gUnpack.archive);
}
