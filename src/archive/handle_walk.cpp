#include "archive/handle_walk.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "archive/entry_name.h"
#include "archive/open_archive.h"
#include "archive/parallel_read.h"
#include "archive/record.h"
#include "archive/volumes.h"
#include "inflate/inflate_stream.h"

int HandleFail(ArchiveHandle &h, int code, const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(h.message, sizeof h.message, format, args);
    va_end(args);
    return code;
}

void *HandleAlloc(size_t n) { return HeapAlloc(GetProcessHeap(), 0, n); }

void HandleFree(void *block) {
    if (block != nullptr)
        HeapFree(GetProcessHeap(), 0, block);
}

namespace {

ArchiveHandle &Owner(UnpackState &s) { return *static_cast<ArchiveHandle *>(s.requestContext); }

// The core's requester: a volume that does not exist goes to the caller's
// handler, which may write another path; its answer 0 means "look again".
bool RequestVolume(UnpackState &s, int number, char *name) {
    ArchiveHandle &h = Owner(s);
    // The handler is asked once per volume: the path it gave is used again
    // when the volume is opened again (by the walk, then by a read), and a
    // volume it gave up on stays given up until the archive is opened anew.
    if (h.volumeAsked == uint32_t(number) && h.volumeName[0] != '\0') {
        if (h.volumeRefused)
            return false;
        if (std::strcmp(h.volumeName, name) != 0) {
            lstrcpynA(name, h.volumeName, kPathCapacity);
            return true;
        }
    }
    int answer = 1;
    if (h.volumeHandler != nullptr) {
        answer = h.volumeHandler(h.volumeUser, unsigned(number), name, size_t(kPathCapacity));
        name[kPathCapacity - 1] = '\0';
    }
    lstrcpynA(h.volumeName, name, kPathCapacity);
    h.volumeAsked = uint32_t(number);
    h.volumeRefused = answer != 0;
    return answer == 0;
}

void CloseScanFile(ArchiveHandle &h) {
    CloseIfOpen(h.scanFile);
    h.scanAheadLength = 0;
}

bool ScanVolume(ArchiveHandle &h, uint32_t k) {
    if (IsOpenHandle(h.scanFile) && h.scanVolume == k)
        return true;
    CloseScanFile(h);
    h.scanFile = OpenVolumeFile(h.core, int(k), false);
    if (!IsOpenHandle(h.scanFile)) {
        VolumeFailure(h, k);
        return false;
    }
    h.scanVolume = k;
    if (!h.sizeKnown[k]) {
        DWORD high = 0;
        const DWORD low = GetFileSize(h.scanFile, &high);
        if (high != 0) {
            char shown[kPathCapacity];
            HandleFail(h, QZ_E_IO, "volume %s is 4 GiB or larger, more than a volume can hold",
                       VolumeShownName(h, k, shown));
            CloseScanFile(h);
            return false;
        }
        h.volumeSizes[k] = low;
        h.sizeKnown[k] = 1;
    }
    return true;
}

// Reads n bytes at the place through the scan file: 0, or the failure
// (QZ_E_RECORD when the volume ends first). Small reads are served from the
// read-ahead, which is filled from the place asked for.
int ReadAt(ArchiveHandle &h, RecordPlace place, void *buffer, uint32_t n) {
    if (!ScanVolume(h, place.volume))
        return QZ_E_VOLUME;
    const uint64_t aheadEnd = h.scanAheadStart + h.scanAheadLength;
    if (h.scanAheadLength != 0 && place.offset >= h.scanAheadStart && place.offset + n <= aheadEnd) {
        std::memcpy(buffer, h.scanAhead + (place.offset - h.scanAheadStart), n);
        return 0;
    }
    const bool ahead = n <= kScanAhead;
    h.scanAheadLength = 0;
    LONG high = LONG(place.offset >> 32);
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(h.scanFile, LONG(uint32_t(place.offset)), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return HandleFail(h, QZ_E_IO, "cannot read the archive (error %lu)", static_cast<unsigned long>(GetLastError()));
    DWORD got = 0;
    if (!ReadFile(h.scanFile, ahead ? h.scanAhead : buffer, ahead ? kScanAhead : n, &got, nullptr))
        return HandleFail(h, QZ_E_IO, "cannot read the archive (error %lu)", static_cast<unsigned long>(GetLastError()));
    if (ahead) {
        h.scanAheadStart = place.offset;
        h.scanAheadLength = got;
    }
    if (got < n)
        return HandleFail(h, QZ_E_RECORD, "damaged archive: the record at offset %llu of volume %u is cut short",
                          static_cast<unsigned long long>(place.offset), place.volume);
    if (ahead)
        std::memcpy(buffer, h.scanAhead, n);
    return 0;
}

// What the walk needs of a record's header.
struct RecordShape {
    EntryHeader header;
    uint32_t nameLength;
    uint32_t headerSize;       // 62 + name length (+ 12 when encrypted)
    uint32_t compressedSize;
};

// Reads the record at place. 0, QZ_ARCHIVE_END when place is the end of its
// volume, or a failure (QZ_E_RECORD when no whole record starts there).
int ReadShape(ArchiveHandle &h, RecordPlace place, RecordShape &shape) {
    uint32_t size = 0;
    if (!VolumeSize(h, place.volume, &size))
        return QZ_E_VOLUME;
    if (place.offset == size)
        return QZ_ARCHIVE_END;
    uint8_t fixed[kRecordFixedSize];
    if (place.offset > size || size - place.offset < kRecordFixedSize) {
        return HandleFail(h, QZ_E_RECORD, "damaged archive: the record at offset %llu of volume %u is cut short",
                          static_cast<unsigned long long>(place.offset), place.volume);
    }
    const int read = ReadAt(h, place, fixed, kRecordFixedSize);
    if (read != 0)
        return read;
    if (ReadLe32(fixed) != kRecordMagic) {
        return HandleFail(h, QZ_E_RECORD, "damaged archive or not a QZ archive: no record at offset %llu of volume %u",
                          static_cast<unsigned long long>(place.offset), place.volume);
    }
    std::memcpy(shape.header.bytes, fixed + 4, kEntryHeaderSize);
    shape.nameLength = HeaderField16(shape.header, header_offset::kNameLength);
    const bool encrypted = (HeaderField16(shape.header, header_offset::kFlags) & kFlagEncrypted) != 0;
    shape.headerSize = kRecordFixedSize + shape.nameLength + (encrypted ? kEncryptionHeaderSize : 0);
    shape.compressedSize = HeaderField32(shape.header, header_offset::kCompressedSize);
    // The name lies wholly in the record's volume. An encryption header cut
    // by the volume's end still leaves a record to list, as a header-only
    // walk of the legacy calls lists it and goes on past it: reading the
    // entry fails (QZ_E_RECORD), and the next record is where the sizes put it.
    if (size - place.offset < kRecordFixedSize + shape.nameLength) {
        return HandleFail(h, QZ_E_RECORD, "damaged archive: the record at offset %llu of volume %u is cut short",
                          static_cast<unsigned long long>(place.offset), place.volume);
    }
    return 0;
}

// Where the record after the one at place starts: its data runs on from the
// header through the volumes that follow.
int FollowingPlace(ArchiveHandle &h, RecordPlace place, const RecordShape &shape, RecordPlace &next) {
    uint64_t end = place.offset + shape.headerSize + uint64_t(shape.compressedSize);
    uint32_t k = place.volume;
    for (;;) {
        uint32_t size = 0;
        if (!VolumeSize(h, k, &size))
            return QZ_E_VOLUME;
        if (end <= size) {
            next = RecordPlace{k, end};
            return 0;
        }
        end -= size;
        if (++k >= kMaxVolumes)
            return HandleFail(h, QZ_E_RECORD, "damaged archive: a record's data would run on past volume 999");
    }
}

void Mark(ArchiveHandle &h, uint64_t index, RecordPlace place) {
    if (index % h.markStride != 0 || index / h.markStride != h.markCount)
        return;
    if (h.markCount == kPlaceMarks) {
        for (uint32_t i = 0; i < kPlaceMarks / 2; ++i)
            h.marks[i] = h.marks[2 * i];
        h.markCount = kPlaceMarks / 2;
        h.markStride *= 2;
        if (index % h.markStride != 0 || index / h.markStride != h.markCount)
            return;
    }
    h.marks[h.markCount++] = place;
}

// Makes h.next the place of record h.nextIndex when it still names the
// record before it.
int SettleNext(ArchiveHandle &h) {
    if (!h.advancePending)
        return 0;
    RecordShape shape;
    const int read = ReadShape(h, h.next, shape);
    if (read != 0)
        return read == QZ_ARCHIVE_END ? HandleFail(h, QZ_E_RECORD, "damaged archive") : read;
    RecordPlace following;
    const int moved = FollowingPlace(h, h.next, shape, following);
    if (moved != 0)
        return moved;
    h.next = following;
    h.advancePending = false;
    Mark(h, h.nextIndex, following);
    return 0;
}

// Walks from the best known place to record `target`, or to the end when
// it comes first. 0 with place set, QZ_ARCHIVE_END (the count is then
// known), or a failure.
int WalkTo(ArchiveHandle &h, uint64_t target, RecordPlace &place) {
    uint64_t m = target / h.markStride;
    if (m >= h.markCount)
        m = h.markCount - 1;
    uint64_t index = m * h.markStride;
    place = h.marks[m];
    // The walk's own position may lie closer.
    if (SettleNext(h) == 0 && h.nextIndex > index && h.nextIndex <= target) {
        index = h.nextIndex;
        place = h.next;
    }
    for (; index < target; ++index) {
        RecordShape shape;
        const int read = ReadShape(h, place, shape);
        if (read == QZ_ARCHIVE_END) {
            h.count = index;
            h.countKnown = true;
            return QZ_ARCHIVE_END;
        }
        if (read != 0)
            return read;
        const int moved = FollowingPlace(h, place, shape, place);
        if (moved != 0)
            return moved;
        Mark(h, index + 1, place);
    }
    return 0;
}

// Grows a block to at least n bytes (its old contents are not kept).
template <typename T> bool Reserve(T *&block, size_t &capacity, size_t n) {
    if (n <= capacity && block != nullptr)
        return true;
    HandleFree(block);
    capacity = 0;
    block = static_cast<T *>(HandleAlloc(n));
    if (block == nullptr)
        return false;
    capacity = n;
    return true;
}

int64_t FiletimeToUnix(const FILETIME &utc) {
    const int64_t ticks = int64_t((uint64_t(utc.dwHighDateTime) << 32) | utc.dwLowDateTime);
    constexpr int64_t kTicksPerSecond = 10000000;
    constexpr int64_t kUnixEpoch = 11644473600LL;  // seconds from 1601 to 1970
    int64_t seconds = ticks / kTicksPerSecond;
    if (ticks % kTicksPerSecond < 0)
        --seconds;
    return seconds - kUnixEpoch;
}

uint64_t Field64(const EntryHeader &header, uint32_t offset) {
    return (uint64_t(HeaderField32(header, offset + 4)) << 32) | HeaderField32(header, offset);
}

}  // namespace

const char *VolumeShownName(ArchiveHandle &h, uint32_t k, char *buffer) {
    if (h.volumeAsked == k && h.volumeName[0] != '\0')
        return h.volumeName;
    if (!VolumeName(h.core.archivePath, int(k), buffer))
        lstrcpynA(buffer, h.core.archivePath, kPathCapacity);
    return buffer;
}

int VolumeFailure(ArchiveHandle &h, uint32_t k) {
    char shown[kPathCapacity];
    if (k == 0)
        return HandleFail(h, QZ_E_VOLUME, "cannot open %s (error %lu)", VolumeShownName(h, k, shown),
                          static_cast<unsigned long>(GetLastError()));
    return HandleFail(h, QZ_E_VOLUME, "cannot open volume %u of the archive, %s", k, VolumeShownName(h, k, shown));
}

bool VolumeSize(ArchiveHandle &h, uint32_t k, uint32_t *size) {
    if (k >= kMaxVolumes) {
        HandleFail(h, QZ_E_RECORD, "damaged archive: a record's data would run on past volume 999");
        return false;
    }
    if (!h.sizeKnown[k] && !ScanVolume(h, k))
        return false;
    *size = h.volumeSizes[k];
    return true;
}

bool HandleInit(ArchiveHandle &h) {
    h.scanFile = INVALID_HANDLE_VALUE;
    h.core.archive = INVALID_HANDLE_VALUE;
    h.core.output = INVALID_HANDLE_VALUE;
    h.core.requestVolume = RequestVolume;
    h.core.requestContext = &h;
    h.core.inflate.keepWindow = true;
    h.threads = 1;
    h.marks = static_cast<RecordPlace *>(HandleAlloc(sizeof(RecordPlace) * kPlaceMarks));
    h.scanAhead = static_cast<uint8_t *>(HandleAlloc(kScanAhead));
    h.scanAheadLength = 0;
    return h.marks != nullptr && h.scanAhead != nullptr;
}

void HandleRelease(ArchiveHandle &h) {
    HandleClose(h);
    ReleaseInflate(h.core.inflate);
    HandleFree(h.marks);
    HandleFree(h.scanAhead);
    HandleFree(h.password);
    HandleFree(h.rawName);
    HandleFree(h.utf8Name);
    h.marks = nullptr;
    h.password = nullptr;
    h.rawName = nullptr;
    h.utf8Name = nullptr;
}

int HandleOpen(ArchiveHandle &h, const char *path, uint64_t startOffset) {
    if (h.open)
        return HandleFail(h, QZ_E_STATE, "an archive is open on this handle: close it first");
    if (lstrlenA(path) >= kPathCapacity)
        return HandleFail(h, QZ_E_ARGUMENT, "the archive's path is longer than %d bytes", kPathCapacity - 1);
    lstrcpynA(h.core.archivePath, path, kPathCapacity);
    std::memset(h.sizeKnown, 0, sizeof h.sizeKnown);
    h.volumeName[0] = '\0';
    h.volumeAsked = 0;
    h.volumeRefused = false;
    if (!AllocateBuffers(h.core))
        return HandleFail(h, QZ_E_NOMEM, "out of memory");
    // The handle's buffers stay at a volume switch.
    h.core.renewBuffers = nullptr;
    if (!ScanVolume(h, 0)) {
        ReleaseBuffers(h.core);
        return QZ_E_VOLUME;
    }
    h.startOffset = startOffset;
    h.next = RecordPlace{0, startOffset};
    h.nextIndex = 0;
    h.advancePending = false;
    h.countKnown = false;
    h.marks[0] = h.next;
    h.markCount = 1;
    h.markStride = 1;
    h.phase = EntryPhase::kNone;
    h.open = true;
    // Something other than a record where the first one must start is not
    // an archive; a file that ends there is one without entries.
    RecordShape shape;
    const int first = ReadShape(h, h.next, shape);
    if (first < 0) {
        const int code = first;
        char message[kMessageSize];
        std::memcpy(message, h.message, sizeof message);
        HandleClose(h);
        std::memcpy(h.message, message, sizeof message);
        return code;
    }
    h.message[0] = '\0';
    return 0;
}

void HandleClose(ArchiveHandle &h) {
    EndEntry(h);
    CloseScanFile(h);
    CloseIfOpen(h.core.archive);
    CloseIfOpen(h.core.output);
    ReleaseBuffers(h.core);
    h.open = false;
}

int HandleNext(ArchiveHandle &h, const qz_entry **entry) {
    if (entry != nullptr)
        *entry = nullptr;
    if (!h.open)
        return HandleFail(h, QZ_E_STATE, "no archive is open");
    EndEntry(h);
    const int settled = SettleNext(h);
    if (settled != 0)
        return settled;
    RecordShape shape;
    const int read = ReadShape(h, h.next, shape);
    if (read == QZ_ARCHIVE_END) {
        h.count = h.nextIndex;
        h.countKnown = true;
        return QZ_ARCHIVE_END;
    }
    if (read != 0)
        return read;
    // The name follows the fixed part: the scan file is right there.
    const RecordPlace namePlace{h.next.volume, h.next.offset + kRecordFixedSize};
    if (!Reserve(h.rawName, h.rawCapacity, shape.nameLength + 1) ||
        !Reserve(h.utf8Name, h.utf8Capacity, Utf8Capacity(shape.nameLength)))
        return HandleFail(h, QZ_E_NOMEM, "out of memory");
    const int named = shape.nameLength != 0 ? ReadAt(h, namePlace, h.rawName, shape.nameLength) : 0;
    if (named != 0)
        return named;
    h.rawName[shape.nameLength] = 0;
    NameToUtf8(h.rawName, shape.nameLength, h.codepage, h.utf8Name);

    const EntryHeader &header = shape.header;
    UnpackState &s = h.core;
    s.header = header;
    s.headerRead = true;
    s.method = HeaderField16(header, header_offset::kMethod);
    s.crc = HeaderField32(header, header_offset::kCrc);
    s.compressedSize = shape.compressedSize;
    s.uncompressedSize = HeaderField32(header, header_offset::kUncompressedSize);
    s.headerSize = shape.headerSize;
    s.encrypted = (HeaderField16(header, header_offset::kFlags) & kFlagEncrypted) != 0;

    qz_entry &e = h.entry;
    e.name = h.utf8Name;
    e.raw_name = h.rawName;
    e.raw_name_length = shape.nameLength;
    e.method = s.method;
    e.encrypted = s.encrypted ? 1 : 0;
    e.crc32 = s.crc;
    e.compressed_size = s.compressedSize;
    e.uncompressed_size = s.uncompressedSize;
    e.attributes = HeaderField32(header, header_offset::kAttributes);
    e.creation_time = Field64(header, header_offset::kCreationTime);
    e.access_time = Field64(header, header_offset::kAccessTime);
    e.write_time = Field64(header, header_offset::kWriteTime);
    // By the extraction rule: the recorded local time converted to UTC (a
    // time the conversion refuses stays as recorded).
    FILETIME written;
    written.dwLowDateTime = uint32_t(e.write_time);
    written.dwHighDateTime = uint32_t(e.write_time >> 32);
    LocalFileTimeToFileTime(&written, &written);
    e.mtime = FiletimeToUnix(written);
    e.index = h.nextIndex;
    e.volume = h.next.volume;
    e.offset = h.next.offset;

    h.dataPlace = RecordPlace{h.next.volume, h.next.offset + kRecordFixedSize + shape.nameLength};
    h.phase = EntryPhase::kFresh;
    h.failure = 0;
    h.produced = 0;
    h.reported = 0;
    // The record after this one is found from this one's shape when asked
    // for, so that an entry whose data runs into a missing volume is still
    // listed.
    h.advancePending = true;
    h.nextIndex += 1;
    h.message[0] = '\0';
    if (entry != nullptr)
        *entry = &h.entry;
    return 0;
}

int HandleSeek(ArchiveHandle &h, uint64_t index) {
    if (!h.open)
        return HandleFail(h, QZ_E_STATE, "no archive is open");
    EndEntry(h);
    if (h.countKnown && index > h.count)
        return HandleFail(h, QZ_E_ARGUMENT, "no entry %llu: the archive has %llu",
                          static_cast<unsigned long long>(index), static_cast<unsigned long long>(h.count));
    RecordPlace place;
    const int walked = WalkTo(h, index, place);
    if (walked < 0)
        return walked;
    // Stopped at the end: place is the end, which only the index just past
    // the last entry names (the next call then gives the end).
    if (walked == QZ_ARCHIVE_END && index != h.count)
        return HandleFail(h, QZ_E_ARGUMENT, "no entry %llu: the archive has %llu",
                          static_cast<unsigned long long>(index), static_cast<unsigned long long>(h.count));
    h.next = place;
    h.nextIndex = index;
    h.advancePending = false;
    h.phase = EntryPhase::kNone;
    return 0;
}

int64_t HandleCount(ArchiveHandle &h) {
    if (!h.open)
        return HandleFail(h, QZ_E_STATE, "no archive is open");
    if (h.countKnown)
        return int64_t(h.count);
    RecordPlace place;
    const int walked = WalkTo(h, UINT64_MAX, place);
    if (walked < 0)
        return walked;
    return int64_t(h.count);
}
