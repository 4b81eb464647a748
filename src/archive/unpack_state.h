// Everything one archive being read needs, and the archive file operations
// every layer of the walk uses.
//
// Each procedure of the archive layer receives the UnpackState it works on;
// nothing of an archive being read lives anywhere else. The legacy exports
// keep one process-wide instance (export/legacy_state.h); each handle of
// the handle API has its own, so archives in different states are read
// independently, on different threads if need be. All fields zero is the
// closed state with nothing allocated.
//
// While a walk is open the current volume's handle and the previous
// record's geometry stay here, so that the next call can find the following
// record. The read and staging buffers belong to the byte source
// (archive_reader.h) and the stored copier (stored_copier.h).
#ifndef QZARC_ARCHIVE_UNPACK_STATE_H
#define QZARC_ARCHIVE_UNPACK_STATE_H

#include <cstdint>

#include "archive/record.h"
#include "common/unpack_status.h"
#include "crypto/cipher.h"
#include "inflate/inflate_state.h"
#include "platform/platform.h"
#include "qzarc.h"

// The byte source's chunk (archive_reader.h).
struct ArchiveReader {
    uint8_t *readBuffer;  // 65540 bytes from the process heap, or null
    uint8_t *cursor;      // next byte to hand out
    int32_t left;         // bytes of the current chunk not yet handed out
    uint32_t delivered;   // bytes handed out since the last reset of this count
};

constexpr uint32_t kReadBufferSize = 65540;

// The stored copier's staging (stored_copier.h).
struct StoredCopier {
    uint8_t *staging;   // 65537 bytes from the process heap, or null
    uint8_t *cursor;    // where the next byte goes
    uint32_t count;     // bytes in staging not yet written
    bool writeFailed;   // a WriteFile of this entry failed; nothing more is written
};

constexpr uint32_t kStagingBufferSize = 65537;
constexpr uint32_t kStagingFlushSize = 65536;

// The longest path (terminator included) an archive may have: MAX_PATH for
// the legacy calls, which refuse longer ones themselves, and on Windows,
// whose ANSI file calls take no more; POSIX systems take far longer ones,
// which the handle API accepts.
#if defined(_WIN32)
constexpr int kPathCapacity = MAX_PATH;
#else
constexpr int kPathCapacity = 4096;
#endif

struct UnpackState;

// Asked while the file of volume `number` does not exist; `name` (kPathCapacity
// bytes) holds the name it was looked for under and may be rewritten.
// True: test for the file again; false: stop waiting (the open is still
// tried once).
typedef bool (*VolumeRequest)(UnpackState &s, int number, char *name);

// Replaces the read and staging buffers at a volume switch (open_archive.h);
// false when memory ran out, which fails the switch.
typedef bool (*BufferRenewal)(UnpackState &s);

struct UnpackState {
    bool walkOpen;
    char archivePath[kPathCapacity];
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

    ArchiveReader reader;
    StoredCopier copier;
    InflateStream inflate;     // the compressed path's decoder
    CipherKeys keys;           // the entry's decryption keys
    uint32_t crcRegister;      // the stored path's CRC-32 register
    HostCallback callback;     // the legacy host's notification function, or null
    VolumeRequest requestVolume;  // null: a missing volume is tested for once
    void *requestContext;         // the requester's own data
    BufferRenewal renewBuffers;   // null: the buffers stay at a switch
};

// Largest archive read and inflater output slice.
constexpr uint32_t kMaxChunk = 65536;

// The extraction's read chunk and output slice for an entry: its compressed
// size and 4 bytes more, at most kMaxChunk. How much of a damaged stream's
// output the end check counts depends on where its slices begin, so every
// reader of a compressed entry that must reach the extraction's verdict
// decodes in slices of this size.
inline uint32_t EntrySlice(uint32_t compressedSize) {
    return compressedSize >= kMaxChunk - 4 ? kMaxChunk : compressedSize + 4;
}

// True when h refers to an open file.
inline bool IsOpenHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

// Closes h if it is open and marks it as none.
void CloseIfOpen(HANDLE &h);

// Current position of the open volume (64-bit), or UINT64_MAX when it has none.
uint64_t ArchivePosition(UnpackState &s);
// Moves the open volume to an absolute position / by a signed distance.
bool SeekArchive(UnpackState &s, uint64_t position);
bool SeekArchiveBy(UnpackState &s, int64_t distance);
// Reads exactly n bytes from the open volume; false when fewer could be read
// (or the read failed; readFailed then tells which).
bool ReadArchiveExact(UnpackState &s, void *buffer, uint32_t n, bool *readFailed);

// Writes the record's crc for the host as eight upper-case hex digits
// (nothing when crcOut is null).
void WriteCrcText(UnpackState &s, char *crcOut);

#endif // QZARC_ARCHIVE_UNPACK_STATE_H
