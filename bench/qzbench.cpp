// qzbench: the extraction benchmark behind `make bench`.
//
//   qzbench [--source DIR] [--linux DIR] [--win32 DIR] [--repeats N] [--mib N]
//           [--only NAME,...] [--no-large] [--no-wine] [--no-callgrind]
//           [--tree-repeats N] [--no-strace] [--results FILE]
//
// For each corpus (corpus.h) it runs `qzarc x` on the stored, Deflate and
// Deflate64 archives, and bench_read, which extracts the same archives
// through the handle API (qz_archive_read into a 64 KiB buffer), next to the
// peers that decode the same data: the zlib reference (bench/zlib_ref.cpp),
// libdeflate-gunzip, 7zz, unzip and cp. The
// commands of a group alternate, each run at least --repeats times in the
// one session, so that a slow spell of the machine hits all of them alike.
// Every process is measured whole (user+sys, wall, peak RSS) and the table
// of medians, with ratios to zlib (method 8), 7-Zip (method 9), cp (method
// 0) and unzip (the small files), goes to stdout and to bench/results.md,
// with the handle API's time against the legacy calls' for each archive.
//
// Then: peak RSS of `qzarc x` on 2 GiB entries, the Windows build under wine
// against the Linux build on the same archive, and the instruction count of
// extracting the binary corpus (method 8) under callgrind, which unlike
// times is stable on a busy machine.
//
// Then the one-large-entry section (big_entry.h): one 64 MiB entry decoded
// by `qzarc x` on its default threads against `-T 1`, libdeflate and ISA-L,
// wall time first, and the serial decoder against libdeflate. Then the
// many-file section (tree_bench.h): a real tree of this machine's files
// extracted, tested and overwritten by `qzarc`, unzip and 7zz, wall time
// first, and `qzarc x -c` streaming a 2 GiB entry. Last, the Python
// section (python_section.h): the binary corpus's entry read through the
// Python package against the C handle API and Python's zipfile.
// `--only bigentry`, `--only tree` or `--only python` runs that section
// alone; results.md then keeps the other sections as they were, as a run
// without a section keeps that section's.
//
// `qzarc x` is the command-line tool of the build tree; in a tree built
// without it, bench_host (same directory) stands in.
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench_files.h"
#include "big_entry.h"
#include "corpus.h"
#include "measure.h"
#include "python_section.h"
#include "tree_bench.h"

namespace fs = std::filesystem;
using namespace qzb;

namespace {

struct Options {
    std::string source = ".";
    std::string work;
    std::string linuxDir;
    std::string win32Dir;
    std::string results;
    int repeats = 5;
    uint64_t mib = 64;
    std::vector<std::string> only;
    bool large = true;
    bool wine = true;
    bool callgrind = true;
    int treeRepeats = 5;
    bool strace = true;
};

[[noreturn]] void Usage() {
    std::fprintf(stderr,
                 "usage: qzbench [--source DIR] [--linux DIR] [--win32 DIR] [--repeats N] [--mib N]\n"
                 "               [--only NAME,...] [--no-large] [--no-wine] [--no-callgrind]\n"
                 "               [--tree-repeats N] [--no-strace] [--results FILE]\n"
                 "corpora: text binary mixed random small; bigentry: one large entry on several\n"
                 "threads; tree: the many-file section; python: the Python package's section\n");
    std::exit(2);
}

Options ParseOptions(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Usage();
            return argv[++i];
        };
        if (a == "--source")
            o.source = value();
        else if (a == "--repeats")
            o.repeats = std::max(1, std::atoi(value().c_str()));
        else if (a == "--mib")
            o.mib = std::max(1, std::atoi(value().c_str()));
        else if (a == "--only") {
            std::stringstream list(value());
            for (std::string name; std::getline(list, name, ',');)
                o.only.push_back(name);
        } else if (a == "--no-large")
            o.large = false;
        else if (a == "--no-wine")
            o.wine = false;
        else if (a == "--no-callgrind")
            o.callgrind = false;
        else if (a == "--tree-repeats")
            o.treeRepeats = std::max(1, std::atoi(value().c_str()));
        else if (a == "--no-strace")
            o.strace = false;
        else if (a == "--results")
            o.results = value();
        else if (a == "--linux")
            o.linuxDir = fs::absolute(value()).string();
        else if (a == "--win32")
            o.win32Dir = fs::absolute(value()).string();
        else
            Usage();
    }
    o.source = fs::absolute(o.source).lexically_normal().string();
    o.work = o.source + "/build/bench";
    if (o.linuxDir.empty())
        o.linuxDir = o.source + "/build/linux";
    if (o.win32Dir.empty())
        o.win32Dir = o.source + "/build/win32";
    if (o.results.empty())
        o.results = o.source + "/bench/results.md";
    return o;
}

