#include "archive_input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console.h"
#include "files.h"
#include "interrupt.h"
#include "catalogue.h"

namespace qzcli {
namespace {

bool CopyStream(const std::string &from, const std::string &to, std::string *error) {
    std::FILE *in = std::fopen(from.c_str(), "rb");
    if (in == nullptr) {
        *error = std::string("cannot open the archive: ") + std::strerror(errno);
        return false;
    }
    std::FILE *out = std::fopen(to.c_str(), "wb");
    bool ok = out != nullptr;
    char buffer[65536];
    size_t n;
    while (ok && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        ok = std::fwrite(buffer, 1, n, out) == n;
    ok = ok && std::ferror(in) == 0;
    if (out != nullptr)
        ok = std::fclose(out) == 0 && ok;
    std::fclose(in);
    if (!ok)
        *error = std::string("cannot copy the archive into a temporary file: ") + std::strerror(errno);
    return ok;
}

}  // namespace

ArchiveInput::~ArchiveInput() {
    if (!copy_.empty()) {
        RemoveFile(copy_);
        ForgetOnInterrupt(copy_);
    }
}

bool ArchiveInput::Prepare(const std::string &archive, std::string *error) {
    path_ = archive;
    SourceDetails details;
    if (ReadSourceDetails(archive, &details, error)) {
        if (details.kind == FileKind::Directory) {
            *error = "is a directory, not an archive";
            return false;
        }
        if (details.kind != FileKind::File) {
            // Read with seeks: a pipe or a device is read once into a file.
            if (!MakeTempFile(&copy_, error)) {
                *error = "is not a regular file, and no temporary file can hold it: " + *error;
                copy_.clear();
                return false;
            }
            RemoveOnInterrupt(copy_);
            if (!CopyStream(archive, copy_, error))
                return false;
            path_ = copy_;
        }
    }
    *error = CheckArchiveStart(path_);
    return error->empty();
}

bool BindLibraryAndArchive(const std::string &archive, Library *library, ArchiveInput *input) {
    std::string error;
    if (!BindLibrary(library, &error)) {
        Err(error);
        return false;
    }
    if (!input->Prepare(archive, &error)) {
        Err(Printable(archive) + ": " + error);
        return false;
    }
    return true;
}

}  // namespace qzcli
