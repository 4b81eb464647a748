#include "archive/extract_entry.h"

#include "archive/archive_reader.h"
#include "archive/extract_compressed.h"
#include "archive/extract_stored.h"
#include "archive/open_archive.h"
#include "archive/stored_copier.h"
#include "archive/unpack_state.h"
#include "archive/volumes.h"
#include "crypto/cipher.h"


// The 12-byte encryption header lies outside compressedSize: it is read
// straight from the archive, not through the reader, and decrypted here. The
// last plain byte must equal the top byte of the record's crc. The header
// lies wholly in the record's volume, so a read that fails or comes short
// means the volume cannot be read or has shrunk.
PasswordCheck CheckPassword(UnpackState &s, const char *password) {
    uint8_t header[kEncryptionHeaderSize] = {};
    if (!ReadArchiveExact(s, header, kEncryptionHeaderSize, nullptr))
        return PasswordCheck::kUnreadable;
    CipherInit(s.keys, password);
    uint8_t plain = 0;
    for (uint32_t i = 0; i < kEncryptionHeaderSize; ++i)
        plain = DecryptByte(s.keys, header[i]);
    return plain == static_cast<uint8_t>(s.crc >> 24) ? PasswordCheck::kMatches
                                                            : PasswordCheck::kRefused;
}

void StampOutput(UnpackState &s, const char *outputPath) {
    const EntryHeader &header = s.header;
    FILETIME times[3];
    const uint32_t offsets[3] = {header_offset::kCreationTime, header_offset::kAccessTime,
                                 header_offset::kWriteTime};
    for (int i = 0; i < 3; ++i) {
        // Converted in place: a time the conversion refuses stays as recorded.
        times[i].dwLowDateTime = HeaderField32(header, offsets[i]);
        times[i].dwHighDateTime = HeaderField32(header, offsets[i] + 4);
        LocalFileTimeToFileTime(&times[i], &times[i]);
    }
    SetFileTime(s.output, &times[0], &times[1], &times[2]);
    SetFileAttributesA(outputPath, HeaderField32(header, header_offset::kAttributes));
}

int ExtractEntry(UnpackState &s, const char *outputPath, const char *password, char *crcOut, bool &immediate) {
    immediate = false;
    if (password == nullptr)
        password = "";

    HANDLE output = outputPath == nullptr
                        ? INVALID_HANDLE_VALUE
                        : CreateFileA(outputPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        DWORD error = outputPath == nullptr ? ERROR_PATH_NOT_FOUND : GetLastError();
        // A single-mode call gives the archive back; an open walk stays as it
        // is, and its next call moves on to the following record.
        if (!s.walkOpen)
            ReleaseArchive(s);
        immediate = true;
        return kStatusCreateOutputBase - static_cast<int>(error);
    }
    s.output = output;

    ResetCopier(s);
    ResetReader(s);
    s.consumed = 0;
    s.readError = kStatusOk;
    s.status = kStatusOk;

    int result;
    const PasswordCheck check = s.encrypted ? CheckPassword(s, password) : PasswordCheck::kMatches;
    if (check == PasswordCheck::kUnreadable) {
        // Damaged like a record whose header or name is cut short: the
        // caller ends the walk.
        s.status = kStatusBadRecord;
        result = kStatusBadRecord;
    } else if (check == PasswordCheck::kRefused) {
        // The refused entry's data is skipped like a header-only call skips
        // it, following later volumes, so that a walk goes on; data that
        // cannot be skipped ends the walk instead.
        const UnpackStatus refused = SkipEntryData(s, s.compressedSize) ? kStatusBadPassword : kStatusBadRecord;
        s.status = refused;
        result = refused;
    } else {
        // The data's keystream starts from the password alone.
        if (s.encrypted)
            CipherInit(s.keys, password);
        // An entry that succeeds leaves exactly its size in the file (a
        // stored one its data, a compressed one its declared size, which the
        // end check enforces) and one that fails is deleted, so the size is
        // known before the first write.
        ReserveOutputSpace(s.output, s.method == kMethodStored ? s.compressedSize
                                                                            : s.uncompressedSize);
        if (s.method == kMethodStored) {
            result = ExtractStored(s, crcOut);
        } else {
            result = ExtractCompressed(s, outputPath, crcOut, immediate);
            if (immediate)
                return result;
        }
    }

    if (s.status != kStatusOk) {
        CloseIfOpen(s.output);
        DeleteFileA(outputPath);
    } else {
        StampOutput(s, outputPath);
    }
    return result;
}
