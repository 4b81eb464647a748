#include "archive_seeds.h"

#include "reference_archive.h"
#include "writer/writer.h"

namespace qzfuzz {
namespace {

Bytes OneVolume(const qzw::Archive &archive, bool firstHeaderOnly = false) {
    ArchiveInput input;
    input.firstHeaderOnly = firstHeaderOnly;
    input.volumes.push_back(archive.Serialize());
    return EncodeArchiveInput(input);
}

qzw::Archive Single(qzw::Record record) {
    qzw::Archive archive;
    archive.records.push_back(std::move(record));
    return archive;
}

}  // namespace

std::vector<std::pair<std::string, Bytes>> ArchiveSeeds() {
    std::vector<std::pair<std::string, Bytes>> seeds;
    auto emit = [&seeds](const std::string &name, Bytes bytes) { seeds.emplace_back(name, std::move(bytes)); };

    const ReferenceArchive ref = BuildReferenceArchive();
    ArchiveInput split = ref.Input();
    emit("reference-3vol", EncodeArchiveInput(split));
    split.firstHeaderOnly = true;
    emit("reference-3vol-header-first", EncodeArchiveInput(split));
    emit("reference-1vol", OneVolume(ref.archive));
    for (size_t i = 0; i < ref.archive.records.size(); ++i)
        emit("entry-" + std::to_string(i), OneVolume(Single(ref.archive.records[i])));

    // Two volumes with a stored entry cut in its data.
    {
        qzw::Archive archive;
        archive.records.push_back(qzw::StoredRecord("a", TextData(500, 7)));
        archive.records.push_back(qzw::StoredRecord("b", TextData(80, 8)));
        const Bytes bytes = archive.Serialize();
        const uint64_t cut = qzw::CutInPayload(archive, 0, 123);
        ArchiveInput input;
        input.volumes.emplace_back(bytes.begin(), bytes.begin() + static_cast<long>(cut));
        input.volumes.emplace_back(bytes.begin() + static_cast<long>(cut), bytes.end());
        emit("stored-2vol", EncodeArchiveInput(input));
    }

    const Bytes text = TextData(1500, 9);
    qzw::Record wrongPassword = qzw::StoredRecord("locked", text);
    wrongPassword.flags = 1;
    wrongPassword.password = "not-the-fuzz-password";
    qzw::Record badCrc = qzw::StoredRecord("bad-crc", text);
    badCrc.crc ^= 1;
    qzw::Record badSize = qzw::DeflatedRecord("bad-size", text);
    badSize.uncompressedSize += 1;
    qzw::Record unknownMethod = qzw::DeflatedRecord("method-5", text);
    unknownMethod.method = 5;
    qzw::Record longName = qzw::StoredRecord(std::string(300, 'n'), text);
    qzw::Record noName = qzw::StoredRecord("", text);
    qzw::Record shortSize = qzw::StoredRecord("short", text);
    shortSize.compressedSizeOverride = 1000;
    qzw::Record pastEnd = qzw::DeflatedRecord("past-end", text);
    pastEnd.compressedSizeOverride = static_cast<uint32_t>(pastEnd.payload.size() + 5000);
    const std::pair<const char *, qzw::Record> faults[] = {
        {"wrong-password", wrongPassword}, {"bad-crc", badCrc},       {"bad-size", badSize},
        {"method-5", unknownMethod},       {"long-name", longName},   {"no-name", noName},
        {"short-size", shortSize},         {"size-past-end", pastEnd},
    };
    for (const auto &fault : faults) {
        qzw::Archive archive = Single(fault.second);
        archive.records.push_back(qzw::StoredRecord("after", TextData(40, 10)));
        emit(fault.first, OneVolume(archive, true));
    }

    // zlib's strategies, each as one entry.
    const int strategies[] = {0, 1, 2, 3, 4};
    for (int strategy : strategies) {
        qzw::DeflateOptions options;
        options.strategy = strategy;
        options.level = strategy == 0 ? 9 : 6;
        emit("deflate-strategy-" + std::to_string(strategy),
             OneVolume(Single(qzw::DeflatedRecord("z", TextData(3000, 11), options))));
    }
    qzw::DeflateOptions storedBlocks;
    storedBlocks.level = 0;
    emit("deflate-level-0", OneVolume(Single(qzw::DeflatedRecord("z0", TextData(2000, 12), storedBlocks))));
    return seeds;
}

}  // namespace qzfuzz
