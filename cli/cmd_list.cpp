// qzarc l: one line per entry from the catalogue walk, then the totals.
#include <cstdio>

#include "archive_input.h"
#include "commands.h"
#include "console.h"
#include "glob.h"
#include "host.h"
#include "results.h"
#include "terminal.h"
#include "walk.h"

namespace qzcli {
namespace {

std::string MethodName(const QZEntryDetails &details) {
    std::string name;
    switch (details.method) {
    case 0:
        name = "stored";
        break;
    case 8:
        name = "deflate";
        break;
    case 9:
        name = "deflate64";
        break;
    default:
        name = "method " + std::to_string(details.method);
        break;
    }
    return details.encrypted != 0 ? name + "*" : name;
}

std::string Ratio(uint64_t compressed, uint64_t size) {
    if (size == 0)
        return "-";
    return std::to_string((compressed * 100 + size / 2) / size) + "%";
}

// A recorded FILETIME (100 ns ticks since 1601, already local time) as
// "YYYY-MM-DD hh:mm:ss". No time zone conversion: it is shown as recorded.
std::string FormatTime(const unsigned int parts[2]) {
    const uint64_t ticks = (static_cast<uint64_t>(parts[1]) << 32) | parts[0];
    if (ticks == 0)
        return "-";
    const uint64_t seconds = ticks / 10000000u;
    const int64_t days1601 = static_cast<int64_t>(seconds / 86400);
    const uint64_t secondOfDay = seconds % 86400;
    // Civil date from a day count (proleptic Gregorian), counted from
    // 0000-03-01 so that leap days fall at the end of each year.
    const int64_t z = days1601 - 134774 + 719468;  // days since 1970, then since 0000-03-01
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(year),
                  static_cast<int>(month), static_cast<int>(day),
                  static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
                  static_cast<int>(secondOfDay % 60));
    return text;
}

std::string Row(const std::string &size, const std::string &compressed, const std::string &ratio,
                const std::string &method, const std::string &time, const std::string &crc,
                const std::string &name) {
    char text[160];
    std::snprintf(text, sizeof text, "%10s  %10s  %5s  %-10s  %-19s  %-8s  ", size.c_str(),
                  compressed.c_str(), ratio.c_str(), method.c_str(), time.c_str(), crc.c_str());
    return text + name;
}

}  // namespace

int RunList(const Options &options) {
    Library library;
    std::string error;
    if (!BindLibrary(&library, &error)) {
        Err(error);
        return kExitUsage;
    }
    ArchiveInput input;
    if (!input.Prepare(options.archive, &error)) {
        Err(Printable(options.archive) + ": " + error);
        return kExitUsage;
    }
    Host host(library, nullptr, StdinIsTerminal(), input.path());
    const Catalogue catalogue = ReadCatalogue(library, input.path());
    if (IsOpenFailure(catalogue.end)) {
        Err(Printable(options.archive) + ": " + DescribeResult(catalogue.end));
        return kExitUsage;
    }

    Out(Row("Size", "Compressed", "Ratio", "Method", "Modified", "CRC", "Name"));
    Out(Row("----------", "----------", "-----", "----------", "-------------------", "--------",
            "----"));
    uint64_t totalSize = 0;
    uint64_t totalCompressed = 0;
    size_t encrypted = 0;
    size_t listed = 0;
    std::vector<bool> patternUsed(options.operands.size(), false);
    for (const CatalogueEntry &entry : catalogue.entries) {
        if (!Selected(entry.shown, options.operands, options.excludes, &patternUsed))
            continue;
        ++listed;
        const QZEntryDetails &d = entry.details;
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08X", d.crc);
        Out(Row(std::to_string(d.uncompressedSize), std::to_string(d.compressedSize),
                Ratio(d.compressedSize, d.uncompressedSize), MethodName(d),
                FormatTime(d.writeTime), crc, Printable(entry.shown)));
        totalSize += d.uncompressedSize;
        totalCompressed += d.compressedSize;
        encrypted += d.encrypted != 0 ? 1 : 0;
    }
    Out(Row("----------", "----------", "-----", "", "", "", "----"));
    std::string summary = std::to_string(listed) + (listed == 1 ? " entry" : " entries");
    if (encrypted != 0)
        summary += " (" + std::to_string(encrypted) + " encrypted, marked *)";
    Out(Row(std::to_string(totalSize), std::to_string(totalCompressed),
            Ratio(totalCompressed, totalSize), "", "", "", summary));

    bool unmatched = false;
    for (size_t p = 0; p < options.operands.size(); ++p) {
        if (!patternUsed[p]) {
            Err("no entry matches " + Printable(options.operands[p]));
            unmatched = true;
        }
    }
    if (catalogue.end == QZ_END_OF_ARCHIVE)
        return unmatched ? kExitSomeFailed : kExitOk;
    Err(Printable(options.archive) + ": cannot be read past entry " +
        std::to_string(catalogue.entries.size()) + ": " +
        DescribeWalkEnd(catalogue, host.missingVolume()));
    return kExitSomeFailed;
}

}  // namespace qzcli
