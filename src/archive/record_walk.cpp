#include "archive/record_walk.h"

#include "archive/extract_entry.h"
#include "archive/host_callback.h"
#include "archive/open_archive.h"
#include "archive/unpack_state.h"
#include "archive/volumes.h"
#include "inflate/inflate_stream.h"

namespace {

// Everything a call that leaves the walk closed gives back.
void CloseArchive(UnpackState &s) {
    ReleaseArchive(s);
    CloseIfOpen(s.output);
}

int EndWalk(UnpackState &s, int result) {
    s.walkOpen = false;
    CloseArchive(s);
    return result;
}

int OpenFailure(DWORD error) { return kStatusOpenArchiveBase - static_cast<int>(error); }

bool ReadMagic(UnpackState &s) {
    uint8_t magic[4] = {0, 0, 0, 0};
    ReadArchiveExact(s, magic, sizeof magic, nullptr);
    return ReadLe32(magic) == kRecordMagic;
}

// Opening call: the first volume, positioned at the host's start offset.
// Returns kStatusOk, or the immediate negative result.
int OpenArchive(UnpackState &s, uint32_t startOffset, bool pathTooLong) {
    // An earlier call may have returned at once and left these behind.
    CloseIfOpen(s.archive);
    CloseIfOpen(s.output);
    if (!AllocateBuffers(s))
        return OpenFailure(ERROR_NOT_ENOUGH_MEMORY);
    s.recordPos = 0;
    s.volumeNumber = 0;
    s.switched = false;
    if (pathTooLong) {
        ReleaseBuffers(s);
        return OpenFailure(ERROR_PATH_NOT_FOUND);
    }
    HANDLE archive = CreateFileA(s.archivePath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                 nullptr);
    if (archive == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        ReleaseBuffers(s);
        return OpenFailure(error);
    }
    s.archive = archive;
    s.volumeSize = GetFileSize(archive, nullptr);
    if (startOffset != 0) {
        // Moving to an offset past the end succeeds (the magic read there
        // then fails); only an I/O error fails, and the archive cannot be
        // read at all then.
        if (!SeekArchive(s, startOffset)) {
            DWORD error = GetLastError();
            CloseIfOpen(s.archive);
            ReleaseBuffers(s);
            return OpenFailure(error);
        }
        s.recordPos += startOffset;
    }
    return 0;
}

// Continuing call: the next record starts where the previous one's data
// ended. Returns kStatusOk with the magic read, or kStatusEndOfArchive /
// kStatusBadRecord when the walk ends.
int MoveToNextRecord(UnpackState &s) {
    uint64_t p = ArchivePosition(s);
    uint64_t d;
    if (s.switched) {
        d = static_cast<uint64_t>(s.headerSize) + s.compressedSize - s.carried;
        s.switched = false;
    } else {
        d = static_cast<uint64_t>(s.recordPos) + s.headerSize + s.compressedSize;
    }
    s.recordPos = static_cast<uint32_t>(d);
    if (p == s.volumeSize && p == d)
        return EndWalk(s, kStatusEndOfArchive);
    if (p != d && !SeekArchiveBy(s, static_cast<int64_t>(d - p)))
        return EndWalk(s, kStatusBadRecord);
    if (!ReadMagic(s))
        return EndWalk(s, kStatusBadRecord);
    return 0;
}

// Reads the name into nameBuffer (at most MAX_PATH - 1 bytes kept, the rest
// skipped) and hands it to the host. False when the volume ends first.
bool ReadName(UnpackState &s, uint32_t nameLength, char *nameOut) {
    uint32_t keep = nameLength < MAX_PATH - 1 ? nameLength : MAX_PATH - 1;
    if (!ReadArchiveExact(s, s.nameBuffer, keep, nullptr))
        return false;
    s.nameBuffer[keep] = '\0';
    if (nameLength > keep) {
        uint64_t end = ArchivePosition(s) + (nameLength - keep);
        if (end > s.volumeSize || !SeekArchive(s, end))
            return false;
    }
    // Up to the name's first NUL byte, and a terminator.
    if (nameOut != nullptr)
        lstrcpynA(nameOut, s.nameBuffer, static_cast<int>(keep) + 1);
    return true;
}

}  // namespace

