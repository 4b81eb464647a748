// The archives the archive fuzz targets start from: the reference archive
// whole and in volumes, each of its entries alone, a stored entry cut by a
// volume end, single faults (wrong password, CRC, size, method, odd names,
// sizes that do not fit the data) and zlib's strategies. Each is an archive
// fuzz input (archive_input.h). make_seeds writes them as the seed corpus;
// the handle API's behaviour tests walk them against the legacy exports.
#ifndef QZARC_ARCHIVE_SEEDS_H
#define QZARC_ARCHIVE_SEEDS_H

#include <string>
#include <utility>
#include <vector>

#include "archive_input.h"

namespace qzfuzz {

// (name, encoded archive input), in a fixed order.
std::vector<std::pair<std::string, Bytes>> ArchiveSeeds();

}  // namespace qzfuzz

#endif  // QZARC_ARCHIVE_SEEDS_H
