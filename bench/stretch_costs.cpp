// bench_stretch NAME RAW ARCHIVE [NAME RAW ARCHIVE ...]: what one entry's
// decoding on several threads costs, stretch by stretch, and what that
// predicts beyond the two cores of the benchmark machine. Prints a Markdown
// part for the one-large-entry section (big_entry.cpp).
//
// RAW is an entry's raw Deflate or Deflate64 stream, ARCHIVE the archive whose first
// entry it is. For each average stretch output of 0.5 to 4 MiB (the
// compressed stretch is cut to that on the entry's ratio, as the library
// cuts it) every stretch but the first and the last is decoded on its own,
// as a helper thread does:
//   search   looking for the first block start (FindBlockStart alone)
//   decode   the speculative decoding, the search included (DecodeStretch)
//   resolve  the marked symbols turned into bytes straight in a caller's
//            64 KiB buffer as they are handed out, with their CRC-32
//   take     the rest of the reading thread's part: the symbol map from its
//            window, the last window of the stretch resolved, the plain
//            bytes after the symbols copied out, two CRC combinations
// and the serial decoder's time per byte is measured through the handle
// API with one thread (what the reading thread spends on a stretch it
// decodes itself). The library's own path with two threads is timed
// alongside, at each stretch size, for a check of the model.
//
// The model: with n threads, the reading thread decodes a share f of the
// stretches itself (`serial` each) and takes and hands out the others
// (`take` each), which the n - 1 helpers decode (`decode` each, their
// input read included in the library, not here). Of these, it resolves a
// share g itself as it hands them out (`resolve` each: while every helper
// is busy); idle helpers resolve the rest. At X stretches a second that
// asks X (f serial + (1 - f) (take + g resolve)) <= 1 of the reading
// thread and X (1 - f) (decode + (1 - g) resolve) <= n - 1 of the helpers:
// X is the largest that the best f and g allow, and the entry (N
// stretches, the last one always the reading thread's) takes (N - 1) / X +
// serial against N serial alone.
// Every cost of a run on several threads is first multiplied by the
// contention measured here: two threads decoding side by side, each on its
// own handle, against one alone (shared caches, memory, clocks).
// It leaves out the stretches helpers decode in vain (the reading thread
// came to them first, too early to wait), the waiting for helpers and
// slots, the first touches of fresh memory and the program's start: the
// measured two-thread time shows how much those cost.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "archive/parallel_read.h"
#include "bench_files.h"
#include "crypto/crc32.h"
#include "inflate/block_search.h"
#include "inflate/inflate_state.h"
#include "inflate/inflate_stream.h"
#include "inflate/marker_resolve.h"
#include "inflate/stretch_decode.h"
#include "measure.h"
#include "qzarc.h"

