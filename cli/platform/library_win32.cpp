// Windows: QZARC.dll is loaded at run time and the handle API's entry points
// are looked up by ordinal (6 qz_archive_new ... 21 qz_archive_error, and
// 24 qz_archive_set_threads when the DLL has it). The
// loader searches the program's own directory first, where the build puts
// the DLL.
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
    const bool bound = Bind(module, 6, &library->archiveNew) && Bind(module, 7, &library->archiveFree) &&
                       Bind(module, 8, &library->setPassword) &&
                       Bind(module, 10, &library->setVolumeHandler) &&
                       Bind(module, 11, &library->setProgressHandler) && Bind(module, 12, &library->open) &&
                       Bind(module, 13, &library->close) && Bind(module, 14, &library->next) &&
                       Bind(module, 16, &library->read) && Bind(module, 18, &library->extract) &&
                       Bind(module, 19, &library->seek) && Bind(module, 21, &library->error);
    if (!bound) {
        *error = std::string(kDllName) + " lacks one of the handle API's ordinals 6 to 21 (an older DLL?)";
        return false;
    }
    Bind(module, 24, &library->setThreads);  // qz_archive_set_threads, since 1.2.0
    return true;
}

}  // namespace qzcli

#endif  // _WIN32
