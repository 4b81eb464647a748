// qzarc l: one line per entry from the catalogue walk, then the totals.
#include <algorithm>
#include <cstdio>

#include "archive_input.h"
#include "commands.h"
#include "console.h"
#include "glob.h"
#include "volumes.h"
#include "results.h"
#include "terminal.h"
#include "catalogue.h"

namespace qzcli {
namespace {

std::string MethodName(const EntryDetails &details, bool markEncrypted = true) {
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
    return details.encrypted && markEncrypted ? name + "*" : name;
}

std::string Ratio(uint64_t compressed, uint64_t size) {
    if (size == 0)
        return "-";
    return std::to_string((compressed * 100 + size / 2) / size) + "%";
}

// A recorded FILETIME (100 ns ticks since 1601, already local time) as
// "YYYY-MM-DD hh:mm:ss", or with iso as ISO 8601 to the 100 ns
// ("YYYY-MM-DDThh:mm:ss.fffffff", no zone: the record keeps local time). No
// time zone conversion: it is shown as recorded.
std::string FormatTime(uint64_t ticks, bool iso = false) {
    if (ticks == 0 && !iso)
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
    std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d", static_cast<int>(year),
                  static_cast<int>(month), static_cast<int>(day), iso ? 'T' : ' ',
                  static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
                  static_cast<int>(secondOfDay % 60));
    if (iso) {
        char fraction[16];
        std::snprintf(fraction, sizeof fraction, ".%07u", static_cast<unsigned>(ticks % 10000000u));
        return std::string(text) + fraction;
    }
    return text;
}

std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string JsonTime(uint64_t ticks) {
    return "{\"local\": " + JsonString(FormatTime(ticks, true)) +
           ", \"filetime\": " + std::to_string(ticks) + "}";
}

// Every field the record's header gives, one object per entry.
std::string JsonEntry(const CatalogueEntry &entry) {
    const EntryDetails &d = entry.details;
    static const std::pair<uint32_t, const char *> kAttributes[] = {
        {0x01, "readonly"}, {0x02, "hidden"}, {0x04, "system"}, {0x10, "directory"},
        {0x20, "archive"}, {0x80, "normal"}, {0x100, "temporary"}, {0x2000, "not-content-indexed"}};
    std::string attributes;
    for (const auto &a : kAttributes) {
        if ((d.attributes & a.first) != 0)
            attributes += std::string(attributes.empty() ? "" : ", ") + JsonString(a.second);
    }
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08X", d.crc);
    std::string recorded;
    for (char c : entry.name) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(c));
        recorded += hex;
    }
    return std::string("    {") + "\"name\": " + JsonString(entry.shown) +
           ", \"nameBytes\": " + JsonString(recorded) +
           ", \"nameLength\": " + std::to_string(d.nameLength) +
           ", \"method\": " + std::to_string(d.method) +
           ", \"methodName\": " + JsonString(MethodName(d, false)) +
           ", \"encrypted\": " + (d.encrypted ? "true" : "false") +
           ", \"size\": " + std::to_string(d.uncompressedSize) +
           ", \"compressedSize\": " + std::to_string(d.compressedSize) +
           ", \"crc\": " + JsonString(crc) +
           ", \"attributes\": " + std::to_string(d.attributes) +
           ", \"attributeNames\": [" + attributes + "]" +
           ", \"created\": " + JsonTime(d.creationTime) +
           ", \"accessed\": " + JsonTime(d.accessTime) +
           ", \"modified\": " + JsonTime(d.writeTime) + "}";
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
    ArchiveInput input;
    if (!BindLibraryAndArchive(options.archive, &library, &input))
        return kExitUsage;
    VolumeRequests requests(StdinIsTerminal(), input.path());
    VolumeAsker asker(requests);
    const Catalogue catalogue = ReadCatalogue(library, input.path(), 0, &asker);
    if (catalogue.openFailed) {
        Err(Printable(options.archive) + ": " + DescribeOpenFailure(catalogue));
        return kExitUsage;
    }

    if (options.json) {
        std::vector<bool> used(options.operands.size(), false);
        std::string entries;
        for (const CatalogueEntry &entry : catalogue.entries) {
            if (Selected(entry.shown, options.operands, options.excludes, &used))
                entries += (entries.empty() ? "" : ",\n") + JsonEntry(entry);
        }
        const bool complete = catalogue.end == QZ_ARCHIVE_END;
        Out("{\"archive\": " + JsonString(options.archive) + ",\n \"complete\": " +
            (complete ? "true" : "false") +
            (complete ? "" : ",\n \"stopped\": " + JsonString(DescribeWalkEnd(catalogue, asker.missingVolume()))) +
            ",\n \"entries\": [\n" + entries + (entries.empty() ? "" : "\n") + " ]}");
        for (size_t p = 0; p < used.size(); ++p) {
            if (!used[p])
                Err("no entry matches " + Printable(options.operands[p]));
        }
        const bool allUsed = std::find(used.begin(), used.end(), false) == used.end();
        return complete && allUsed ? kExitOk : kExitSomeFailed;
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
        const EntryDetails &d = entry.details;
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08X", d.crc);
        Out(Row(std::to_string(d.uncompressedSize), std::to_string(d.compressedSize),
                Ratio(d.compressedSize, d.uncompressedSize), MethodName(d),
                FormatTime(d.writeTime), crc, Printable(entry.shown)));
        totalSize += d.uncompressedSize;
        totalCompressed += d.compressedSize;
        encrypted += d.encrypted ? 1 : 0;
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
    if (catalogue.end == QZ_ARCHIVE_END)
        return unmatched ? kExitSomeFailed : kExitOk;
    Err(Printable(options.archive) + ": cannot be read past entry " +
        std::to_string(catalogue.entries.size()) + ": " +
        DescribeWalkEnd(catalogue, asker.missingVolume()));
    return kExitSomeFailed;
}

}  // namespace qzcli
