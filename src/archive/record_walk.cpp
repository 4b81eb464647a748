#include "archive/record_walk.h"

#include "archive/extract_entry.h"
#include "archive/open_archive.h"
#include "archive/unpack_state.h"
#include "archive/volumes.h"
#include "inflate/inflate_stream.h"

namespace {

// Everything a call that leaves the walk closed gives back.
void CloseArchive() {
    ReleaseArchive();
    CloseIfOpen(gUnpack.output);
}

int EndWalk(int result) {
    gUnpack.walkOpen = false;
    CloseArchive();
    return result;
}

int OpenFailure(DWORD error) { return kStatusOpenArchiveBase - static_cast<int>(error); }

bool ReadMagic() {
    uint8_t magic[4] = {0, 0, 0, 0};
    ReadArchiveExact(magic, sizeof magic, nullptr);
    return ReadLe32(magic) == kRecordMagic;
}

// Opening call: the first volume, positioned at the host's start offset.
// Returns kStatusOk, or the immediate negative result.
int OpenArchive(uint32_t startOffset, bool pathTooLong) {
    // An earlier call may have returned at once and left these behind.
    CloseIfOpen(gUnpack.archive);
    CloseIfOpen(gUnpack.output);
    if (!AllocateBuffers())
        return OpenFailure(ERROR_NOT_ENOUGH_MEMORY);
    gUnpack.recordPos = 0;
    gUnpack.volumeNumber = 0;
    gUnpack.switched = false;
    if (pathTooLong) {
        ReleaseBuffers();
        return OpenFailure(ERROR_PATH_NOT_FOUND);
    }
    HANDLE archive = CreateFileA(gUnpack.archivePath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                 nullptr);
    if (archive == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        ReleaseBuffers();
        return OpenFailure(error);
    }
    gUnpack.archive = archive;
    gUnpack.volumeSize = GetFileSize(archive, nullptr);
    if (startOffset != 0) {
        // Moving to an offset past the end succeeds (the magic read there
        // then fails); only an I/O error fails, and the archive cannot be
        // read at all then.
        if (!SeekArchive(startOffset)) {
            DWORD error = GetLastError();
            CloseIfOpen(gUnpack.archive);
            ReleaseBuffers();
            return OpenFailure(error);
        }
        gUnpack.recordPos += startOffset;
    }
    return 0;
}

// Continuing call: the next record starts where the previous one's data
// ended. Returns kStatusOk with the magic read, or kStatusEndOfArchive /
// kStatusBadRecord when the walk ends.
int MoveToNextRecord() {
    uint64_t p = ArchivePosition();
    uint64_t d;
    if (gUnpack.switched) {
        d = static_cast<uint64_t>(gUnpack.headerSize) + gUnpack.compressedSize - gUnpack.carried;
        gUnpack.switched = false;
    } else {
        d = static_cast<uint64_t>(gUnpack.recordPos) + gUnpack.headerSize + gUnpack.compressedSize;
    }
    gUnpack.recordPos = static_cast<uint32_t>(d);
    if (p == gUnpack.volumeSize && p == d)
        return EndWalk(kStatusEndOfArchive);
    if (p != d && !SeekArchiveBy(static_cast<int64_t>(d - p)))
        return EndWalk(kStatusBadRecord);
    if (!ReadMagic())
        return EndWalk(kStatusBadRecord);
    return 0;
}

// Reads the name into nameBuffer (at most MAX_PATH - 1 bytes kept, the rest
// skipped) and hands it to the host. False when the volume ends first.
bool ReadName(uint32_t nameLength, char *nameOut) {
    uint32_t keep = nameLength < MAX_PATH - 1 ? nameLength : MAX_PATH - 1;
    if (!ReadArchiveExact(gUnpack.nameBuffer, keep, nullptr))
        return false;
    gUnpack.nameBuffer[keep] = '\0';
    if (nameLength > keep) {
        uint64_t end = ArchivePosition() + (nameLength - keep);
        if (end > gUnpack.volumeSize || !SeekArchive(end))
            return false;
    }
    // Up to the name's first NUL byte, and a terminator.
    if (nameOut != nullptr)
        lstrcpynA(nameOut, gUnpack.nameBuffer, static_cast<int>(keep) + 1);
    return true;
}

}  // namespace

