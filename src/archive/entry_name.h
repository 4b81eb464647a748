// Entry names from their recorded bytes to UTF-8.
//
// Records hold names in a Windows ANSI code page, chosen by whoever wrote the
// archive and recorded nowhere. The handle API hands names out as UTF-8:
// code page 0 takes a name that is well-formed UTF-8 as it stands (archives
// written on systems whose names are UTF-8) and reads any other as 1252,
// the code page of most such archives. 65001 (UTF-8, ill-formed bytes
// becoming U+FFFD) and the ANSI code pages 437, 850, 1250, 1251, 1252, 932
// and 936 may also be chosen outright: every name is then read in that one.
#ifndef QZARC_ARCHIVE_ENTRY_NAME_H
#define QZARC_ARCHIVE_ENTRY_NAME_H

#include <cstddef>
#include <cstdint>

constexpr int kCodePageAuto = 0;
constexpr int kCodePage1252 = 1252;
constexpr int kCodePageUtf8 = 65001;

// True for the code pages NameToUtf8 knows.
bool KnownCodePage(int codepage);

// The most bytes the UTF-8 form of an n-byte name can take, terminator
// included.
inline size_t Utf8Capacity(size_t n) { return 3 * n + 1; }

// Writes the UTF-8 form of the name's bytes up to its first NUL into out
// (Utf8Capacity(n) bytes), NUL-terminated; returns its length.
size_t NameToUtf8(const uint8_t *name, size_t n, int codepage, char *out);

#endif // QZARC_ARCHIVE_ENTRY_NAME_H