bool OnPath(const std::string &program) {
    return RunPlain({"sh", "-c", "command -v " + program}, "", "") == 0;
}

std::string FirstLine(const std::vector<std::string> &argv) {
    const std::string tmp = "/tmp/qzbench-line-" + std::to_string(::getpid());
    RunPlain(argv, tmp, tmp + ".err");
    std::ifstream in(tmp);
    std::string line;
    std::getline(in, line);
    std::error_code ec;
    fs::remove(tmp, ec);
    fs::remove(tmp + ".err", ec);
    return line;
}

// The extracting host: `qzarc x` when the build tree has the command-line
// tool, else the stand-in. Either way the arguments put one archive's entries in dir.
// The corpora's host runs on one thread: these sections hold the decoder's
// own cost (CPU time against the peers', instructions, memory, the DLL
// against the Linux build) to their targets; the one-large-entry section
// measures `qzarc x` on every core against its wall time.
struct Host {
    std::string program;
    bool cli = false;
    std::vector<std::string> Args(const std::string &archive, const std::string &dir) const {
        if (cli)
            return {program, "x", archive, "-o", dir, "-y", "-T", "1"};
        return {program, archive, dir};
    }
    std::string Name() const { return cli ? "qzarc x -T 1" : "bench_host"; }
};

Host FindHost(const std::string &dir, const std::string &suffix) {
    Host h;
    if (Exists(dir + "/qzarc" + suffix)) {
        h.program = dir + "/qzarc" + suffix;
        h.cli = true;
    } else {
        h.program = dir + "/bench_host" + suffix;
    }
    return h;
}

// The handle API's host, when the tree has it.
std::string HandleHost(const Options &o) {
    const std::string program = o.linuxDir + "/bench_read";
    return Exists(program) ? program : "";
}

constexpr const char *kHandleLabel = "bench_read (qz_archive_read, 64 KiB)";

// ---- one measured group ------------------------------------------------------

struct Row {
    std::string corpus;
    std::string method;
    std::string label;
    bool baseline = false;
    bool ours = false;
    std::vector<Sample> samples;
    double cpu() const {
        std::vector<double> v;
        for (const Sample &s : samples)
            v.push_back(s.cpu);
        return Median(v);
    }
    double wall() const {
        std::vector<double> v;
        for (const Sample &s : samples)
            v.push_back(s.wall);
        return Median(v);
    }
    double rss() const {
        std::vector<double> v;
        for (const Sample &s : samples)
            v.push_back(s.rssMiB);
        return Median(v);
    }
};

struct Group {
    std::string corpus;
    std::string method;
    std::vector<Command> commands;
    std::vector<bool> baseline;
    std::vector<bool> ours;
    void Add(const Command &c, bool isBaseline, bool isOurs) {
        commands.push_back(c);
        baseline.push_back(isBaseline);
        ours.push_back(isOurs);
    }
};

void ResetDir(const std::string &dir) {
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
}

