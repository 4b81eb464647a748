// The process-wide extraction state that lives between QZUnpack calls, and
// the archive file operations every layer of the walk uses.
//
// One archive at a time is open. While a walk is open the current volume's
// handle and the previous record's geometry stay here, so that the next call
// can find the following record; the read and staging buffers belong to the
// byte source (archive_reader.h) and the stored copier (stored_copier.h).
#ifndef QZARC_ARCHIVE_UNPACK_STATE_H
#define QZARC_ARCHIVE_UNPACK_STATE_H

#include <cstdint>

#include "archive/record.h"
#include "common/unpack_status.h"
#include "platform/platform.h"

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
    UnpackStatus status;       // the entry's status; a compressed entry's follows the inflater's
    UnpackStatus readError;    // kStatusOk, or kStatusVolumeMissing once a needed volume failed to open
    uint32_t slice;            // the read chunk and output slice: compressed size + 4, at most 65536
    uint32_t totalMiB;         // uncompressed size in MiB (at least 1), for progress
};

extern UnpackState gUnpack;

// Largest archive read and inflater output slice.
constexpr uint32_t kMaxChunk = 65536;

// True when h refers to an open file.
inline bool IsOpenHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

// Closes h if it is open and marks it as none.
void CloseIfOpen(HANDLE &h);

// Current position of the open volume (64-bit), or UINT64_MAX when it has none.
uint64_t ArchivePosition();
// Moves the open volume to an absolute position / by a signed distance.
bool SeekArchive(uint64_t position);
bool SeekArchiveBy(int64_t distance);
// Reads exactly n bytes from the open volume; false when fewer could be read
// (or the read failed; readFailed then tells which).
bool ReadArchiveExact(void *buffer, uint32_t n, bool *readFailed);

// Writes the record's crc for the host as eight upper-case hex digits
// (nothing when crcOut is null).
void WriteCrcText(char *crcOut);

#endif // QZARC_ARCHIVE_UNPACK_STATE_H
