#include "extraction.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

#include "archive_input.h"
#include "catalogue.h"
#include "commands.h"
#include "console.h"
#include "destination.h"
#include "files.h"
#include "glob.h"
#include "interrupt.h"
#include "library.h"
#include "names.h"
#include "ordered_output.h"
#include "progress.h"
#include "processors.h"
#include "prompts.h"
#include "recovery.h"
#include "results.h"
#include "terminal.h"
#include "volumes.h"

namespace qzcli {
namespace {

// Reads of an entry that is only checked, or streamed to standard output:
// large enough that the calls cost nothing next to the decoding, small
// enough to stay in the caches.
constexpr size_t kReadPiece = 256 * 1024;
// Entries the walk finds before a worker waiting for one is woken.
constexpr size_t kWakeBatch = 32;
// A worker that extracts takes its entries in runs of neighbours in the
// archive: files that lie side by side in the archive mostly lie in one
// directory, and two threads that create files in one directory at the
// same time wait on each other in the kernel (which serializes changes to
// a directory); runs keep the threads in different directories. A run
// holds at most this many entries and bytes, and at most its share of
// what is left once all entries are known, so that the threads finish
// together; what the other workers print meanwhile is held, at most a
// run's worth each.
constexpr size_t kRunEntries = 256;
constexpr uint64_t kRunBytes = uint64_t(8) << 20;
// Not a library result: standard output took no more of an entry's data.
constexpr int kStreamFailed = -1000;

// The shared answer to "what if the file exists?": set by -y / -n, or by
// the user's "all" / "none".
class Policy {
public:
    explicit Policy(ExistingFiles existing) : existing_(existing) {}
    ExistingFiles Get() const { return existing_.load(); }
    void Set(ExistingFiles existing) { existing_ = existing; }

private:
    std::atomic<ExistingFiles> existing_;
};

// What one worker thread works with: its own handle on the archive, its
// own volume requests, and the entry it is on (for messages that come from
// inside the library's calls).
struct Worker {
    Worker(const Library &library, const Catalogue &catalogue, VolumeRequests &requests,
           ProgressLine &progressLine)
        : progress(progressLine),
          asker(requests),
          reader(library, catalogue, &asker, progress.enabled() ? &OnProgress : nullptr, this),
          random(std::random_device{}()) {}

    static void OnProgress(void *user, uint64_t done, uint64_t /*total*/) {
        Worker *worker = static_cast<Worker *>(user);
        worker->progress.EntryBytes(worker->n + 1, done);
    }

    ProgressLine &progress;
    VolumeAsker asker;
    EntryReader reader;
    std::mt19937 random;
    size_t n = 0;  // the entry's place among the selected ones
    size_t index = 0;                        // its place in the catalogue
    const CatalogueEntry *entry = nullptr;   // the catalogue's
    bool last = false;                       // no entry is left for the other workers
    size_t runNext = 0;                      // the worker's run: selected entries [runNext, runEnd)
    size_t runEnd = 0;
    std::vector<unsigned char> buffer;
    std::string streamError;  // why standard output took no more
};

class Extractor {
public:
    // `catalogueAsker` is the one the catalogue is (or was) read with.
    Extractor(const ExtractionJob &job, const Library &library, const Catalogue &catalogue,
              VolumeRequests &requests, const VolumeAsker &catalogueAsker, ProgressLine &progress,
              bool interactive)
        : job_(job),
          library_(library),
          catalogue_(catalogue),
          requests_(requests),
          catalogueAsker_(catalogueAsker),
          progress_(progress),
          interactive_(interactive),
          policy_(job.existing),
          password_(job.password) {}

    // Works on the catalogue's entries. With a walk, the catalogue is still
    // to be read: the walk reads it while the workers start on the entries
    // found so far.
    int Run(const std::function<void(const CatalogueWatch &)> &walk = nullptr);

private:
    enum class Action { Extract, Test, Stream };

