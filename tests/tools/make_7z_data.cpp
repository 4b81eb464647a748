// Builds the 7-Zip test data: writes each input of the shared data set and
// compresses it with 7zz into one-entry zips, Deflate and Deflate64 at levels
// 1, 5 and 9. Runs at build time in the Linux tree:
//   make_7z_data OUTPUT_DIR PATH_TO_7ZZ
// The manifest is written last; a run that fails leaves none behind.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "seven_zip_data.h"
#include "writer/writer.h"

namespace fs = std::filesystem;

namespace {

std::string Quoted(const std::string &s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR PATH_TO_7ZZ\n", argv[0]);
        return 2;
    }
    const fs::path dir = fs::absolute(argv[1]);
    const std::string sevenZip = argv[2];
    std::error_code ec;
    fs::remove(dir / qzt::kSevenZipManifest, ec);
    fs::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "make_7z_data: cannot create %s: %s\n", dir.string().c_str(),
                     ec.message().c_str());
        return 1;
    }

    std::string manifest;
    for (const std::string &name : qzt::SevenZipInputNames()) {
        const std::string input = qzt::SevenZipInputFile(name);
        if (!qzw::WriteFile((dir / input).string(), qzt::SevenZipInput(name))) {
            std::fprintf(stderr, "make_7z_data: cannot write %s\n", input.c_str());
            return 1;
        }
        for (const qzt::SevenZipConfig &config : qzt::SevenZipConfigs()) {
            const std::string zip = qzt::SevenZipZipFile(name, config);
            fs::remove(dir / zip, ec);  // 7zz would add to an existing zip
            const std::string command = "cd " + Quoted(dir.string()) + " && " + Quoted(sevenZip) +
                                        " a -tzip -mm=" + config.method +
                                        " -mx=" + std::to_string(config.level) +
                                        " -bso0 -bsp0 " + Quoted(zip) + " " + Quoted(input);
            if (std::system(command.c_str()) != 0 || !fs::exists(dir / zip)) {
                std::fprintf(stderr, "make_7z_data: failed: %s\n", command.c_str());
                return 1;
            }
            manifest += zip + " " + input + "\n";
        }
    }
    std::ofstream((dir / qzt::kSevenZipManifest).string(), std::ios::binary) << manifest;
    return 0;
}
