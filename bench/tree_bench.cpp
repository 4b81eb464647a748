#include "tree_bench.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <vector>

#include "bench_files.h"
#include "corpus.h"
#include "measure.h"
#include "settle.h"
#include "syscalls.h"
#include "tree_corpus.h"

namespace qzb {

namespace fs = std::filesystem;

namespace {

// Targets: wall-time ratios, for a machine of two cores, and the peak RSS
// of streaming.
constexpr double kExtractVsUnzip = 0.55;
constexpr double kExtractVs7zz = 0.60;
constexpr double kTestVsSerial = 0.55;
constexpr double kOverwriteVsUnzip = 1.00;
constexpr double kStreamRssMiB = 16.0;

// Testing the tree takes a fraction of a second, where the host's noise
// moves a median of 5 by several per cent: its group runs this many times
// as many rounds.
constexpr int kTestRepeatFactor = 3;

// The 2 GiB runs are about memory, which does not vary from run to run:
// at most this many of each.
constexpr int kStreamRepeats = 3;

// Below this much free space the 2 GiB archives are written one at a time
// and removed after use, unless an earlier run left them in the cache.
constexpr uint64_t kRoomForLarge = 10ull << 30;

std::string Fixed(double v, int digits) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(digits) << v;
    return s.str();
}

// Seconds since the section started, for its progress lines.
std::chrono::steady_clock::time_point gStart;
int Seconds() { return int(std::chrono::duration<double>(std::chrono::steady_clock::now() - gStart).count()); }
std::string Elapsed() { return " (" + std::to_string(Seconds()) + " s in)"; }

std::string MiB(uint64_t bytes) { return Fixed(double(bytes) / 1048576.0, 1) + " MiB"; }

int Cores() { return int(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN))); }

void ResetDir(const std::string &dir) {
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
}