    void Work();
    void HandleEntry(Worker &worker);
    void ExtractEntry(Worker &worker);
    void CheckEntry(Worker &worker);
    // Hands the worker's entry to the library (after its password, asking
    // for it when needed, and again after a wrong one). False when the
    // entry was not tried (no password); *result is then meaningless.
    bool Unpack(Worker &worker, Action action, const std::string &output, int *result);
    int Perform(Worker &worker, Action action, const std::string &output);
    bool EnsurePassword(Worker &worker, std::string *password, unsigned *generation);
    std::string TempSibling(Worker &worker, const std::string &target);
    // Selects among catalogue entries [considered_, ready); `complete`:
    // they are all the catalogue has.
    void Consider(size_t ready, bool complete);
    // Gives the worker the next entry of its run, or of a new run once the
    // walk has found one; false when the walk ended and no entry is left.
    bool Take(Worker &worker);
    // Entry n (`entry`) waits for the earlier ones that write where it does.
    void OrderEntry(size_t n, const CatalogueEntry &entry);
    void WaitForEarlier(size_t n);
    void MarkFinished(size_t n);

    const CatalogueEntry &EntryOf(const Worker &worker) const { return *worker.entry; }
    int OpenFailure() const {
        Err(Printable(job_.archive) + ": " + DescribeOpenFailure(catalogue_));
        return kExitUsage;
    }
    // The library says only that a write failed; the space left says why.
    std::string WriteFailure(uint64_t needed) const {
        std::error_code error;
        const std::filesystem::space_info space = std::filesystem::space(root_, error);
        if (!error && space.available < needed)
            return "cannot write the file: the disk is full (" + HumanSize(space.available) +
                   " free, " + HumanSize(needed) + " needed)";
        return "cannot write the file (disk full or write error)";
    }
    std::string InterruptReport() const {
        const size_t total = selected_.size();
        const std::string counts = std::to_string(done_.load()) + " of " + std::to_string(total);
        if (job_.testOnly)
            return counts + " entries tested OK before it";
        std::string text = counts + " entries extracted into " + Printable(root_);
        // Entries after the ones reported may be finished already; with
        // one thread, or one entry left, at most one is not.
        if (printed_ < total && !job_.toStdout)
            text += threads_ > 1 && total - printed_ > 1 ? "; the unfinished ones were removed"
                                                         : "; the unfinished one was removed";
        return text;
    }

    // 't' reports every entry on standard output; 'x' reports problems on
    // standard error.
    void Failed(const Worker &worker, const std::string &reason) {
        const std::string &name = EntryOf(worker).shown;
        if (job_.testOnly)
            output_->Out(worker.n, "FAILED  " + Printable(name) + ": " + reason);
        else
            output_->Err(worker.n, Printable(name) + ": " + reason);
        ++failed_;
    }
    std::string Reason(const Worker &worker, int result, const std::string &message) const {
        const CatalogueEntry &entry = EntryOf(worker);
        ResultContext context;
        context.method = entry.details.method;
        context.encrypted = entry.details.encrypted;
        context.missingVolume = worker.asker.missingVolume();
        context.message = message;
        // Data cut short by a missing volume fails the entry's checks; the
        // missing file is the reason worth telling.
        if (!context.missingVolume.empty() && result != QZ_E_PASSWORD &&
            !IsCreateFailure(result, message))
            return DescribeResult(QZ_E_VOLUME, context);
        if (result == QZ_E_IO && message.compare(0, 7, "writing") == 0)
            return WriteFailure(entry.details.uncompressedSize);
        return DescribeResult(result, context);
    }

