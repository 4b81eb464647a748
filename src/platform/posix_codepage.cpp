// The ANSI code pages on POSIX systems: MultiByteToWideChar and its
// companions over the tables made at build time from the C library's own
// converters (make_codepage_tables.cpp). Every page maps 0x00-0x7F to
// itself; a byte from 0x80 up is a character of its own, no character, or
// the lead byte of a two-byte character.
#if !defined(_WIN32)

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

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

// Made at build time, found on the include path of the build tree.
#include <codepage_tables.inc>

constexpr uint16_t kLeadByte = 0xFFFF;
constexpr uint16_t kReplacement = 0xFFFD;

const CodePageTable *Table(UINT page) {
    for (const CodePageTable &table : kCodePageTables) {
        if (table.page == page)
            return &table;
    }
    return nullptr;
}

// The character at p (left > 0 bytes) and how many bytes it takes; 0 when
// the bytes there are no character of the page.
uint16_t Decode(const CodePageTable &table, const uint8_t *p, int left, int *used) {
    *used = 1;
    if (p[0] < 0x80)
        return p[0];
    const uint16_t c = table.high[p[0] - 0x80];
    if (c != kLeadByte)
        return c;
    if (left < 2)
        return 0;
    const uint16_t key = uint16_t(p[0] << 8 | p[1]);
    const CodePair *end = table.pairs + table.pairCount;
    const CodePair *found =
        std::lower_bound(table.pairs, end, key, [](const CodePair &pair, uint16_t k) { return pair.bytes < k; });
    if (found == end || found->bytes != key)
        return 0;
    *used = 2;
    return found->character;
}

}  // namespace

BOOL IsValidCodePage(UINT codePage) { return Table(codePage) != nullptr ? TRUE : FALSE; }

BOOL IsDBCSLeadByteEx(UINT codePage, BYTE byte) {
    const CodePageTable *table = Table(codePage);
    return table != nullptr && byte >= 0x80 && table->high[byte - 0x80] == kLeadByte ? TRUE : FALSE;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int count, LPWSTR wide, int wideCount) {
    const CodePageTable *table = Table(codePage);
    if (table == nullptr || bytes == nullptr || count < 0 || wideCount < 0 || (wideCount > 0 && wide == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const uint8_t *p = reinterpret_cast<const uint8_t *>(bytes);
    int produced = 0;
    for (int i = 0; i < count;) {
        int used = 1;
        uint16_t c = Decode(*table, p + i, count - i, &used);
        if (c == 0 && p[i] != 0) {
            if ((flags & MB_ERR_INVALID_CHARS) != 0) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            c = kReplacement;
        }
        if (wideCount != 0) {
            if (produced == wideCount) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            wide[produced] = c;
        }
        ++produced;
        i += used;
    }
    return produced;
}

#endif  // !_WIN32
