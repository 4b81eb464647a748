// The extraction library as the command-line tool sees it: its three entry
// points, bound at run time on Windows (QZARC.dll by ordinal, as any host
// would load it) and at link time on Linux (libqzarc.so).
#ifndef QZARC_CLI_LIBRARY_H
#define QZARC_CLI_LIBRARY_H

#include <string>

#include "qzarc.h"

namespace qzcli {

struct Library {
    int(QZ_CDECL *unpack)(const char *archivePath, const char *outputPath, char *nameOut,
                          const char *password, unsigned int startOffset, char *crcOut,
                          int flags) = nullptr;
    int(QZ_CDECL *setCallback)(HostCallback callback) = nullptr;
    int(QZ_CDECL *entryInfo)(QZEntryDetails *details) = nullptr;
};

// Binds the entry points. False, with the reason in *error, when the library
// (or one of its ordinals) cannot be found.
bool BindLibrary(Library *library, std::string *error);

}  // namespace qzcli

#endif  // QZARC_CLI_LIBRARY_H
