// Windows: QZARC.dll is loaded at run time and its entry points are looked up
// by ordinal (3 QZUnpack, 4 QZCallback, 5 QZEntryInfo). The loader searches
// the program's own directory first, where the build puts the DLL.
#if defined(_WIN32)

#include <windows.h>

#include "library.h"
#include "results.h"

namespace qzcli {
namespace {

constexpr const char *kDllName = "QZARC.dll";

template <typename Function>
bool Bind(HMODULE module, WORD ordinal, Function *out) {
    FARPROC proc = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    if (proc == nullptr)
        return false;
    // FARPROC to the entry point's real type: the usual host idiom.
    *out = reinterpret_cast<Function>(reinterpret_cast<void *>(proc));
    return true;
}

}  // namespace

bool BindLibrary(Library *library, std::string *error) {
    static HMODULE module = nullptr;
    if (module == nullptr)
        module = LoadLibraryA(kDllName);
    if (module == nullptr) {
        *error = std::string("cannot load ") + kDllName + ": " +
                 DescribeSystemError(static_cast<uint32_t>(GetLastError()));
        return false;
    }
    if (!Bind(module, 3, &library->unpack) || !Bind(module, 4, &library->setCallback) ||
        !Bind(module, 5, &library->entryInfo)) {
        *error = std::string(kDllName) + " lacks one of the ordinals 3, 4 and 5";
        return false;
    }
    return true;
}

}  // namespace qzcli

#endif  // _WIN32
