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
 * These three legacy exports keep one process-wide extraction state: their
 * calls must not overlap, and one archive at a time can be open through them.
 *
 * The handle API (qz_archive_*, below) is for new hosts: one handle per
 * archive, entries read into any buffer the caller passes, errors as codes
 * with a message. Different handles may be used on different threads at
 * once, on the same archive or on different ones; one handle must be used by
 * one thread at a time. The handle API and the legacy exports do not share
 * state.
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

/* ------------------------------------------------------------------------
 * The handle API.
 *
 * A qz_archive is one archive being read. Open it, then walk its entries
 * with qz_archive_next; for the current entry, read its bytes with
 * qz_archive_read, write it to a file with qz_archive_extract, or go on to
 * the next one (the rest of the entry is skipped). qz_archive_seek and
 * qz_archive_count move about the archive by entry index.
 *
 * Every function that can fail returns a negative QZ_E_* code and leaves a
 * message in the handle (qz_archive_error). Bytes handed out by
 * qz_archive_read are not verified until the read that returns 0: only then
 * have the entry's size and CRC-32 been checked; when the check fails, that
 * read returns QZ_E_CRC, QZ_E_SIZE or QZ_E_DATA instead.
 *
 * Threads: each handle is independent. Different handles may be used on
 * different threads at the same time, on one archive or several; a single
 * handle must not be used by two threads at once. Callbacks run on the
 * thread that made the call.
 *
 * A handle holds at most the decoder's window and code tables, two 64 KiB
 * buffers, marks of where records start and the current entry's name
 * (under 1 MiB in all). Each is allocated once and kept (a code table's
 * block grows to the largest table met), so qz_archive_read allocates
 * nothing once the handle has met its largest tables. It never shows a
 * message or writes to standard error.
 * ------------------------------------------------------------------------ */

#include <stddef.h>
#include <stdint.h>

/* Results. */
#define QZ_ARCHIVE_OK        0
#define QZ_ARCHIVE_END       1     /* qz_archive_next: no more entries */

#define QZ_E_PASSWORD    (-1)   /* no password, or the password does not match (before any byte) */
#define QZ_E_CRC         (-2)   /* the entry's CRC-32 differs from its record */
#define QZ_E_SIZE        (-3)   /* the entry decoded to another size than recorded */
#define QZ_E_DATA        (-4)   /* the compressed data is invalid or cut short */
#define QZ_E_VOLUME      (-5)   /* a volume file cannot be opened (the message names it) */
#define QZ_E_RECORD      (-6)   /* no valid record where one must start: damaged or not an archive */
#define QZ_E_METHOD      (-7)   /* the entry's method is not stored (0), Deflate (8) or Deflate64 (9) */
#define QZ_E_IO          (-8)   /* reading the archive or writing a file failed */
#define QZ_E_NOMEM       (-9)   /* out of memory */
#define QZ_E_ARGUMENT    (-10)  /* an argument is invalid (null handle or buffer, path too long, ...) */
#define QZ_E_STATE       (-11)  /* a call out of order (no archive open, no current entry, ...) */

typedef struct qz_archive qz_archive;

/* One entry record, as qz_archive_next hands it out. Valid until the next
   call of qz_archive_next, qz_archive_seek, qz_archive_close or
   qz_archive_free on the same handle. */
typedef struct qz_entry {
    const char *name;                 /* UTF-8, NUL-terminated (converted from the code page) */
    const unsigned char *raw_name;    /* the recorded bytes */
    size_t raw_name_length;
    unsigned method;                  /* 0, 8, 9; other values are listed and fail to read */
    int encrypted;
    uint32_t crc32;
    uint64_t compressed_size;         /* without the encryption header */
    uint64_t uncompressed_size;
    uint32_t attributes;              /* Win32 bits (0x01 read-only, 0x10 directory, ...) */
    uint64_t creation_time, access_time, write_time; /* FILETIMEs as recorded (local time) */
    int64_t mtime;                    /* write time as Unix seconds, UTC, by the extraction rule */
    uint64_t index;                   /* 0 for the first record */
    unsigned volume;                  /* volume the record starts in (0: the first) */
    uint64_t offset;                  /* where the record starts in that volume */
} qz_entry;

/* Volume handler: volume `number` (1-999) of a split archive cannot be
   found. `path` (path_size bytes) holds the name it was looked for under; the
   handler may write another path there. Return 0 to try again, anything
   else to give up (the read then fails with QZ_E_VOLUME). */
typedef int (*qz_volume_handler)(void *user, unsigned number, char *path, size_t path_size);
/* Progress handler: `done` of `total` bytes of the current entry produced;
   called at most once per MiB and once at the entry's verified end. */
typedef void (*qz_progress_handler)(void *user, uint64_t done, uint64_t total);

