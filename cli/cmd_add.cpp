// qzarc a: creates an archive with the writer. Each file becomes one record
// (stored, or Deflate when that is smaller), optionally encrypted; the
// archive is written whole or as volumes cut inside entries' data.
#include <random>

#include "commands.h"
#include "console.h"
#include "files.h"
#include "progress.h"
#include "sources.h"
#include "writer.h"

namespace qzcli {
namespace {

constexpr uint16_t kFlagEncrypted = 1;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;

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

bool MakeRecord(const SourceFile &source, const Options &options, std::mt19937 &random,
                qzw::Record *record) {
    std::vector<uint8_t> contents;
    std::string error;
    if (!ReadWholeFile(source.path, &contents, &error)) {
        Err(Printable(source.path) + ": " + error + "; skipped");
        return false;
    }
    if (contents.size() > 0xFFFFFFFFu) {
        Err(Printable(source.path) + ": larger than the 4 GiB an entry can hold; skipped");
        return false;
    }
    *record = qzw::StoredRecord(source.name, contents);
    if (options.method == Method::Deflate && !contents.empty()) {
        qzw::DeflateOptions deflate;
        deflate.level = options.level;
        qzw::Bytes packed = qzw::DeflateRaw(contents, deflate);
        if (!packed.empty() && packed.size() < contents.size()) {
            record->method = kMethodDeflate;
            record->payload = std::move(packed);
        }
    }
    record->creationTime = source.details.creationTime;
    record->accessTime = source.details.accessTime;
    record->writeTime = source.details.writeTime;
    record->attributes = source.details.attributes;
    if (options.password) {
        record->flags |= kFlagEncrypted;
        record->password = *options.password;
        // Eleven bytes of filler before the check byte: random, so that
        // equal entries do not encrypt alike.
        record->encryptionHeader.resize(qzw::kEncryptionHeaderSize);
        for (uint8_t &b : record->encryptionHeader)
            b = static_cast<uint8_t>(random());
    }
    return true;
}

}  // namespace

int RunAdd(const Options &options) {
    if (options.method == Method::Deflate && !qzw::HaveDeflate()) {
        Err("this build has no Deflate encoder; use -m store");
        return kExitUsage;
    }
    const std::vector<std::string> existing = ArchiveFiles(options.archive);
    if (!existing.empty() && !options.overwrite) {
        Err(Printable(options.archive) + " exists; -y replaces it");
        return kExitUsage;
    }
    if (options.archive.size() < 4 && options.volumeSize) {
        Err("volumes are named by replacing the archive name's last three characters; " +
            Printable(options.archive) + " is too short for that");
        return kExitUsage;
    }

    size_t skipped = 0;
    const std::vector<SourceFile> sources = CollectSources(options.operands, existing, &skipped);

    std::random_device seed;
    std::mt19937 random(seed());
    qzw::Archive archive;
    uint64_t totalSize = 0;
    uint64_t totalPayload = 0;
    for (const SourceFile &source : sources) {
        qzw::Record record;
        if (!MakeRecord(source, options, random, &record)) {
            ++skipped;
            continue;
        }
        totalSize += record.uncompressedSize;
        totalPayload += record.payload.size();
        Out(std::string(record.method == kMethodDeflate ? "deflated  " : "stored    ") +
            Printable(record.name));
        archive.records.push_back(std::move(record));
    }
    if (archive.records.empty()) {
        Err("no files to add");
        return kExitUsage;
    }

    std::vector<uint64_t> cuts;
    if (options.volumeSize) {
        const auto planned = qzw::InteriorCuts(archive, *options.volumeSize);
        if (!planned) {
            Err("cannot split into volumes of at most " + std::to_string(*options.volumeSize) +
                " bytes: each volume but the last must end inside an entry's data, after a "
                "whole record header (and at most 1000 volumes)");
            return kExitUsage;
        }
        cuts = *planned;
    }
    const std::vector<std::string> written =
        qzw::WriteArchiveVolumes(options.archive, archive, cuts);
    if (written.empty()) {
        Err("cannot write " + Printable(options.archive));
        return kExitUsage;
    }

    std::string summary = Printable(options.archive) + ": " +
                          std::to_string(archive.records.size()) + " files, " +
                          HumanSize(totalSize) + " as " + HumanSize(totalPayload);
    if (written.size() > 1)
        summary += ", in " + std::to_string(written.size()) + " volumes";
    if (skipped != 0)
        summary += "; " + std::to_string(skipped) + " skipped";
    Out(summary);
    return skipped == 0 ? kExitOk : kExitSomeFailed;
}

}  // namespace qzcli
