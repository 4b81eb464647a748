// The soak: 100 000 QZUnpack calls in walk mode over an archive of 1000
// entries in several volumes, a new walk opened each time one ends. Every
// kind of entry is there, sound and failing (stored, Deflate, Deflate64,
// encrypted, empty, a bad CRC, a wrong password); two calls in three
// extract, the third only reads the header. Resident memory (VmRSS) and the
// number of open descriptors are sampled before the first call, at the end
// of the first walk (start), at the end of the walk nearest the middle, and
// after the last call and a close-now call (end). The run fails unless both
// stay flat from start to end.
//
//   qzarc_soak [CALLS]      (default 100000)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "archive_input.h"
#include "deflate64_fixtures.h"
#include "qzarc.h"
#include "reference_archive.h"
#include "writer/writer.h"

namespace {

constexpr int kEntries = 1000;
constexpr long kRssToleranceKiB = 512;  // allocator noise, not growth

struct Sample {
    const char *label;
    long calls;
    long rssKiB;
    int fds;
};

long ResidentKiB() {
    FILE *status = std::fopen("/proc/self/status", "r");
    if (status == nullptr)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status) != nullptr)
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(status);
    return kib;
}

int OpenDescriptors() {
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    int n = 0;
    while (dirent *entry = readdir(dir))
        if (entry->d_name[0] != '.')
            ++n;
    closedir(dir);
    return n - 1;  // the directory stream's own descriptor
}

int QZ_STDCALL NeverWait(int kind, int, int, int, char *) { return kind == QZ_NOTIFY_VOLUME ? 1 : 0; }

qzw::Record Entry(int i) {
    const qzw::Bytes text = qzfuzz::TextData(200 + static_cast<size_t>(i % 37) * 80, static_cast<uint32_t>(i));
    const std::string name = "entry-" + std::to_string(i);
    switch (i % 10) {
    case 0:
        return qzw::StoredRecord(name, text);
    case 1:
        return qzw::DeflatedRecord(name, text);
    case 2:
    case 6: {
        return deflate64_fixtures::MakeRecord(deflate64_fixtures::kAll[i % 10 == 2 ? 0 : 3], name);
    }
    case 3:
    case 4:
    case 8: {
        qzw::Record record = i % 10 == 3 ? qzw::StoredRecord(name, text) : qzw::DeflatedRecord(name, text);
        record.flags = 1;
        record.password = i % 10 == 8 ? "another password" : qzfuzz::kPassword;
        return record;
    }
    case 5:
        return qzw::StoredRecord(name, qzw::Bytes());
    case 7: {
        qzw::Record record = qzw::StoredRecord(name, text);
        record.crc ^= 0x10;
        return record;
    }
    default: {
        qzw::DeflateOptions fixed;
        fixed.strategy = 4;
        return qzw::DeflatedRecord(name, text, fixed);
    }
    }
}

}  // namespace

int main(int argc, char **argv) {
    const long totalCalls = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100000;
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/qzarc-soak-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    const std::string archivePath = dir + "/soak.qza";
    const std::string output = dir + "/entry.out";

    qzw::Archive archive;
    for (int i = 0; i < kEntries; ++i)
        archive.records.push_back(Entry(i));
    // Five volumes, each cut inside an entry's data (a cut at the end of an
    // entry's data would end the walk there: records never start a volume).
    const qzw::Bytes bytes = archive.Serialize();
    const uint64_t size = bytes.size();
    std::vector<uint64_t> cuts;
    for (int k = 1; k < 5; ++k) {
        const int r = k * kEntries / 5 + 1;  // a Deflate entry
        cuts.push_back(qzw::CutInPayload(archive, r, archive.records[r].payload.size() / 2));
    }
    const std::vector<std::string> volumes = qzw::WriteVolumes(archivePath, bytes, cuts);
    if (volumes.empty()) {
        std::fprintf(stderr, "qzarc_soak: cannot write the archive\n");
        std::filesystem::remove_all(dir);
        return 1;
    }
    std::printf("qzarc_soak: %d entries, %llu bytes in %zu volumes, %ld calls\n", kEntries,
                static_cast<unsigned long long>(size), volumes.size(), totalCalls);

    QZCallback(NeverWait);
    std::vector<Sample> samples;
    samples.push_back({"before", 0, ResidentKiB(), OpenDescriptors()});

    std::map<int, long> results;
    char name[260];  // MAX_PATH: the longest name the library hands out, and a terminator
    char crc[16];
    bool walkOpen = false;
    long walks = 0;
    long callsInWalk = 0;
    bool middleTaken = false;
    for (long call = 1; call <= totalCalls; ++call) {
        const bool headerOnly = call % 3 == 0;
        const int flags = (walkOpen ? 0 : QZ_KEEP_OPEN) | (headerOnly ? QZ_HEADER_ONLY : 0);
        const int result = QZUnpack(archivePath.c_str(), output.c_str(), name, qzfuzz::kPassword,
                                    0, crc, flags);
        walkOpen = true;
        ++callsInWalk;
        ++results[result];
        if (result == QZ_END_OF_ARCHIVE || result == QZ_BAD_RECORD) {
            walkOpen = false;
            ++walks;
            if (callsInWalk != kEntries + 1 || result != QZ_END_OF_ARCHIVE) {
                std::fprintf(stderr, "qzarc_soak: walk %ld ended with %d after %ld calls\n", walks,
                             result, callsInWalk);
                std::filesystem::remove_all(dir);
                return 1;
            }
            callsInWalk = 0;
            if (walks == 1)
                samples.push_back({"start", call, ResidentKiB(), OpenDescriptors()});
            if (!middleTaken && call >= totalCalls / 2) {
                middleTaken = true;
                samples.push_back({"middle", call, ResidentKiB(), OpenDescriptors()});
            }
        }
    }
    QZUnpack(nullptr, nullptr, nullptr, nullptr, 0, nullptr, QZ_CLOSE_NOW);
    samples.push_back({"end", totalCalls, ResidentKiB(), OpenDescriptors()});
    QZCallback(nullptr);
    std::filesystem::remove_all(dir);

    std::printf("qzarc_soak: %ld walks; results:", walks);
    for (const auto &r : results)
        std::printf(" %d x%ld", r.first, r.second);
    std::printf("\n%-8s %8s %10s %5s\n", "sample", "calls", "VmRSS kB", "fds");
    for (const Sample &s : samples)
        std::printf("%-8s %8ld %10ld %5d\n", s.label, s.calls, s.rssKiB, s.fds);

    const Sample *start = nullptr;
    for (const Sample &s : samples)
        if (std::strcmp(s.label, "start") == 0)
            start = &s;
    if (start == nullptr) {
        std::printf("qzarc_soak: no walk finished; nothing to compare\n");
        return 1;
    }
    bool flat = true;
    for (const Sample &s : samples) {
        if (&s < start)
            continue;
        if (s.fds != start->fds || s.rssKiB > start->rssKiB + kRssToleranceKiB)
            flat = false;
    }
    std::printf("qzarc_soak: memory and descriptors %s\n", flat ? "flat" : "GREW");
    return flat ? 0 : 1;
}
