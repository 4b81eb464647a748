// make_sample: builds the bundled sample archive, examples/sample.qza and its
// second volume examples/sample.001. Built in the Linux tree only; run it
// again only to change the sample (the archive is committed):
//
//   build/linux/make_sample build examples/sample-data examples/sample.qza
//
// The entries come from examples/sample-data/tree, plus one generated file:
//
//   README.txt              Deflate (zlib, through the archive writer)
//   docs\format.txt         stored
//   docs\history\notes.txt  Deflate64: the raw stream in
//                           sample-data/notes.txt.deflate64, made once by 7-Zip
//   data\log.csv            Deflate, generated here: a 2.5 MB log that
//                           compresses well, so that its extraction is long
//                           enough for the library to report progress
//   private\plan.txt        Deflate, encrypted with the password qzarc-sample
//
// The archive is cut in the middle of the Deflate64 entry's data, so that
// extracting it follows the data from the first volume into the second.
// Times are fixed and the encryption header's filler is constant, so the
// same inputs always give the same bytes.
//
// The Deflate64 stream was taken out of a one-entry zip made by 7-Zip, which
// has a Deflate64 encoder (zlib has none):
//
//   cd examples/sample-data/tree/docs/history
//   7zz a -tzip -mm=Deflate64 -mx=9 /tmp/notes.zip notes.txt
//   build/linux/make_sample take-stream /tmp/notes.zip examples/sample-data/notes.txt.deflate64
//
// take-stream checks that the zip's entry is Deflate64, writes its raw
// compressed bytes and prints the size and CRC 7-Zip recorded. The records
// take size and CRC from notes.txt itself, so `qzarc t` on the result checks
// that the stream and the file belong together.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "writer/writer.h"
#include "zip_reader.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kPassword = "qzarc-sample";
constexpr uint16_t kMethodDeflate64 = 9;

qzw::Bytes Read(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return qzw::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// 2024-05-17 10:30:00 plus `minutes`, as a FILETIME: the archive records
// local time, so this is the time every extraction shows, in any zone.
uint64_t SampleTime(int minutes) {
    // Days from 1601-01-01 to 2024-05-17.
    constexpr int64_t kDays = 154634;
    const int64_t seconds = kDays * 86400 + 10 * 3600 + 30 * 60 + int64_t{minutes} * 60;
    return static_cast<uint64_t>(seconds) * 10000000u;
}

qzw::Record Timed(qzw::Record record, int minutes) {
    record.creationTime = SampleTime(minutes);
    record.accessTime = SampleTime(minutes + 5);
    record.writeTime = SampleTime(minutes + 1);
    return record;
}

// A sensor log: a day's readings under a header line per day. The days
// differ only in their headers, so Deflate makes it over 100 times smaller.
qzw::Bytes GeneratedLog() {
    static const char *const kStates[] = {"ok", "ok", "ok", "warm", "ok", "ok", "cool", "ok"};
    std::string day;
    for (int i = 0; i < 240; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%02d:%02d,sensor-%d,%d.%d,%s\n", 8 + i / 24,
                      (i % 24) / 4 * 10, i % 4, 20 + i / 80, i % 10, kStates[(i / 9) % 8]);
        day += line;
    }
    std::string text = "time,sensor,reading,state\n";
    for (int n = 1; text.size() < 2500000; ++n)
        text += "# day " + std::to_string(n) + "\n" + day;
    return qzw::Bytes(text.begin(), text.end());
}

int TakeStream(const fs::path &zip, const fs::path &out) {
    qzt::ZipEntry entry;
    std::string error;
    if (!qzt::ReadFirstZipEntry(Read(zip), &entry, &error)) {
        std::fprintf(stderr, "make_sample: %s: %s\n", zip.string().c_str(), error.c_str());
        return 1;
    }
    if (entry.method != kMethodDeflate64) {
        std::fprintf(stderr, "make_sample: %s: the entry is not Deflate64 (method %u)\n",
                     zip.string().c_str(), entry.method);
        return 1;
    }
    if (!qzw::WriteFile(out.string(), entry.data)) {
        std::fprintf(stderr, "make_sample: cannot write %s\n", out.string().c_str());
        return 1;
    }
    std::printf("%s: %u bytes of Deflate64 for %u bytes (CRC %08X)\n", out.string().c_str(),
                entry.compressedSize, entry.uncompressedSize, entry.crc);
    return 0;
}

int Build(const fs::path &data, const std::string &archivePath) {
    const fs::path tree = data / "tree";
    qzw::Archive archive;

    archive.records.push_back(
        Timed(qzw::DeflatedRecord("README.txt", Read(tree / "README.txt"), {9}), 0));
    archive.records.push_back(
        Timed(qzw::StoredRecord("docs\\format.txt", Read(tree / "docs/format.txt")), 10));

    const qzw::Bytes notes = Read(tree / "docs/history/notes.txt");
    qzw::Record history = qzw::StoredRecord("docs\\history\\notes.txt", notes);
    history.method = kMethodDeflate64;
    history.payload = Read(data / "notes.txt.deflate64");
    if (history.payload.size() < 2 || history.payload.size() >= notes.size()) {
        std::fprintf(stderr, "make_sample: notes.txt.deflate64 does not look like its stream\n");
        return 1;
    }
    archive.records.push_back(Timed(history, 20));
    const size_t historyIndex = archive.records.size() - 1;

    archive.records.push_back(Timed(qzw::DeflatedRecord("data\\log.csv", GeneratedLog(), {9}), 30));

    qzw::Record plan = qzw::DeflatedRecord("private\\plan.txt", Read(tree / "private/plan.txt"), {9});
    plan.flags |= 1;
    plan.password = kPassword;
    plan.encryptionHeader = qzw::Bytes(qzw::kEncryptionHeaderSize, 0x5A);
    archive.records.push_back(Timed(plan, 40));

    const uint64_t cut =
        qzw::CutInPayload(archive, historyIndex, archive.records[historyIndex].payload.size() / 2);
    const auto written = qzw::WriteArchiveVolumes(archivePath, archive, {cut});
    if (written.size() != 2) {
        std::fprintf(stderr, "make_sample: cannot write %s\n", archivePath.c_str());
        return 1;
    }
    for (const std::string &path : written)
        std::printf("%s: %ju bytes\n", path.c_str(), static_cast<uintmax_t>(fs::file_size(path)));
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    try {
        if (argc == 4 && std::string(argv[1]) == "take-stream")
            return TakeStream(argv[2], argv[3]);
        if (argc == 4 && std::string(argv[1]) == "build")
            return Build(argv[2], argv[3]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make_sample: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr,
                 "usage: make_sample build SAMPLE_DATA_DIR ARCHIVE.qza\n"
                 "       make_sample take-stream ZIP OUT.deflate64\n");
    return 2;
}
