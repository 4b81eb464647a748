#include "archive/entry_name.h"

#include <cstring>

#include "platform/platform.h"

namespace {

// Code page 1252 from 0x80 to 0x9F; 0 where the code page has no
// character (those bytes become U+FFFD). From 0xA0 up it is Latin-1.
constexpr uint16_t k1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

constexpr uint32_t kReplacement = 0xFFFD;

size_t PutUtf8(uint32_t c, char *out) {
    if (c < 0x80) {
        out[0] = char(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = char(0xC0 | (c >> 6));
        out[1] = char(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = char(0xE0 | (c >> 12));
        out[1] = char(0x80 | ((c >> 6) & 0x3F));
        out[2] = char(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (c >> 18));
    out[1] = char(0x80 | ((c >> 12) & 0x3F));
    out[2] = char(0x80 | ((c >> 6) & 0x3F));
    out[3] = char(0x80 | (c & 0x3F));
    return 4;
}

// The length of the well-formed UTF-8 sequence at p (at most left bytes),
// with its character in *c; 0 when the bytes there are ill-formed
// (overlong forms, surrogates and values past U+10FFFF included).
size_t Utf8Sequence(const uint8_t *p, size_t left, uint32_t *c) {
    const uint8_t b = p[0];
    size_t extra;
    uint32_t value;
    uint32_t least;
    if (b < 0x80) {
        *c = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        extra = 1, value = b & 0x1Fu, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2, value = b & 0x0Fu, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3, value = b & 0x07u, least = 0x10000;
    } else {
        return 0;
    }
    if (extra >= left)
        return 0;
    for (size_t k = 1; k <= extra; ++k) {
        if ((p[k] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (p[k] & 0x3Fu);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *c = value;
    return extra + 1;
}

// One character of another ANSI code page, through the platform's
// conversion: a lead byte and its trail byte make one character; bytes that
// make none become U+FFFD, a lead byte without a valid trail on its own.
uint32_t AnsiCharacter(int codepage, const uint8_t *p, size_t left, size_t *used) {
    *used = 1;
    if (p[0] < 0x80)
        return p[0];
    WCHAR wide = 0;
    const char *bytes = reinterpret_cast<const char *>(p);
    if (left >= 2 && IsDBCSLeadByteEx(UINT(codepage), p[0]) &&
        MultiByteToWideChar(UINT(codepage), MB_ERR_INVALID_CHARS, bytes, 2, &wide, 1) == 1) {
        *used = 2;
        return wide;
    }
    if (MultiByteToWideChar(UINT(codepage), MB_ERR_INVALID_CHARS, bytes, 1, &wide, 1) == 1 && wide != 0)
        return wide;
    return kReplacement;
}

bool IsUtf8(const uint8_t *p, size_t n) {
    uint32_t c;
    for (size_t i = 0; i < n;) {
        const size_t k = Utf8Sequence(p + i, n - i, &c);
        if (k == 0)
            return false;
        i += k;
    }
    return true;
}

}  // namespace

bool KnownCodePage(int codepage) {
    switch (codepage) {
    case kCodePageAuto:
    case kCodePageUtf8:
    case kCodePage1252:
        return true;
    case 437:
    case 850:
    case 1250:
    case 1251:
    case 932:
    case 936:
        return IsValidCodePage(UINT(codepage)) != FALSE;
    default:
        return false;
    }
}

size_t NameToUtf8(const uint8_t *name, size_t n, int codepage, char *out) {
    // Most names are plain ASCII, which every code page keeps as it is: up
    // to a NUL (the name ends there) or the first byte with the top bit set,
    // nothing needs converting.
    size_t plain = 0;
    while (plain < n && name[plain] != 0 && name[plain] < 0x80)
        ++plain;
    if (plain == n || name[plain] == 0) {
        std::memcpy(out, name, plain);
        out[plain] = '\0';
        return plain;
    }
    for (size_t i = plain; i < n; ++i) {
        if (name[i] == 0) {
            n = i;
            break;
        }
    }
    const bool utf8 = codepage == kCodePageUtf8 || (codepage == kCodePageAuto && IsUtf8(name, n));
    const bool latin = !utf8 && (codepage == kCodePageAuto || codepage == kCodePage1252);
    size_t length = 0;
    for (size_t i = 0; i < n;) {
        uint32_t c;
        if (utf8) {
            const size_t k = Utf8Sequence(name + i, n - i, &c);
            if (k == 0) {
                c = kReplacement;
                i += 1;
            } else {
                i += k;
            }
        } else if (latin) {
            c = name[i++];
            if (c >= 0x80 && c < 0xA0)
                c = k1252High[c - 0x80] != 0 ? k1252High[c - 0x80] : kReplacement;
        } else {
            size_t k = 1;
            c = AnsiCharacter(codepage, name + i, n - i, &k);
            i += k;
        }
        length += PutUtf8(c, out + length);
    }
    out[length] = '\0';
    return length;
}
