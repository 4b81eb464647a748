#include "seven_zip_data.h"

#include <random>
#include <string>

#include "sample_data.h"
#include "test_support.h"

namespace qzt {
namespace {

void Append(qzw::Bytes &to, const qzw::Bytes &from) { to.insert(to.end(), from.begin(), from.end()); }

qzw::Bytes Far() {
    const qzw::Bytes stretch = MakeData(4000, 'r', 9);
    qzw::Bytes out = stretch;
    Append(out, MakeData(40000, 't', 10));
    Append(out, stretch);  // 44 000 back
    Append(out, MakeData(60000, 't', 11));
    Append(out, stretch);  // 64 000 back to the nearest copy
    return out;
}

}  // namespace

const std::vector<SevenZipConfig> &SevenZipConfigs() {
    static const std::vector<SevenZipConfig> configs = {
        {"deflate-mx1", "Deflate", 8, 1},     {"deflate-mx5", "Deflate", 8, 5},
        {"deflate-mx9", "Deflate", 8, 9},     {"deflate64-mx1", "Deflate64", 9, 1},
        {"deflate64-mx5", "Deflate64", 9, 5}, {"deflate64-mx9", "Deflate64", 9, 9},
    };
    return configs;
}

const std::vector<std::string> &SevenZipInputNames() {
    static const std::vector<std::string> names = {
        "text",        "binary",      "random-64",   "runs",        kSevenZipFarInput,
        "mixed-32767", "mixed-32768", "mixed-32769", "mixed-65535", "mixed-65536",
        "mixed-65537", "few",         "tiny",
    };
    return names;
}

qzw::Bytes SevenZipInput(const std::string &name) {
    if (name == "text")
        return MakeData(120000, 't', 1);
    if (name == "binary")
        return BinaryRecords(96000, 7);
    if (name == "random-64") {
        // Random over 64 byte values: no matches to speak of, but Huffman
        // codes still gain (fully random bytes would be stored).
        qzw::Bytes out = MakeData(40000, 'r', 2);
        for (uint8_t &b : out)
            b = static_cast<uint8_t>(b & 0x3F);
        return out;
    }
    if (name == "runs")
        return LongRuns(150000, 8);
    if (name == kSevenZipFarInput)
        return Far();
    if (name.rfind("mixed-", 0) == 0) {
        const size_t size = std::stoul(name.substr(6));
        return TextWithNoise(size, static_cast<uint32_t>(size));
    }
    if (name == "few") {
        // Short, but long enough that 7zz does not store it.
        qzw::Bytes out;
        for (int i = 0; i < 32; ++i)
            out.insert(out.end(), {'a', 'b'});
        return out;
    }
    if (name == "tiny")
        return MakeData(100, 't', 3);
    return {};
}

std::string SevenZipInputFile(const std::string &name) { return name + ".bin"; }

std::string SevenZipZipFile(const std::string &name, const SevenZipConfig &config) {
    return name + "." + config.label + ".zip";
}

}  // namespace qzt
