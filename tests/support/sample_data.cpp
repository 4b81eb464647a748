#include "sample_data.h"

#include <algorithm>
#include <random>

#include "test_support.h"

namespace qzt {

qzw::Bytes BinaryRecords(size_t size, uint32_t seed) {
    static const char *const tags[] = {"HEAD", "DATA", "SIZE", "NAME"};
    std::mt19937 rng(seed);
    qzw::Bytes out;
    for (uint32_t i = 0; out.size() < size; ++i) {
        const uint32_t fields[2] = {i, i * 3u};
        for (uint32_t f : fields)
            for (int k = 0; k < 4; ++k)
                out.push_back(static_cast<uint8_t>(f >> (8 * k)));
        const char *tag = tags[rng() % 4];
        out.insert(out.end(), tag, tag + 4);
        for (int k = 0; k < 4; ++k)
            out.push_back(static_cast<uint8_t>(rng()));
    }
    out.resize(size);
    return out;
}

qzw::Bytes LongRuns(size_t size, uint32_t seed, uint32_t maxRun) {
    static const uint8_t values[] = {0x00, 0xFF, 'a', ' '};
    std::mt19937 rng(seed);
    qzw::Bytes out;
    while (out.size() < size) {
        const uint8_t v = rng() % 5 == 0 ? static_cast<uint8_t>(rng()) : values[rng() % 4];
        out.insert(out.end(), 1 + rng() % maxRun, v);
    }
    out.resize(size);
    return out;
}

qzw::Bytes TextWithNoise(size_t size, uint32_t seed) {
    qzw::Bytes out = MakeData(size, 't', seed);
    const qzw::Bytes noise = MakeData(1500, 'r', seed + 100);
    for (size_t at = 3000; at + noise.size() <= size; at += 20000)
        std::copy(noise.begin(), noise.end(), out.begin() + static_cast<long>(at));
    return out;
}

}  // namespace qzt
