#if !defined(_WIN32)

#include <algorithm>
#include <cstdint>
#include <map>

#include "codepage.h"

namespace qzcli {
namespace {

struct CodePair {
    uint16_t bytes;      // lead byte << 8 | trail byte
    uint16_t character;
};

struct CodePageTable {
    unsigned page;
    const uint16_t *high;   // bytes 0x80-0xFF: character, 0 none, 0xFFFF lead byte
    const CodePair *pairs;  // sorted by bytes
    size_t pairCount;
};

#include "codepage_tables.inc"

constexpr unsigned kDefaultPage = 1252;
constexpr uint16_t kLeadByte = 0xFFFF;
constexpr uint32_t kReplacement = 0xFFFD;

std::optional<unsigned> gPage;
bool gUtf8 = false;

const CodePageTable &Table(unsigned page) {
    for (const CodePageTable &table : kCodePageTables) {
        if (table.page == page)
            return table;
    }
    return Table(kDefaultPage);
}

void AppendUtf8(uint32_t c, std::string *out) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The next character of UTF-8 text at *i; false when the bytes there are
// not well-formed UTF-8 (overlong forms and surrogates included).
bool NextUtf8(const std::string &text, size_t *i, uint32_t *c) {
    const unsigned char b = static_cast<unsigned char>(text[*i]);
    size_t extra;
    uint32_t value;
    uint32_t least;
    if (b < 0x80) {
        *c = b;
        ++*i;
        return true;
    } else if ((b & 0xE0) == 0xC0) {
        extra = 1;
        value = b & 0x1Fu;
        least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2;
        value = b & 0x0Fu;
        least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3;
        value = b & 0x07u;
        least = 0x10000;
    } else {
        return false;
    }
    if (*i + extra >= text.size())
        return false;
    for (size_t k = 1; k <= extra; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[*i + k]);
        if ((next & 0xC0) != 0x80)
            return false;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return false;
    *c = value;
    *i += extra + 1;
    return true;
}

bool IsUtf8(const std::string &text) {
    uint32_t c;
    for (size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {  // most names: ASCII
            ++i;
            continue;
        }
        if (!NextUtf8(text, &i, &c))
            return false;
    }
    return true;
}

std::string Decode(const std::string &recorded, const CodePageTable &table) {
    std::string out;
    for (size_t i = 0; i < recorded.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(recorded[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            continue;
        }
        uint32_t c = table.high[b - 0x80];
        if (c == kLeadByte) {
            c = kReplacement;
            if (i + 1 < recorded.size()) {
                const uint16_t key = static_cast<uint16_t>(b << 8 | static_cast<unsigned char>(recorded[i + 1]));
                const CodePair *end = table.pairs + table.pairCount;
                const CodePair *found = std::lower_bound(
                    table.pairs, end, key, [](const CodePair &p, uint16_t k) { return p.bytes < k; });
                if (found != end && found->bytes == key) {
                    c = found->character;
                    ++i;
                }
            }
        }
        AppendUtf8(c == 0 ? kReplacement : c, &out);
    }
    return out;
}

// Characters to their bytes in one code page, built when first needed.
const std::map<uint32_t, std::string> &Encoder(const CodePageTable &table) {
    static std::map<unsigned, std::map<uint32_t, std::string>> encoders;
    auto known = encoders.find(table.page);
    if (known != encoders.end())
        return known->second;
    std::map<uint32_t, std::string> &map = encoders[table.page];
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
        const uint16_t c = table.high[b - 0x80];
        if (c != 0 && c != kLeadByte)
            map.emplace(c, std::string(1, static_cast<char>(b)));
    }
    for (size_t i = 0; i < table.pairCount; ++i) {
        const std::string bytes = {static_cast<char>(table.pairs[i].bytes >> 8),
                                   static_cast<char>(table.pairs[i].bytes & 0xFF)};
        map.emplace(table.pairs[i].character, bytes);  // the first pair for a character wins
    }
    return map;
}

}  // namespace

void ChooseCodePage(std::optional<unsigned> page, bool utf8) {
    gPage = page;
    gUtf8 = utf8;
}

std::string NameFromArchive(const std::string &recorded) {
    if (!gPage && IsUtf8(recorded))
        return recorded;
    return Decode(recorded, Table(gPage.value_or(kDefaultPage)));
}

bool NameForArchive(const std::string &local, std::string *recorded, std::string *error) {
    if (!IsUtf8(local)) {
        *error = "its name is not valid UTF-8";
        return false;
    }
    if (gUtf8) {
        *recorded = local;
        return true;
    }
    const unsigned page = gPage.value_or(kDefaultPage);
    const std::map<uint32_t, std::string> &encoder = Encoder(Table(page));
    recorded->clear();
    uint32_t c;
    for (size_t i = 0; i < local.size();) {
        const size_t at = i;
        NextUtf8(local, &i, &c);
        if (c < 0x80) {
            recorded->push_back(static_cast<char>(c));
            continue;
        }
        auto found = encoder.find(c);
        if (found == encoder.end()) {
            *error = "its name has a character code page " + std::to_string(page) + " cannot hold ('" +
                     local.substr(at, i - at) + "'; --codepage N or --utf8 chooses another)";
            return false;
        }
        *recorded += found->second;
    }
    return true;
}

}  // namespace qzcli

#endif  // !_WIN32