// True when dir holds exactly the corpus's data (a file named after a
// single-file corpus, or the tree of the small one).
bool OutputMatches(const CorpusFiles &c, const std::string &dir) {
    if (!c.tree)
        return ReadAll(dir + "/" + c.name) == ReadAll(c.plain);
    uint32_t files = 0;
    for (const auto &entry : fs::recursive_directory_iterator(c.plain)) {
        if (!entry.is_regular_file())
            continue;
        ++files;
        const std::string relative = fs::relative(entry.path(), c.plain).string();
        const std::string copy = dir + "/" + relative;
        if (!Exists(copy) || ReadAll(copy) != ReadAll(entry.path().string()))
            return false;
    }
    uint32_t found = 0;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        found += entry.is_regular_file() ? 1 : 0;
    return found == files;
}

// Commands this short are at the mercy of a single slow spell of the machine
// (a 64 MiB copy takes about 25 ms, a decoder's run 0.1 to 0.3 s and
// unzip's, the slowest peer of the 64 MiB corpora, about 0.5 s): their
// groups run kShortRepeatFactor times as many rounds, so that the medians,
// and the ratios between them, hold still.
constexpr double kShortRun = 0.75;
constexpr int kShortRepeatFactor = 3;

std::vector<Row> RunGroup(const Group &g, const CorpusFiles &c, const Options &o, const std::string &out) {
    std::vector<Row> rows;
    for (size_t i = 0; i < g.commands.size(); ++i)
        rows.push_back({g.corpus, g.method, g.commands[i].label, g.baseline[i], g.ours[i], {}});
    const std::string errors = o.work + "/logs/last.err";
    int rounds = o.repeats;
    for (int r = 0; r < rounds; ++r) {
        for (size_t i = 0; i < g.commands.size(); ++i) {
            ResetDir(out);
            rows[i].samples.push_back(RunMeasured(g.commands[i], errors));
            if (r == 0 && !OutputMatches(c, out)) {
                std::cerr << "qzbench: " << g.commands[i].label << " did not reproduce the " << c.name
                          << " corpus\n";
                std::exit(2);
            }
        }
        if (r == 0) {
            bool allShort = true;
            for (const Row &row : rows)
                allShort = allShort && row.samples.front().cpu < kShortRun;
            if (allShort)
                rounds = o.repeats * kShortRepeatFactor;
        }
    }
    ResetDir(out);
    return rows;
}

// ---- report ------------------------------------------------------------------

std::string Fixed(double v, int digits) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(digits) << v;
    return s.str();
}

struct Report {
    std::vector<Row> rows;
    std::vector<std::string> notes;   // extra measurements, as table lines or text
    std::vector<std::string> targets; // target lines

    const Row *Find(const std::string &corpus, const std::string &method, bool baseline) const {
        for (const Row &r : rows)
            if (r.corpus == corpus && r.method == method && (baseline ? r.baseline : r.ours))
                return &r;
        return nullptr;
    }
};

std::string Table(const Report &report) {
    std::ostringstream t;
    t << "| corpus | method | command | user+sys s | wall s | peak RSS MiB | ratio (user+sys) |\n";
    t << "| --- | --- | --- | ---: | ---: | ---: | ---: |\n";
    for (const Row &r : report.rows) {
        const Row *base = report.Find(r.corpus, r.method, true);
        std::string ratio = "";
        if (base != nullptr && base->cpu() > 0)
            ratio = Fixed(r.cpu() / base->cpu(), 2) + (r.baseline ? " (base)" : "");
        t << "| " << r.corpus << " | " << r.method << " | " << (r.ours ? "**" + r.label + "**" : r.label) << " | "
          << Fixed(r.cpu(), 3) << " | " << Fixed(r.wall(), 3) << " | " << Fixed(r.rss(), 1) << " | " << ratio
          << " |\n";
    }
    return t.str();
}