int UnpackOneEntry(UnpackState &s, const char *archivePath, const char *outputPath, char *nameOut,
                   const char *password, uint32_t startOffset, char *crcOut, int flags) {
    if (archivePath == nullptr)
        archivePath = "";
    bool pathTooLong = lstrlenA(archivePath) >= MAX_PATH;
    lstrcpynA(s.archivePath, archivePath, MAX_PATH);
    s.headerRead = false;
    // A volume that is not there is asked of the host (kind 100).
    s.requestVolume = AskHostForVolume;

    if ((flags & QZ_CLOSE_NOW) != 0) {
        s.walkOpen = false;
        CloseArchive(s);
        ReleaseInflate(s.inflate);
        return flags;
    }

    bool magicRead = false;
    if (!s.walkOpen) {
        int failure = OpenArchive(s, startOffset, pathTooLong);
        if (failure != kStatusOk)
            return failure;
    } else {
        int ended = MoveToNextRecord(s);
        if (ended != kStatusOk)
            return ended;
        magicRead = true;
    }

    if ((flags & QZ_KEEP_OPEN) != 0)
        s.walkOpen = true;
    if ((flags & QZ_CLOSE_AFTER) != 0)
        s.walkOpen = false;

    // A damaged first record is reported and then read as if it were sound.
    if (!magicRead && !ReadMagic(s))
        MessageBoxA(nullptr, "#1", "", MB_OK);

    bool readFailed = false;
    bool whole = ReadArchiveExact(s, s.header.bytes, kEntryHeaderSize, &readFailed);
    if (readFailed)
        MessageBoxA(nullptr, "#2", "", MB_OK);
    // A header cut short by the end of the volume would leave stale fields;
    // such a record is rejected instead.
    if (!whole)
        return EndWalk(s, kStatusBadRecord);

    s.headerRead = true;
    const EntryHeader &header = s.header;
    s.method = HeaderField16(header, header_offset::kMethod);
    s.crc = HeaderField32(header, header_offset::kCrc);
    s.compressedSize = HeaderField32(header, header_offset::kCompressedSize);
    s.uncompressedSize = HeaderField32(header, header_offset::kUncompressedSize);
    s.remaining = s.compressedSize;
    s.slice = EntrySlice(s.compressedSize);
    s.totalMiB = s.uncompressedSize >> 20;
    if (s.totalMiB == 0)
        s.totalMiB = 1;

    uint32_t nameLength = HeaderField16(header, header_offset::kNameLength);
    if (nameLength != 0 && !ReadName(s, nameLength, nameOut))
        return EndWalk(s, kStatusBadRecord);

    s.encrypted = (HeaderField16(header, header_offset::kFlags) & kFlagEncrypted) != 0;
    s.headerSize = kRecordFixedSize + nameLength + (s.encrypted ? kEncryptionHeaderSize : 0);

    int result;
    if ((flags & QZ_HEADER_ONLY) != 0) {
        // Past data that cannot be skipped no record can be found.
        if (!SkipEntryData(s, (s.encrypted ? kEncryptionHeaderSize : 0) +
                           static_cast<uint64_t>(s.compressedSize)))
            return EndWalk(s, kStatusBadRecord);
        s.consumed = 0;
        if (crcOut != nullptr)
            crcOut[0] = '\0';
        result = kStatusOk;
    } else {
        bool immediate = false;
        result = ExtractEntry(s, outputPath, password, crcOut, immediate);
        if (immediate)
            return result;
        // The record's encryption header could not be read, or a refused
        // entry's data could not be skipped: the walk cannot go on.
        if (result == kStatusBadRecord)
            return EndWalk(s, result);
    }

    if (s.walkOpen) {
        CloseIfOpen(s.output);
        return result;
    }
    CloseArchive(s);
    return result;
}