std::string TextOf(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Whether this qzarc takes -T N (--threads N) on x and t: its help says so.
bool HasThreadsOption(const std::string &qzarc, const std::string &work) {
    const std::string help = work + "/logs/qzarc-x-help";
    RunPlain({qzarc, "x", "--help"}, help + ".out", help + ".err");
    const std::string text = TextOf(help + ".out") + TextOf(help + ".err");
    return std::regex_search(text, std::regex("(^|[\\s\\[|,])-T[\\s,\\]]|--threads"));
}

// ---- measured commands ---------------------------------------------------------

// What a command's run needs in place, untimed, before it starts.
enum class Setup {
    kNone,      // nothing (testing)
    kEmptyDir,  // the output directory removed and made again, empty
    kFullTree,  // the output directory holding the whole tree already
};

struct TreeRow : Samples {
    std::string label;
    Command command;
    Setup setup = Setup::kNone;
    std::string dir;         // the output directory, where there is one
    std::vector<std::string> warm;  // what it reads: its program and its archive
    bool available = true;   // false: n/a with this qzarc
    // Time the process spent off the CPUs: wall - user - sys, at least 0
    // (where threads overlap, it hides behind their work).
    double waiting() const {
        std::vector<double> v;
        for (const Sample &s : samples)
            v.push_back(std::max(0.0, s.wall - s.user - s.sys));
        return qzb::Median(v);
    }
};

// The commands of a group take turns, round after round, so that a slow
// spell of the machine hits all of them alike. Outputs are checked against
// the tree in the first round.
void RunRounds(std::vector<TreeRow> &rows, const TreeCorpus &tree, int repeats, const std::string &work) {
    const std::string errors = work + "/logs/last.err";
    for (int r = 0; r < repeats; ++r) {
        for (TreeRow &row : rows) {
            if (!row.available)
                continue;
            if (row.setup == Setup::kEmptyDir)
                ResetDir(row.dir);
            Settle(row.warm);
            row.samples.push_back(RunMeasured(row.command, errors));
            if (r == 0 && row.setup != Setup::kNone && !TreeMatches(tree, row.dir)) {
                std::cerr << "qzbench: " << row.label << " did not reproduce the tree\n";
                std::exit(2);
            }
        }
    }
}

std::string TableHead() {
    return "| command | wall s | user s | sys s | waiting s | CPU/wall | peak RSS MiB | wall ratio |\n"
           "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |\n";
}

std::string TableRows(const std::vector<TreeRow> &rows, const TreeRow *base) {
    std::ostringstream t;
    for (const TreeRow &r : rows) {
        const std::string label = r.label.rfind("qzarc", 0) == 0 ? "**" + r.label + "**" : r.label;
        if (!r.available) {
            t << "| " << label << " | n/a | n/a | n/a | n/a | n/a | n/a | n/a |\n";
            continue;
        }
        std::string ratio;
        if (base != nullptr && base->available && base->wall() > 0)
            ratio = Fixed(r.wall() / base->wall(), 2) + (&r == base ? " (base)" : "");
        t << "| " << label << " | " << Fixed(r.wall(), 3) << " | " << Fixed(r.user(), 3) << " | " << Fixed(r.sys(), 3)
          << " | " << Fixed(r.waiting(), 3) << " | " << Fixed(r.cpu() / std::max(r.wall(), 1e-9), 2) << " | "
          << Fixed(r.rss(), 1) << " | " << ratio << " |\n";
    }
    return t.str();
}

struct Targets {
    std::vector<std::string> lines;
    // ours/theirs (wall) against a limit; n/a where either is missing.
    void Ratio(const std::string &what, const TreeRow &ours, const TreeRow &theirs, double limit) {
        if (!ours.available || !theirs.available || theirs.wall() <= 0) {
            lines.push_back("n/a: " + what + " (target <= " + Fixed(limit, 2) + ")");
            return;
        }
        const double r = ours.wall() / theirs.wall();
        lines.push_back(std::string(r <= limit ? "met" : "MISSED") + ": " + what + " " + Fixed(r, 2) +
                        " (target <= " + Fixed(limit, 2) + ")");
    }
};

// ---- the parts of the section ----------------------------------------------------

struct Commands {
    TreeRow x, xSerial, unzip, sevenX;                    // into an empty directory
    TreeRow t, tSerial, unzipT, sevenT;                   // testing
    TreeRow xOver, unzipOver, sevenOver;                  // over the whole tree
};

TreeRow MakeRow(const std::string &label, const std::vector<std::string> &argv, Setup setup = Setup::kNone,
                const std::string &dir = "", const std::string &stdoutPath = "") {
    TreeRow r;
    r.label = label;
    r.command = {label, argv, stdoutPath, ""};
    r.setup = setup;
    r.dir = dir;
    r.warm.push_back(ProgramPath(argv.front()));
    for (const std::string &library : SharedLibraries(r.warm.back()))
        r.warm.push_back(library);
    std::error_code ec;
    for (size_t i = 1; i < argv.size(); ++i)
        if (fs::is_regular_file(argv[i], ec))
            r.warm.push_back(argv[i]);
    return r;
}

Commands MakeCommands(const TreeBenchOptions &o, const TreeCorpus &tree, bool threads) {
    const std::string fresh = o.work + "/out-tree";
    const std::string full = o.work + "/out-tree-full";
    const std::string &q = o.qzarc;
    const Setup empty = Setup::kEmptyDir;
    const Setup whole = Setup::kFullTree;
    Commands c;
    c.x = MakeRow("qzarc x (default threads)", {q, "x", tree.qza, "-o", fresh}, empty, fresh);
    c.xSerial = MakeRow("qzarc x -T 1", {q, "x", tree.qza, "-o", fresh, "-T", "1"}, empty, fresh);
    c.unzip = MakeRow("unzip -q", {"unzip", "-q", tree.zip, "-d", fresh}, empty, fresh);
    c.sevenX = MakeRow("7zz x -y", {"7zz", "x", "-y", "-o" + fresh, tree.zip7}, empty, fresh);
    c.t = MakeRow("qzarc t (default threads)", {q, "t", tree.qza});
    c.tSerial = MakeRow("qzarc t -T 1", {q, "t", tree.qza, "-T", "1"});
    c.unzipT = MakeRow("unzip -tq", {"unzip", "-tq", tree.zip});
    c.sevenT = MakeRow("7zz t", {"7zz", "t", tree.zip7});
    c.xOver = MakeRow("qzarc x -y (default threads)", {q, "x", tree.qza, "-o", full, "-y"}, whole, full);
    c.unzipOver = MakeRow("unzip -oq", {"unzip", "-oq", tree.zip, "-d", full}, whole, full);
    c.sevenOver = MakeRow("7zz x -aoa -y", {"7zz", "x", "-aoa", "-y", "-o" + full, tree.zip7}, whole, full);
    c.xSerial.available = c.tSerial.available = threads;
    return c;
}

// The tree in place for the overwriting rows: extracted once, untimed.
void PrepareFullTree(const TreeRow &over, const TreeCorpus &tree, const std::string &qzarc) {
    ResetDir(over.dir);
    if (RunPlain({qzarc, "x", tree.qza, "-o", over.dir}, "", "") != 0 || !TreeMatches(tree, over.dir)) {
        std::cerr << "qzbench: qzarc x could not lay out the tree in " << over.dir << "\n";
        std::exit(2);
    }
}

// Where the time of `qzarc x` (and of the peers, for comparison) goes, as
// shares of the wall time.
std::string TimeSplit(const std::vector<const TreeRow *> &rows) {
    std::ostringstream t;
    t << "| command | wall s | user | sys | waiting | CPU/wall |\n| --- | ---: | ---: | ---: | ---: | ---: |\n";
    for (const TreeRow *r : rows) {
        if (!r->available) {
            t << "| " << r->label << " | n/a | n/a | n/a | n/a | n/a |\n";
            continue;
        }
        const double wall = std::max(r->wall(), 1e-9);
        auto share = [&](double v) { return Fixed(100.0 * v / wall, 0) + " %"; };
        t << "| " << r->label << " | " << Fixed(r->wall(), 3) << " | " << share(r->user()) << " | " << share(r->sys())
          << " | " << share(r->waiting()) << " | " << Fixed(r->cpu() / wall, 2) << " |\n";
    }
    return t.str();
}

// System calls per entry of extracting into an empty directory and over
// the whole tree, ours and unzip's, one traced run each.
std::string SyscallTable(const TreeBenchOptions &o, const TreeCorpus &tree, const Commands &c) {
    if (RunPlain({"sh", "-c", "command -v strace"}, "", "") != 0)
        return "System call counts skipped: strace is not installed.\n";
    std::cout << "qzbench: tree, system calls (strace -c -f)" << Elapsed() << "\n" << std::flush;
    std::vector<const TreeRow *> traced;
    for (const TreeRow *r : {&c.x, &c.xOver, &c.unzip, &c.unzipOver})
        if (r->available)
            traced.push_back(r);
    std::vector<SyscallCounts> counts(traced.size());
    for (size_t i = 0; i < traced.size(); ++i) {
        const TreeRow &r = *traced[i];
        if (r.setup == Setup::kEmptyDir)
            ResetDir(r.dir);
        Settle(r.warm);
        const std::string log = o.work + "/logs/strace-" + std::to_string(i);
        if (!CountSyscalls(r.command.argv, log, counts[i]))
            return "System call counts skipped: strace failed (see " + log + ").\n";
    }
    ResetDir(c.x.dir);
    const double entries = double(tree.files.size());
    // The calls made about once per entry or more by any of the four, most first.
    std::map<std::string, double> most;
    for (const SyscallCounts &s : counts)
        for (const auto &[name, n] : s.calls)
            most[name] = std::max(most[name], double(n) / entries);
    std::vector<std::pair<double, std::string>> order;
    for (const auto &[name, perEntry] : most)
        if (perEntry >= 0.5)
            order.emplace_back(-perEntry, name);
    std::sort(order.begin(), order.end());
    std::ostringstream t;
    t << "System calls per entry (" << tree.files.size()
      << " entries; strace -c -f, one run each, threads included; calls made at least 0.5 times per entry by "
         "one of them):\n\n";
    t << "| system call |";
    for (const TreeRow *r : traced)
        t << " " << r->label << " |";
    t << "\n| --- |";
    for (size_t i = 0; i < traced.size(); ++i)
        t << " ---: |";
    t << "\n";
    auto row = [&](const std::string &name, bool total) {
        t << "| " << (total ? "**all**" : name) << " |";
        for (const SyscallCounts &s : counts) {
            const auto it = s.calls.find(name);
            const double n = total ? double(s.total) : it == s.calls.end() ? 0.0 : double(it->second);
            t << " " << Fixed(n / entries, 2) << " |";
        }
        t << "\n";
    };
    for (const auto &entry : order)
        row(entry.second, false);
    row("", true);
    return t.str();
}

// `qzarc x -c` of a 2 GiB entry, its standard output thrown away at once
// (/dev/null) or read through a pipe (wc -c, which also checks the size).
std::string Streaming(const TreeBenchOptions &o, Targets &targets) {
    const uint64_t size = 2ull << 30;
    const CorpusFiles corpus = PrepareCorpus("text", o.work, o.textBytes);
    if (corpus.bytes == 0 || size % corpus.bytes != 0)
        return "2 GiB streaming rows skipped: the text corpus does not divide 2 GiB (use --mib 64).\n";
    const std::string &text = corpus.plain;
    std::ostringstream t;
    t << "`qzarc x -c` streaming one 2 GiB entry (the text corpus repeated; stored, and Deflate at zlib level 1), "
         "medians of "
      << std::min(o.repeats, kStreamRepeats) << " runs:\n\n";
    t << "| entry | standard output | wall s | user s | sys s | peak RSS MiB |\n| --- | --- | ---: | ---: | ---: | ---: |\n";
    double worst = 0;
    const std::string count = o.work + "/logs/stream-count";
    for (bool deflate : {false, true}) {
        const std::string name = o.work + "/archives/large-" + std::to_string(size >> 20) + "MiB-" +
                                 (deflate ? "m8" : "m0") + ".qza";
        std::error_code ec;
        const bool cached = Exists(name + ".done");
        const bool tight = fs::space(o.work, ec).available < kRoomForLarge;
        const std::string archive = PrepareLargeArchive(o.work, text, size, deflate);
        std::vector<TreeRow> rows = {
            MakeRow("/dev/null", {o.qzarc, "x", archive, "-c", "large"}),
            MakeRow("pipe to wc -c", {"sh", "-c", "\"$0\" x \"$1\" -c large | wc -c", o.qzarc, archive},
                    Setup::kNone, "", count),
        };
        std::cout << "qzbench: tree, streaming the 2 GiB " << (deflate ? "Deflate" : "stored") << " entry"
                  << Elapsed() << "\n"
                  << std::flush;
        ReadThrough({archive});
        for (int r = 0; r < std::min(o.repeats, kStreamRepeats); ++r)
            for (TreeRow &row : rows) {
                row.samples.push_back(RunMeasured(row.command, o.work + "/logs/last.err"));
                if (row.command.stdoutPath == count && std::stoull("0" + TextOf(count)) != size) {
                    std::cerr << "qzbench: qzarc x -c gave " << TextOf(count) << " bytes, not " << size << "\n";
                    std::exit(2);
                }
            }
        if (!cached && tight) {
            fs::remove(archive, ec);
            fs::remove(archive + ".done", ec);
        }
        for (const TreeRow &row : rows) {
            worst = std::max(worst, row.rss());
            t << "| 2 GiB, " << (deflate ? "method 8" : "method 0") << " | " << row.label << " | "
              << Fixed(row.wall(), 2) << " | " << Fixed(row.user(), 2) << " | " << Fixed(row.sys(), 2) << " | "
              << Fixed(row.rss(), 1) << " |\n";
        }
    }
    t << "\nThe pipe's peak RSS is that of the largest of its processes (sh, qzarc, wc).\n";
    targets.lines.push_back(std::string(worst <= kStreamRssMiB ? "met" : "MISSED") +
                            ": peak RSS of `qzarc x -c` with a 2 GiB entry " + Fixed(worst, 1) + " MiB (target <= " +
                            Fixed(kStreamRssMiB, 0) + " MiB)");
    return t.str();
}

std::string Relative(const std::string &path, const std::string &base) {
    const fs::path r = fs::path(path).lexically_relative(base);
    return r.empty() || r.string().rfind("..", 0) == 0 ? path : r.string();
}

}  // namespace

