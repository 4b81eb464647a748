#if defined(_WIN32)

#include <windows.h>

#include <vector>

#include "codepage.h"

namespace qzcli {
namespace {

std::optional<unsigned> gPage;
bool gUtf8 = false;

// Text from one code page to another through UTF-16; false when a
// character has no place in the target (no best-fit substitutes).
bool Convert(const std::string &text, UINT from, UINT to, std::string *out) {
    out->clear();
    if (text.empty())
        return true;
    const int wide = MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0)
        return false;
    std::vector<wchar_t> buffer(static_cast<size_t>(wide));
    MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), buffer.data(), wide);
    BOOL lossy = FALSE;
    const bool utf8 = to == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(to, flags, buffer.data(), wide, nullptr, 0, nullptr,
                                      utf8 ? nullptr : &lossy);
    if (n <= 0)
        return false;
    out->resize(static_cast<size_t>(n));
    WideCharToMultiByte(to, flags, buffer.data(), wide, &(*out)[0], n, nullptr, utf8 ? nullptr : &lossy);
    return lossy == FALSE;
}

}  // namespace

void ChooseCodePage(std::optional<unsigned> page, bool utf8) {
    gPage = page;
    gUtf8 = utf8;
}

std::string NameFromArchive(const std::string &recorded) {
    if (!gPage)
        return recorded;  // the library's own code page, the system's
    std::string local;
    Convert(recorded, *gPage, CP_ACP, &local);  // characters the system lacks become '?'
    return local;
}

bool NameForArchive(const std::string &local, std::string *recorded, std::string *error) {
    if (!gPage && !gUtf8) {
        *recorded = local;
        return true;
    }
    const UINT to = gUtf8 ? CP_UTF8 : *gPage;
    if (!Convert(local, CP_ACP, to, recorded)) {
        *error = "its name has a character code page " + std::to_string(to) + " cannot hold";
        return false;
    }
    return true;
}

}  // namespace qzcli

#endif  // _WIN32
