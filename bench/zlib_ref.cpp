// zlib_ref STREAM OUTPUT: the benchmark's zlib reference. Inflates a raw
// Deflate stream with zlib the way an extractor would: input read in 64 KiB
// chunks, output produced into a 64 KiB buffer, run through zlib's crc32 and
// written with one write per full buffer. Prints the CRC-32 of the output.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned kChunk = 65536;

bool WriteAll(int fd, const unsigned char *data, size_t n) {
    while (n > 0) {
        const ssize_t done = ::write(fd, data, n);
        if (done <= 0)
            return false;
        data += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zlib_ref STREAM OUTPUT\n");
        return 2;
    }
    const int in = ::open(argv[1], O_RDONLY);
    const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) {
        std::perror("zlib_ref: open");
        return 2;
    }
    static unsigned char input[kChunk];
    static unsigned char output[kChunk];
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (inflateInit2(&z, -15) != Z_OK)
        return 2;
    uLong crc = crc32(0L, Z_NULL, 0);
    int status = Z_OK;
    z.next_out = output;
    z.avail_out = kChunk;
    while (status != Z_STREAM_END) {
        if (z.avail_in == 0) {
            const ssize_t got = ::read(in, input, kChunk);
            if (got <= 0) {
                std::fprintf(stderr, "zlib_ref: stream ends early\n");
                return 1;
            }
            z.next_in = input;
            z.avail_in = static_cast<uInt>(got);
        }
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) {
            std::fprintf(stderr, "zlib_ref: inflate: %d\n", status);
            return 1;
        }
        if (z.avail_out == 0 || status == Z_STREAM_END) {
            const unsigned produced = kChunk - z.avail_out;
            crc = crc32(crc, output, produced);
            if (!WriteAll(out, output, produced)) {
                std::perror("zlib_ref: write");
                return 1;
            }
            z.next_out = output;
            z.avail_out = kChunk;
        }
    }
    inflateEnd(&z);
    ::close(out);
    ::close(in);
    std::printf("%08lX\n", crc);
    return 0;
}