    const ExtractionJob &job_;
    const Library &library_;
    const Catalogue &catalogue_;
    VolumeRequests &requests_;
    const VolumeAsker &catalogueAsker_;
    ProgressLine &progress_;
    bool interactive_;
    Policy policy_;
    unsigned threads_ = 1;
    unsigned lent_ = 1;  // threads a worker alone may decode its entry on
    std::string root_;
    // Catalogue indexes, in archive order, as the walk finds them. Grows
    // under catalogueMutex_ (which the walk also holds to add entries) until
    // walkDone_; afterwards it stays as it is.
    std::vector<size_t> selected_;
    std::mutex catalogueMutex_;
    std::condition_variable selectedGrew_;
    bool walkDone_ = false;
    size_t considered_ = 0;                    // catalogue entries looked at (by the walk's thread)
    std::vector<size_t> chosen_;               // Consider's, kept: it runs once per record
    std::vector<bool> patternUsed_;
    uint64_t totalBytes_ = 0;
    std::unique_ptr<OrderedOutput> output_;
    size_t nextEntry_ = 0;                     // the first selected entry of the next run (under catalogueMutex_)
    std::atomic<size_t> done_{0};
    std::atomic<size_t> failed_{0};
    std::atomic<size_t> skipped_{0};           // by the user's choice
    size_t printed_ = 0;                       // entries whose report is out (under output_'s lock)

    // The password, shared by the workers; the generation counts the
    // answers, so that a worker can tell whether another thread asked the
    // user since it took the password.
    std::mutex passwordMutex_;
    std::optional<std::string> password_;
    unsigned passwordGeneration_ = 0;
    bool passwordAsked_ = false;  // the password came from the user, so may be asked again