int UnpackOneEntry(const char *archivePath, const char *outputPath, char *nameOut,
                   const char *password, uint32_t startOffset, char *crcOut, int flags) {
    if (archivePath == nullptr)
        archivePath = "";
    bool pathTooLong = lstrlenA(archivePath) >= MAX_PATH;
    lstrcpynA(gUnpack.archivePath, archivePath, MAX_PATH);
    gUnpack.headerRead = false;

    if ((flags & QZ_CLOSE_NOW) != 0) {
        gUnpack.walkOpen = false;
        CloseArchive();
        ReleaseInflate();
        return flags;
    }

    bool magicRead = false;
    if (!gUnpack.walkOpen) {
        int failure = OpenArchive(startOffset, pathTooLong);
        if (failure != kStatusOk)
            return failure;
    } else {
        int ended = MoveToNextRecord();
        if (ended != kStatusOk)
            return ended;
        magicRead = true;
    }

    if ((flags & QZ_KEEP_OPEN) != 0)
        gUnpack.walkOpen = true;
    if ((flags & QZ_CLOSE_AFTER) != 0)
        gUnpack.walkOpen = false;

    // A damaged first record is reported and then read as if it were sound.
    if (!magicRead && !ReadMagic())
        MessageBoxA(nullptr, "#1", "", MB_OK);

    bool readFailed = false;
    bool whole = ReadArchiveExact(gUnpack.header.bytes, kEntryHeaderSize, &readFailed);
    if (readFailed)
        MessageBoxA(nullptr, "#2", "", MB_OK);
    // A header cut short by the end of the volume would leave stale fields;
    // such a record is rejected instead.
    if (!whole)
        return EndWalk(kStatusBadRecord);

    gUnpack.headerRead = true;
    const EntryHeader &header = gUnpack.header;
    gUnpack.method = HeaderField16(header, header_offset::kMethod);
    gUnpack.crc = HeaderField32(header, header_offset::kCrc);
    gUnpack.compressedSize = HeaderField32(header, header_offset::kCompressedSize);
    gUnpack.uncompressedSize = HeaderField32(header, header_offset::kUncompressedSize);
    gUnpack.remaining = gUnpack.compressedSize;
    gUnpack.slice = gUnpack.compressedSize >= kMaxChunk - 4 ? kMaxChunk : gUnpack.compressedSize + 4;
    gUnpack.totalMiB = gUnpack.uncompressedSize >> 20;
    if (gUnpack.totalMiB == 0)
        gUnpack.totalMiB = 1;

    uint32_t nameLength = HeaderField16(header, header_offset::kNameLength);
    if (nameLength != 0 && !ReadName(nameLength, nameOut))
        return EndWalk(kStatusBadRecord);

    gUnpack.encrypted = (HeaderField16(header, header_offset::kFlags) & kFlagEncrypted) != 0;
    gUnpack.headerSize = kRecordFixedSize + nameLength + (gUnpack.encrypted ? kEncryptionHeaderSize : 0);

    int result;
    if ((flags & QZ_HEADER_ONLY) != 0) {
        // Past data that cannot be skipped no record can be found.
        if (!SkipEntryData((gUnpack.encrypted ? kEncryptionHeaderSize : 0) +
                           static_cast<uint64_t>(gUnpack.compressedSize)))
            return EndWalk(kStatusBadRecord);
        gUnpack.consumed = 0;
        if (crcOut != nullptr)
            crcOut[0] = '\0';
        result = kStatusOk;
    } else {
        bool immediate = false;
        result = ExtractEntry(outputPath, password, crcOut, immediate);
        if (immediate)
            return result;
        // The record's encryption header could not be read, or a refused
        // entry's data could not be skipped: the walk cannot go on.
        if (result == kStatusBadRecord)
            return EndWalk(result);
    }

    if (gUnpack.walkOpen) {
        CloseIfOpen(gUnpack.output);
        return result;
    }
    CloseArchive();
    return result;
}
