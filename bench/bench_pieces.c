/* bench_pieces ARCHIVE PIECE: the C side of the Python comparison. Reads
 * the archive's first entry through the handle API in reads of PIECE bytes
 * into one buffer (what a host streaming an entry does) and prints the
 * seconds it took, from qz_archive_new to the verified end, and the bytes
 * read: "SECONDS BYTES". The time is taken inside the process, as the
 * Python side takes its own, so that neither counts its start-up. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "qzarc.h"

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char **argv) {
    if (argc != 3 || atol(argv[2]) <= 0) {
        fprintf(stderr, "usage: bench_pieces ARCHIVE PIECE\n");
        return 2;
    }
    const size_t piece = (size_t)atol(argv[2]);
    unsigned char *buffer = malloc(piece);
    if (buffer == NULL)
        return 1;
    const double start = Now();
    qz_archive *a = qz_archive_new();
    const qz_entry *entry = NULL;
    if (a == NULL || qz_archive_open(a, argv[1], 0) != QZ_ARCHIVE_OK || qz_archive_next(a, &entry) != QZ_ARCHIVE_OK) {
        fprintf(stderr, "bench_pieces: %s: %s\n", argv[1], a != NULL ? qz_archive_error(a) : "no memory");
        return 1;
    }
    unsigned long long total = 0;
    int64_t got;
    while ((got = qz_archive_read(a, buffer, piece)) > 0)
        total += (unsigned long long)got;
    qz_archive_free(a);
    const double seconds = Now() - start;
    free(buffer);
    if (got != 0) {
        fprintf(stderr, "bench_pieces: %s: the entry failed (%lld)\n", argv[1], (long long)got);
        return 1;
    }
    printf("%.6f %llu\n", seconds, total);
    return 0;
}
