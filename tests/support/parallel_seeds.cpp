// The parallel fuzz target's inputs and seeds (parallel_check.h), apart
// from the walks, so that the seed writer needs no library.
#include "parallel_check.h"
#include "raw_streams.h"

namespace qzt {

Bytes ParallelInput(uint8_t control, uint8_t threads, uint8_t stretch, uint8_t read, const Bytes &stream) {
    Bytes out{control, threads, stretch, read};
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

std::vector<std::pair<std::string, Bytes>> ParallelSeeds() {
    // (control without the method bit, threads, stretch, read): tiny and
    // middling stretches, every record kind, reads, extraction, partial
    // reads, encryption, a handle freed halfway, threads switched, the
    // entries counted and the first entry read again midway.
    static const uint8_t kSettings[][4] = {
        {0x00, 0x00, 0x03, 0x06}, {0x00, 0x0E, 0x07, 0x00}, {0x04, 0x01, 0x0C, 0x84},
        {0x08, 0x02, 0x09, 0x45}, {0x0C, 0x03, 0x0B, 0x86}, {0x10, 0x04, 0x0D, 0x7F},
        {0x14, 0x15, 0x0A, 0x04}, {0x18, 0x80, 0x26, 0x3C}, {0x1C, 0x07, 0x0E, 0x57},
        {0x20, 0x01, 0x05, 0x06}, {0x40, 0x02, 0x08, 0x00}, {0x80, 0x43, 0x09, 0x03},
    };
    std::vector<std::pair<std::string, Bytes>> seeds;
    size_t n = 0;
    auto add = [&](const RawStream &s) {
        for (int k = 0; k < 2; ++k, ++n) {
            const uint8_t *set = kSettings[n % (sizeof kSettings / sizeof kSettings[0])];
            const uint8_t control = uint8_t(set[0] | (s.method == 9 ? 1 : 0));
            seeds.emplace_back(s.label + "-" + std::to_string(n), ParallelInput(control, set[1], set[2], set[3], s.stream));
        }
    };
    for (const RawStream &s : InflaterSeedStreams())
        add(s);
    for (const RawStream &s : BlockStartDecoys())
        add(s);
    // Plain data compressed by zlib here: level 1, level 6, level 9 filtered.
    for (uint8_t choice : {1, 6, 19}) {
        Bytes body{choice};
        const Bytes text = MixedData(40000, choice);
        body.insert(body.end(), text.begin(), text.end());
        seeds.emplace_back("plain-" + std::to_string(choice), ParallelInput(0x02, choice & 7, 0x08, 0x06, body));
    }
    return seeds;
}

}  // namespace qzt
