#include "raw_streams.h"

#include <random>

#include "deflate64_fixtures.h"
#include "deflate_builder.h"
#include "reference_archive.h"

namespace qzt {
namespace {

RawStream Made(const std::string &label, uint16_t method, Bytes stream, const Bytes &plain) {
    return {label, method, std::move(stream), qzw::Crc32(plain), static_cast<uint32_t>(plain.size())};
}

// The dynamic code sets of the composed streams: complete, with every
// literal, length and distance symbol present. Deflate lists 30 distance
// codes, Deflate64 32.
DynamicCodes StandardCodes(bool deflate64) {
    std::vector<uint32_t> literal(286, 6);
    for (uint32_t s = 0; s < 256; ++s)
        literal[s] = 9;  // 256 / 512
    literal[256] = literal[257] = 5;  // + 2 / 32, + 28 / 64 for 258..285
    std::vector<uint32_t> distance(deflate64 ? 32 : 30, 5);
    if (!deflate64)
        distance[0] = distance[1] = 4;  // 2 / 16 + 28 / 32
    return DynamicCodes(literal, distance);
}

// Builds a stream block by block and keeps what it decodes to. Matches are
// found greedily over everything produced so far, stored payloads included,
// so blocks reach back across block and stretch boundaries.
class Composer {
public:
    explicit Composer(bool deflate64)
        : deflate64_(deflate64), codes_(StandardCodes(deflate64)), head_(size_t{1} << 16, -1) {}

    void Stored(const Bytes &data, bool final = false) {
        w_.StoredBlock(final, data);
        plain_.insert(plain_.end(), data.begin(), data.end());
    }
    void Begin(uint32_t type, bool final) {
        if (type == 2)
            codes_.Header(w_, final);
        else
            w_.BlockHeader(final, 1);
        type_ = type;
    }
    void End() { Symbol(256); }
    // A whole block of `data` of the given type (1 fixed, 2 dynamic).
    void Block(uint32_t type, const Bytes &data, bool final = false, uint32_t longest = 258) {
        Begin(type, final);
        Encode(data, longest);
        End();
    }
    void Literal(uint8_t b) {
        Symbol(b);
        plain_.push_back(b);
    }
    // A match as written; the bytes it copies are added when it is valid.
    void Match(uint32_t length, uint32_t distance) {
        if (length > 258 || (deflate64_ && length == 258)) {
            Symbol(285);  // Deflate64: 16 extra bits over a base of 3
            w_.Bits(length - 3, 16);
        } else if (length == 258) {
            Symbol(285);
        } else {
            uint32_t i = 27;
            while (kLengthBase[i] > length)
                --i;
            Symbol(257 + i);
            w_.Bits(length - kLengthBase[i], kLengthExtra[i]);
        }
        uint32_t d = 31;
        while (kDistanceBase[d] > distance)
            --d;
        if (type_ == 2)
            codes_.Distance(w_, d, distance - kDistanceBase[d]);
        else {
            w_.Code(d, 5);
            w_.Bits(distance - kDistanceBase[d], kDistanceExtra[d]);
        }
        if (distance <= plain_.size()) {
            const size_t from = plain_.size() - distance;
            for (uint32_t i = 0; i < length; ++i)
                plain_.push_back(plain_[from + i]);
        }
    }
    // data as literals and matches (at most `longest` long) in the open block.
    void Encode(const Bytes &data, uint32_t longest = 258) {
        const size_t window = deflate64_ ? 65536 : 32768;
        Bytes all = plain_;
        all.insert(all.end(), data.begin(), data.end());
        size_t p = plain_.size();
        while (p < all.size()) {
            Hash(all, p);
            size_t best = 0, bestFrom = 0;
            const int64_t candidate = p + 2 < all.size() ? head_[Key(all, p)] : -1;
            if (candidate >= 0 && p - size_t(candidate) <= window) {
                size_t n = 0;
                while (p + n < all.size() && n < longest && all[size_t(candidate) + n] == all[p + n])
                    ++n;
                best = n;
                bestFrom = size_t(candidate);
            }
            if (p + 2 < all.size())
                head_[Key(all, p)] = int64_t(p);
            if (best >= 3) {
                Match(uint32_t(best), uint32_t(p - bestFrom));
                for (size_t k = 1; k < best; ++k)
                    if (p + k + 2 < all.size())
                        head_[Key(all, p + k)] = int64_t(p + k);
                p += best;
            } else {
                Literal(all[p]);
                ++p;
            }
        }
        hashed_ = plain_.size();
    }

