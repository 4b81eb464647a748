// The handle API's reading on several threads against its reading on one.
//
// A walk of an archive notes everything a host can observe, in order (its
// transcript): what qz_archive_open, every qz_archive_next, qz_archive_read
// and qz_archive_extract and the closing return, the message after every
// failure, each progress report and volume request (and whether it came on
// the thread that made the call), the bytes each entry handed out or
// extracted, whether a failed extraction left its file, and the heap blocks
// and files the handle left behind once freed. Consecutive reads that
// return the same count are noted once, with their number. With several
// threads, whatever the stretch size, the transcript must be the
// one-thread transcript of the same walk.
//
// Also the input of the parallel fuzz target (fuzz/fuzz_parallel.cpp),
// which the unit tests replay:
//
//   byte 0   bit 0     method 9 (else 8)
//            bit 1     the rest is plain data, compressed here by zlib into
//                      a method 8 stream (level and strategy from its first
//                      byte); bit 0 is then ignored
//            bits 2-4  what the record says about the stream (kinds below),
//                      with the parameter p of byte 3
//            bit 5     the entry is encrypted; the walk first tries a wrong
//                      password on it
//            bit 6     the entry is extracted to a file instead of read
//            bit 7     the walk leaves each entry after 3 reads, on to the next
//   byte 1   bits 0-2 threads: 2 + value (2-9); bit 3 the entries are
//            counted after each entry's second read; bit 4 the walk goes back
//            to the first entry after its third read, once; bit 6 the handle
//            is freed after 5 reads; bit 7 one thread from an entry's second
//            read to its fourth
//   byte 2   the stretch size: by bits 0-3 one of 0 (the library's own),
//            1, 2, 3, 5, 8, 13, 17, 31, 64, 100, 257, 300, 1000, 4096,
//            65536, plus bits 4-7 as a number for the non-zero ones
//   byte 3   bits 0-2 the read size (1, 7, 64, 258, 4093, 32768, 65536,
//            1 MiB), bits 3-7 the parameter p (0-31)
//   rest     the stream
//
// Record kinds: 0 as it is, 1 the data cut (compressed size short by
// 1 + p * size / 64), 2 the data running on into the next record (compressed
// size long by 1 + 37 * p), 3 the data split into two volumes at p / 32 of
// it, 4 the same with the second volume missing, 5 a wrong CRC, 6 the size
// short by 1 + p * size / 64, 7 the size long by 1 + p.
//
// The stream is first decoded once on one thread to learn the CRC and size
// it gives; inputs that decode to more than 4 MiB are passed over. The
// entry is followed by a small stored entry and a small Deflate one.
//
// For programs that link a core made with TESTING (the stretch size is a
// test instrument of those).
#ifndef QZARC_PARALLEL_CHECK_H
#define QZARC_PARALLEL_CHECK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "writer/writer.h"

namespace qzt {

using qzw::Bytes;

struct Threading {
    int threads = 1;
    uint32_t stretch = 0;  // gParallelStretchBytes during the walk (0: the library's own)
    bool letGoEarly = false;  // helpers let go once a stretch is handed out (else never)
    bool inputFails = false;  // every read of a stretch's input fails
};

// How a walk reads; every option is the same for the one-thread walk it is
// compared with.
struct WalkPlan {
    size_t readSize = 65536;
    bool extract = false;              // entries written with qz_archive_extract instead of read
    uint32_t readsPerEntry = 0;        // not 0: that many reads, then on to the next entry
    bool switchThreads = false;        // one thread from an entry's second read to its fourth
    const char *wrongPassword = nullptr;  // tried first on each encrypted entry
    uint32_t freeAfter = 0;            // not 0: the handle is freed after that many reads in all
    bool countMidway = false;          // qz_archive_count after each entry's second read
    bool seekBack = false;             // after the first entry's third read, back to it (once)
    uint64_t maxEntryBytes = uint64_t{1} << 30;  // read no more of an entry: on to the next
};

struct WalkEvent {
    char kind;           // see Describe
    int64_t value;
    uint64_t extra;
    std::string text;
    uint64_t count = 1;  // reads of the same result in a row

    WalkEvent(char k, int64_t v = 0, uint64_t e = 0, std::string t = "")
        : kind(k), value(v), extra(e), text(std::move(t)) {}

    bool operator==(const WalkEvent &o) const {
        return kind == o.kind && value == o.value && extra == o.extra && count == o.count && text == o.text;
    }
    std::string Describe() const;
};

struct Transcript {
    std::vector<WalkEvent> events;
    std::vector<Bytes> entries;  // per qz_archive_next that gave an entry: its bytes
};

// Walks the archive whose first volume is `path` on a fresh handle with the
// password (may be null), the threading and the plan; extractions go to
// `scratch`.
Transcript WalkTranscript(const std::string &path, const char *password, const Threading &threading,
                          const WalkPlan &plan, const std::string &scratch);

// "" when both are the same, otherwise where they first differ.
std::string TranscriptDifference(const Transcript &oneThread, const Transcript &other);

std::string Describe(const Threading &threading, const WalkPlan &plan);

// The archive walked with one thread and then with each threading, with
// the same plan: "" when every transcript is the one-thread one, otherwise
// the first difference.
std::string CompareThreadings(const std::string &path, const char *password, const WalkPlan &plan,
                              const std::vector<Threading> &threadings, const std::string &scratch);

// What a stream decodes to on one thread, for streams whose plain bytes are
// not known: false when that is more than 4 MiB, or when `path` (a scratch
// archive) cannot be written. A stream that fails gives what it handed out.
bool DecodeOnOneThread(const std::string &path, uint16_t method, const Bytes &stream, Bytes *plain);

// ---- the fuzz target's input (layout above) ----

constexpr size_t kParallelInputHeader = 4;

// "" when the walks agree (or the input is passed over); dir is a
// directory of the caller's own for the volumes and the extracted file.
std::string RunParallelInput(const uint8_t *data, size_t size, const std::string &dir);

Bytes ParallelInput(uint8_t control, uint8_t threads, uint8_t stretch, uint8_t read, const Bytes &stream);

// The seed inputs: the inflater seed streams and the block-start decoys
// (raw_streams.h) under a spread of settings. (name, input)
std::vector<std::pair<std::string, Bytes>> ParallelSeeds();

}  // namespace qzt

#endif  // QZARC_PARALLEL_CHECK_H
