// qzarc a: creates an archive, one record per file, streaming: the output
// is opened before anything is read, and each file is read, checksummed,
// compressed (Deflate, kept only when smaller than the file) and written in
// bounded pieces. The record's header goes out first with its sizes and CRC
// blank and is filled in once the entry is complete. Memory stays the same
// whatever the size of the input.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <system_error>
#include <thread>


#include "commands.h"
#include "console.h"
#include "files.h"
#include "interrupt.h"
#include "piece_deflate.h"
#include "progress.h"
#include "prompts.h"
#include "sources.h"
#include "terminal.h"
#include "volume_writer.h"
#include "writer/writer.h"

namespace qzcli {
namespace {

constexpr uint16_t kFlagEncrypted = 1;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint64_t kMaxEntrySize = 0xFFFFFFFFu;

// The archive's existing files (first volume and any volumes after it), so
// that a tree containing the archive does not take it in.
std::vector<std::string> ArchiveFiles(const std::string &archive) {
    std::vector<std::string> files;
    if (KindOf(archive) == FileKind::Missing)
        return files;
    files.push_back(archive);
    for (unsigned k = 1; k <= 999; ++k) {
        const std::string volume = qzw::VolumeName(archive, k);
        if (KindOf(volume) == FileKind::Missing)
            break;
        files.push_back(volume);
    }
    return files;
}

// Volume names swap the archive name's last three characters for the
// volume number, so they must be an extension of their own ("set.qza").
bool HasThreeCharacterExtension(const std::string &archive) {
    const size_t dot = archive.find_last_of('.');
    if (dot == std::string::npos || archive.size() - dot != 4 || dot == 0)
        return false;
    const std::string extension = archive.substr(dot + 1);
    const size_t base = archive.find_last_of(PathSeparator() == '\\' ? "\\/" : "/");
    return extension.find_first_of("/\\") == std::string::npos &&
           (base == std::string::npos || base + 1 < dot);
}

// The first existing file among the names the archive is about to take.
std::string ExistingTarget(const std::string &archive, size_t volumes) {
    for (size_t k = 0; k < volumes; ++k) {
        const std::string name = qzw::VolumeName(archive, static_cast<unsigned>(k));
        if (KindOf(name) != FileKind::Missing)
            return name;
    }
    return "";
}

std::string ErrnoText() { return std::strerror(errno); }

class InputFile {
public:
    explicit InputFile(const std::string &path) : file_(std::fopen(path.c_str(), "rb")) {}
    ~InputFile() {
        if (file_ != nullptr)
            std::fclose(file_);
    }
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;
    bool ok() const { return file_ != nullptr; }
    // Bytes read, 0 at the end; false on a read error.
    bool Read(uint8_t *data, size_t size, size_t *got) {
        *got = std::fread(data, 1, size, file_);
        return *got != 0 || std::ferror(file_) == 0;
    }
    bool Rewind() { return std::fseek(file_, 0, SEEK_SET) == 0; }

private:
    std::FILE *file_;
};

enum class EntryOutcome { Added, Skipped, Fatal };

class ArchiveBuilder {
public:
    ArchiveBuilder(const Options &options, VolumeWriter &writer, ProgressLine &progress)
        : options_(options), writer_(writer), progress_(progress) {}

    EntryOutcome Add(const SourceFile &source, std::string *error);

    uint64_t totalSize = 0;
    uint64_t totalPayload = 0;

private:
    // Writes the entry's data with the given method; false with *error on
    // a failure of the archive, with *skip on a failure of the input.
    bool WriteData(InputFile &input, uint16_t method, std::string *error, std::string *skip);
    // The next piece of the input (empty at its end), counted into the CRC
    // and the size.
    bool ReadPiece(InputFile &input, std::vector<uint8_t> *piece, std::string *skip);
    bool Emit(uint8_t *data, size_t size, std::string *error);