std::string Machine(const Options &o) {
    std::ostringstream m;
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, model;
    int cpus = 0;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0 && model.empty())
            model = line.substr(line.find(':') + 2);
        if (line.rfind("processor", 0) == 0)
            ++cpus;
    }
    struct utsname u {};
    ::uname(&u);
    const std::time_t now = std::time(nullptr);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    m << "- date: " << date << "\n";
    m << "- machine: " << model << ", " << cpus << " CPUs, " << u.sysname << " " << u.release << " " << u.machine
      << "\n";
    m << "- compiler: " << FirstLine({"c++", "--version"}) << " (shipped flags: -O2)\n";
    if (OnPath("i686-w64-mingw32-g++-posix"))
        m << "- cross compiler: " << FirstLine({"i686-w64-mingw32-g++-posix", "--version"}) << "\n";
    m << "- repeats: " << o.repeats << " per command (" << o.repeats * kShortRepeatFactor
      << " in groups whose commands all take under " << kShortRun << " s), alternating; medians shown\n";
    return m.str();
}

// ---- the measurements ----------------------------------------------------------

void MeasureCorpus(const CorpusFiles &c, const Options &o, const Host &host, Report &report) {
    const std::string out = o.work + "/out";
    const std::string target = out + "/" + c.name;
    const bool haveUnzip = OnPath("unzip");
    const bool have7zz = OnPath("7zz");
    const bool haveLibdeflate = OnPath("libdeflate-gunzip");

    const std::string handleHost = HandleHost(o);
    Group m8{c.tree ? "small" : c.name, "8 Deflate", {}, {}, {}};
    m8.Add({host.Name(), host.Args(c.deflate, out), "", ""}, false, true);
    if (!handleHost.empty())
        m8.Add({kHandleLabel, {handleHost, c.deflate, out}, "", ""}, false, false);
    if (!c.tree)
        m8.Add({"zlib inflate+crc32", {o.linuxDir + "/zlib_ref", c.raw, target}, "", ""}, true, false);
    if (!c.tree && haveLibdeflate)
        m8.Add({"libdeflate-gunzip", {"libdeflate-gunzip", "-c", c.gzip}, target, ""}, false, false);
    if (haveUnzip)
        m8.Add({"unzip", {"unzip", "-o", "-qq", c.zip, "-d", out}, "", ""}, c.tree, false);
    if (have7zz)
        m8.Add({"7zz x (Deflate)", {"7zz", "x", "-y", "-o" + out, c.zip}, "", ""}, false, false);

    // 7-Zip stores what it cannot compress; say so where it did.
    size_t sevenStored = 0;
    for (const ZipMember &m : ReadZip(ReadAll(c.zip64)))
        if (m.method == 0 && !m.name.empty() && m.name.back() != '/')
            ++sevenStored;
    std::string sevenLabel = "7zz x (Deflate64)";
    if (sevenStored == c.files)
        sevenLabel = "7zz x (7-Zip stored it)";
    else if (sevenStored != 0)
        sevenLabel = "7zz x (Deflate64; 7-Zip stored " + std::to_string(sevenStored) + " files)";

    Group m9{m8.corpus, "9 Deflate64", {}, {}, {}};
    m9.Add({host.Name(), host.Args(c.deflate64, out), "", ""}, false, true);
    if (!handleHost.empty())
        m9.Add({kHandleLabel, {handleHost, c.deflate64, out}, "", ""}, false, false);
    if (have7zz)
        m9.Add({sevenLabel, {"7zz", "x", "-y", "-o" + out, c.zip64}, "", ""}, true, false);

    Group m0{m8.corpus, "0 stored", {}, {}, {}};
    m0.Add({host.Name(), host.Args(c.stored, out), "", ""}, false, true);
    if (!handleHost.empty())
        m0.Add({kHandleLabel, {handleHost, c.stored, out}, "", ""}, false, false);
    if (c.tree)
        m0.Add({"cp -r", {"sh", "-c", "cp -r \"$0\"/. \"$1\"", c.plain, out}, "", ""}, true, false);
    else
        m0.Add({"cp", {"cp", c.plain, target}, "", ""}, true, false);

    for (const Group *g : {&m8, &m9, &m0}) {
        std::cout << "qzbench: " << g->corpus << ", method " << g->method << "\n" << std::flush;
        const std::vector<Row> rows = RunGroup(*g, c, o, out);
        report.rows.insert(report.rows.end(), rows.begin(), rows.end());
    }
}

