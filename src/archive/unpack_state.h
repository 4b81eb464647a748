// The process-wide extraction state that lives between QZUnpack calls.
//
// One archive at a time is open. While a walk is open the current volume's
// handle, the read and staging buffers and the previous record's geometry
// stay here, so that the next call can find the following record.
#ifndef QZARC_UNPACK_STATE_H
#define QZARC_UNPACK_STATE_H

#include <cstdint>

#include "platform/platform.h"
#include "archive/record.h"

struct UnpackState {
    bool walkOpen;
    char archivePath[MAX_PATH];
    HANDLE archive;            // the open volume, or none (null / INVALID_HANDLE_VALUE)
    int volumeNumber;          // 0 for the first volume
    uint32_t volumeSize;
    uint32_t recordPos;        // offset of the current record in the volume where it starts
    uint32_t headerSize;       // 62 + name length (+ 12 when encrypted)
    uint32_t compressedSize;
    uint32_t uncompressedSize;
    uint32_t crc;
    uint16_t method;
    bool encrypted;
    bool switched;             // a later volume was opened for this record's data
    uint64_t carried;          // header size + data bytes that lay in earlier volumes
    char nameBuffer[MAX_PATH];
    EntryHeader header;        // the record's header as read
    bool headerRead;           // the current call (or the last one) read a whole header
    // Compressed bytes not yet handed out by the byte source. Signed and wide:
    // it keeps falling below zero while the inflater asks past the entry's end,
    // and a compressed size of 2 GiB or more must not overflow it.
    int64_t remaining;
    uint32_t consumed;         // data bytes of the current entry taken so far
    HANDLE output;             // the entry's output file while extracting, or none
    int status;                // the entry's status, shared with the inflater
    int readError;             // 0, or 12 once a needed volume failed to open
    uint32_t slice;            // ReadChunk: compressed size + 4, at most 65536
    uint32_t totalMiB;         // uncompressed size in MiB (at least 1), for progress
};

extern UnpackState gUnpack;

// Largest archive read and inflater output slice.
constexpr uint32_t kMaxChunk = 65536;

// True when h refers to an open file.
inline bool IsOpenHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

// Closes h if it is open and marks it as none.
void CloseIfOpen(HANDLE &h);

// Allocate the read buffer (65540 bytes) and the staging buffer (65537 bytes)
// from the process heap, together; false when either cannot be had (then
// neither is held). Releasing what is already released does nothing.
bool AllocateBuffers();
void ReleaseBuffers();
// Replaces both buffers with new blocks (at a volume switch), carrying the
// staging buffer's pending bytes over; false (and neither held) when memory
// runs out.
bool RenewBuffers();

// Current position of the open volume (64-bit), or UINT64_MAX when it has none.
uint64_t ArchivePosition();
// Moves the open volume to an absolute position / by a signed distance.
bool SeekArchive(uint64_t position);
bool SeekArchiveBy(int64_t distance);
// Reads exactly n bytes from the open volume; false when fewer could be read
// (or the read failed; readFailed then tells which).
bool ReadArchiveExact(void *buffer, uint32_t n, bool *readFailed);

#endif // QZARC_UNPACK_STATE_H
