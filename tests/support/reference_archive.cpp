#include "reference_archive.h"

#include <random>

#include "deflate64_fixtures.h"

namespace qzfuzz {

Bytes TextData(size_t size, uint32_t seed) {
    static const char *const kWords[] = {"volume ", "entry ", "record ", "the ", "of ",
                                         "data\n", "window ", "block ", "12345 ", "QZ "};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        const char *w = kWords[rng() % 10];
        for (; *w != '\0' && out.size() < size; ++w)
            out.push_back(static_cast<uint8_t>(*w));
    }
    return out;
}

ArchiveInput ReferenceArchive::Input() const {
    ArchiveInput input;
    uint64_t start = 0;
    for (size_t k = 0; k <= cuts.size(); ++k) {
        const uint64_t end = k < cuts.size() ? cuts[k] : bytes.size();
        input.volumes.emplace_back(bytes.begin() + static_cast<long>(start),
                                   bytes.begin() + static_cast<long>(end));
        start = end;
    }
    return input;
}

uint64_t ReferenceArchive::RecordStart(size_t i) const { return archive.RecordOffset(i); }

uint64_t ReferenceArchive::RecordEnd(size_t i) const {
    return archive.PayloadOffset(i) + archive.records[i].payload.size();
}

ReferenceArchive BuildReferenceArchive() {
    ReferenceArchive ref;
    auto add = [&ref](qzw::Record record, Bytes plain) {
        ref.archive.records.push_back(std::move(record));
        ref.plain.push_back(std::move(plain));
    };

    Bytes text = TextData(300, 1);
    add(qzw::StoredRecord("stored.txt", text), text);

    // Sync flushes every 700 bytes: dynamic blocks separated by empty stored blocks.
    Bytes mixed = TextData(2400, 2);
    qzw::DeflateOptions flushed;
    flushed.flushEvery = 700;
    add(qzw::DeflatedRecord("deflate.txt", mixed, flushed), mixed);

    const qzw::Record deflate64 = deflate64_fixtures::MakeRecord(deflate64_fixtures::kAll[0], "deflate64.txt");
    // The fixture's plain bytes are known only by CRC and size; the sweeps
    // compare CRCs, so an empty placeholder stands for them.
    add(deflate64, Bytes());

    Bytes secret = TextData(200, 3);
    qzw::Record secretStored = qzw::StoredRecord("secret.txt", secret);
    secretStored.flags = 1;
    secretStored.password = kPassword;
    add(secretStored, secret);

    Bytes packed = TextData(1000, 4);
    qzw::DeflateOptions fixedCodes;
    fixedCodes.strategy = 4;  // Z_FIXED
    qzw::Record secretDeflate = qzw::DeflatedRecord("secret.z", packed, fixedCodes);
    secretDeflate.flags = 1;
    secretDeflate.password = kPassword;
    add(secretDeflate, packed);

    add(qzw::StoredRecord("empty", Bytes()), Bytes());

    add(deflate64_fixtures::MakeRecord(deflate64_fixtures::kAll[3], "long-matches"), Bytes());

    Bytes tail = TextData(100, 5);
    add(qzw::StoredRecord("tail.txt", tail), tail);

    ref.bytes = ref.archive.Serialize();
    ref.cuts = {qzw::CutInPayload(ref.archive, 1, ref.archive.records[1].payload.size() / 2),
                qzw::CutInPayload(ref.archive, 3, ref.archive.records[3].payload.size() / 2)};
    return ref;
}

}  // namespace qzfuzz
