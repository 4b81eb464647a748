// The many-file corpus: a real tree of this machine's files (headers and
// the standard libraries of the scripting languages installed), copied
// under the work directory so that every archiver packs, and every
// extractor recreates, the very same relative paths, then wrapped three
// ways at Deflate level 6: a QZ archive made with the project's writer
// (zlib level 6 per entry, stored where that would not shrink it), an
// Info-ZIP zip (`zip -6`) and a 7-Zip zip. All cached under the work
// directory like the other corpora.
#ifndef QZBENCH_TREE_CORPUS_H
#define QZBENCH_TREE_CORPUS_H

#include <cstdint>
#include <string>
#include <vector>

namespace qzb {

struct TreeFile {
    std::string path;  // relative to TreeCorpus::root, '/' separated
    uint64_t size = 0;
    uint32_t crc = 0;  // CRC-32 of its contents
};

struct TreeCorpus {
    std::string root;                  // work/tree: holds `top` and nothing else
    std::string top;                   // the one directory the archives hold ("usr")
    std::vector<std::string> sources;  // the directories of this machine it was taken from
    std::vector<TreeFile> files;       // sorted by path
    uint32_t directories = 0;
    uint64_t bytes = 0;
    std::string qza;    // the QZ archive (writer, level 6)
    std::string zip;    // Info-ZIP's zip
    std::string zip7;   // 7-Zip's zip
    std::string sevenSwitches;  // how 7zz made it
    uint64_t qzaBytes = 0;
    uint64_t zipBytes = 0;
    uint64_t zip7Bytes = 0;
    uint32_t qzaStored = 0;  // entries the writer stored rather than deflated
};

// Builds (or finds in the cache) the tree and its three archives. Exits
// with a message when this machine has too few files for it or a peer
// archiver fails.
TreeCorpus PrepareTree(const std::string &work);

// True when dir holds exactly the corpus's files under the same relative
// paths, with their sizes and CRC-32s, and no other regular file.
bool TreeMatches(const TreeCorpus &tree, const std::string &dir);

}  // namespace qzb

#endif  // QZBENCH_TREE_CORPUS_H
