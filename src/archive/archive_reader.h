// The archive byte source: entry data read from the open volume in chunks of
// ReadChunk bytes, decrypted in place when the entry is encrypted, and handed
// out one byte at a time, exactly compressedSize bytes per entry.
#ifndef QZARC_ARCHIVE_READER_H
#define QZARC_ARCHIVE_READER_H

#include <cstdint>

struct ArchiveReader {
    uint8_t *readBuffer;  // 65540 bytes from the process heap, or null
    uint8_t *cursor;      // next byte to hand out
    int32_t left;         // bytes of the current chunk not yet handed out
    uint32_t delivered;   // bytes handed out since the last reset of this count
};

extern ArchiveReader gReader;

constexpr uint32_t kReadBufferSize = 65540;

void ResetReader();

// The next data byte from the current volume only; false once the entry's
// compressed bytes are spent or the volume has nothing more to give.
bool ReadOne(uint8_t &out);

// The next data byte, following the volume chain: when the current volume
// ends while the entry still owes bytes, the next volume is opened. False
// when the entry's bytes are spent or a needed volume cannot be opened
// (readError is then 12).
bool NextDataByte(uint8_t &out);

// The inflater's input: the next data byte (0-255), -1 once a needed volume
// has failed to open, and 0 as a filler when asked past the entry's data.
int ByteSource();

#endif // QZARC_ARCHIVE_READER_H
