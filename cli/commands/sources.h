// The files 'a' puts into an archive: the inputs given on the command line,
// directories recursed, each file with the name it is recorded under.
#ifndef QZARC_CLI_SOURCES_H
#define QZARC_CLI_SOURCES_H

#include <string>
#include <vector>

#include "files.h"

namespace qzcli {

struct SourceFile {
    std::string path;      // where to read it
    std::string name;      // the archive name as recorded: relative, '\' between
                           // directories, in the archive's code page
    std::string shown;     // the same name as it reads here
    SourceDetails details;
};

// The name components an input path contributes: the path as given, without
// "." components; but an absolute path, or one with a ".." component, only
// from its last component on (".." or "/" itself contributing nothing).
std::vector<std::string> InputPrefix(const std::string &input);

// Collects the files below the inputs, in command-line order, each directory
// sorted by name. Files that cannot be recorded are reported and counted in
// *skipped. `exclude` lists files never to add (the archive being written).
std::vector<SourceFile> CollectSources(const std::vector<std::string> &inputs,
                                       const std::vector<std::string> &exclude, size_t *skipped);

}  // namespace qzcli

#endif  // QZARC_CLI_SOURCES_H