void MeasureLarge(const Options &o, const Host &host, Report &report) {
    const uint64_t size = 2ull << 30;
    const std::string text = o.work + "/corpus/text";
    const uint64_t unit = fs::file_size(text);
    if (size % unit != 0) {
        report.notes.push_back("- 2 GiB entries skipped: the text corpus does not divide 2 GiB (use --mib 64)");
        return;
    }
    const std::string out = o.work + "/out";
    std::ostringstream lines;
    lines << "Peak RSS of whole `" << host.Name() << "` processes extracting one 2 GiB entry:\n\n";
    lines << "| entry | user+sys s | wall s | peak RSS MiB |\n| --- | ---: | ---: | ---: |\n";
    double worst = 0;
    for (bool deflate : {false, true}) {
        const std::string archive = PrepareLargeArchive(o.work, text, size, deflate);
        ResetDir(out);
        const Sample s = RunMeasured({"large", host.Args(archive, out), "", ""}, o.work + "/logs/last.err");
        const uint64_t got = fs::file_size(out + "/large");
        ResetDir(out);
        if (got != size) {
            std::cerr << "qzbench: the 2 GiB entry came out as " << got << " bytes\n";
            std::exit(2);
        }
        worst = std::max(worst, s.rssMiB);
        lines << "| 2 GiB, method " << (deflate ? "8" : "0") << " | " << Fixed(s.cpu, 2) << " | " << Fixed(s.wall, 2)
              << " | " << Fixed(s.rssMiB, 1) << " |\n";
    }
    report.notes.push_back(lines.str());
    report.targets.push_back(std::string(worst <= 4.0 ? "met" : "MISSED") + ": peak RSS <= 4 MiB with a 2 GiB entry (" +
                             Fixed(worst, 1) + " MiB)");
}

void MeasureWine(const Options &o, const Host &linuxHost, Report &report) {
    const Host winHost = FindHost(o.win32Dir, ".exe");
    if (!OnPath("wine") || !Exists(winHost.program) || !Exists(o.win32Dir + "/QZARC.dll")) {
        report.notes.push_back("- wine comparison skipped: wine or the Windows build is missing");
        return;
    }
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    const std::string archive = o.work + "/archives/binary-m8.qza";
    const std::string tiny = o.work + "/archives/tiny-m0.qza";
    if (!Exists(tiny)) {
        qzw::Archive a;
        a.records.push_back(qzw::StoredRecord("tiny", Bytes{'t', 'i', 'n', 'y', '\n'}));
        WriteAll(tiny, a.Serialize());
    }
    const std::string out = o.work + "/out";
    // The first wine start of a session sets up wineserver; keep it out.
    RunPlain({"wine", winHost.program, "--version"}, "", "");
    RunPlain({"wineserver", "-p", "120"}, "", "");

    Group g{"binary", "8 Deflate", {}, {}, {}};
    g.Add({"Linux " + linuxHost.Name(), linuxHost.Args(archive, out), "", ""}, true, false);
    g.Add({"wine " + winHost.Name() + ".exe", {"wine", winHost.program}, "", ""}, false, true);
    g.commands[1].argv = winHost.Args(archive, out);
    g.commands[1].argv.insert(g.commands[1].argv.begin(), "wine");
    g.Add({"wine start-up (5-byte entry)", {}, "", ""}, false, false);
    g.commands[2].argv = winHost.Args(tiny, out);
    g.commands[2].argv.insert(g.commands[2].argv.begin(), "wine");

    std::cout << "qzbench: the Windows build under wine\n" << std::flush;
    const std::string errors = o.work + "/logs/last.err";
    std::vector<std::vector<Sample>> samples(3);
    for (int r = 0; r < o.repeats; ++r)
        for (size_t i = 0; i < 3; ++i) {
            ResetDir(out);
            samples[i].push_back(RunMeasured(g.commands[i], errors));
        }
    ResetDir(out);
    auto med = [&](size_t i, bool wall) {
        std::vector<double> v;
        for (const Sample &s : samples[i])
            v.push_back(wall ? s.wall : s.cpu);
        return Median(v);
    };
    std::ostringstream lines;
    lines << "The i686 DLL under wine against the Linux build, binary corpus, method 8:\n\n";
    lines << "| command | user+sys s | wall s |\n| --- | ---: | ---: |\n";
    for (size_t i = 0; i < 3; ++i)
        lines << "| " << g.commands[i].label << " | " << Fixed(med(i, false), 3) << " | " << Fixed(med(i, true), 3)
              << " |\n";
    const double whole = med(1, true) / med(0, true);
    const double net = (med(1, true) - med(2, true)) / med(0, true);
    lines << "\nWall-time ratio wine/Linux: " << Fixed(whole, 2) << " whole process, " << Fixed(net, 2)
          << " without wine's start-up.\n";
    report.notes.push_back(lines.str());
    report.targets.push_back(std::string(net <= 1.45 ? "met" : "MISSED") +
                             ": the 32-bit DLL under wine within 1.45x of Linux (" + Fixed(net, 2) +
                             "x net of wine's start-up, " + Fixed(whole, 2) + "x whole process)");
}

