#include "big_entry.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <vector>

#include "bench_files.h"
#include "corpus.h"
#include "measure.h"

namespace qzb {

namespace fs = std::filesystem;

namespace {

// Targets: wall-time ratios of `qzarc x` with its default threads, for a
// machine of two cores.
constexpr double kZlibVsSerial = 0.60;   // zlib's one stream, against -T 1
constexpr double kZlibVsPeer = 0.70;     // the same, against the faster of libdeflate and ISA-L
constexpr double kPiecesVsSerial = 0.55; // what `qzarc a` writes, against -T 1

// The size an entry must have at least for what this section says of it.
constexpr uint64_t kLeastEntry = 64ull << 20;

[[noreturn]] void Fail(const std::string &message) {
    std::fprintf(stderr, "qzbench: %s\n", message.c_str());
    std::exit(2);
}

std::string Fixed(double v, int digits) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(digits) << v;
    return s.str();
}

std::string MiB(uint64_t bytes) { return Fixed(double(bytes) / 1048576.0, 1) + " MiB"; }

std::chrono::steady_clock::time_point gStart;
int Seconds() { return int(std::chrono::duration<double>(std::chrono::steady_clock::now() - gStart).count()); }
std::string Elapsed() { return " (" + std::to_string(Seconds()) + " s in)"; }

// The processors this process may run on, which is what `qzarc` takes by
// default (its affinity, not the machine's count).
int Processors() {
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0)
        return CPU_COUNT(&set);
    return int(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));
}

