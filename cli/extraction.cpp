#include "extraction.h"

#include <filesystem>
#include <optional>
#include <random>

#include "archive_input.h"
#include "commands.h"
#include "console.h"
#include "destination.h"
#include "files.h"
#include "glob.h"
#include "host.h"
#include "interrupt.h"
#include "library.h"
#include "names.h"
#include "output_watch.h"
#include "progress.h"
#include "recovery.h"
#include "prompts.h"
#include "results.h"
#include "terminal.h"
#include "walk.h"

namespace qzcli {
namespace {

class Extractor {
public:
    Extractor(const ExtractionJob &job, const Library &library, const Catalogue &catalogue,
              Host &host, ProgressLine &progress, bool interactive)
        : job_(job),
          catalogue_(catalogue),
          host_(host),
          progress_(progress),
          interactive_(interactive),
          walk_(library, catalogue),
          existing_(job.existing),
          password_(job.password),
          catalogueMissing_(host.missingVolume()) {}

    int Run();

private:
    void ExtractEntry(size_t i);
    void PrivateEntry(size_t i);
    // Hands entry i to the library, asking for the password of an encrypted
    // entry when needed (and again after a wrong one). Returns the result,
    // or nothing when the entry was not tried (no password).
    bool Unpack(size_t i, const std::string &output, int *result);
    bool EnsurePassword(const std::string &name);
    bool Selected(size_t i);
    std::string TempSibling(const std::string &target);
    // The library says only that a write failed; the space left says why.
    std::string WriteFailure(uint64_t needed) const {
        std::error_code error;
        const std::filesystem::space_info space = std::filesystem::space(root_, error);
        if (!error && space.available < needed)
            return "cannot write the file: the disk is full (" + HumanSize(space.available) +
                   " free, " + HumanSize(needed) + " needed)";
        return DescribeResult(QZ_ERR_WRITE);
    }
    std::string InterruptReport(size_t n, size_t total) const {
        const std::string counts = std::to_string(done_) + " of " + std::to_string(total);
        if (job_.testOnly)
            return counts + " entries tested OK before it";
        std::string text = counts + " entries extracted into " + Printable(root_);
        if (n < total)
            text += "; the unfinished one was removed";
        return text;
    }

    // 't' reports every entry on standard output; 'x' reports problems on
    // standard error.
    void Failed(const std::string &name, const std::string &reason) {
        if (job_.testOnly)
            Out("FAILED  " + Printable(name) + ": " + reason);
        else
            Err(Printable(name) + ": " + reason);
        ++failed_;
    }
    std::string Reason(size_t i, int result) const {
        ResultContext context;
        context.method = catalogue_.entries[i].details.method;
        context.encrypted = catalogue_.entries[i].details.encrypted != 0;
        context.missingVolume = host_.missingVolume();
        // Data cut short by a missing volume fails the entry's checks; the
        // missing file is the reason worth telling.
        if (!context.missingVolume.empty() && result != QZ_ERR_PASSWORD && !IsCreateFailure(result))
            return DescribeResult(QZ_ERR_VOLUME, context);
        if (result == QZ_ERR_WRITE)
            return WriteFailure(catalogue_.entries[i].details.uncompressedSize);
        return DescribeResult(result, context);
    }

