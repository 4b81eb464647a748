/*
 * qzarc — extraction of QZ archives.
 *
 * A host calls QZUnpack once per archive entry. Each call reads one entry
 * record, and either skips its data (QZ_HEADER_ONLY) or extracts it to the
 * file the host names, restoring the entry's times and attributes. With
 * QZ_KEEP_OPEN the archive stays open between calls, so a host walks an
 * archive record by record. QZCallback registers an optional function that
 * receives progress reports and requests for missing volume files.
 *
 * The library keeps one process-wide extraction state: calls must not
 * overlap, and one archive at a time can be open.
 */
#ifndef QZARC_H
#define QZARC_H

#if defined(_WIN32)
#  define QZ_CDECL __cdecl
#  define QZ_STDCALL __stdcall
#  if defined(QZARC_BUILDING)
#    define QZ_EXPORT __declspec(dllexport)
#  else
#    define QZ_EXPORT __declspec(dllimport)
#  endif
#else
#  define QZ_CDECL
#  define QZ_STDCALL
#  if defined(QZARC_BUILDING)
#    define QZ_EXPORT __attribute__((visibility("default")))
#  else
#    define QZ_EXPORT
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Flags of QZUnpack. Other bits are ignored (but returned by a close-now call). */
#define QZ_KEEP_OPEN    0x01 /* the archive stays open after this call (walk mode) */
#define QZ_CLOSE_AFTER  0x02 /* the archive is closed after this call; wins over QZ_KEEP_OPEN */
#define QZ_HEADER_ONLY  0x04 /* read the record's header and name, skip its data, create no file */
#define QZ_CLOSE_NOW    0x10 /* close everything and return the flags at once */

/* Results of QZUnpack. */
#define QZ_OK                   0
#define QZ_ERR_NO_MEMORY        1    /* inflater status only; never returned */
#define QZ_ERR_METHOD           3    /* inflater status only; never returned */
#define QZ_ERR_WRITE            4    /* writing the output file failed */
#define QZ_ERR_DATA             5    /* inflater status only; never returned */
#define QZ_ERR_TRUNCATED        6    /* the stream ended before its final block (also: unknown method) */
#define QZ_ERR_SIZE             7    /* final block reached, but the size differs */
#define QZ_ERR_CRC              8    /* the CRC-32 of the data differs */
#define QZ_ERR_STORED_BLOCK     10   /* no longer recorded (a stored block that starts with whole bytes still in the bit buffer decodes); the number stays reserved */
#define QZ_ERR_VOLUME           12   /* a volume needed for the entry's data cannot be opened */
#define QZ_END_OF_ARCHIVE       50   /* walk mode: no more records; the archive is closed */
#define QZ_BAD_RECORD           99   /* walk mode: no record where the next one should start */
#define QZ_ERR_PASSWORD         999  /* the password does not match the entry */
#define QZ_ERR_INFLATE_START    (-1) /* the inflater's window cannot be allocated */
#define QZ_ERR_OPEN_ARCHIVE     (-100000000) /* minus GetLastError(): first volume cannot be opened */
#define QZ_ERR_CREATE_OUTPUT    (-200000000) /* minus GetLastError(): output file cannot be created */

/* Kinds of host notification. */
#define QZ_NOTIFY_PROGRESS      1    /* value: percent of the entry done; text: "" */
#define QZ_NOTIFY_VOLUME        100  /* value: volume number; text: writable MAX_PATH buffer with its name */
#define QZ_STOP_WAITING         1    /* a kind-100 answer: stop waiting and try to open the file anyway */

/* The host's notification function: kind, value, two zeros, text. */
typedef int (QZ_STDCALL *HostCallback)(int kind, int value, int reserved1, int reserved2, char *text);

/* The fields of the record the last QZUnpack call read (see QZEntryInfo).
   Times are FILETIMEs (100 ns since 1601) in local time, as recorded. */
typedef struct QZEntryDetails {
    unsigned int method;            /* 0 stored, 8 Deflate, 9 Deflate64 */
    unsigned int encrypted;         /* 1 when the entry is encrypted */
    unsigned int attributes;        /* Win32 file attribute bits */
    unsigned int crc;               /* CRC-32 of the uncompressed data */
    unsigned int compressedSize;    /* data bytes, without the encryption header */
    unsigned int uncompressedSize;
    unsigned int creationTime[2];   /* low, high */
    unsigned int accessTime[2];
    unsigned int writeTime[2];
    unsigned int nameLength;        /* as recorded (the name handed out is at most 259 bytes) */
} QZEntryDetails;

/* Exported at ordinal 3. */
QZ_EXPORT int QZ_CDECL QZUnpack(const char *archivePath, const char *outputPath, char *nameOut,
                                const char *password, unsigned int startOffset, char *crcOut,
                                int flags);

/* Exported at ordinal 4. Returns 1 when a callback was registered, 0 when null unregistered it. */
QZ_EXPORT int QZ_CDECL QZCallback(HostCallback callback);

/* Exported at ordinal 5. Fills details from the record read by the last
   QZUnpack call and returns 1; returns 0 (details untouched) when that call
   read no whole record header (close-now, end of archive, a failed open, ...). */
QZ_EXPORT int QZ_CDECL QZEntryInfo(QZEntryDetails *details);

#ifdef __cplusplus
}
#endif

#endif /* QZARC_H */