std::string TextOf(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// The installed version of a Debian package, or "" (not Debian, or not installed).
std::string PackageVersion(const std::string &package, const std::string &work) {
    const std::string out = work + "/logs/package-version";
    if (RunPlain({"dpkg-query", "-W", "-f=${Version}", package}, out, out + ".err") != 0)
        return "";
    return TextOf(out);
}

void ResetDir(const std::string &dir) {
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
}

// ---- measured commands ---------------------------------------------------------

enum class Kind { kDefault, kSerial, kLibdeflate, kIsal, kSeven };

struct BigRow : Samples {
    std::string label;
    Kind kind;
    Command command;
    std::string output;  // the file it writes, checked in the first round; empty: none
};

// One entry as one kind of stream, and the commands that decode it.
struct Stream {
    std::string corpus;  // text, binary
    std::string kind;    // how the stream was written, as the tables name it
    uint64_t size = 0;   // the entry's
    uint32_t crc = 0;
    std::vector<BigRow> rows;

    const BigRow *Find(Kind kind) const {
        for (const BigRow &r : rows)
            if (r.kind == kind)
                return &r;
        return nullptr;
    }
    // The faster (wall) of libdeflate and ISA-L, where either ran.
    const BigRow *FasterPeer() const {
        const BigRow *a = Find(Kind::kLibdeflate), *b = Find(Kind::kIsal);
        if (a == nullptr || b == nullptr)
            return a != nullptr ? a : b;
        return b->wall() < a->wall() ? b : a;
    }
};

// The programs the section runs: our tool and the peers it found.
struct Programs {
    std::string qzarc, libdeflate, isal;
    bool sevenZip = false;
};

const char *kStreamZlib = "zlib -6, one stream";
const char *kStreamSeven = "7-Zip Deflate64";
const char *kStreamPieces = "`qzarc a`, 1 MiB pieces";
const char *kLibdeflateLabel = "libdeflate (whole buffer)";
const char *kIsalLabel = "ISA-L isal_inflate (256 KiB pieces)";

BigRow Row(const std::string &label, Kind kind, const std::vector<std::string> &argv, const std::string &output) {
    return {{}, label, kind, {label, argv, "", ""}, output};
}

// The commands that decode an entry into dir: qzarc twice from the
// archive, the peers from the raw stream (none for Deflate64, which only
// 7zz decodes, from its zip).
std::vector<BigRow> ExtractRows(const Programs &p, const std::string &name, uint64_t size, const std::string &archive,
                                const std::string &raw, const std::string &zip, const std::string &dir) {
    const std::string target = dir + "/" + name;
    std::vector<BigRow> rows;
    rows.push_back(Row("qzarc x (default threads)", Kind::kDefault, {p.qzarc, "x", archive, "-o", dir, "-y"}, target));
    rows.push_back(Row("qzarc x -T 1", Kind::kSerial, {p.qzarc, "x", archive, "-o", dir, "-y", "-T", "1"}, target));
    if (!raw.empty() && !p.libdeflate.empty())
        rows.push_back(Row(kLibdeflateLabel, Kind::kLibdeflate, {p.libdeflate, raw, std::to_string(size), target}, target));
    if (!raw.empty() && !p.isal.empty())
        rows.push_back(Row(kIsalLabel, Kind::kIsal, {p.isal, raw, std::to_string(size), target}, target));
    if (!zip.empty() && p.sevenZip)
        rows.push_back(Row("7zz x", Kind::kSeven, {"7zz", "x", "-y", "-o" + dir, zip}, target));
    return rows;
}

// What `qzarc a` makes of the corpus file, and the raw stream inside, made
// anew every run from the tool being measured.
struct WriterStream {
    std::string archive, raw;
    uint64_t streamBytes = 0;
};

WriterStream PrepareWriterStream(const CorpusFiles &c, uint32_t crc, const BigEntryOptions &o) {
    WriterStream w;
    w.archive = o.work + "/archives/" + c.name + "-qzarc-a.qza";
    w.raw = o.work + "/archives/" + c.name + "-qzarc-a.deflate";
    std::error_code ec;
    fs::remove(w.archive, ec);
    const std::string log = o.work + "/logs/qzarc-a";
    std::cout << "qzbench: one large entry, qzarc a " << c.name << Elapsed() << "\n" << std::flush;
    if (RunPlain({o.qzarc, "a", w.archive, c.name}, log + ".out", log + ".err", fs::path(c.plain).parent_path()) != 0)
        Fail("qzarc a could not archive the " + c.name + " corpus (see " + log + ".err)");
    const ZipMember record = ReadFirstRecord(ReadAll(w.archive));
    if (record.method != 8 || record.name != c.name || record.size != c.bytes || record.crc != crc)
        Fail("qzarc a did not write the " + c.name + " corpus as one Deflate entry");
    WriteAll(w.raw, record.data);
    w.streamBytes = record.data.size();
    return w;
}

// Every command of every stream takes its turn in each round, so that a
// slow spell of the machine hits all of them alike; each output is checked
// against the entry's size and CRC-32 in the first round.
void RunRounds(std::vector<Stream> &streams, int repeats, const std::string &dir, const std::string &work) {
    const std::string errors = work + "/logs/last.err";
    for (int r = 0; r < repeats; ++r) {
        if (r % 5 == 0)
            std::cout << "qzbench: one large entry, round " << r + 1 << " of " << repeats << Elapsed() << "\n"
                      << std::flush;
        for (Stream &s : streams)
            for (BigRow &row : s.rows) {
                if (!row.output.empty())
                    ResetDir(dir);
                row.samples.push_back(RunMeasured(row.command, errors));
                if (r != 0 || row.output.empty())
                    continue;
                const Bytes out = Exists(row.output) ? ReadAll(row.output) : Bytes();
                if (out.size() != s.size || qzw::Crc32(out) != s.crc)
                    Fail(row.label + " did not reproduce the " + s.corpus + " corpus from the " + s.kind + " stream");
            }
    }
    ResetDir(dir);
}

// ---- the report ------------------------------------------------------------------

std::string Bold(const std::string &label) { return label.rfind("qzarc", 0) == 0 ? "**" + label + "**" : label; }

std::string ExtractTable(const std::vector<Stream> &streams) {
    std::ostringstream t;
    t << "| corpus | stream | command | wall s | user s | sys s | CPU/wall | peak RSS MiB | wall ratio |\n"
         "| --- | --- | --- | ---: | ---: | ---: | ---: | ---: | ---: |\n";
    for (const Stream &s : streams) {
        const BigRow *base = s.Find(Kind::kSerial);
        for (const BigRow &r : s.rows) {
            std::string ratio;
            if (base != nullptr && base->wall() > 0)
                ratio = Fixed(r.wall() / base->wall(), 2) + (&r == base ? " (base)" : "");
            t << "| " << s.corpus << " | " << s.kind << " | " << Bold(r.label) << " | " << Fixed(r.wall(), 3) << " | "
              << Fixed(r.user(), 3) << " | " << Fixed(r.sys(), 3) << " | "
              << Fixed(r.cpu() / std::max(r.wall(), 1e-9), 2) << " | " << Fixed(r.rss(), 1) << " | " << ratio << " |\n";
        }
    }
    return t.str();
}

// The wall time of the default `qzarc x` over another command's, or -1.
double Ratio(const Stream &s, const BigRow *other) {
    const BigRow *ours = s.Find(Kind::kDefault);
    if (ours == nullptr || other == nullptr || other->wall() <= 0)
        return -1;
    return ours->wall() / other->wall();
}

std::string RatioText(double r) { return r < 0 ? "n/a" : Fixed(r, 2); }

std::string RatioTable(const std::vector<Stream> &streams) {
    std::ostringstream t;
    t << "| corpus | stream | default / -T 1 | default / the faster peer | the faster peer |\n"
         "| --- | --- | ---: | ---: | --- |\n";
    for (const Stream &s : streams) {
        const BigRow *peer = s.FasterPeer();
        if (peer == nullptr)
            peer = s.Find(Kind::kSeven);
        t << "| " << s.corpus << " | " << s.kind << " | " << RatioText(Ratio(s, s.Find(Kind::kSerial))) << " | "
          << RatioText(Ratio(s, peer)) << " | " << (peer != nullptr ? peer->label : "none") << " |\n";
    }
    return t.str();
}

void Target(std::vector<std::string> &lines, const std::string &what, double r, double limit) {
    if (r < 0) {
        lines.push_back("n/a: " + what + " (target <= " + Fixed(limit, 2) + ")");
        return;
    }
    lines.push_back(std::string(r <= limit ? "met" : "MISSED") + ": " + what + " " + Fixed(r, 2) +
                    " (target <= " + Fixed(limit, 2) + ")");
}

std::vector<std::string> Targets(const std::vector<Stream> &streams) {
    std::vector<std::string> lines;
    for (const Stream &s : streams) {
        const std::string head = s.corpus + ", " + s.kind + ": qzarc x (default threads)";
        if (s.kind == kStreamZlib) {
            Target(lines, head + " vs -T 1, wall:", Ratio(s, s.Find(Kind::kSerial)), kZlibVsSerial);
            const BigRow *peer = s.FasterPeer();
            Target(lines, head + " vs " + (peer != nullptr ? peer->label : "the faster peer") + ", the faster peer, wall:",
                   Ratio(s, peer), kZlibVsPeer);
        } else if (s.kind == kStreamPieces) {
            Target(lines, head + " vs -T 1, wall:", Ratio(s, s.Find(Kind::kSerial)), kPiecesVsSerial);
        }
    }
    return lines;
}

// The serial decoder against the peers on the binary corpus's zlib stream:
// user time of whole processes, nothing written (`qzarc t`; the peers to
// /dev/null), and the instructions under callgrind against libdeflate's.
std::string SerialPart(const Stream &serial, const Programs &p, const BigEntryOptions &o, const std::string &archive,
                       const std::string &raw) {
    std::ostringstream s;
    s << "The binary corpus's zlib stream decoded and checked, nothing kept: `qzarc t -T 1` on its archive, the peers "
         "writing to /dev/null (libdeflate still decodes into one buffer of the whole entry). User time of the whole "
         "process, start-up included; medians of the same rounds:\n\n";
    s << "| command | user s | sys s | wall s | user ratio |\n| --- | ---: | ---: | ---: | ---: |\n";
    const BigRow *base = serial.Find(Kind::kLibdeflate);
    for (const BigRow &r : serial.rows) {
        std::string ratio;
        if (base != nullptr && base->user() > 0)
            ratio = Fixed(r.user() / base->user(), 2) + (&r == base ? " (base)" : "");
        s << "| " << Bold(r.label) << " | " << Fixed(r.user(), 3) << " | " << Fixed(r.sys(), 3) << " | "
          << Fixed(r.wall(), 3) << " | " << ratio << " |\n";
    }
    s << "\n";
    if (!o.callgrind)
        return s.str() + "Instruction counts left out (--no-callgrind).\n";
    if (p.libdeflate.empty())
        return s.str() + "Instruction counts skipped: libdeflate_ref was not built (libdeflate-dev missing).\n";
    if (RunPlain({"sh", "-c", "command -v valgrind"}, "", "") != 0)
        return s.str() + "Instruction counts skipped: valgrind is not installed.\n";
    std::cout << "qzbench: one large entry, callgrind" << Elapsed() << "\n" << std::flush;
    const uint64_t ours =
        CallgrindInstructions({p.qzarc, "t", archive, "-T", "1"}, o.work + "/logs/callgrind-qzarc-t");
    const uint64_t theirs = CallgrindInstructions({p.libdeflate, raw, std::to_string(serial.size), "/dev/null"},
                                                  o.work + "/logs/callgrind-libdeflate");
    if (ours == 0 || theirs == 0)
        return s.str() + "Instruction counts failed (see " + o.work + "/logs/callgrind-*.err).\n";
    s << "Instructions (callgrind Ir) of the same whole processes, the entire 64 MiB entry, one run each (each "
         "decoder runs the code it picks for the processor valgrind presents):\n\n";
    s << "| command | instructions | ratio |\n| --- | ---: | ---: |\n";
    s << "| **qzarc t -T 1** | " << GroupDigits(ours) << " | " << Fixed(double(ours) / double(theirs), 2) << " |\n";
    s << "| " << kLibdeflateLabel << ", to /dev/null | " << GroupDigits(theirs) << " | 1.00 (base) |\n";
    return s.str();
}

}  // namespace