std::string TreeSection(const TreeBenchOptions &o) {
    gStart = std::chrono::steady_clock::now();
    const TreeCorpus tree = PrepareTree(o.work);
    const bool threads = HasThreadsOption(o.qzarc, o.work);
    const bool haveUnzip = RunPlain({"sh", "-c", "command -v unzip"}, "", "") == 0;
    const bool have7zz = RunPlain({"sh", "-c", "command -v 7zz"}, "", "") == 0;
    Commands c = MakeCommands(o, tree, threads);
    c.unzip.available = c.unzipT.available = c.unzipOver.available = haveUnzip;
    c.sevenX.available = c.sevenT.available = c.sevenOver.available = have7zz;

    std::vector<TreeRow> extract = {c.x, c.xSerial, c.unzip, c.sevenX};
    std::vector<TreeRow> test = {c.t, c.tSerial, c.unzipT, c.sevenT};
    std::vector<TreeRow> over = {c.xOver, c.unzipOver, c.sevenOver};
    std::cout << "qzbench: tree, extracting into an empty directory" << Elapsed() << "\n" << std::flush;
    RunRounds(extract, tree, o.repeats, o.work);
    ResetDir(c.x.dir);
    std::cout << "qzbench: tree, testing" << Elapsed() << "\n" << std::flush;
    RunRounds(test, tree, o.repeats * kTestRepeatFactor, o.work);
    std::cout << "qzbench: tree, extracting over the whole tree" << Elapsed() << "\n" << std::flush;
    PrepareFullTree(c.xOver, tree, o.qzarc);
    RunRounds(over, tree, o.repeats, o.work);
    // The measured rows, back under their names for what follows.
    c.x = extract[0], c.xSerial = extract[1], c.unzip = extract[2], c.sevenX = extract[3];
    c.t = test[0], c.tSerial = test[1], c.unzipT = test[2], c.sevenT = test[3];
    c.xOver = over[0], c.unzipOver = over[1], c.sevenOver = over[2];

    Targets targets;
    targets.Ratio("qzarc x vs unzip, wall:", c.x, c.unzip, kExtractVsUnzip);
    targets.Ratio("qzarc x vs 7zz x, wall:", c.x, c.sevenX, kExtractVs7zz);
    targets.Ratio("qzarc t vs qzarc t -T 1, wall:", c.t, c.tSerial, kTestVsSerial);
    targets.Ratio("qzarc x -y vs unzip -o over the whole tree, wall:", c.xOver, c.unzipOver, kOverwriteVsUnzip);

    const std::string split = TimeSplit({&c.x, &c.xSerial, &c.xOver, &c.unzip, &c.unzipOver, &c.sevenX});
    const std::string syscalls = o.strace ? SyscallTable(o, tree, c) : "System call counts left out (--no-strace).\n";
    const std::string streaming =
        o.large ? Streaming(o, targets) : "2 GiB streaming rows left out (--no-large).\n";
    std::error_code ec;
    fs::remove_all(c.x.dir, ec);
    fs::remove_all(c.xOver.dir, ec);

    std::ostringstream s;
    const std::time_t now = std::time(nullptr);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    s << kTreeHeading << ": a tree of this machine's files\n\n";
    s << "Made by `make bench`, or on its own by `qzbench --only tree` (bench/tree_bench.cpp). Whole processes, "
         "each command run "
      << o.repeats << " times (testing: " << o.repeats * kTestRepeatFactor
      << "), the commands of a group taking turns; medians shown. Wall time is what counts here; "
         "waiting = wall - user - sys (at least 0), time the process spent off the CPUs (the disk, the "
         "kernel's writeback, locks); CPU/wall = (user+sys)/wall, above 1 where threads overlap. Wall "
         "ratios against unzip, each group's base.\n\n";
    s << "- date: " << date << ", " << Cores() << " CPUs; the section took " << Seconds() << " s\n";
    s << "- tree: " << tree.files.size() << " files, " << MiB(tree.bytes) << " in " << tree.directories
      << " directories, copied to build/bench/tree from:";
    for (const std::string &source : tree.sources)
        s << " " << source << (&source == &tree.sources.back() ? "" : ",");
    s << " (regular files only, at most 16 MiB each, sorted, up to 256 MiB)\n";
    s << "- QZ archive: " << MiB(tree.qzaBytes) << ", written by qzbench with the project's writer, zlib level 6 per "
      << "entry (" << tree.qzaStored << " entries stored, deflate not shrinking them)\n";
    s << "- zip: " << MiB(tree.zipBytes) << ", Info-ZIP `zip -6 -r -q`, extracted and tested by unzip\n";
    s << "- 7-Zip zip: " << MiB(tree.zip7Bytes) << ", `7zz a " << tree.sevenSwitches
      << "` (7-Zip's own Deflate encoder has no zlib levels: -mx=5 is its normal level, the nearest to zlib's 6), "
         "extracted and tested by 7zz\n";
    s << "- qzarc: " << Relative(o.qzarc, o.source) << "; "
      << (threads ? "it takes -T N, the serial rows run with -T 1"
                  : "it has no -T option yet, so the -T 1 rows and ratios are n/a and its default is serial")
      << "\n";
    s << "- extraction into an empty directory, removed and made again before every run; overwriting: over "
         "the whole tree, extracted once beforehand\n";
    if (CanDropCaches())
        s << "- before every run, outside the timing: everything synced, the page cache dropped, the command's "
             "program and archive read back in. This machine's ext4 runs without a journal and, with the "
             "blocks of freshly freed inodes still cached, steps over each of them when creating a file: "
             "seconds of system time charged to whichever run follows a removal (bench/settle.h)\n\n";
    else
        s << "- before every run, outside the timing: everything synced, the command's program and archive "
             "read in; the page cache could not be dropped (not root), so on an ext4 without a journal a run "
             "that follows a removal may be charged for the file system stepping over freshly freed inodes "
             "(bench/settle.h)\n\n";

    s << "### Extracting, testing, overwriting\n\n";
    s << "Into an empty directory:\n\n" << TableHead() << TableRows(extract, &extract[2]) << "\n";
    s << "Testing (every entry decoded and checked, nothing kept):\n\n"
      << TableHead() << TableRows(test, &test[2]) << "\n";
    s << "Over the whole tree, every file replaced:\n\n" << TableHead() << TableRows(over, &over[1]) << "\n";

    s << "### Where the time goes\n\n";
    s << "User and sys time as shares of the wall time (together above 100 % where threads overlap):\n\n"
      << split << "\n" << syscalls << "\n";

    s << "### Streaming one 2 GiB entry\n\n" << streaming << "\n";

    s << "### Targets (many files)\n\n";
    s << "Wall-time ratios, set for a machine of 2 cores (this one has " << Cores() << "):\n\n";
    for (const std::string &line : targets.lines)
        s << "- " << line << "\n";
    return s.str();
}

}  // namespace qzb
