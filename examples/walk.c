/*
 * walk — lists the entries of a QZ archive.
 *
 *   walk ARCHIVE
 *
 * A minimal host of the library: it walks the archive in header-only mode,
 * one QZUnpack call per record, and prints each entry's name on its own
 * line. The first call opens the archive and keeps it open (QZ_KEEP_OPEN);
 * later calls read the next record. The walk ends at QZ_END_OF_ARCHIVE,
 * which also closes the archive, or at the first other nonzero result.
 *
 * Exit status: 0 when the end of the archive was reached, 1 otherwise.
 */
#include <stdio.h>

#include "qzarc.h"

int main(int argc, char **argv)
{
    char name[260];
    char crc[260];
    int flags = QZ_KEEP_OPEN | QZ_HEADER_ONLY;
    int result;

    if (argc != 2) {
        fprintf(stderr, "usage: walk ARCHIVE\n");
        return 1;
    }

    for (;;) {
        name[0] = '\0';
        crc[0] = '\0';
        result = QZUnpack(argv[1], "", name, "", 0, crc, flags);
        if (result != QZ_OK)
            break;
        printf("%s\n", name);
        flags = QZ_HEADER_ONLY;
    }
    fflush(stdout);

    if (result == QZ_END_OF_ARCHIVE)
        return 0;

    if (result == QZ_BAD_RECORD)
        fprintf(stderr, "walk: %s: no record where the next one should start\n", argv[1]);
    else
        fprintf(stderr, "walk: %s: stopped with result %d\n", argv[1], result);
    /* Anything but the end of the archive may leave it open. */
    QZUnpack(argv[1], "", name, "", 0, crc, QZ_CLOSE_NOW);
    return 1;
}
