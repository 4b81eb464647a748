/*
 * libdeflate_ref STREAM SIZE OUTPUT: the one-large-entry section's
 * libdeflate peer. Reads the raw Deflate stream STREAM whole, decodes it
 * with libdeflate's whole-buffer decoder (libdeflate_deflate_decompress)
 * into a buffer of SIZE bytes, the entry's size, takes its CRC-32
 * (libdeflate_crc32, as an extractor checks the entry) and writes it to
 * OUTPUT with write(2). Prints the CRC-32. OUTPUT may be /dev/null: then
 * only the decoding and the check are left, as in `qzarc t`.
 */
#include <fcntl.h>
#include <libdeflate.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

static int ReadWhole(const char *path, unsigned char **data, size_t *size)
{
    int fd = open(path, O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0)
        return 0;
    *size = (size_t)st.st_size;
    *data = malloc(*size != 0 ? *size : 1);
    size_t done = 0;
    while (*data != NULL && done < *size) {
        ssize_t got = read(fd, *data + done, *size - done);
        if (got <= 0)
            break;
        done += (size_t)got;
    }
    close(fd);
    return *data != NULL && done == *size;
}

static int WriteWhole(const char *path, const unsigned char *data, size_t size)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return 0;
    while (size > 0) {
        ssize_t done = write(fd, data, size);
        if (done <= 0)
            break;
        data += done;
        size -= (size_t)done;
    }
    return close(fd) == 0 && size == 0;
}

int main(int argc, char **argv)
{
    if (argc != 4 || atoll(argv[2]) <= 0) {
        fprintf(stderr, "usage: libdeflate_ref STREAM SIZE OUTPUT\n");
        return 2;
    }
    const size_t size = (size_t)atoll(argv[2]);
    unsigned char *stream = NULL;
    size_t streamSize = 0;
    if (!ReadWhole(argv[1], &stream, &streamSize)) {
        perror("libdeflate_ref: read");
        return 2;
    }
    unsigned char *out = malloc(size);
    struct libdeflate_decompressor *d = libdeflate_alloc_decompressor();
    if (out == NULL || d == NULL) {
        fprintf(stderr, "libdeflate_ref: out of memory\n");
        return 2;
    }
    size_t produced = 0;
    const enum libdeflate_result r = libdeflate_deflate_decompress(d, stream, streamSize, out, size, &produced);
    if (r != LIBDEFLATE_SUCCESS || produced != size) {
        fprintf(stderr, "libdeflate_ref: decoding failed (%d, %zu bytes of %zu)\n", (int)r, produced, size);
        return 1;
    }
    const unsigned crc = (unsigned)libdeflate_crc32(0, out, size);
    if (!WriteWhole(argv[3], out, size)) {
        perror("libdeflate_ref: write");
        return 1;
    }
    libdeflate_free_decompressor(d);
    free(out);
    free(stream);
    printf("%08X\n", crc);
    return 0;
}