QZ_EXPORT qz_archive *QZ_CDECL qz_archive_new(void);                 /* NULL: no memory */
QZ_EXPORT void QZ_CDECL qz_archive_free(qz_archive *a);              /* closes it first; NULL is fine */

/* Settings: any time, also between entries. password NULL: none (an
   encrypted entry then fails with QZ_E_PASSWORD); "" is a password; the
   handle keeps a copy. The code page converts recorded names to UTF-8: 0
   (the default) takes names that are valid UTF-8 as they are and others as
   1252; 437, 850, 1250, 1251, 1252, 932 and 936 read every name in that
   code page, 65001 as UTF-8 (bytes that make no character become U+FFFD).
   Others fail with QZ_E_ARGUMENT and leave the setting as it was. */
QZ_EXPORT int QZ_CDECL qz_archive_set_password(qz_archive *a, const char *password);
QZ_EXPORT int QZ_CDECL qz_archive_set_codepage(qz_archive *a, int codepage);
QZ_EXPORT int QZ_CDECL qz_archive_set_volume_handler(qz_archive *a, qz_volume_handler fn, void *user);
QZ_EXPORT int QZ_CDECL qz_archive_set_progress_handler(qz_archive *a, qz_progress_handler fn, void *user);
/* The threads that may decode one large Deflate or Deflate64 entry (1, the
   default: the calling thread alone; at most 64, larger values count as
   64; below 1: QZ_E_ARGUMENT). With more than one, qz_archive_read and
   qz_archive_extract decode a large entry's later parts ahead on other
   threads while the caller's thread decodes the earlier ones; the bytes,
   the verdicts and the progress are those of one thread. Added in 1.2.0. */
QZ_EXPORT int QZ_CDECL qz_archive_set_threads(qz_archive *a, int threads);

/* Opens the archive whose first volume is `path`, with its first record at
   start_offset (0 unless other data precedes it). Volume k (1-999) is path
   with its last three characters replaced by k as three digits. A path may
   have up to 4095 bytes on Linux, 259 on Windows (QZ_E_ARGUMENT beyond). Fails with
   QZ_E_VOLUME when the file cannot be opened and QZ_E_RECORD when no record
   starts at start_offset (an empty file, or one that ends at start_offset,
   is an archive without entries). */
QZ_EXPORT int QZ_CDECL qz_archive_open(qz_archive *a, const char *path, uint64_t start_offset);
/* Closes the archive; the handle and its settings can be used again. */
QZ_EXPORT int QZ_CDECL qz_archive_close(qz_archive *a);

/* The next entry (the first after open): 0 with *entry set, QZ_ARCHIVE_END,
   or < 0. In the middle of an entry it skips the entry's rest. */
QZ_EXPORT int QZ_CDECL qz_archive_next(qz_archive *a, const qz_entry **entry);
/* The current entry, or NULL. */
QZ_EXPORT const qz_entry *QZ_CDECL qz_archive_entry(const qz_archive *a);
/* Up to size (>= 1) bytes of the current entry, in order: > 0 bytes, 0 at
   the verified end (and on every later call), or < 0; a failure is final
   for the entry, except QZ_E_PASSWORD, after which another password may be
   set and the read tried again. */
QZ_EXPORT int64_t QZ_CDECL qz_archive_read(qz_archive *a, void *buffer, size_t size);
/* Skips the rest of the current entry without checking it (again: nothing). */
QZ_EXPORT int QZ_CDECL qz_archive_skip(qz_archive *a);
/* Writes the current entry (not yet read from) to the file `path`,
   replacing it, verifies it, and gives it the entry's times and attributes.
   The password and the method are checked before the file is touched: a
   refused entry leaves an existing file as it was (and may be retried after
   qz_archive_set_password). Any later failure deletes the file: no partial
   or unverified file is left. The directory must exist. */
QZ_EXPORT int QZ_CDECL qz_archive_extract(qz_archive *a, const char *path);
/* Positions the handle so that the next qz_archive_next gives entry
   `index`; index equal to the number of entries makes it give
   QZ_ARCHIVE_END, a larger one fails with QZ_E_ARGUMENT. */
QZ_EXPORT int QZ_CDECL qz_archive_seek(qz_archive *a, uint64_t index);
/* The number of entries (walks the headers once; the position stays). */
QZ_EXPORT int64_t QZ_CDECL qz_archive_count(qz_archive *a);

/* The message of the handle's last failure ("" when none); valid until the
   next call on the handle. */
QZ_EXPORT const char *QZ_CDECL qz_archive_error(const qz_archive *a);
/* A fixed text for a code. */
QZ_EXPORT const char *QZ_CDECL qz_strerror(int code);
/* The library's version, "1.2.0". */
QZ_EXPORT const char *QZ_CDECL qz_version(void);

#ifdef __cplusplus
}
#endif

#endif /* QZARC_H */
