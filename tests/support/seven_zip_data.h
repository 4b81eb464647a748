// The data set that tests/tools/make_7z_data encodes with 7zz at build time:
// deterministic inputs, each compressed as a one-entry zip with Deflate and
// Deflate64 at three levels. The tests take the raw streams out of the zips
// (7zz runs only on Linux; the Windows test programs read the same files).
#ifndef QZARC_SEVEN_ZIP_DATA_H
#define QZARC_SEVEN_ZIP_DATA_H

#include <cstdint>
#include <string>
#include <vector>

#include "writer/writer.h"

namespace qzt {

struct SevenZipConfig {
    const char *label;   // part of the zip's file name
    const char *method;  // 7zz's -mm value
    uint16_t zipMethod;  // the method the zip records for a compressed entry
    int level;           // 7zz's -mx value
};

const std::vector<SevenZipConfig> &SevenZipConfigs();
const std::vector<std::string> &SevenZipInputNames();
// The named input's bytes; the same on every run and platform.
qzw::Bytes SevenZipInput(const std::string &name);

// File names inside the data directory.
std::string SevenZipInputFile(const std::string &name);
std::string SevenZipZipFile(const std::string &name, const SevenZipConfig &config);
// Written last, so its presence means a complete data set.
constexpr const char *kSevenZipManifest = "manifest.txt";

// The input whose Deflate64 streams reach further back than 32 KiB: a random
// stretch that comes back 44 000 and 64 000 bytes later.
constexpr const char *kSevenZipFarInput = "far";

}  // namespace qzt

#endif  // QZARC_SEVEN_ZIP_DATA_H