void MeasureCallgrind(const Options &o, const Host &host, Report &report) {
    if (!OnPath("valgrind")) {
        report.notes.push_back("- callgrind count skipped: valgrind is not installed");
        return;
    }
    std::cout << "qzbench: callgrind\n" << std::flush;
    const std::string out = o.work + "/out";
    ResetDir(out);
    const std::string log = o.work + "/logs/callgrind";
    const uint64_t count = CallgrindInstructions(host.Args(o.work + "/archives/binary-m8.qza", out), log);
    ResetDir(out);
    if (count == 0) {
        report.notes.push_back("- callgrind gave no count (see " + log + ".err)");
        return;
    }
    report.notes.push_back("Instructions (callgrind Ir) of the whole `" + host.Name() +
                           "` process extracting the binary corpus, method 8: **" + GroupDigits(count) + "**\n");
    const double giga = double(count) / 1e9;
    report.targets.push_back(std::string(giga <= 0.85 ? "met" : "MISSED") +
                             ": callgrind instructions, binary corpus, method 8: " + Fixed(giga, 3) +
                             " G (target <= 0.85 G)");
}

// The handle API's user+sys time over the legacy calls' (our host's row),
// archive by archive.
void HandleNote(Report &report, const std::string &hostName) {
    std::ostringstream lines;
    lines << "The handle API (`" << kHandleLabel << "`) against the legacy calls (`" << hostName
          << "`), user+sys time:\n\n| corpus | method | handle API s | legacy s | ratio |\n| --- | --- | ---: | ---: | ---: |\n";
    bool any = false;
    for (const Row &r : report.rows) {
        if (r.label != kHandleLabel)
            continue;
        const Row *legacy = report.Find(r.corpus, r.method, false);
        if (legacy == nullptr || legacy->cpu() <= 0)
            continue;
        lines << "| " << r.corpus << " | " << r.method << " | " << Fixed(r.cpu(), 3) << " | " << Fixed(legacy->cpu(), 3)
              << " | " << Fixed(r.cpu() / legacy->cpu(), 2) << " |\n";
        any = true;
    }
    if (any)
        report.notes.insert(report.notes.begin(), lines.str());
}

