/*
 * cat — writes one entry of a QZ archive to standard output.
 *
 *   cat ARCHIVE NAME [PASSWORD]
 *
 * A host of the library's handle API that reads an entry into its own
 * buffer. It walks the archive to the first entry named NAME ('/' and '\'
 * match each other, as records separate directories with '\') and copies
 * the entry's data to standard output with qz_archive_read, 64 KiB at a
 * time. PASSWORD is used for an encrypted entry.
 *
 * The bytes are verified only at the end: the read that returns 0 has
 * checked the entry's size and CRC-32, and a damaged entry fails there
 * (QZ_E_CRC, QZ_E_SIZE or QZ_E_DATA), after its bytes went out. A host that
 * must not pass on unverified data keeps it until then, or writes the entry
 * with qz_archive_extract, which leaves no file behind on failure.
 *
 * Names are compared in UTF-8, as qz_archive_next hands them out; on
 * Windows NAME arrives in the ANSI code page, so only ASCII names match
 * there whatever the code page.
 *
 * Exit status: 0 when the whole entry was written and verified; 1 otherwise,
 * with a message on standard error.
 */
#include <stdio.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "qzarc.h"

/* Names match when they are equal, '/' and '\' counting as one character. */
static int same_name(const char *a, const char *b)
{
    for (;; a++, b++) {
        char x = *a == '\\' ? '/' : *a;
        char y = *b == '\\' ? '/' : *b;
        if (x != y)
            return 0;
        if (x == '\0')
            return 1;
    }
}

/* Copies the current entry to standard output; 0 at its verified end. */
static int copy_entry(qz_archive *archive, const char *archive_path)
{
    static unsigned char buffer[64 * 1024];
    int64_t n;

    while ((n = qz_archive_read(archive, buffer, sizeof buffer)) > 0) {
        if (fwrite(buffer, 1, (size_t)n, stdout) != (size_t)n) {
            fprintf(stderr, "cat: writing to standard output failed\n");
            return 1;
        }
    }
    if (n < 0) {
        fprintf(stderr, "cat: %s: %s\n", archive_path, qz_archive_error(archive));
        return 1;
    }
    if (fflush(stdout) != 0) {
        fprintf(stderr, "cat: writing to standard output failed\n");
        return 1;
    }
    return 0;
}

int main(int argc, char **argv)
{
    qz_archive *archive;
    const qz_entry *entry;
    int result;
    int status = 1;

    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: cat ARCHIVE NAME [PASSWORD]\n");
        return 1;
    }
#ifdef _WIN32
    /* The entry's bytes as they are: no "\n" becomes "\r\n". */
    _setmode(_fileno(stdout), _O_BINARY);
#endif

    archive = qz_archive_new();
    if (archive == NULL) {
        fprintf(stderr, "cat: %s\n", qz_strerror(QZ_E_NOMEM));
        return 1;
    }
    if (argc == 4)
        qz_archive_set_password(archive, argv[3]);

    result = qz_archive_open(archive, argv[1], 0);
    if (result == QZ_ARCHIVE_OK) {
        /* Entries before the one named are stepped over, not decoded. */
        while ((result = qz_archive_next(archive, &entry)) == QZ_ARCHIVE_OK) {
            if (same_name(entry->name, argv[2]))
                break;
        }
    }

    if (result == QZ_ARCHIVE_OK)
        status = copy_entry(archive, argv[1]);
    else if (result == QZ_ARCHIVE_END)
        fprintf(stderr, "cat: %s: no entry named %s\n", argv[1], argv[2]);
    else
        fprintf(stderr, "cat: %s: %s\n", argv[1], qz_archive_error(archive));

    qz_archive_free(archive);
    return status;
}
