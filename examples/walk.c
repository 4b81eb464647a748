/*
 * walk — lists the entries of a QZ archive.
 *
 *   walk ARCHIVE
 *
 * A minimal host of the library's handle API. It opens the archive and takes
 * its entries one by one with qz_archive_next, which reads each record's
 * header and name and steps over the entry's data: listing decodes nothing
 * and needs no password. Each entry gets one line: its uncompressed size, its
 * method (with a '*' when it is encrypted) and its name, in UTF-8. Split
 * archives are followed into their volumes (ARCHIVE is the first one); a
 * missing volume ends the listing with a message, as no volume handler is
 * set.
 *
 * Exit status: 0 when the end of the archive was reached, 1 otherwise.
 */
#include <inttypes.h>
#include <stdio.h>

#include "qzarc.h"

static const char *method_name(unsigned method)
{
    switch (method) {
    case 0:
        return "stored";
    case 8:
        return "deflate";
    case 9:
        return "deflate64";
    default:
        return "unknown"; /* listed, but it would fail to read (QZ_E_METHOD) */
    }
}

int main(int argc, char **argv)
{
    qz_archive *archive;
    const qz_entry *entry;
    int result;

    if (argc != 2) {
        fprintf(stderr, "usage: walk ARCHIVE\n");
        return 1;
    }

    archive = qz_archive_new();
    if (archive == NULL) {
        fprintf(stderr, "walk: %s\n", qz_strerror(QZ_E_NOMEM));
        return 1;
    }

    result = qz_archive_open(archive, argv[1], 0);
    if (result == QZ_ARCHIVE_OK) {
        while ((result = qz_archive_next(archive, &entry)) == QZ_ARCHIVE_OK)
            printf("%12" PRIu64 "  %-9s%c %s\n", entry->uncompressed_size,
                   method_name(entry->method), entry->encrypted ? '*' : ' ', entry->name);
    }
    fflush(stdout);

    if (result != QZ_ARCHIVE_END)
        fprintf(stderr, "walk: %s: %s\n", argv[1], qz_archive_error(archive));
    qz_archive_free(archive);
    return result == QZ_ARCHIVE_END ? 0 : 1;
}