    // Entries that write to the same place (the same file, or a file where
    // another makes a directory) are done in archive order: entry n waits
    // for the entries in earlier_[n] to finish. Kept with several threads
    // extracting (ordered_); grows with selected_, under finishedMutex_.
    bool ordered_ = false;
    std::vector<std::vector<size_t>> earlier_;
    std::mutex finishedMutex_;
    std::condition_variable finishedChanged_;
    std::vector<char> finished_;
    std::map<std::string, size_t> lastAt_;     // path -> last entry that is that path
    std::map<std::string, size_t> lastBelow_;  // path -> last entry below it
};

bool Extractor::EnsurePassword(Worker &worker, std::string *password, unsigned *generation) {
    {
        std::lock_guard<std::mutex> lock(passwordMutex_);
        if (password_) {
            *password = *password_;
            *generation = passwordGeneration_;
            return true;
        }
    }
    if (!interactive_) {
        Failed(worker, "encrypted, and no password was given (use -p)");
        return false;
    }
    // Asked in archive order: an earlier entry may ask first, and then its
    // answer serves this one.
    output_->WaitForTurn(worker.n);
    std::lock_guard<std::mutex> lock(passwordMutex_);
    if (!password_) {
        std::string typed;
        output_->Hold();
        const bool answered = AskPassword("Password for " + Printable(job_.archive) + ": ", &typed);
        output_->Release();
        if (!answered) {
            Failed(worker, "encrypted, and no password was given");
            return false;
        }
        password_ = typed;
        passwordAsked_ = true;
        ++passwordGeneration_;
    }
    *password = *password_;
    *generation = passwordGeneration_;
    return true;
}

int Extractor::Perform(Worker &worker, Action action, const std::string &output) {
    qz_archive *handle = worker.reader.handle();
    if (action == Action::Extract)
        return library_.extract(handle, output.c_str());
    // Checked or streamed: read piece by piece; the final check's verdict
    // comes with the read that reaches the end.
    worker.buffer.resize(kReadPiece);
    for (;;) {
        const int64_t got = library_.read(handle, worker.buffer.data(), worker.buffer.size());
        if (got <= 0)
            return static_cast<int>(got);
        if (action == Action::Stream &&
            !WriteToStandardOutput(worker.buffer.data(), static_cast<size_t>(got), &worker.streamError))
            return kStreamFailed;
    }
}

bool Extractor::Unpack(Worker &worker, Action action, const std::string &output, int *result) {
    const CatalogueEntry &entry = EntryOf(worker);
    std::string password;
    unsigned generation = 0;
    if (entry.details.encrypted && !EnsurePassword(worker, &password, &generation))
        return false;
    worker.asker.ForgetMissingVolume();
    *result = worker.reader.Select(worker.index, *worker.entry);
    if (*result != QZ_ARCHIVE_OK)
        return true;
    qz_archive *handle = worker.reader.handle();
    // A worker alone (one worker, or the last entry, the others about to
    // run out) lends the idle threads to its entry: the library shares a
    // large Deflate entry's decoding among them when that pays. No more
    // than the processors: each decoding thread holds a few MiB. Standard
    // output keeps to one thread, whose memory stays a few MiB.
    const bool alone = threads_ == 1 || worker.last;
    if (library_.setThreads != nullptr)
        library_.setThreads(handle, alone && !job_.toStdout ? static_cast<int>(lent_) : 1);
    for (;;) {
        library_.setPassword(handle, entry.details.encrypted ? password.c_str() : nullptr);
        *result = Perform(worker, action, output);
        if (*result != QZ_E_PASSWORD || !interactive_)
            return true;
        output_->WaitForTurn(worker.n);
        std::lock_guard<std::mutex> lock(passwordMutex_);
        if (!passwordAsked_)
            return true;
        if (passwordGeneration_ != generation) {
            // Asked again meanwhile (for an earlier entry): try that answer.
            password = *password_;
            generation = passwordGeneration_;
            continue;
        }
        std::string typed;
        output_->Hold();
        const bool answered = AskPassword("Wrong password for " + Printable(entry.shown) +
                                              ". Password (empty line to skip the entry): ",
                                          &typed);
        output_->Release();
        if (!answered || typed.empty())
            return true;
        password_ = typed;
        password = typed;
        generation = ++passwordGeneration_;
    }
}

std::string Extractor::TempSibling(Worker &worker, const std::string &target) {
    const size_t slash = target.find_last_of(PathSeparator() == '\\' ? "\\/" : "/");
    const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash);
    for (;;) {
        const std::string candidate =
            JoinPath(directory, ".qzarc-" + std::to_string(worker.random() % 100000000u) + ".tmp");
        if (KindOf(candidate) == FileKind::Missing)
            return candidate;
    }
}

void Extractor::ExtractEntry(Worker &worker) {
    const CatalogueEntry &entry = EntryOf(worker);
    const size_t n = worker.n;
    EntryPath path;
    // A name too long to be handed over whole is judged as recorded; a
    // whole one as it reads here.
    const std::string refused =
        entry.name.size() != entry.details.nameLength
            ? SplitEntryName(entry.name, entry.details.nameLength, &path)
            : SplitEntryName(entry.shown, static_cast<uint32_t>(entry.shown.size()), &path);
    if (!refused.empty()) {
        Failed(worker, "refused: " + refused + "; skipped");
        return;
    }
    if (job_.junkPaths) {
        if (path.directory)
            return;  // no directories are made
        path.components.erase(path.components.begin(), path.components.end() - 1);
    }
    Target target;
    std::string reason;
    const Refusal refusal = PrepareTarget(root_, path, &target, &reason);
    if (refusal != Refusal::None) {
        Failed(worker, (refusal == Refusal::Unsafe ? "refused: " : "") + reason + "; skipped");
        return;
    }
    if (path.directory) {
        ++done_;  // a directory entry: its directories now exist
        return;
    }

    while (target.exists) {
        ExistingFiles existing = policy_.Get();
        if (existing == ExistingFiles::Ask && interactive_) {
            // Questions come in archive order; an earlier answer of "all"
            // or "none" may have settled this one meanwhile.
            output_->WaitForTurn(n);
            existing = policy_.Get();
        }
        bool replace = existing == ExistingFiles::Overwrite;
        if (existing == ExistingFiles::Ask && interactive_) {
            output_->Hold();
            const OverwriteReply reply = AskOverwrite(target.path);
            std::string name;
            const bool named = reply == OverwriteReply::Rename && AskNewName(&name);
            output_->Release();
            switch (reply) {
            case OverwriteReply::Rename: {
                if (!named) {
                    ++skipped_;
                    output_->Out(n, "skipped    " + Printable(entry.shown) + " (exists)");
                    return;
                }
                EntryPath renamed = path;
                renamed.components.back() = name;
                EntryPath checked;
                const std::string bad = SplitEntryName(name, static_cast<uint32_t>(name.size()), &checked);
                if (!bad.empty() || checked.components.size() != 1 || checked.directory) {
                    output_->Err(n, Printable(name) + ": not a file name" + (bad.empty() ? "" : ": " + bad));
                    continue;
                }
                if (PrepareTarget(root_, renamed, &target, &reason) != Refusal::None) {
                    Failed(worker, reason + "; skipped");
                    return;
                }
                continue;
            }
            case OverwriteReply::Yes:
                replace = true;
                break;
            case OverwriteReply::All:
                policy_.Set(ExistingFiles::Overwrite);
                replace = true;
                break;
            case OverwriteReply::None:
                policy_.Set(ExistingFiles::Skip);
                break;
            case OverwriteReply::No:
                break;
            }
        } else if (existing == ExistingFiles::Ask) {
            Failed(worker, Printable(target.path) +
                               " exists; skipped (no terminal to ask: -y overwrites, -n skips)");
            return;
        }
        if (!replace) {
            ++skipped_;
            output_->Out(n, "skipped    " + Printable(entry.shown) + " (exists)");
            return;
        }
        break;
    }

    // An existing file is replaced only once the new one is complete and
    // verified: the library removes a failed output, and that must not be
    // the file that was there before.
    const std::string output = target.exists ? TempSibling(worker, target.path) : target.path;
    // Until it is complete, an interrupt removes it.
    RemoveOnInterrupt(output);
    int result = 0;
    const bool tried = Unpack(worker, Action::Extract, output, &result);
    if (!tried || result != QZ_ARCHIVE_OK) {
        ForgetOnInterrupt(output);
        if (tried)
            Failed(worker, Reason(worker, result, worker.reader.Message()));
        return;
    }
    if (target.exists) {
        std::string error;
        const bool moved = MoveOver(output, target.path, &error);
        if (!moved)
            RemoveFile(output);
        ForgetOnInterrupt(output);
        if (!moved) {
            Failed(worker, "cannot replace " + Printable(target.path) + ": " + error);
            return;
        }
    }
    ForgetOnInterrupt(output);
    ++done_;
    output_->Out(n, "extracted  " + Printable(entry.shown));
}

// 't', and 'x' to standard output: the entry is read through the library,
// which checks it at its end; its bytes are dropped or written out as they
// come.
void Extractor::CheckEntry(Worker &worker) {
    const CatalogueEntry &entry = EntryOf(worker);
    const bool directory = !entry.shown.empty() && (entry.shown.back() == '\\' || entry.shown.back() == '/');
    if (job_.toStdout && directory)
        return;  // a directory entry has no data
    int result = 0;
    if (!Unpack(worker, job_.toStdout ? Action::Stream : Action::Test, "", &result))
        return;
    if (result == kStreamFailed) {
        Failed(worker, "cannot write to standard output: " + worker.streamError);
        return;
    }
    if (result != QZ_ARCHIVE_OK) {
        std::string reason = Reason(worker, result, worker.reader.Message());
        if (job_.toStdout && result != QZ_E_PASSWORD)
            reason += " (what was written of it to standard output is not to be trusted)";
        Failed(worker, reason);
        return;
    }
    ++done_;
    if (job_.testOnly)
        output_->Out(worker.n, "OK      " + Printable(entry.shown));
}

void Extractor::HandleEntry(Worker &worker) {
    const CatalogueEntry &entry = EntryOf(worker);
    progress_.StartEntry(worker.n + 1, entry.shown, entry.details.uncompressedSize);
    if (job_.testOnly || job_.toStdout)
        CheckEntry(worker);
    else
        ExtractEntry(worker);
    progress_.EndEntry(worker.n + 1);
}

void Extractor::WaitForEarlier(size_t n) {
    if (!ordered_)
        return;
    std::unique_lock<std::mutex> lock(finishedMutex_);
    finishedChanged_.wait(lock, [&] {
        for (size_t e : earlier_[n]) {
            if (!finished_[e])
                return false;
        }
        return true;
    });
}

void Extractor::MarkFinished(size_t n) {
    if (!ordered_)
        return;
    {
        std::lock_guard<std::mutex> lock(finishedMutex_);
        finished_[n] = 1;
    }
    finishedChanged_.notify_all();
}

// Entries that touch the same path: two files of one name (the second finds
// the first's file), or a file where another entry has directories (or the
// reverse). Names are compared as they will be on disk; on Windows without
// regard to case. Entries come in archive order, each once.
void Extractor::OrderEntry(size_t n, const CatalogueEntry &entry) {
    std::lock_guard<std::mutex> lock(finishedMutex_);
    earlier_.emplace_back();
    finished_.push_back(0);
    EntryPath path;
    if (!SplitEntryName(entry.shown, static_cast<uint32_t>(entry.shown.size()), &path).empty())
        return;
    if (job_.junkPaths) {
        if (path.directory)
            return;
        path.components.erase(path.components.begin(), path.components.end() - 1);
    }
    std::string key;
    std::vector<size_t> &earlier = earlier_[n];
    for (size_t c = 0; c < path.components.size(); ++c) {
        std::string component = path.components[c];
        if (PathSeparator() == '\\') {
            for (char &ch : component)
                ch = (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
        }
        key += "/" + component;
        auto at = lastAt_.find(key);
        if (at != lastAt_.end())
            earlier.push_back(at->second);
        if (c + 1 < path.components.size())
            lastBelow_[key] = n;
    }
    auto below = lastBelow_.find(key);
    if (below != lastBelow_.end() && below->second != n)
        earlier.push_back(below->second);
    lastAt_[key] = n;
}

void Extractor::Consider(size_t ready, bool complete) {
    size_t selected = selected_.size();  // with the ones chosen here
    std::vector<size_t> &chosen = chosen_;
    chosen.clear();
    for (; considered_ < ready; ++considered_) {
        const CatalogueEntry &entry = catalogue_.entries[considered_];
        if (!Selected(entry.shown, job_.patterns, job_.excludes, &patternUsed_))
            continue;
        totalBytes_ += entry.details.uncompressedSize;
        // Whatever a worker may take has its place in the output and its
        // order among the entries before.
        if (ordered_)
            OrderEntry(selected, entry);
        chosen.push_back(considered_);
        ++selected;
    }
    if (chosen.empty() && !complete)
        return;
    if (output_)
        output_->Grow(selected);
    {
        // With the last of them the walk's end: a worker that takes the
        // last entry knows it is the last.
        std::lock_guard<std::mutex> lock(catalogueMutex_);
        selected_.insert(selected_.end(), chosen.begin(), chosen.end());
        walkDone_ = complete;
    }
    // A worker that ran out of entries is woken for a batch of them (or the
    // walk's end): waking it for each one would cost more than the walk
    // does to find it.
    if (complete || selected / kWakeBatch != (selected - chosen.size()) / kWakeBatch)
        selectedGrew_.notify_all();
}

bool Extractor::Take(Worker &worker) {
    std::unique_lock<std::mutex> lock(catalogueMutex_);
    if (worker.runNext == worker.runEnd) {
        selectedGrew_.wait(lock, [&] { return walkDone_ || nextEntry_ < selected_.size(); });
        if (nextEntry_ >= selected_.size())
            return false;
        // Testing creates no files: one entry at a time balances best.
        size_t most = job_.testOnly ? 1 : kRunEntries;
        if (walkDone_)
            most = std::min(most, std::max<size_t>(1, (selected_.size() - nextEntry_) / (2 * threads_)));
        size_t end = nextEntry_ + 1;
        uint64_t bytes = catalogue_.entries[selected_[nextEntry_]].details.uncompressedSize;
        for (; end < selected_.size() && end - nextEntry_ < most; ++end) {
            bytes += catalogue_.entries[selected_[end]].details.uncompressedSize;
            if (bytes > kRunBytes)
                break;
        }
        worker.runNext = nextEntry_;
        worker.runEnd = end;
        nextEntry_ = end;
    }
    const size_t n = worker.runNext++;
    worker.n = n;
    worker.index = selected_[n];
    worker.entry = &catalogue_.entries[worker.index];
    worker.last = walkDone_ && n + 1 == selected_.size();
    return true;
}

void Extractor::Work() {
    RegisterWorkerThread();
    Worker worker(library_, catalogue_, requests_, progress_);
    worker.asker.report = [this, &worker](const std::string &message) {
        output_->Err(worker.n, message);
    };
    while (Take(worker)) {
        WaitForEarlier(worker.n);
        HandleEntry(worker);
        MarkFinished(worker.n);
        output_->Finish(worker.n);
    }
    ForgetWorkerThread();
}

int Extractor::Run(const std::function<void(const CatalogueWatch &)> &walk) {
    if (!walk && catalogue_.openFailed)
        return OpenFailure();
    patternUsed_.assign(job_.patterns.size(), false);
    // Standard output takes the entries one after the other.
    threads_ = job_.toStdout ? 1 : job_.threads;
    lent_ = std::min(job_.threads, UsableProcessors());
    if (!walk) {
        Consider(catalogue_.entries.size(), true);
        if (threads_ > selected_.size())
            threads_ = selected_.empty() ? 1 : static_cast<unsigned>(selected_.size());
    }
    ordered_ = threads_ > 1 && !job_.testOnly;

    std::string rootError;
    std::vector<std::thread> workers;
    // Once the archive is known to start with a record: the destination,
    // then the workers.
    const auto start = [&] {
        if (!job_.testOnly && !job_.toStdout && !MakeDirectories(root_, &rootError))
            return;
        output_ = std::make_unique<OrderedOutput>(selected_.size(), &progress_);
        // While the walk goes on, it alone speaks: what the entries say is
        // kept until the catalogue is complete, so that the walk's messages
        // (a volume given up) come first, as with one thread.
        if (walk)
            output_->Hold();
        for (size_t n = 0; ordered_ && n < selected_.size(); ++n)
            OrderEntry(n, catalogue_.entries[selected_[n]]);
        requests_.SetQuestionHooks([this] { output_->Hold(); }, [this] { output_->Release(); });
        SetInterruptReport(InterruptReport());
        output_->OnPrinted([this](size_t printed) {
            printed_ = printed;
            SetInterruptReport(InterruptReport());
        });
        progress_.Begin(selected_.size(), totalBytes_);
        // The walk's thread becomes a worker once the walk is done: one
        // thread per processor all along, so that none of them is put
        // aside while it holds what the others wait for.
        for (unsigned t = walk ? 1 : 0; t < threads_ && threads_ > 1; ++t)
            workers.emplace_back(&Extractor::Work, this);
    };
    root_ = job_.testOnly || job_.toStdout ? "" : job_.destination;
    if (walk) {
        CatalogueWatch watch;
        watch.lock = &catalogueMutex_;
        watch.opened = start;
        watch.found = [this](size_t ready) { Consider(ready, false); };
        walk(watch);
        Consider(catalogue_.entries.size(), true);
    } else {
        start();
    }
    if (catalogue_.openFailed)
        return OpenFailure();
    if (!rootError.empty()) {
        Err("cannot create the destination " + Printable(root_) + ": " + rootError);
        return kExitUsage;
    }
    if (walk) {
        progress_.Begin(selected_.size(), totalBytes_);
        SetInterruptReport(InterruptReport());
        output_->Release();
    }
    if (walk || workers.empty())
        Work();
    for (std::thread &worker : workers)
        worker.join();
    requests_.SetQuestionHooks(nullptr, nullptr);
    progress_.Clear();

    for (size_t p = 0; p < job_.patterns.size(); ++p) {
        if (!patternUsed_[p]) {
            Err("no entry matches " + Printable(job_.patterns[p]));
            ++failed_;
        }
    }
    for (const std::string &skipped : catalogue_.skipped) {
        Err(Printable(job_.archive) + ": the scan passed over " + skipped);
        ++failed_;
    }
    if (catalogue_.end != QZ_ARCHIVE_END) {
        Err(Printable(job_.archive) + ": cannot be read past entry " +
            std::to_string(catalogue_.entries.size()) + ": " +
            DescribeWalkEnd(catalogue_, catalogueAsker_.missingVolume()));
        ++failed_;
    }

    const size_t done = done_.load();
    const size_t failed = failed_.load();
    const size_t skipped = skipped_.load();
    std::string summary = job_.testOnly ? std::to_string(done) + " of " +
                                              std::to_string(selected_.size()) + " entries OK"
                                        : std::to_string(done) + " of " +
                                              std::to_string(selected_.size()) +
                                              " entries extracted into " + Printable(root_);
    if (skipped != 0)
        summary += ", " + std::to_string(skipped) + " skipped";
    if (failed != 0)
        summary += ", " + std::to_string(failed) + " problem" + (failed == 1 ? "" : "s");
    // Standard output carries the data alone.
    if (!job_.toStdout)
        Out(summary);
    else if (failed != 0)
        Err(std::to_string(done) + " of " + std::to_string(selected_.size()) +
            " entries written to standard output, " + std::to_string(failed) + " problem" +
            (failed == 1 ? "" : "s"));
    return failed == 0 ? kExitOk : kExitSomeFailed;
}

}  // namespace

int RunExtraction(const ExtractionJob &job) {
    Library library;
    ArchiveInput input;
    if (!BindLibraryAndArchive(job.archive, &library, &input))
        return kExitUsage;
    const bool interactive = StdinIsTerminal();
    ProgressLine progress(StderrIsTerminal());
    SetProgressLine(&progress);
    int status;
    {
        VolumeRequests requests(interactive, input.path());
        VolumeAsker asker(requests);
        // With several workers, nobody to ask and no progress line, the
        // workers start on the first entries while the catalogue is read
        // (what they print waits for it). A question, a progress line or
        // a scan wants the whole catalogue first.
        const bool overlapped =
            job.threads > 1 && !job.toStdout && !job.scan && !interactive && !progress.enabled();
        if (overlapped) {
            Catalogue catalogue;
            Extractor extractor(job, library, catalogue, requests, asker, progress, interactive);
            status = extractor.Run([&](const CatalogueWatch &watch) {
                ReadCatalogueWatched(library, input.path(), 0, &asker, watch, &catalogue);
            });
        } else {
            Catalogue catalogue = ReadCatalogue(library, input.path(), 0, &asker);
            std::optional<Recovery> recovery;
            if (job.scan) {
                recovery.emplace(input.path());
                recovery->Extend(library, asker, &catalogue);
            }
            Extractor extractor(job, library, catalogue, requests, asker, progress, interactive);
            status = extractor.Run();
        }
    }
    SetProgressLine(nullptr);
    return status;
}

}  // namespace qzcli
