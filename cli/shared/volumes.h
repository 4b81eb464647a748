// Requests for a missing volume of a split archive, for the length of one
// command and from every handle it reads with: put to the user on a
// terminal, and given up at once (with one message naming the file) when
// there is nobody to ask. A volume is asked for once: the answer (a file,
// or giving up) is kept for every handle and thread that needs it later.
#ifndef QZARC_CLI_VOLUMES_H
#define QZARC_CLI_VOLUMES_H

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "library.h"

namespace qzcli {

class VolumeAsker;

class VolumeRequests {
public:
    // `interactive`: the user may be asked. `archive` is the first volume
    // (a file the user cannot give for a later one).
    VolumeRequests(bool interactive, const std::string &archive);
    VolumeRequests(const VolumeRequests &) = delete;
    VolumeRequests &operator=(const VolumeRequests &) = delete;

    // Called around a question on the terminal (to hold other output).
    void SetQuestionHooks(std::function<void()> before, std::function<void()> after);

    // The library's request, on behalf of one handle: 0 to look again at
    // the path (rewritten or not), 1 to give up.
    int Answer(unsigned number, char *path, size_t pathSize, VolumeAsker &asker);

private:
    std::string WrongVolume(const std::string &path, size_t pathSize) const;

    std::mutex mutex_;  // held while the user is asked: one question at a time
    bool interactive_;
    std::string archive_;
    std::set<std::string> givenUp_;              // files nobody will provide
    std::map<unsigned, std::string> substitutes_;  // volume number -> file the user named
    std::function<void()> beforeQuestion_;
    std::function<void()> afterQuestion_;
};

// The requests of one handle: registers itself as the handle's volume
// handler, and remembers the file last reported missing.
class VolumeAsker {
public:
    explicit VolumeAsker(VolumeRequests &requests) : requests_(requests) {}
    VolumeAsker(const VolumeAsker &) = delete;
    VolumeAsker &operator=(const VolumeAsker &) = delete;

    void Attach(const Library &library, qz_archive *handle);

    // The volume file last reported missing since the last Forget, or "".
    const std::string &missingVolume() const { return missing_; }
    VolumeRequests &requests() const { return requests_; }
    void ForgetMissingVolume() { missing_.clear(); }

    // Says that a volume is given up for want of a terminal (standard
    // error unless set otherwise).
    std::function<void(const std::string &)> report;

private:
    friend class VolumeRequests;
    VolumeRequests &requests_;
    std::string missing_;
};

}  // namespace qzcli

#endif  // QZARC_CLI_VOLUMES_H
