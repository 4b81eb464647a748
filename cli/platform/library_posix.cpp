// Linux: qzarc is linked against libqzarc.so (found beside the program
// through its $ORIGIN run path), so binding is taking the addresses.
#if !defined(_WIN32)

#include "library.h"

namespace qzcli {

bool BindLibrary(Library *library, std::string * /*error*/) {
    library->archiveNew = &qz_archive_new;
    library->archiveFree = &qz_archive_free;
    library->setPassword = &qz_archive_set_password;
    library->setVolumeHandler = &qz_archive_set_volume_handler;
    library->setProgressHandler = &qz_archive_set_progress_handler;
    library->open = &qz_archive_open;
    library->close = &qz_archive_close;
    library->next = &qz_archive_next;
    library->read = &qz_archive_read;
    library->extract = &qz_archive_extract;
    library->seek = &qz_archive_seek;
    library->error = &qz_archive_error;
    library->setThreads = &qz_archive_set_threads;
    return true;
}

}  // namespace qzcli

#endif  // !_WIN32