void Targets(Report &report) {
    auto ratio = [&](const std::string &corpus, const std::string &method) -> double {
        const Row *ours = report.Find(corpus, method, false);
        const Row *base = report.Find(corpus, method, true);
        if (ours == nullptr || base == nullptr || base->cpu() <= 0)
            return -1;
        return ours->cpu() / base->cpu();
    };
    auto add = [&](const std::string &what, double r, double limit) {
        if (r < 0)
            return;
        report.targets.insert(report.targets.begin(),
                              std::string(r <= limit ? "met" : "MISSED") + ": " + what + " " + Fixed(r, 2) +
                                  " (target <= " + Fixed(limit, 2) + ")");
    };
    for (const char *corpus : {"random", "small", "mixed", "binary", "text"})
        add(std::string(corpus) + ", method 0 vs cp:", ratio(corpus, "0 stored"), 1.3);
    add("random, method 9 vs 7-Zip:", ratio("random", "9 Deflate64"), 0.75);
    for (const char *corpus : {"mixed", "binary", "text"})
        add(std::string(corpus) + ", method 9 vs 7-Zip:", ratio(corpus, "9 Deflate64"), 0.45);
    add("small files, method 8 vs unzip:", ratio("small", "8 Deflate"), 1.0);
    add("random, method 8 vs zlib:", ratio("random", "8 Deflate"), 1.0);
    for (const char *corpus : {"mixed", "binary", "text"})
        add(std::string(corpus) + ", method 8 vs zlib:", ratio(corpus, "8 Deflate"), 0.50);
}

// The corpora's section: measured, then written out as Markdown.
std::string CorporaSection(const Options &o, const Host &host, const std::vector<std::string> &names) {
    Report report;
    const uint64_t target = o.mib << 20;
    for (const std::string &name : names) {
        const CorpusFiles c = PrepareCorpus(name, o.work, target);
        MeasureCorpus(c, o, host, report);
    }
    Targets(report);
    HandleNote(report, host.Name());
    if (o.large)
        MeasureLarge(o, host, report);
    if (o.wine)
        MeasureWine(o, host, report);
    if (o.callgrind)
        MeasureCallgrind(o, host, report);

    std::ostringstream doc;
    doc << "# Extraction benchmark\n\n";
    doc << "Made by `make bench` (bench/qzbench.cpp). Whole processes, medians; ratios compare user+sys time "
           "with zlib inflate+crc32+64 KiB writes (method 8), 7-Zip (method 9), cp (method 0) and unzip (the "
           "small files). Our host in bold: `"
        << host.Name()
        << "`: one thread, the decoder's own cost (the one-large-entry section below measures `qzarc x` on "
           "every core, by its wall time).\n\n";
    doc << Machine(o) << "\n";
    doc << "Corpora (built from this machine's files, cached in build/bench):\n\n";
    for (const std::string &name : names) {
        const CorpusFiles c = PrepareCorpus(name, o.work, target);
        doc << "- " << name << ": " << c.files << (c.files == 1 ? " file, " : " files, ") << Fixed(double(c.bytes) / 1048576.0, 1)
            << " MiB; method 8 archive " << Fixed(double(c.deflateBytes) / 1048576.0, 1) << " MiB, method 9 "
            << Fixed(double(c.deflate64Bytes) / 1048576.0, 1) << " MiB\n";
    }
    doc << "\n" << Table(report) << "\n";
    for (const std::string &note : report.notes)
        doc << note << "\n";
    doc << "## Targets\n\n";
    for (const std::string &t : report.targets)
        doc << "- " << t << "\n";
    doc << "\nThe 10 000 small files are held to their own target, against unzip: nearly all of their time "
           "is the file system's, creating the files (the same for every tool), so the table's other "
           "ratios for them are shown but not held to the decoding targets.\n";
    return doc.str();
}

std::string TrimEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// results.md as it stands, in its parts: the corpora's section, the
// one-large-entry one, the many-file one and the Python one, each from its
// heading on (any may be empty; the corpora's has no heading and comes first).
struct Sections {
    std::string corpora, bigEntry, tree, python;
};

