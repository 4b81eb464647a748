// The host side of the library's notifications, for the length of one
// command: progress reports feed the progress line; requests for a missing
// volume are put to the user on a terminal, and are given up at once (with
// one message naming the file) when there is nobody to ask.
#ifndef QZARC_CLI_HOST_H
#define QZARC_CLI_HOST_H

#include <string>

#include "library.h"

namespace qzcli {

class ProgressLine;

class Host {
public:
    // Registers the notification function; `interactive` says whether the
    // user may be asked. The progress line may be null. `archive` is the
    // first volume (a file the user cannot give for a later one).
    Host(const Library &library, ProgressLine *progress, bool interactive,
         const std::string &archive);
    ~Host();  // unregisters it
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // The volume file last reported missing since the last Forget, or "".
    std::string missingVolume() const;
    void ForgetMissingVolume();
};

}  // namespace qzcli

#endif  // QZARC_CLI_HOST_H