    const Bytes &plain() const { return plain_; }
    BitWriter &writer() { return w_; }
    RawStream Take(const std::string &label) const {
        return Made(label, deflate64_ ? 9 : 8, w_.bytes(), plain_);
    }

private:
    void Symbol(uint32_t s) {
        if (type_ == 2)
            codes_.Symbol(w_, s);
        else
            FixedSymbol(w_, s);
    }
    static size_t Key(const Bytes &b, size_t p) {
        return (uint32_t(b[p]) << 8 ^ uint32_t(b[p + 1]) << 4 ^ uint32_t(b[p + 2]) * 2654435761u) & 0xFFFFu;
    }
    // Positions produced since the last Encode (stored payloads, matches
    // written by hand) become match sources too.
    void Hash(const Bytes &all, size_t upTo) {
        for (; hashed_ < upTo; ++hashed_)
            if (hashed_ + 2 < all.size())
                head_[Key(all, hashed_)] = int64_t(hashed_);
    }

    bool deflate64_;
    DynamicCodes codes_;
    std::vector<int64_t> head_;
    size_t hashed_ = 0;
    uint32_t type_ = 1;
    BitWriter w_;
    Bytes plain_;
};

// The stream's bits behind `shift` bits of noise: its block headers at
// another bit position within their bytes.
Bytes Shifted(const Bytes &stream, uint32_t shift, uint32_t seed) {
    BitWriter w;
    w.Bits(seed, shift);
    for (uint8_t b : stream)
        w.Bits(b, 8);
    return w.bytes();
}

Bytes Random(size_t size, std::mt19937 &rng) {
    Bytes out(size);
    for (uint8_t &b : out)
        b = static_cast<uint8_t>(rng());
    return out;
}

// A small valid stream of our own code set: a dynamic block and a final
// fixed one.
Bytes SmallStream(uint32_t seed) {
    Composer c(false);
    c.Block(2, MixedData(600 + seed % 300, seed));
    c.Block(1, MixedData(200, seed + 1), true);
    return c.writer().bytes();
}

RawStream StoredBlocksHoldingStreams() {
    Composer c(false);
    for (uint32_t i = 0; i < 16; ++i) {
        qzw::DeflateOptions options;
        options.level = i % 3 == 0 ? 1 : 9;
        options.strategy = i % 4 == 3 ? 4 : 0;
        options.flushEvery = i % 2 != 0 ? 700 : 0;
        const Bytes inner = i % 2 == 0 ? qzw::DeflateRaw(MixedData(3000 + 500 * i, 70 + i), options) : SmallStream(80 + i);
        const Bytes payload = Shifted(inner, i % 8, 0x5A5Au + i);
        c.Stored(payload);
        // Matches into the payload just stored (and the ones before).
        const size_t take = payload.size() < 2000 ? payload.size() : 2000;
        Bytes echo(c.plain().end() - long(take), c.plain().end());
        const Bytes more = MixedData(500, 90 + i);
        echo.insert(echo.end(), more.begin(), more.end());
        c.Block(i % 3 == 0 ? 1 : 2, echo);
    }
    c.Block(1, MixedData(100, 99), true);
    return c.Take("stored-blocks-holding-streams");
}

RawStream StoredHeaderLookalikes() {
    std::mt19937 rng(101);
    // Real dynamic headers: ours (at every bit offset) and zlib's.
    std::vector<Bytes> headers;
    const Bytes small = SmallStream(110);
    for (uint32_t shift = 0; shift < 8; ++shift)
        headers.push_back(Shifted(Bytes(small.begin(), small.begin() + 200), shift, shift));
    const Bytes zlib = qzw::DeflateRaw(MixedData(20000, 111));
    if (zlib.size() > 300)
        headers.emplace_back(zlib.begin(), zlib.begin() + 300);
    Composer c(false);
    for (int block = 0; block < 6; ++block) {
        Bytes payload;
        while (payload.size() < 9000) {
            const Bytes &h = headers[rng() % headers.size()];
            payload.insert(payload.end(), h.begin(), h.end());
            const Bytes noise = Random(rng() % 40, rng);
            payload.insert(payload.end(), noise.begin(), noise.end());
        }
        c.Stored(payload);
        c.Block(2, MixedData(3000, 120 + block));
    }
    c.Block(2, MixedData(100, 130), true);
    return c.Take("stored-header-lookalikes");
}

RawStream FixedBlocksOnly() {
    std::mt19937 rng(140);
    Composer c(false);
    for (int block = 0; block < 60; ++block)
        c.Block(1, MixedData(200 + rng() % 3000, 141 + block), block == 59);
    return c.Take("fixed-blocks-only");
}

RawStream ManyTinyBlocks() {
    std::mt19937 rng(150);
    Composer c(false);
    const Bytes text = MixedData(20000, 151);
    size_t at = 0;
    for (int block = 0; block < 2400; ++block) {
        const size_t n = 1 + rng() % 6;
        const Bytes piece(text.begin() + long(at % 19000), text.begin() + long(at % 19000 + n));
        at += n;
        switch (block % 8) {
        case 0:
            c.Stored({});
            break;
        case 1:
        case 5:
            c.Stored(piece);
            break;
        case 3:
            c.Begin(1, false);  // an empty fixed block
            c.End();
            break;
        case 7:
            c.Block(2, piece);
            break;
        default:
            c.Begin(1, false);
            c.Encode(piece);
            if (c.plain().size() > 300 && rng() % 2 == 0)
                c.Match(3 + rng() % 200, 1 + rng() % 300);
            c.End();
            break;
        }
    }
    c.Block(1, text, true);
    return c.Take("many-tiny-blocks");
}

RawStream OneHugeBlock() {
    Composer c(false);
    Bytes data = MixedData(250000, 160);
    std::mt19937 rng(161);
    for (size_t at = 5000; at + 800 < data.size(); at += 9000) {
        const Bytes noise = Random(800, rng);
        std::copy(noise.begin(), noise.end(), data.begin() + long(at));
    }
    c.Block(2, data, true);
    return c.Take("one-huge-block");
}

RawStream EmptyStoredRuns() {
    std::mt19937 rng(170);
    Composer c(false);
    for (int round = 0; round < 40; ++round) {
        const uint32_t empties = round % 5 == 0 ? 300 : 1 + rng() % 20;
        for (uint32_t k = 0; k < empties; ++k)
            c.Stored({});
        c.Block(round % 2 == 0 ? 2 : 1, MixedData(500 + rng() % 2000, 171 + round));
    }
    c.Stored({}, true);
    return c.Take("empty-stored-runs");
}

// Random data stored, then fixed and dynamic blocks of matches of up to
// 65538 bytes reaching up to 65536 back (distance codes 30 and 31).
Composer LongestFurthest() {
    std::mt19937 rng(180);
    Composer c(true);
    c.Stored(Random(65535, rng));
    c.Stored(Random(12000, rng));
    for (int round = 0; round < 10; ++round) {
        c.Begin(round % 2 == 0 ? 1 : 2, false);
        c.Match(65538, 65536);
        c.Literal(uint8_t(round));
        c.Match(40000 + 997 * uint32_t(round), 49153 + 1500 * uint32_t(round));
        c.Match(300 + uint32_t(round), 32769 + 100 * uint32_t(round));
        c.Encode(MixedData(700, 181 + round), round % 2 == 0 ? 65538 : 2000);
        c.Match(259 + 4000 * uint32_t(round), 65536 - uint32_t(round));
        c.End();
        c.Stored(Random(1 + rng() % 3000, rng));
    }
    c.Block(1, MixedData(50, 199), true);
    return c;
}

// Valid up to a match, well into the stream, that reaches 30 000 bytes back
// when 23 000 have been produced.
RawStream MatchBeforeTheStart() {
    Composer c(false);
    c.Stored(MixedData(3000, 192));
    c.Block(1, MixedData(20000, 193));
    c.Begin(2, false);
    c.Match(10, 30000);
    c.End();
    for (int block = 0; block < 20; ++block)
        c.Block(block % 2 == 0 ? 1 : 2, MixedData(1500, 194 + block));
    c.Block(1, MixedData(30, 198), true);
    return c.Take("match-before-the-start");
}

}  // namespace

Bytes MixedData(size_t size, uint32_t seed) {
    Bytes out = qzfuzz::TextData(size, seed);
    for (size_t i = 0; i < out.size(); i += 97)
        out[i] = static_cast<uint8_t>(i * 31 + seed);
    return out;
}

std::vector<RawStream> InflaterSeedStreams() {
    std::vector<RawStream> out;
    auto zlib = [&](const std::string &label, const Bytes &plain, const qzw::DeflateOptions &options) {
        out.push_back(Made(label, 8, qzw::DeflateRaw(plain, options), plain));
    };
    for (int strategy = 0; strategy <= 4; ++strategy) {
        qzw::DeflateOptions options;
        options.strategy = strategy;
        zlib("zlib-s" + std::to_string(strategy), MixedData(4000, 20 + strategy), options);
    }
    qzw::DeflateOptions flushes;
    flushes.flushEvery = 500;
    flushes.flushMode = 3;
    zlib("zlib-full-flush", MixedData(3000, 30), flushes);
    qzw::DeflateOptions level0;
    level0.level = 0;
    zlib("zlib-level0", MixedData(1000, 31), level0);
    zlib("zlib-empty", Bytes(), {});
    // Matches that reach back to the start of a 32 KiB window.
    Bytes far = MixedData(300, 32);
    far.resize(33000, 0);
    const Bytes head = MixedData(300, 32);
    far.insert(far.end(), head.begin(), head.end());
    zlib("zlib-far", far, {});

    for (const auto &fixture : deflate64_fixtures::kAll)
        out.push_back({std::string("d64-") + fixture.name, 9, Bytes(fixture.data, fixture.data + fixture.size),
                       fixture.crc, fixture.plainSize});

    Bytes plain;
    bool flag = false;
    Bytes stream = StoredAfterReadAhead(5, MixedData(40, 33), &plain, &flag);
    out.push_back(Made("stored-after-read-ahead", 8, stream, plain));
    stream = EndsWithShortCode(11, &plain, &flag);
    out.push_back(Made("ends-with-short-code", 8, stream, plain));
    if (ExactSizeStream(100, 3000, 34, &stream, &plain))
        out.push_back(Made("exact-size", 8, stream, plain));
    stream = LongMatchDeflate64(&plain);
    out.push_back(Made("long-match-d64", 9, stream, plain));
    return out;
}

std::vector<RawStream> BlockStartDecoys() {
    std::vector<RawStream> out;
    out.push_back(StoredBlocksHoldingStreams());
    out.push_back(StoredHeaderLookalikes());
    out.push_back(FixedBlocksOnly());
    out.push_back(ManyTinyBlocks());
    out.push_back(OneHugeBlock());
    out.push_back(EmptyStoredRuns());
    const Composer longest = LongestFurthest();
    out.push_back(longest.Take("d64-longest-furthest"));
    // Hostile: the same bits as Deflate, where distance codes 30 and 31 are
    // invalid and 285 is a length of 258.
    RawStream asDeflate = longest.Take("d64-longest-furthest-as-deflate");
    asDeflate.method = 8;
    out.push_back(asDeflate);
    out.push_back(MatchBeforeTheStart());
    return out;
}

}  // namespace qzt