    const Options &options_;
    VolumeWriter &writer_;
    ProgressLine &progress_;
    std::vector<uint8_t> pieces_[3];
    std::vector<uint8_t> outA_;
    std::vector<uint8_t> outB_;
    std::mt19937 random_{std::random_device{}()};
    // The entry being written.
    std::optional<qzw::Encryptor> encryptor_;
    uint32_t crc_ = 0;
    uint64_t size_ = 0;
    uint64_t payload_ = 0;
};

bool ArchiveBuilder::Emit(uint8_t *data, size_t size, std::string *error) {
    if (encryptor_)
        encryptor_->Apply(data, size);
    payload_ += size;
    return writer_.WriteData(data, size, error);
}

bool ArchiveBuilder::ReadPiece(InputFile &input, std::vector<uint8_t> *piece, std::string *skip) {
    piece->resize(kDeflatePiece);
    size_t total = 0;
    while (total < piece->size()) {
        size_t got = 0;
        if (!input.Read(piece->data() + total, piece->size() - total, &got)) {
            *skip = "cannot be read: " + ErrnoText();
            return false;
        }
        if (got == 0)
            break;
        total += got;
    }
    piece->resize(total);
    crc_ = qzw::Crc32Update(crc_, piece->data(), total);
    size_ += total;
    if (size_ > kMaxEntrySize) {
        *skip = "larger than the 4 GiB an entry can hold";
        return false;
    }
    progress_.EntryBytes(progress_.shownEntry(), size_);
    return true;
}

bool ArchiveBuilder::WriteData(InputFile &input, uint16_t method, std::string *error,
                               std::string *skip) {
    crc_ = 0;
    size_ = 0;
    payload_ = 0;
    if (options_.password)
        encryptor_.emplace(*options_.password);
    else
        encryptor_.reset();
    if (method == kMethodStored) {
        for (;;) {
            if (!ReadPiece(input, &pieces_[0], skip))
                return false;
            if (pieces_[0].empty())
                return true;
            if (!Emit(pieces_[0].data(), pieces_[0].size(), error))
                return false;
        }
    }
    // Deflate, two pieces at a time: one on a second thread, one here. A
    // third piece is read ahead to know whether the second is the last.
    std::vector<uint8_t> &a = pieces_[0];
    std::vector<uint8_t> &b = pieces_[1];
    std::vector<uint8_t> &c = pieces_[2];
    std::vector<uint8_t> window;  // the data before a
    const auto compress = [&](const std::vector<uint8_t> &before, const std::vector<uint8_t> &piece,
                              bool final, std::vector<uint8_t> *out) {
        if (DeflatePiece(options_.level, before, piece, final, out))
            return true;
        *error = "the Deflate encoder cannot start (out of memory)";
        return false;
    };
    if (!ReadPiece(input, &a, skip))
        return false;
    for (;;) {
        if (!ReadPiece(input, &b, skip))
            return false;
        if (b.empty())
            return compress(window, a, true, &outA_) && Emit(outA_.data(), outA_.size(), error);
        if (!ReadPiece(input, &c, skip))
            return false;
        const bool last = c.empty();
        const std::vector<uint8_t> windowB = WindowOf(a);
        bool okA = false;
        bool okB = false;
        try {
            std::thread helper([&] { okA = DeflatePiece(options_.level, window, a, false, &outA_); });
            okB = DeflatePiece(options_.level, windowB, b, last, &outB_);
            helper.join();
        } catch (const std::system_error &) {
            // No second thread to be had: one after the other.
            okA = DeflatePiece(options_.level, window, a, false, &outA_);
            okB = DeflatePiece(options_.level, windowB, b, last, &outB_);
        }
        if (!okA || !okB) {
            *error = "the Deflate encoder cannot start (out of memory)";
            return false;
        }
        if (!Emit(outA_.data(), outA_.size(), error) || !Emit(outB_.data(), outB_.size(), error))
            return false;
        if (last)
            return true;
        window = WindowOf(b);
        std::swap(a, c);
    }
}

EntryOutcome ArchiveBuilder::Add(const SourceFile &source, std::string *error) {
    InputFile input(source.path);
    if (!input.ok()) {
        Err(Printable(source.path) + ": cannot be opened: " + ErrnoText() + "; skipped");
        return EntryOutcome::Skipped;
    }
    qzw::Record record;
    record.name = source.name;
    record.creationTime = source.details.creationTime;
    record.accessTime = source.details.accessTime;
    record.writeTime = source.details.writeTime;
    record.attributes = source.details.attributes;
    if (options_.password) {
        record.flags |= kFlagEncrypted;
        record.password = *options_.password;
        // Eleven bytes of filler before the check byte: random, so that
        // equal entries do not encrypt alike.
        record.encryptionHeader.resize(qzw::kEncryptionHeaderSize);
        for (uint8_t &b : record.encryptionHeader)
            b = static_cast<uint8_t>(random_());
    }
    uint16_t method =
        options_.method == Method::Deflate && source.details.size != 0 ? kMethodDeflate : kMethodStored;
    const uint64_t start = writer_.position();
    for (;;) {
        record.method = method;
        record.compressedSizeOverride = 0;
        const qzw::Bytes blank = qzw::SerializeRecord(record);
        if (!writer_.WriteHeader(blank.data(), blank.size(), error))
            return EntryOutcome::Fatal;
        std::string skip;
        if (!WriteData(input, method, error, &skip)) {
            if (skip.empty())
                return EntryOutcome::Fatal;
            Err(Printable(source.path) + ": " + skip + "; skipped");
            return writer_.TruncateTo(start, error) ? EntryOutcome::Skipped : EntryOutcome::Fatal;
        }
        // Deflate is kept only when it saves something; otherwise the entry
        // is written again, stored, over the same place.
        if (method == kMethodDeflate && payload_ >= size_) {
            if (!writer_.TruncateTo(start, error))
                return EntryOutcome::Fatal;
            if (!input.Rewind()) {
                Err(Printable(source.path) + ": cannot be read again: " + ErrnoText() + "; skipped");
                return EntryOutcome::Skipped;
            }
            method = kMethodStored;
            continue;
        }
        break;
    }
    record.crc = crc_;
    record.uncompressedSize = static_cast<uint32_t>(size_);
    record.compressedSizeOverride = static_cast<uint32_t>(payload_);
    const qzw::Bytes header = qzw::SerializeRecord(record);
    if (!writer_.Patch(start, header.data(), header.size(), error))
        return EntryOutcome::Fatal;
    writer_.EndRecord();
    totalSize += size_;
    totalPayload += payload_;
    Out(std::string(method == kMethodDeflate ? "deflated  " : "stored    ") + Printable(source.shown));
    return EntryOutcome::Added;
}

uint64_t StoredSize(const std::vector<SourceFile> &sources, bool encrypted) {
    uint64_t total = 0;
    for (const SourceFile &source : sources)
        total += qzw::kFixedHeaderSize + source.name.size() +
                 (encrypted ? qzw::kEncryptionHeaderSize : 0) + source.details.size;
    return total;
}

std::string TooLargeMessage(const std::string &archive) {
    return Printable(archive) +
           ": a QZ archive file must stay below 2 GiB (its positions are 32-bit); split it into "
           "volumes with -v SIZE, e.g. -v 1g";
}

// -e: the password typed twice, unseen, so that it appears neither in the
// process list nor in the shell's history.
bool AskNewPassword(std::string *password) {
    if (!StdinIsTerminal()) {
        Err("-e asks for the password on a terminal, and there is none (use -p)");
        return false;
    }
    std::string again;
    if (!AskPassword("Password: ", password) || !AskPassword("Password again: ", &again))
        return false;
    if (*password != again) {
        Err("the passwords differ; nothing was written");
        return false;
    }
    if (password->empty()) {
        Err("an empty password encrypts nothing worth the name; nothing was written");
        return false;
    }
    return true;
}

}  // namespace

int RunAdd(const Options &given) {
    Options options = given;
    if (options.method == Method::Deflate && !qzw::HaveDeflate()) {
        Err("this build has no Deflate encoder; use -m store");
        return kExitUsage;
    }
    if (KindOf(options.archive) == FileKind::Directory) {
        Err(Printable(options.archive) + " is a directory; give the archive's file name");
        return kExitUsage;
    }
    if (options.volumeSize && !HasThreeCharacterExtension(options.archive)) {
        Err(Printable(options.archive) +
            ": volume names replace the archive name's last three characters (set.qza, set.001, "
            "set.002, ...), so with -v the name needs a three-character extension");
        return kExitUsage;
    }
    const std::vector<std::string> existing = ArchiveFiles(options.archive);
    if (!options.overwrite) {
        const std::string taken = ExistingTarget(options.archive, 1);
        if (!taken.empty()) {
            Err(Printable(taken) + " exists; -y replaces it");
            return kExitUsage;
        }
    }

    const bool split = options.volumeSize.has_value();
    VolumeWriter writer(options.archive, split ? *options.volumeSize : kMaxVolumeSize, split,
                        options.overwrite);
    std::string error;
    if (!writer.Open(&error)) {
        Err("cannot write " + Printable(options.archive) + ": " + error);
        return kExitUsage;
    }
    SetInterruptReport("nothing added yet; the unfinished archive was removed");
    if (options.askPassword) {
        std::string password;
        if (!AskNewPassword(&password))
            return kExitUsage;
        options.password = password;
    }

    size_t skipped = 0;
    // The temporary first volume is in the archive's directory, which may be
    // among the inputs.
    std::vector<std::string> exclude = existing;
    exclude.push_back(writer.firstTemporary());
    const std::vector<SourceFile> sources = CollectSources(options.operands, exclude, &skipped);

    const uint64_t storedSize = StoredSize(sources, options.password.has_value());
    if (!split && options.method == Method::Store && storedSize > kMaxVolumeSize) {
        Err(TooLargeMessage(options.archive) + " (it would be " + std::to_string(storedSize) +
            " bytes)");
        return kExitUsage;
    }
    if (split && !options.overwrite) {
        // The most volumes the data could fill, stored.
        const uint64_t most = std::min<uint64_t>(kMaxVolumes, storedSize / *options.volumeSize + 2);
        const std::string taken = ExistingTarget(options.archive, static_cast<size_t>(most));
        if (!taken.empty()) {
            Err(Printable(taken) + " exists and would be one of the volumes; -y replaces it");
            return kExitUsage;
        }
    }

    ProgressLine progress(StderrIsTerminal());
    SetProgressLine(&progress);
    uint64_t inputBytes = 0;
    for (const SourceFile &source : sources)
        inputBytes += source.details.size;
    progress.Begin(sources.size(), inputBytes);
    ArchiveBuilder builder(options, writer, progress);
    size_t added = 0;
    bool fatal = false;
    for (size_t n = 0; n < sources.size() && !fatal; ++n) {
        progress.StartEntry(n + 1, sources[n].shown, sources[n].details.size);
        switch (builder.Add(sources[n], &error)) {
        case EntryOutcome::Added:
            ++added;
            SetInterruptReport(std::to_string(added) + " of " + std::to_string(sources.size()) +
                               " files were compressed; the unfinished archive was removed");
            break;
        case EntryOutcome::Skipped:
            ++skipped;
            break;
        case EntryOutcome::Fatal:
            fatal = true;
            break;
        }
        progress.EndEntry(n + 1);
    }
    progress.Clear();
    SetProgressLine(nullptr);
    if (fatal) {
        writer.Abandon();
        if (writer.tooLarge())
            Err(TooLargeMessage(options.archive) + "; nothing was written");
        else
            Err("cannot write " + Printable(options.archive) + ": " + error + "; nothing was written");
        return kExitUsage;
    }
    if (added == 0) {
        writer.Abandon();
        Err("no files to add");
        return kExitUsage;
    }
    std::vector<std::string> written;
    if (!writer.Finish(&written, &error)) {
        writer.Abandon();
        Err("cannot write " + Printable(options.archive) + ": " + error);
        return kExitUsage;
    }

    std::string summary = Printable(options.archive) + ": " + std::to_string(added) + " files, " +
                          HumanSize(builder.totalSize) + " as " + HumanSize(builder.totalPayload);
    if (written.size() > 1)
        summary += ", in " + std::to_string(written.size()) + " volumes";
    if (skipped != 0)
        summary += "; " + std::to_string(skipped) + " skipped";
    Out(summary);
    return skipped == 0 ? kExitOk : kExitSomeFailed;
}

}  // namespace qzcli
