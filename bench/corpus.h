// The benchmark's corpora and the archives made from them, cached under the
// work directory (build/bench) so that later runs only measure.
//
// Four corpora are single files built from data on this machine (text:
// headers and documentation; binary: shared libraries and executables;
// mixed: both interleaved, with some incompressible stretches; random),
// and one is a tree of 10 000 small files of 1-8 KiB. Each is wrapped as a
// stored QZ archive (method 0), a Deflate one (method 8, zlib level 6
// through the writer), a Deflate64 one (method 9, the streams 7-Zip wrote),
// and, carrying the very same Deflate streams, a zip, a gzip file and a raw
// stream for the peers.
#ifndef QZBENCH_CORPUS_H
#define QZBENCH_CORPUS_H

#include <cstdint>
#include <string>
#include <vector>

namespace qzb {

struct CorpusFiles {
    std::string name;        // text, binary, mixed, random, small
    bool tree = false;       // small: a directory of many files
    std::string plain;       // the corpus file, or the root of the tree
    uint64_t bytes = 0;      // plain data in total
    uint32_t files = 1;
    std::string stored;      // method-0 QZ archive
    std::string deflate;     // method-8 QZ archive
    std::string deflate64;   // method-9 QZ archive
    std::string zip;         // the method-8 streams as a zip
    std::string zip64;       // 7-Zip's Deflate64 zip
    std::string gzip;        // single files: the method-8 stream as gzip
    std::string raw;         // single files: the raw method-8 stream
    uint64_t deflateBytes = 0;
    uint64_t deflate64Bytes = 0;
};

// Builds (or finds in the cache) the named corpus and its archives.
CorpusFiles PrepareCorpus(const std::string &name, const std::string &work, uint64_t targetBytes);

// A QZ archive with one entry of `size` bytes (a multiple of the text
// corpus, repeated), stored or Deflate level 1, written as a stream so that
// a 2 GiB entry never has to fit in memory. Cached like the rest.
std::string PrepareLargeArchive(const std::string &work, const std::string &textCorpus,
                                uint64_t size, bool deflate);

}  // namespace qzb

#endif  // QZBENCH_CORPUS_H
