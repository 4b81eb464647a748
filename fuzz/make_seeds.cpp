// Writes the seed corpora of the four fuzz targets:
//   make_seeds DIR   ->   DIR/archive/*   DIR/inflater/*   DIR/handle/*   DIR/parallel/*
// Archive seeds are archives made by the writer, whole or in volumes, sound
// and with single faults (wrong password, CRC, size, method, odd names;
// archive_seeds.h); the handle target gets the same archives behind its
// choice bytes; inflater seeds are raw Deflate streams from zlib in every
// strategy, the Deflate64 fixtures and hand-built streams of unusual shapes
// (raw_streams.h); the parallel target gets those and the block-start decoys
// behind a spread of settings (parallel_check.h).
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "archive_input.h"
#include "archive_seeds.h"
#include "parallel_check.h"
#include "raw_streams.h"
#include "writer/writer.h"

namespace fs = std::filesystem;
using qzfuzz::Bytes;

namespace {

int gWritten = 0;

void Emit(const fs::path &dir, const std::string &name, const Bytes &bytes) {
    if (!qzw::WriteFile((dir / name).string(), bytes)) {
        std::fprintf(stderr, "make_seeds: cannot write %s\n", (dir / name).c_str());
        std::exit(1);
    }
    ++gWritten;
}

void ArchiveSeeds(const fs::path &dir) {
    for (const auto &[name, bytes] : qzfuzz::ArchiveSeeds())
        Emit(dir, name, bytes);
}

// The handle target's seeds: the archive seeds behind a few sets of
// choices (handle_walk.h): whole reads of 64 KiB, of 1 and of 4093 bytes,
// each with a random walk of reads, seeks, skips and extractions.
void HandleSeeds(const fs::path &dir) {
    const Bytes choices[] = {
        {6, 0x21, 0x47, 0x60, 0x05, 0x83, 0xA1, 0x42},
        {0, 0x40, 0x27, 0x61, 0x86, 0x03, 0x40, 0xC1},
        {4, 0x62, 0x25, 0x43, 0xE0, 0x41, 0x22, 0x66},
    };
    int n = 0;
    for (const auto &[name, bytes] : qzfuzz::ArchiveSeeds()) {
        const Bytes &header = choices[n++ % 3];
        Bytes input = header;
        input.insert(input.end(), bytes.begin(), bytes.end());
        Emit(dir, name, input);
    }
}

// Inflater input: control byte, chunk selector, parameter, then the stream.
Bytes InflaterInput(uint8_t control, const Bytes &stream, uint8_t chunk = 0, uint8_t parameter = 0) {
    Bytes out{control, chunk, parameter};
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

void InflaterSeeds(const fs::path &dir) {
    int n = 0;
    auto emit = [&](const std::string &label, uint8_t method9, const Bytes &stream) {
        // Slice patterns 0 (whole slices), 2 (small odd slices) and 6
        // (around 258), each with a chunk of its own: as the extractor
        // sizes it, 5 bytes, and about 22 KiB.
        const uint8_t patterns[] = {0, 2, 6};
        const uint8_t chunks[] = {0, 5, 128};
        for (int i = 0; i < 3; ++i)
            Emit(dir, label + "-p" + std::to_string(patterns[i]) + "-" + std::to_string(n++),
                 InflaterInput(static_cast<uint8_t>(method9 | (patterns[i] << 1)), stream, chunks[i]));
        // The data's end: cut 4 bytes short, running into a missing
        // volume, and split over two volumes in the middle.
        Emit(dir, label + "-cut-" + std::to_string(n++),
             InflaterInput(static_cast<uint8_t>(method9 | 0x10), stream, 0, 3));
        Emit(dir, label + "-missing-" + std::to_string(n++),
             InflaterInput(static_cast<uint8_t>(method9 | 0x80), stream, 9, 0));
        Emit(dir, label + "-split-" + std::to_string(n++),
             InflaterInput(static_cast<uint8_t>(method9 | 0x90), stream, 0, 128));
    };

    for (const qzt::RawStream &s : qzt::InflaterSeedStreams())
        emit(s.label, s.method == 9 ? 1 : 0, s.stream);

    // Plain data that the target compresses with zlib itself (control bit
    // 6; the first data byte picks level, strategy and memory level).
    const uint8_t options[] = {6, 9, 11, 25, 33, 47, 100};
    for (uint8_t option : options) {
        Bytes data{option};
        const Bytes body = qzt::MixedData(3000 + option * 10, 40 + option);
        data.insert(data.end(), body.begin(), body.end());
        Emit(dir, "plain-" + std::to_string(option),
             InflaterInput(static_cast<uint8_t>(0x40 | ((option % 8) << 1)), data));
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    const fs::path root = argv[1];
    fs::create_directories(root / "archive");
    fs::create_directories(root / "inflater");
    fs::create_directories(root / "handle");
    fs::create_directories(root / "parallel");
    ArchiveSeeds(root / "archive");
    InflaterSeeds(root / "inflater");
    HandleSeeds(root / "handle");
    for (const auto &[name, bytes] : qzt::ParallelSeeds())
        Emit(root / "parallel", name, bytes);
    std::printf("make_seeds: %d seeds in %s\n", gWritten, root.c_str());
    return 0;
}
