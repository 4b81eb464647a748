// Linux: qzarc is linked against libqzarc.so (found beside the program
// through its $ORIGIN run path), so binding is taking the addresses.
#if !defined(_WIN32)

#include "library.h"

namespace qzcli {

bool BindLibrary(Library *library, std::string * /*error*/) {
    library->unpack = &QZUnpack;
    library->setCallback = &QZCallback;
    library->entryInfo = &QZEntryInfo;
    return true;
}

}  // namespace qzcli

#endif  // !_WIN32