std::string BigEntrySection(const BigEntryOptions &o) {
    gStart = std::chrono::steady_clock::now();
    // The load averages over 1, 5 and 15 minutes: how busy the machine was.
    std::istringstream loads(TextOf("/proc/loadavg"));
    std::string one, five, fifteen;
    loads >> one >> five >> fifteen;
    const std::string loadAverage = one + ", " + five + ", " + fifteen;
    Programs p;
    p.qzarc = o.qzarc;
    if (Exists(o.linuxDir + "/libdeflate_ref"))
        p.libdeflate = o.linuxDir + "/libdeflate_ref";
    if (Exists(o.linuxDir + "/isal_ref"))
        p.isal = o.linuxDir + "/isal_ref";
    p.sevenZip = RunPlain({"sh", "-c", "command -v 7zz"}, "", "") == 0;
    const std::string dir = o.work + "/out-big";

    std::vector<Stream> streams;
    std::vector<std::string> corpora;
    Stream serial;
    std::string serialArchive, serialRaw;
    // bench_stretch's entries: name, raw stream, archive.
    std::vector<std::string> stretchArgs;
    for (const char *name : {"text", "binary"}) {
        const CorpusFiles c = PrepareCorpus(name, o.work, o.corpusBytes);
        const uint32_t crc = qzw::Crc32(ReadAll(c.plain));
        const WriterStream w = PrepareWriterStream(c, crc, o);
        const uint64_t zlibBytes = fs::file_size(c.raw);
        const uint64_t sevenBytes = ReadFirstRecord(ReadAll(c.deflate64)).data.size();
        corpora.push_back(std::string(name) + ": " + MiB(c.bytes) + "; zlib's stream " + MiB(zlibBytes) +
                          ", 7-Zip's Deflate64 " + MiB(sevenBytes) + ", `qzarc a`'s " + MiB(w.streamBytes));
        streams.push_back({name, kStreamZlib, c.bytes, crc, ExtractRows(p, name, c.bytes, c.deflate, c.raw, "", dir)});
        streams.push_back({name, kStreamSeven, c.bytes, crc, ExtractRows(p, name, c.bytes, c.deflate64, "", c.zip64, dir)});
        streams.push_back({name, kStreamPieces, c.bytes, crc, ExtractRows(p, name, c.bytes, w.archive, w.raw, "", dir)});
        const std::string sevenRaw = o.work + "/archives/" + name + "-m9.deflate64";
        WriteAll(sevenRaw, ReadFirstRecord(ReadAll(c.deflate64)).data);
        for (const std::vector<std::string> &entry :
             std::vector<std::vector<std::string>>{{std::string(name) + ", zlib -6", c.raw, c.deflate},
                                                   {std::string(name) + ", Deflate64", sevenRaw, c.deflate64},
                                                   {std::string(name) + ", `qzarc a`", w.raw, w.archive}})
            stretchArgs.insert(stretchArgs.end(), entry.begin(), entry.end());
        if (std::string(name) == "binary") {
            serial = {name, kStreamZlib, c.bytes, crc, {}};
            serial.rows.push_back(Row("qzarc t -T 1", Kind::kSerial, {p.qzarc, "t", c.deflate, "-T", "1"}, ""));
            if (!p.libdeflate.empty())
                serial.rows.push_back(Row(kLibdeflateLabel, Kind::kLibdeflate,
                                          {p.libdeflate, c.raw, std::to_string(c.bytes), "/dev/null"}, ""));
            if (!p.isal.empty())
                serial.rows.push_back(
                    Row(kIsalLabel, Kind::kIsal, {p.isal, c.raw, std::to_string(c.bytes), "/dev/null"}, ""));
            serialArchive = c.deflate;
            serialRaw = c.raw;
        }
        if (c.bytes < kLeastEntry)
            corpora.back() += " (**below 64 MiB**: the corpora were built with a smaller --mib)";
    }

    std::vector<Stream> all = streams;
    all.push_back(serial);
    RunRounds(all, o.repeats, dir, o.work);
    streams.assign(all.begin(), all.end() - 1);
    serial = all.back();
    const std::string serialPart = SerialPart(serial, p, o, serialArchive, serialRaw);
    const std::vector<std::string> targets = Targets(streams);

    const std::string libdeflateVersion = PackageVersion("libdeflate-dev", o.work);
    const std::string isalVersion = PackageVersion("libisal-dev", o.work);
    const std::string sevenVersion = PackageVersion("7zip", o.work);
    auto version = [](const std::string &v) { return v.empty() ? std::string() : " " + v; };

    std::ostringstream s;
    const std::time_t now = std::time(nullptr);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    s << kBigEntryHeading << ": one 64 MiB entry on several threads\n\n";
    s << "Made by `make bench`, or on its own by `qzbench --only bigentry` (bench/big_entry.cpp). Whole processes, "
         "each command run "
      << o.repeats
      << " times, every command of the section taking its turn in each round; medians shown. Wall time is what "
         "counts: `qzarc x` with its default threads shares the one entry among them (qz_archive_set_threads), so "
         "user+sys says how much work was done, not how long one waited for it. CPU/wall = (user+sys)/wall, above 1 "
         "where threads overlap. Wall ratios against `qzarc x -T 1`, each stream's base.\n\n";
    s << "- date: " << date << ", " << Processors() << " CPUs (`qzarc`'s default: -T " << Processors()
      << "); load averages (1, 5, 15 min) at the start: " << loadAverage << "; the section took " << Seconds() << " s\n";
    s << "- entries: the text and binary corpora of the first section, each as one entry:\n";
    for (const std::string &line : corpora)
        s << "  - " << line << "\n";
    s << "- streams: *" << kStreamZlib
      << "*: zlib level 6 through the project's writer, one deflate call over the whole entry, no flush points (the "
         "first section's method-8 archives and raw streams); *"
      << kStreamSeven << "*: `7zz a -tzip -mm=Deflate64 -mx=5`, the stream taken out of the zip (method 9); *"
      << kStreamPieces
      << "*: `qzarc a` of the build tree at its default level 6, which deflates in 1 MiB pieces each ending in a "
         "sync-flush point (cli/commands/piece_deflate.h); remade every run, its stream taken out of the archive for "
         "the peers\n";
    s << "- peers, single-threaded, each checking the CRC-32 as `qzarc` does and writing the entry to a file: "
      << kLibdeflateLabel << ": libdeflate" << version(libdeflateVersion)
      << ", bench/libdeflate_ref.c (the raw stream read whole, libdeflate_deflate_decompress into a buffer of the "
         "entry's size, libdeflate_crc32, the buffer written); "
      << kIsalLabel << ": ISA-L" << version(isalVersion)
      << ", bench/isal_ref.c (isal_inflate over 256 KiB pieces in and out, its CRC-32 on, every piece written: "
         "ISA-L's fastest way here); neither decodes Deflate64, whose streams have 7zz x (7-Zip"
      << version(sevenVersion) << ") instead\n";
    if (p.libdeflate.empty() || p.isal.empty())
        s << "- left out: " << (p.libdeflate.empty() ? "libdeflate_ref (libdeflate-dev missing) " : "")
          << (p.isal.empty() ? "isal_ref (libisal-dev missing)" : "") << "\n";
    s << "- every output goes to " << dir.substr(dir.rfind("/build/") + 1)
      << ", emptied before every run; in the first round each is checked against the entry's size and CRC-32\n\n";

    s << "### Extracting one entry\n\n" << ExtractTable(streams) << "\n";
    s << "Wall-time ratios of `qzarc x` with its default threads (the peers are libdeflate and ISA-L; for "
         "Deflate64, 7zz):\n\n"
      << RatioTable(streams) << "\n";
    s << "### The serial decoder against libdeflate\n\n" << serialPart << "\n";
    if (Exists(o.linuxDir + "/bench_stretch")) {
        const std::string costs = o.work + "/logs/stretch-costs.md";
        std::vector<std::string> argv = {o.linuxDir + "/bench_stretch"};
        argv.insert(argv.end(), stretchArgs.begin(), stretchArgs.end());
        s << "### Beyond two cores: a model from the costs per stretch\n\n"
             "bench_stretch (bench/stretch_costs.cpp, whose opening comment gives the model) decodes every stretch "
             "of each entry on its own, as a helper thread does, for several stretch sizes, and measures what each "
             "thread spends on it.\n\n";
        if (RunPlain(argv, costs, o.work + "/logs/stretch-costs.err") == 0)
            s << TextOf(costs) << "\n";
        else
            s << "bench_stretch failed: see " << costs << ".\n\n";
    }
    s << "### Targets (one large entry)\n\n";
    s << "Wall-time ratios, set for a machine of 2 cores (this one has " << Processors() << "):\n\n";
    for (const std::string &line : targets)
        s << "- " << line << "\n";
    return s.str();
}

}  // namespace qzb
