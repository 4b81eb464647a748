// The state of one archive read through the handle API: the core state every
// archive being read has (UnpackState: volumes, byte source, inflater,
// keys, CRC), and what the handle adds to it: its settings, where the next
// record starts, the current entry as handed out, sparse marks of where
// records start for seeking, and the message of the last failure.
//
// Records are found by position, not by where reading stopped: a record
// starts at (volume, offset), its data follows its header in that volume
// and runs on through the next volumes for compressed-size bytes, and the
// next record starts where the data ends, in the volume it ends in (at the
// very end of a volume when the data ends there, which then is the end of
// the archive). Headers are read through a file of their own (the scan
// file), so that walking, counting and seeking never disturb the entry
// being read through the core state.
#ifndef QZARC_ARCHIVE_HANDLE_STATE_H
#define QZARC_ARCHIVE_HANDLE_STATE_H

#include <cstddef>
#include <cstdint>

#include "archive/unpack_state.h"
#include "qzarc.h"

struct ParallelEntry;

struct RecordPlace {
    uint32_t volume;
    uint64_t offset;
};

// Where the decoding of a compressed entry stands (handle_read.cpp).
enum class SliceStage : uint8_t {
    kDecoding,  // output slices still to come
    kDrain,     // the recorded size is out: the rest of the input is to be decoded into scratch
    kDone,      // no more slices: the end check is next
};

enum class EntryPhase : uint8_t {
    kNone,      // no current entry
    kFresh,     // header read, nothing of the data taken yet
    kReading,   // data being handed out
    kVerified,  // every byte handed out and checked
    kFailed,    // a failure ended the entry (failure holds its code)
};

// Marks of where records start: every stride-th record's place, from record
// 0 on. When the marks fill up, every other one goes and the stride doubles,
// so they stay within their block whatever the archive's size, and a seek
// reads at most stride headers beyond the nearest mark.
constexpr uint32_t kPlaceMarks = 2048;

// Read-ahead of the headers' file: a few pages, enough for dozens of the
// headers of small entries.
constexpr uint32_t kScanAhead = 16384;

constexpr size_t kMessageSize = 640 + kPathCapacity;
constexpr uint32_t kMaxVolumes = 1000;  // volume 0 and 1..999
constexpr uint32_t kMostDecodeThreads = 64;

struct ArchiveHandle {
    UnpackState core;

    // Settings.
    char *password;           // heap copy, or null: none
    int codepage;
    qz_volume_handler volumeHandler;
    void *volumeUser;
    qz_progress_handler progressHandler;
    void *progressUser;
    uint32_t threads;         // decode threads a large entry may use (1..kMostDecodeThreads)

    // The archive.
    bool open;
    uint64_t startOffset;
    HANDLE scanFile;          // the headers' file
    uint32_t scanVolume;      // the volume scanFile holds
    // Bytes of scanFile read ahead (kScanAhead, heap): a walk over small
    // entries finds the next headers there instead of asking the system.
    uint8_t *scanAhead;
    uint64_t scanAheadStart;  // offset in scanVolume of scanAhead[0]
    uint32_t scanAheadLength; // 0: nothing held
    uint32_t volumeSizes[kMaxVolumes];  // sizes of the volumes met so far
    uint8_t sizeKnown[kMaxVolumes];
    char volumeName[kPathCapacity];  // the last name a volume was looked for under
    uint32_t volumeAsked;       // its number
    bool volumeRefused;         // the handler gave up on it

    // The walk: the record the next qz_archive_next reads.
    RecordPlace next;
    uint64_t nextIndex;
    bool advancePending;      // next is still the current record's place, not the one after it
    uint64_t count;           // records in the archive, once known (countKnown)
    bool countKnown;
    RecordPlace *marks;       // kPlaceMarks places, heap
    uint32_t markCount;
    uint64_t markStride;

    // The current entry.
    EntryPhase phase;
    int failure;
    qz_entry entry;
    RecordPlace dataPlace;    // where the encryption header or the data starts
    uint64_t produced;        // bytes handed out
    // A compressed entry is decoded in the output slices the legacy
    // extraction takes (handle_read.cpp): their size, the bytes they have
    // given (counted as that extraction counts what it writes), how far the
    // decoding is, and the part of the last slice that went into the
    // staging buffer and is not handed out yet.
    uint32_t sliceSize;
    uint32_t sliceTotal;
    SliceStage sliceStage;
    uint32_t heldAt;
    uint32_t heldLeft;
    uint64_t reported;        // produced at the last progress report
    ParallelEntry *parallel;  // the helpers decoding the entry ahead, or null (parallel_read.h)
    uint8_t *rawName;         // heap, rawCapacity bytes
    size_t rawCapacity;
    char *utf8Name;           // heap, utf8Capacity bytes
    size_t utf8Capacity;

    char message[kMessageSize];
};

// Records the failure's message (printf-style) and returns code.
int HandleFail(ArchiveHandle &h, int code, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;


// A heap block of n bytes (null when there is no memory), and its release.
void *HandleAlloc(size_t n);
void HandleFree(void *block);

#endif // QZARC_ARCHIVE_HANDLE_STATE_H