Sections ExistingResults(const std::string &path) {
    std::ifstream in(path);
    if (!in)
        return {};
    std::ostringstream whole;
    whole << in.rdbuf();
    const std::string text = whole.str();
    // Where a heading starts (at the top or after a newline), or npos.
    auto find = [&](const char *heading) {
        if (text.rfind(heading, 0) == 0)
            return size_t{0};
        const size_t at = text.find(std::string("\n") + heading);
        return at == std::string::npos ? at : at + 1;
    };
    const size_t bigEntry = find(kBigEntryHeading), tree = find(kTreeHeading), python = find(kPythonHeading);
    // Each part runs to the next heading after it, or to the end.
    auto part = [&](size_t from) {
        if (from == std::string::npos)
            return std::string();
        size_t to = text.size();
        for (size_t other : {bigEntry, tree, python})
            if (other != std::string::npos && other > from)
                to = std::min(to, other);
        return text.substr(from, to - from);
    };
    Sections s;
    s.corpora = text.substr(0, std::min({bigEntry, tree, python, text.size()}));
    s.bigEntry = part(bigEntry);
    s.tree = part(tree);
    s.python = part(python);
    return s;
}

}  // namespace

int main(int argc, char **argv) {
    const Options o = ParseOptions(argc, argv);
    fs::create_directories(o.work + "/logs");
    const Host host = FindHost(o.linuxDir, "");
    SetSpawner(o.linuxDir + "/bench_spawn");
    if (!Exists(host.program) || !Exists(o.linuxDir + "/zlib_ref") || !Exists(o.linuxDir + "/bench_spawn")) {
        std::cerr << "qzbench: build the Linux tree and the bench programs first (make bench)\n";
        return 2;
    }
    std::vector<std::string> names = {"text", "binary", "mixed", "random", "small"};
    bool bigEntry = true, tree = true, python = true;
    if (!o.only.empty()) {
        names.clear();
        bigEntry = tree = python = false;
        for (const std::string &name : o.only) {
            if (name == "bigentry")
                bigEntry = true;
            else if (name == "tree")
                tree = true;
            else if (name == "python")
                python = true;
            else
                names.push_back(name);
        }
    }

    // A section this run leaves out stays as results.md had it.
    Sections existing = ExistingResults(o.results);
    std::string &corpora = existing.corpora, &big = existing.bigEntry, &many = existing.tree,
                &fromPython = existing.python;
    if (!names.empty())
        corpora = CorporaSection(o, host, names);
    if (bigEntry && host.cli) {
        BigEntryOptions b;
        b.work = o.work;
        b.linuxDir = o.linuxDir;
        b.qzarc = host.program;
        b.repeats = o.repeats * kShortRepeatFactor;
        b.corpusBytes = o.mib << 20;
        b.callgrind = o.callgrind;
        big = BigEntrySection(b);
    } else if (bigEntry) {
        big = std::string(kBigEntryHeading) + ": one 64 MiB entry on several threads\n\nSkipped: " + o.linuxDir +
              " has no qzarc to run.\n";
    }
    if (tree && host.cli) {
        TreeBenchOptions t;
        t.source = o.source;
        t.work = o.work;
        t.qzarc = host.program;
        t.repeats = o.treeRepeats;
        t.large = o.large;
        t.strace = o.strace;
        t.textBytes = o.mib << 20;
        many = TreeSection(t);
    } else if (tree) {
        many = std::string(kTreeHeading) + ": a tree of this machine's files\n\nSkipped: " + o.linuxDir +
               " has no qzarc to run.\n";
    }

    if (python) {
        const CorpusFiles binary = PrepareCorpus("binary", o.work, o.mib << 20);
        PythonSectionOptions p;
        p.source = o.source;
        p.linuxDir = o.linuxDir;
        p.archive = binary.deflate;
        p.zip = binary.zip;
        p.repeats = std::max(7, o.repeats);
        fromPython = PythonSection(p);
    }

    std::string doc = TrimEnd(corpora);
    for (const std::string *section : {&big, &many, &fromPython})
        if (!section->empty())
            doc += (doc.empty() ? "" : "\n\n") + TrimEnd(*section);
    doc += "\n";
    std::cout << "\n" << doc;
    std::ofstream results(o.results);
    results << doc;
    std::cout << "qzbench: wrote " << o.results << "\n";
    return 0;
}
