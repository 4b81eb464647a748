#include "archive_input.h"

#include <algorithm>

namespace qzfuzz {

ArchiveInput ParseArchiveInput(const uint8_t *data, size_t size) {
    ArchiveInput input;
    size_t pos = 0;
    const uint8_t control = size > 0 ? data[pos++] : 0;
    const size_t count = 1 + (control & 3u) % 3;
    input.firstHeaderOnly = (control & 4u) != 0;

    std::vector<size_t> lengths;
    for (size_t v = 0; v + 1 < count; ++v) {
        uint32_t length = 0;
        for (int k = 0; k < 4; ++k) {
            const uint32_t byte = pos < size ? data[pos++] : 0;
            length |= byte << (8 * k);
        }
        lengths.push_back(length);
    }
    for (size_t v = 0; v < count; ++v) {
        const size_t left = size - pos;
        const size_t take = v + 1 < count ? std::min<size_t>(lengths[v], left) : left;
        input.volumes.emplace_back(data + pos, data + pos + take);
        pos += take;
    }
    return input;
}

Bytes EncodeArchiveInput(const ArchiveInput &input) {
    const size_t count = input.volumes.empty() ? 1 : std::min<size_t>(input.volumes.size(), 3);
    Bytes out;
    out.push_back(static_cast<uint8_t>((count - 1) | (input.firstHeaderOnly ? 4u : 0u)));
    for (size_t v = 0; v + 1 < count; ++v) {
        const uint32_t length = static_cast<uint32_t>(input.volumes[v].size());
        for (int k = 0; k < 4; ++k)
            out.push_back(static_cast<uint8_t>(length >> (8 * k)));
    }
    for (size_t v = 0; v < count && v < input.volumes.size(); ++v)
        out.insert(out.end(), input.volumes[v].begin(), input.volumes[v].end());
    // More than three volumes: the rest joins the last one.
    for (size_t v = count; v < input.volumes.size(); ++v)
        out.insert(out.end(), input.volumes[v].begin(), input.volumes[v].end());
    return out;
}

}  // namespace qzfuzz