    const ExtractionJob &job_;
    const Catalogue &catalogue_;
    Host &host_;
    ProgressLine &progress_;
    bool interactive_;
    EntryWalk walk_;
    ExistingFiles existing_;
    std::optional<std::string> password_;
    std::string catalogueMissing_;  // a volume found missing while the catalogue was read
    bool passwordAsked_ = false;  // the password came from the user, so may be asked again
    std::string root_;
    std::vector<bool> patternUsed_;
    std::mt19937 random_{std::random_device{}()};
    size_t done_ = 0;
    size_t failed_ = 0;
    size_t skipped_ = 0;  // by the user's choice
};

bool Extractor::Selected(size_t i) {
    return qzcli::Selected(catalogue_.entries[i].shown, job_.patterns, job_.excludes, &patternUsed_);
}

bool Extractor::EnsurePassword(const std::string &name) {
    if (password_)
        return true;
    if (!interactive_) {
        Failed(name, "encrypted, and no password was given (use -p)");
        return false;
    }
    std::string typed;
    if (!AskPassword("Password for " + Printable(job_.archive) + ": ", &typed)) {
        Failed(name, "encrypted, and no password was given");
        return false;
    }
    password_ = typed;
    passwordAsked_ = true;
    return true;
}

bool Extractor::Unpack(size_t i, const std::string &output, int *result) {
    const CatalogueEntry &entry = catalogue_.entries[i];
    if (entry.details.encrypted != 0 && !EnsurePassword(entry.shown))
        return false;
    for (;;) {
        host_.ForgetMissingVolume();
        EntryWalk::Outcome outcome;
        {
            // The library reports progress for compressed entries only.
            OutputWatch watch(progress_, output,
                              progress_.enabled() && entry.details.method == 0);
            outcome = walk_.Handle(i, output.c_str(), password_.value_or(""));
        }
        if (!outcome.reached) {
            // Not this entry's data: nothing of it may stay behind.
            if (KindOf(output) == FileKind::File)
                RemoveFile(output);
            *result = outcome.result;
            return true;
        }
        *result = outcome.result;
        if (outcome.result != QZ_ERR_PASSWORD || !passwordAsked_ || !interactive_)
            return true;
        std::string typed;
        if (!AskPassword("Wrong password for " + Printable(entry.shown) +
                             ". Password (empty line to skip the entry): ",
                         &typed) ||
            typed.empty())
            return true;
        password_ = typed;
    }
}

std::string Extractor::TempSibling(const std::string &target) {
    const size_t slash = target.find_last_of(PathSeparator() == '\\' ? "\\/" : "/");
    const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash);
    for (;;) {
        const std::string candidate =
            JoinPath(directory, ".qzarc-" + std::to_string(random_() % 100000000u) + ".tmp");
        if (KindOf(candidate) == FileKind::Missing)
            return candidate;
    }
}

void Extractor::ExtractEntry(size_t i) {
    const CatalogueEntry &entry = catalogue_.entries[i];
    EntryPath path;
    // A name the library could not hand over whole is judged as recorded;
    // a whole one as it reads here.
    const std::string refused = entry.name.size() != entry.details.nameLength
                                    ? SplitEntryName(entry.name, entry.details.nameLength, &path)
                                    : SplitEntryName(entry.shown, static_cast<uint32_t>(entry.shown.size()), &path);
    if (!refused.empty()) {
        Failed(entry.shown, "refused: " + refused + "; skipped");
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
        Failed(entry.shown, (refusal == Refusal::Unsafe ? "refused: " : "") + reason + "; skipped");
        return;
    }
    if (path.directory) {
        ++done_;  // a directory entry: its directories now exist
        return;
    }

    while (target.exists) {
        bool replace = existing_ == ExistingFiles::Overwrite;
        if (existing_ == ExistingFiles::Ask && interactive_) {
            switch (AskOverwrite(target.path)) {
            case OverwriteReply::Rename: {
                std::string name;
                if (!AskNewName(&name)) {
                    ++skipped_;
                    Out("skipped    " + Printable(entry.shown) + " (exists)");
                    return;
                }
                EntryPath renamed = path;
                renamed.components.back() = name;
                EntryPath checked;
                const std::string bad = SplitEntryName(name, static_cast<uint32_t>(name.size()), &checked);
                if (!bad.empty() || checked.components.size() != 1 || checked.directory) {
                    Err(Printable(name) + ": not a file name" + (bad.empty() ? "" : ": " + bad));
                    continue;
                }
                if (PrepareTarget(root_, renamed, &target, &reason) != Refusal::None) {
                    Failed(entry.shown, reason + "; skipped");
                    return;
                }
                continue;
            }
            case OverwriteReply::Yes:
                replace = true;
                break;
            case OverwriteReply::All:
                existing_ = ExistingFiles::Overwrite;
                replace = true;
                break;
            case OverwriteReply::None:
                existing_ = ExistingFiles::Skip;
                break;
            case OverwriteReply::No:
                break;
            }
        } else if (existing_ == ExistingFiles::Ask) {
            Failed(entry.shown, Printable(target.path) +
                                   " exists; skipped (no terminal to ask: -y overwrites, -n skips)");
            return;
        }
        if (!replace) {
            ++skipped_;
            Out("skipped    " + Printable(entry.shown) + " (exists)");
            return;
        }
        break;
    }

    // An existing file is replaced only once the new one is complete and
    // verified: the library removes a failed output, and that must not be
    // the file that was there before.
    const std::string output = target.exists ? TempSibling(target.path) : target.path;
    // Until it is complete, an interrupt removes it.
    RemoveOnInterrupt(output);
    int result = 0;
    const bool tried = Unpack(i, output, &result);
    if (!tried || result != QZ_OK) {
        ForgetOnInterrupt(output);
        if (tried)
            Failed(entry.shown, Reason(i, result));
        return;
    }
    if (target.exists) {
        std::string error;
        const bool moved = MoveOver(output, target.path, &error);
        if (!moved)
            RemoveFile(output);
        ForgetOnInterrupt(output);
        if (!moved) {
            Failed(entry.shown, "cannot replace " + Printable(target.path) + ": " + error);
            return;
        }
    }
    ForgetOnInterrupt(output);
    ++done_;
    Out("extracted  " + Printable(entry.shown));
}

// 't', and 'x' to standard output: the entry goes to a file in the private
// temporary directory (the library writes files only), is verified there,
// then copied out (to standard output) or just counted, and removed.
void Extractor::PrivateEntry(size_t i) {
    const CatalogueEntry &entry = catalogue_.entries[i];
    if (job_.toStdout && !entry.shown.empty() && (entry.shown.back() == '\\' || entry.shown.back() == '/'))
        return;  // a directory entry has no data
    const std::string output = JoinPath(root_, "entry-" + std::to_string(i + 1));
    RemoveOnInterrupt(output);
    int result = 0;
    const bool tried = Unpack(i, output, &result);
    std::string error;
    const bool copied =
        !job_.toStdout || (tried && result == QZ_OK && CopyToStandardOutput(output, &error));
    if (KindOf(output) == FileKind::File)
        RemoveFile(output);
    ForgetOnInterrupt(output);
    if (!tried)
        return;
    if (result != QZ_OK) {
        Failed(entry.shown, Reason(i, result));
        return;
    }
    if (!copied) {
        Failed(entry.shown, "cannot write to standard output: " + error);
        return;
    }
    ++done_;
    if (job_.testOnly)
        Out("OK      " + Printable(entry.shown));
}

int Extractor::Run() {
    patternUsed_.assign(job_.patterns.size(), false);
    std::vector<size_t> selected;
    uint64_t totalBytes = 0;
    for (size_t i = 0; i < catalogue_.entries.size(); ++i) {
        if (Selected(i)) {
            selected.push_back(i);
            totalBytes += catalogue_.entries[i].details.uncompressedSize;
        }
    }

    std::string error;
    const bool privateRoot = job_.testOnly || job_.toStdout;
    if (privateRoot) {
        if (!MakeTempDirectory(&root_, &error)) {
            Err("cannot create a temporary directory: " + error);
            return kExitUsage;
        }
    } else {
        root_ = job_.destination;
        if (!MakeDirectories(root_, &error)) {
            Err("cannot create the destination " + Printable(root_) + ": " + error);
            return kExitUsage;
        }
    }

    if (privateRoot)
        RemoveDirectoryOnInterrupt(root_);
    progress_.Begin(selected.size(), totalBytes);
    for (size_t n = 0; n < selected.size(); ++n) {
        SetInterruptReport(InterruptReport(n, selected.size()));
        const size_t i = selected[n];
        const QZEntryDetails &details = catalogue_.entries[i].details;
        progress_.StartEntry(n + 1, catalogue_.entries[i].shown, details.uncompressedSize,
                             details.compressedSize);
        if (privateRoot)
            PrivateEntry(i);
        else
            ExtractEntry(i);
        progress_.EndEntry();
    }
    walk_.Close();
    progress_.Clear();
    if (privateRoot) {
        RemoveEmptyDirectory(root_);
        ForgetOnInterrupt(root_);
    }

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
    if (catalogue_.end != QZ_END_OF_ARCHIVE) {
        Err(Printable(job_.archive) + ": cannot be read past entry " +
            std::to_string(catalogue_.entries.size()) + ": " +
            DescribeWalkEnd(catalogue_, catalogueMissing_));
        ++failed_;
    }

    std::string summary = job_.testOnly ? std::to_string(done_) + " of " +
                                              std::to_string(selected.size()) + " entries OK"
                                        : std::to_string(done_) + " of " +
                                              std::to_string(selected.size()) +
                                              " entries extracted into " + Printable(root_);
    if (skipped_ != 0)
        summary += ", " + std::to_string(skipped_) + " skipped";
    if (failed_ != 0)
        summary += ", " + std::to_string(failed_) + " problem" + (failed_ == 1 ? "" : "s");
    // Standard output carries the data alone.
    if (!job_.toStdout)
        Out(summary);
    else if (failed_ != 0)
        Err(std::to_string(done_) + " of " + std::to_string(selected.size()) +
            " entries written to standard output, " + std::to_string(failed_) + " problem" +
            (failed_ == 1 ? "" : "s"));
    return failed_ == 0 ? kExitOk : kExitSomeFailed;
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
        Host host(library, &progress, interactive, input.path());
        Catalogue catalogue = ReadCatalogue(library, input.path());
        std::optional<Recovery> recovery;
        if (job.scan) {
            recovery.emplace(input.path());
            recovery->Extend(library, host, &catalogue);
        }
        if (IsOpenFailure(catalogue.end)) {
            Err(Printable(job.archive) + ": " + DescribeResult(catalogue.end));
            status = kExitUsage;
        } else {
            Extractor extractor(job, library, catalogue, host, progress, interactive);
            status = extractor.Run();
        }
    }
    SetProgressLine(nullptr);
    return status;
}

}  // namespace qzcli