namespace {

using qzb::Median;
using qzb::ReadAll;
using Clock = std::chrono::steady_clock;

// Runs of each whole-entry read; the fastest counts.
constexpr int kRuns = 5;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Entry {
    uint64_t size = 0;
    uint16_t method = 0;
};

// Reads the archive's first entry through the handle API with `threads`
// threads, nothing kept; the wall time, or a negative one on failure.
double ReadEntry(const char *archive, int threads, Entry *entry) {
    qz_archive *a = qz_archive_new();
    const qz_entry *e = nullptr;
    if (a == nullptr || qz_archive_open(a, archive, 0) != QZ_ARCHIVE_OK || qz_archive_next(a, &e) != QZ_ARCHIVE_OK ||
        qz_archive_set_threads(a, threads) != QZ_ARCHIVE_OK) {
        qz_archive_free(a);
        return -1;
    }
    if (entry != nullptr) {
        entry->size = e->uncompressed_size;
        entry->method = uint16_t(e->method);
    }
    // The caller's buffer, one per read: two reads side by side must not
    // share one (their writes would pass its lines between the processors).
    std::vector<unsigned char> buffer(65536);
    const Clock::time_point start = Clock::now();
    int64_t got;
    while ((got = qz_archive_read(a, buffer.data(), buffer.size())) > 0) {
    }
    const double seconds = SecondsSince(start);
    qz_archive_free(a);
    return got == 0 ? seconds : -1;
}

// The fastest of a few runs: the machine's noise only ever adds time.
double BestRead(const char *archive, int threads, int runs) {
    double best = -1;
    for (int i = 0; i < runs; ++i) {
        const double t = ReadEntry(archive, threads, nullptr);
        if (t < 0)
            return -1;
        if (best < 0 || t < best)
            best = t;
    }
    return best;
}

// How much slower one thread decodes while another decodes beside it (two
// handles, one thread each, side by side) than alone: what shared caches,
// memory and the processors' clocks take from every thread once several
// work. The model's costs for n > 1 are multiplied by it.
double Contention(const char *archive) {
    const double alone = BestRead(archive, 1, 5);
    double paired = -1;
    for (int i = 0; i < 5; ++i) {
        double other = 0;
        std::thread beside([&] { other = ReadEntry(archive, 1, nullptr); });
        const double mine = ReadEntry(archive, 1, nullptr);
        beside.join();
        const double both = std::max(mine, other);
        if (paired < 0 || both < paired)
            paired = both;
    }
    return alone > 0 && paired > 0 ? std::max(1.0, paired / alone) : 1.0;
}

struct Costs {
    double search = 0, decode = 0, resolve = 0, take = 0;  // seconds per stretch (medians)
    double output = 0;                                       // bytes per stretch (mean)
    double marked = 0;                                       // share of them marked
    int stretches = 0, failed = 0;
};

// Every stretch but the first and last of the stream, decoded as a helper
// decodes it.
Costs MeasureStretches(const std::vector<uint8_t> &raw, uint16_t method, uint32_t stretch) {
    const bool d64 = method == kMethodDeflate64;
    const uint32_t window = d64 ? kLargeWindow : kSmallWindow;
    const uint32_t room = uint32_t(4) << 20 > stretch * 8 ? uint32_t(4) << 20 : stretch * 8;
    std::vector<uint8_t> output(room), map(kSymbolMapSize), history(kLargeWindow), tail(kLargeWindow),
        out(65536);
    for (size_t i = 0; i < history.size(); ++i)
        history[i] = uint8_t(i * 131u + 7u);
    InflateStream st{};
    st.keepWindow = true;
    std::vector<double> search, decode, resolve, take;
    double bytes = 0, marked = 0;
    Costs c;
    const uint64_t count = raw.size() / stretch;
    for (uint64_t k = 1; k + 1 < count; ++k) {
        const uint8_t *data = raw.data() + k * stretch;
        const uint32_t size = uint32_t(std::min<uint64_t>(StretchInputBytes(stretch), raw.size() - k * stretch));
        const StretchJob job{data, size, uint64_t(stretch) * 8, uint64_t(stretch) * 8, method,
                             output.data(), room, kNoBlockStart, nullptr};
        Clock::time_point t0 = Clock::now();
        const uint64_t found = FindBlockStart(data, size, 0, uint64_t(stretch) * 8, d64);
        search.push_back(SecondsSince(t0));
        StretchResult r{};
        t0 = Clock::now();
        const bool ok = DecodeStretch(st, job, r);
        decode.push_back(SecondsSince(t0));
        ++c.stretches;
        if (!ok || found == kNoBlockStart) {
            ++c.failed;
            continue;
        }
        const uint16_t *symbols = reinterpret_cast<const uint16_t *>(output.data());

        // The reading thread's part, as parallel_read.cpp's Take and
        // HandOut do it.
        t0 = Clock::now();
        FillSymbolMap(map.data(), history.data() + history.size());
        const uint32_t kept = std::min(r.markedCount, window);
        ResolveSymbols(symbols + (r.markedCount - kept), tail.data(), map.data(), 0, kept);
        uint32_t crc = CrcCombine(0x12345678u, 0, r.markedCount);
        crc = CrcCombine(crc, r.bytesCrc, r.byteCount);
        const double takeHead = SecondsSince(t0);

        // Handed out to a caller's 64 KiB buffer: the marked part resolved
        // straight into it, CRC-32 alongside, then the plain bytes after
        // the symbols copied.
        t0 = Clock::now();
        uint32_t reg;
        CrcReset(reg);
        for (uint32_t i = 0; i < r.markedCount;) {
            const uint32_t n = std::min<uint32_t>(r.markedCount - i, uint32_t(out.size()));
            ResolveSymbols(symbols + i, out.data(), map.data(), 0, n);
            reg = CrcAccumulate(reg, out.data(), n);
            i += n;
        }
        resolve.push_back(SecondsSince(t0));
        t0 = Clock::now();
        const uint32_t total = r.markedCount + r.byteCount;
        for (uint32_t at = 0; at < r.byteCount;) {
            const uint32_t n = std::min<uint32_t>(r.byteCount - at, uint32_t(out.size()));
            std::memcpy(out.data(), output.data() + size_t(r.markedCount) * 2 + at, n);
            at += n;
        }
        take.push_back(takeHead + SecondsSince(t0));
        bytes += total;
        marked += r.markedCount;
        // Keeps the work from being optimised away.
        if (reg == crc && out[0] == 1)
            std::fputs("", stdout);
    }
    ReleaseInflate(st);
    const int good = c.stretches - c.failed;
    c.search = Median(search);
    c.decode = Median(decode);
    c.resolve = Median(resolve);
    c.take = Median(take);
    c.output = good > 0 ? bytes / good : 0;
    c.marked = bytes > 0 ? marked / bytes : 0;
    return c;
}

// The model's prediction of the entry's wall time on n threads against
// one, every cost but the one-thread base slowed by `contention`.
double PredictedRatio(const Costs &c, double serial, double stretches, int n, double contention) {
    if (c.take <= 0 || c.output <= 0 || stretches < 2)
        return 1;
    const double own = serial * contention, take = c.take * contention;
    const double decode = c.decode * contention, resolve = c.resolve * contention;
    // The best share f of the stretches the reading thread decodes itself,
    // and g of the others' resolving that it does itself.
    double best = 1 / own;
    for (int k = 0; k <= 200; ++k) {
        const double f = k / 200.0;
        for (int j = 0; j <= 20; ++j) {
            const double g = j / 20.0;
            double x = 1 / (f * own + (1 - f) * (take + g * resolve));
            if (f < 1)
                x = std::min(x, double(n - 1) / ((1 - f) * (decode + (1 - g) * resolve)));
            best = std::max(best, x);
        }
    }
    return ((stretches - 1) / best + own) / (stretches * serial);
}

std::string Fixed(double v, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4 || (argc - 1) % 3 != 0) {
        std::fprintf(stderr, "usage: bench_stretch NAME RAW ARCHIVE [NAME RAW ARCHIVE ...]\n");
        return 2;
    }
    constexpr int kThreads[] = {2, 4, 8, 16};
    constexpr double kOutputs[] = {0.5, 1, 1.33, 2, 4};  // MiB of output per stretch, on average (the library aims at 1.33)
    constexpr size_t kSizes = sizeof kOutputs / sizeof kOutputs[0];
    constexpr size_t kCounts = sizeof kThreads / sizeof kThreads[0];
    std::string costs, model, check;
    // The predictions summed over the entries, by stretch size and threads.
    double sums[kSizes][kCounts] = {};
    for (int i = 1; i + 2 < argc; i += 3) {
        const std::string name = argv[i];
        const char *archive = argv[i + 2];
        const std::vector<uint8_t> raw = ReadAll(argv[i + 1]);
        Entry entry;
        if (raw.empty() || ReadEntry(archive, 1, &entry) < 0 || entry.size == 0) {
            std::fprintf(stderr, "bench_stretch: %s: cannot read %s or %s\n", name.c_str(), argv[i + 1], archive);
            return 1;
        }
        const double perByte = BestRead(archive, 1, 5) / double(entry.size);
        const double contention = Contention(archive);
        for (size_t z = 0; z < kSizes; ++z) {
            const double mib = kOutputs[z];
            const uint32_t stretch = uint32_t(
                std::max<double>(double(uint32_t(64) << 10), mib * 1048576.0 * double(raw.size()) / double(entry.size)));
            // The least of three passes' medians: the machine's noise only
            // ever adds time.
            Costs c = MeasureStretches(raw, uint16_t(entry.method), stretch);
            for (int pass = 1; pass < 3; ++pass) {
                const Costs again = MeasureStretches(raw, uint16_t(entry.method), stretch);
                c.search = std::min(c.search, again.search);
                c.decode = std::min(c.decode, again.decode);
                c.resolve = std::min(c.resolve, again.resolve);
                c.take = std::min(c.take, again.take);
            }
            const double serial = perByte * c.output;
            const double stretches = double(raw.size()) / double(stretch);
            const std::string label = "| " + name + " | " + Fixed(mib, 2) + " | ";
            costs += label + Fixed(double(stretch) / 1048576.0, 2) + " | " + Fixed(c.output / 1048576.0, 2) + " | " +
                     Fixed(c.marked * 100, 0) + " % | " + Fixed(serial * 1e3, 2) + " | " + Fixed(c.search * 1e3, 2) +
                     " | " + Fixed(c.decode * 1e3, 2) + " | " + Fixed(c.resolve * 1e3, 2) + " | " +
                     Fixed(c.take * 1e3, 2) + " | " + std::to_string(c.failed) + " of " + std::to_string(c.stretches) +
                     " |\n";
            model += label + Fixed(contention, 2) + " | ";
            for (size_t t = 0; t < kCounts; ++t) {
                const double ratio = PredictedRatio(c, serial, stretches, kThreads[t], contention);
                sums[z][t] += ratio;
                model += Fixed(ratio, 2) + " | ";
            }
            model += Fixed(serial / c.take, 1) + " |\n";
            // The library's own path on two threads at this stretch size,
            // used whatever the entry's ratio and never let go.
            gParallelStretchBytes = stretch;
            gParallelJudging = ParallelJudging::kNeverJudged;
            const double one = BestRead(archive, 1, kRuns);
            gParallelTally = ParallelTally{};
            const double two = BestRead(archive, 2, kRuns);
            const ParallelTally &t = gParallelTally;
            gParallelStretchBytes = 0;
            gParallelJudging = ParallelJudging::kJudgedAsBuilt;
            auto each = [](uint64_t n) { return Fixed(double(n) / kRuns, 1); };
            auto ms = [](uint64_t ns) { return Fixed(double(ns) / kRuns / 1e6, 1); };
            check += label + Fixed(one * 1e3, 1) + " | " + Fixed(two * 1e3, 1) + " | " + Fixed(two / one, 2) + " | " +
                     Fixed(PredictedRatio(c, serial, stretches, 2, contention), 2) + " | " + each(t.taken) + " | " +
                     each(t.abandoned) + " | " + each(t.waited) + " | " + each(t.unstarted) + " | " +
                     each(t.passedOver - t.abandoned - t.unstarted) + " | " + ms(t.helperDecodeNs) + " | " +
                     ms(t.helperResolveNs) + " | " + ms(t.helperIdleNs) + " | " + ms(t.readerDecodeNs) + " | " +
                     ms(t.readerTakeNs - t.readerWaitNs) + " | " + ms(t.readerWaitNs) + " |\n";
        }
    }
    std::string best;
    for (size_t t = 0; t < kCounts; ++t) {
        size_t z = 0;
        for (size_t k = 1; k < kSizes; ++k)
            if (sums[k][t] < sums[z][t])
                z = k;
        best += (t == 0 ? "" : "; ") + std::string("n = ") + std::to_string(kThreads[t]) + ": " +
                Fixed(kOutputs[z], 2) + " MiB";
    }
    std::printf("Costs per stretch (ms; medians over the stretches of each entry, the least of three passes; a "
                "stretch's serial time is the one-thread decoder's time per byte, through the handle API, times its "
                "output):\n\n"
                "| entry | stretch output target MiB | compressed MiB | output MiB | marked | serial | search | "
                "decode (search included) | resolve + CRC | take | failed |\n"
                "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |\n%s\n",
                costs.c_str());
    std::printf("Predicted wall time on n threads against one thread, the whole entry. Contention: one thread's "
                "time with a second decoding beside it against alone (applied to every cost for n > 1, as "
                "measured with two; more threads may slow each other more). Ceiling: serial / take, how many "
                "threads' stretches the reading thread can take at most, helpers resolving them:\n\n"
                "| entry | stretch output MiB | contention | n = 2 | n = 4 | n = 8 | n = 16 | ceiling |\n"
                "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |\n%s\n"
                "The stretch output with the lowest predicted time over these entries: %s.\n\n",
                model.c_str(), best.c_str());
    std::printf("The library's path measured on this machine's two threads against the model, at each stretch "
                "size, taken whatever the entry's ratio and never let go (in-process wall time of "
                "qz_archive_read, the fastest of %d runs), and where the two-thread runs' stretches and time went "
                "(means per run): stretches taken from the helper; abandoned (the reading thread came to one a "
                "helper was still decoding, too early to wait, and decoded it itself); waited for (it came to one "
                "a helper was about to finish, and waited); unstarted (it came to one no helper had begun); other "
                "passed over (no start found, or found past the reading thread); the helper's time decoding "
                "(reading its input included), resolving and idle; the reading thread's time decoding, taking "
                "(the symbol map, the window, resolving and handing out) and waiting for helpers:\n\n"
                "| entry | stretch output MiB | 1 thread ms | 2 threads ms | measured ratio | predicted | taken | "
                "abandoned | waited for | unstarted | other passed | helper decoding ms | helper resolving ms | "
                "helper idle ms | reader decoding ms | reader taking ms | reader waiting ms |\n"
                "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | "
                "---: | ---: | ---: |\n%s",
                kRuns, check.c_str());
    return 0;
}
