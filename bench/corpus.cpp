#include "corpus.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "bench_files.h"
#include "measure.h"
#include "writer/writer.h"

namespace qzb {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string &message) {
    std::fprintf(stderr, "qzbench: %s\n", message.c_str());
    std::exit(2);
}

// xorshift64*: deterministic filler for the random corpus and the choices
// the small-file tree makes.
struct Random {
    uint64_t state;
    explicit Random(uint64_t seed) : state(seed) {}
    uint64_t Next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1DULL;
    }
};

bool LooksLikeText(const Bytes &head) {
    if (head.size() >= 2 && head[0] == 0x1F && head[1] == 0x8B)
        return false;  // gzip
    for (uint8_t c : head)
        if (c == 0)
            return false;
    return true;
}

bool IsElf(const Bytes &head) {
    return head.size() >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
}

// Regular files under the roots, in sorted order, whose first bytes pass
// `keep`, each contributing at most `perFile` bytes, until `target` bytes.
template <typename Keep>
Bytes Collect(const std::vector<std::string> &roots, uint64_t target, uint64_t perFile, Keep keep) {
    Bytes out;
    out.reserve(target);
    for (const std::string &root : roots) {
        std::vector<fs::path> paths;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_regular_file(ec) && !it->is_symlink(ec))
                paths.push_back(it->path());
        }
        std::sort(paths.begin(), paths.end());
        for (const fs::path &p : paths) {
            std::ifstream in(p, std::ios::binary);
            if (!in)
                continue;
            Bytes data(std::min<uint64_t>(perFile, target - out.size()));
            in.read(reinterpret_cast<char *>(data.data()), std::streamsize(data.size()));
            data.resize(size_t(in.gcount()));
            if (data.empty() || !keep(Bytes(data.begin(), data.begin() + long(std::min<size_t>(data.size(), 4096)))))
                continue;
            out.insert(out.end(), data.begin(), data.end());
            if (out.size() >= target)
                return out;
        }
    }
    return out;
}

Bytes TextData(uint64_t target) {
    return Collect({"/usr/include", "/usr/share/doc"}, target, 4u << 20, LooksLikeText);
}

Bytes BinaryData(uint64_t target) {
    return Collect({"/usr/lib/x86_64-linux-gnu", "/usr/bin"}, target, 4u << 20, IsElf);
}

Bytes RandomData(uint64_t size, uint64_t seed) {
    Bytes out(size);
    Random r(seed);
    for (size_t i = 0; i + 8 <= out.size(); i += 8) {
        const uint64_t v = r.Next();
        std::memcpy(out.data() + i, &v, 8);
    }
    return out;
}

// Pieces of 512 KiB taken in turn from text, binary (read from its far end)
// and, every eighth piece, random bytes.
Bytes MixedData(const Bytes &text, const Bytes &binary, uint64_t target) {
    constexpr size_t kPiece = 512 * 1024;
    const Bytes noise = RandomData(kPiece, 99);
    Bytes out;
    out.reserve(target);
    size_t t = 0;
    size_t b = binary.size();
    for (size_t piece = 0; out.size() < target; ++piece) {
        if (piece % 8 == 7) {
            out.insert(out.end(), noise.begin(), noise.end());
        } else if (piece % 2 == 0 && t + kPiece <= text.size()) {
            out.insert(out.end(), text.begin() + long(t), text.begin() + long(t + kPiece));
            t += kPiece;
        } else if (b >= kPiece) {
            b -= kPiece;
            out.insert(out.end(), binary.begin() + long(b), binary.begin() + long(b + kPiece));
        } else {
            break;
        }
    }
    out.resize(std::min<size_t>(out.size(), target));
    return out;
}

Bytes Deflate6(const Bytes &data) {
    qzw::DeflateOptions options;
    options.level = 6;
    return qzw::DeflateRaw(data, options);
}

std::string QzName(std::string name) {
    for (char &c : name)
        if (c == '/')
            c = '\\';
    return name;
}

qzw::Record MakeRecord(const std::string &name, const Bytes &plain, uint16_t method, const Bytes &payload) {
    qzw::Record record = qzw::StoredRecord(QzName(name), plain);
    record.method = method;
    record.payload = payload;
    return record;
}

void WriteArchive(const std::string &path, std::vector<qzw::Record> records) {
    qzw::Archive archive;
    archive.records = std::move(records);
    WriteAll(path, archive.Serialize());
}

// 7-Zip's Deflate64 zip of `inputs` (paths relative to cwd).
void SevenZipDeflate64(const std::string &zip, const std::string &cwd, const std::vector<std::string> &inputs,
                       const std::string &work) {
    std::error_code ec;
    fs::remove(zip, ec);
    std::vector<std::string> argv = {"7zz", "a", "-tzip", "-mm=Deflate64", "-mx=5", zip};
    argv.insert(argv.end(), inputs.begin(), inputs.end());
    if (RunPlain(argv, work + "/logs/7zz.out", work + "/logs/7zz.err", cwd) != 0)
        Fail("7zz could not make " + zip + " (see " + work + "/logs/7zz.err)");
}

struct SmallFile {
    std::string name;  // relative, '/' separated
    Bytes data;
};

std::vector<SmallFile> SmallFiles(const Bytes &text, const Bytes &binary) {
    std::vector<SmallFile> files;
    Random r(7);
    for (int i = 0; i < 10000; ++i) {
        const size_t size = 1024 + size_t(r.Next() % (7 * 1024 + 1));
        const bool isText = i % 2 == 0;
        const Bytes &from = isText ? text : binary;
        const size_t at = size_t(r.Next() % (from.size() - size));
        char name[64];
        std::snprintf(name, sizeof name, "d%02d/f%04d.%s", i / 100, i, isText ? "txt" : "bin");
        files.push_back({name, Bytes(from.begin() + long(at), from.begin() + long(at + size))});
    }
    return files;
}

CorpusFiles Paths(const std::string &name, const std::string &work) {
    CorpusFiles c;
    c.name = name;
    c.tree = name == "small";
    c.plain = work + "/corpus/" + name;
    const std::string a = work + "/archives/" + name;
    c.stored = a + "-m0.qza";
    c.deflate = a + "-m8.qza";
    c.deflate64 = a + "-m9.qza";
    c.zip = a + "-m8.zip";
    c.zip64 = a + "-m9.zip";
    if (!c.tree) {
        c.gzip = a + "-m8.gz";
        c.raw = a + "-m8.deflate";
    }
    return c;
}

const Bytes &CachedSource(const std::string &kind, const std::string &work, uint64_t target) {
    static Bytes text, binary;
    Bytes &slot = kind == "text" ? text : binary;
    if (slot.empty()) {
        const std::string path = work + "/corpus/" + kind;
        if (Exists(path))
            slot = ReadAll(path);
        else
            slot = kind == "text" ? TextData(target) : BinaryData(target);
    }
    return slot;
}

}  // namespace

CorpusFiles PrepareCorpus(const std::string &name, const std::string &work, uint64_t targetBytes) {
    CorpusFiles c = Paths(name, work);
    const std::string stamp = work + "/archives/" + name + ".done";
    fs::create_directories(work + "/archives");
    fs::create_directories(work + "/corpus");
    fs::create_directories(work + "/logs");

    if (!Exists(stamp)) {
        std::cout << "qzbench: building the " << name << " corpus and its archives\n" << std::flush;
        std::vector<qzw::Record> stored, deflated, deflated64;
        std::vector<ZipMember> zipMembers;
        if (!c.tree) {
            Bytes plain;
            if (name == "text" || name == "binary")
                plain = CachedSource(name, work, targetBytes);
            else if (name == "mixed")
                plain = MixedData(CachedSource("text", work, targetBytes), CachedSource("binary", work, targetBytes),
                                  targetBytes);
            else if (name == "random")
                plain = RandomData(targetBytes, 12345);
            else
                Fail("unknown corpus " + name);
            if (plain.size() < targetBytes / 2)
                Fail("not enough data on this machine for the " + name + " corpus");
            WriteAll(c.plain, plain);
            const uint32_t crc = qzw::Crc32(plain);
            const Bytes stream = Deflate6(plain);
            WriteAll(c.raw, stream);
            WriteAll(c.gzip, MakeGzip(stream, crc, uint32_t(plain.size())));
            zipMembers.push_back({name, 8, crc, uint32_t(plain.size()), stream});
            stored.push_back(MakeRecord(name, plain, 0, plain));
            deflated.push_back(MakeRecord(name, plain, 8, stream));
            SevenZipDeflate64(c.zip64, work + "/corpus", {name}, work);
            const std::vector<ZipMember> seven = ReadZip(ReadAll(c.zip64));
            if (seven.size() != 1 || seven[0].crc != crc)
                Fail("7zz's Deflate64 zip of " + name + " is not what was expected");
            // 7-Zip stores what does not compress (the random corpus); the
            // method-9 entry then carries zlib's stream, whose stored blocks
            // read the same in Deflate64.
            deflated64.push_back(MakeRecord(name, plain, 9, seven[0].method == 9 ? seven[0].data : stream));
        } else {
            const std::vector<SmallFile> files =
                SmallFiles(CachedSource("text", work, targetBytes), CachedSource("binary", work, targetBytes));
            std::error_code ec;
            fs::remove_all(c.plain, ec);
            std::vector<std::string> dirs;
            for (const SmallFile &f : files) {
                WriteAll(c.plain + "/" + f.name, f.data);
                const std::string dir = f.name.substr(0, f.name.find('/'));
                if (dirs.empty() || dirs.back() != dir)
                    dirs.push_back(dir);
                const Bytes stream = Deflate6(f.data);
                zipMembers.push_back({f.name, 8, qzw::Crc32(f.data), uint32_t(f.data.size()), stream});
                stored.push_back(MakeRecord(f.name, f.data, 0, f.data));
                deflated.push_back(MakeRecord(f.name, f.data, 8, stream));
            }
            SevenZipDeflate64(c.zip64, c.plain, dirs, work);
            std::vector<ZipMember> seven = ReadZip(ReadAll(c.zip64));
            // The zip lists the directories too; keep the files, in our order.
            std::sort(seven.begin(), seven.end(),
                      [](const ZipMember &x, const ZipMember &y) { return x.name < y.name; });
            for (size_t i = 0; i < files.size(); ++i) {
                const SmallFile &f = files[i];
                auto it = std::lower_bound(seven.begin(), seven.end(), f.name,
                                           [](const ZipMember &m, const std::string &n) { return m.name < n; });
                if (it == seven.end() || it->name != f.name || it->crc != qzw::Crc32(f.data))
                    Fail("7zz's Deflate64 zip lacks " + f.name);
                // A file 7-Zip stored gets zlib's stream (stored blocks) instead.
                deflated64.push_back(MakeRecord(f.name, f.data, 9, it->method == 9 ? it->data : zipMembers[i].data));
            }
        }
        WriteArchive(c.stored, std::move(stored));
        WriteArchive(c.deflate, std::move(deflated));
        WriteArchive(c.deflate64, std::move(deflated64));
        WriteAll(c.zip, MakeZip(zipMembers));
        WriteAll(stamp, Bytes{'o', 'k', '\n'});
    }

    if (c.tree) {
        c.files = 0;
        for (const auto &entry : fs::recursive_directory_iterator(c.plain))
            if (entry.is_regular_file()) {
                ++c.files;
                c.bytes += entry.file_size();
            }
    } else {
        c.bytes = fs::file_size(c.plain);
    }
    c.deflateBytes = fs::file_size(c.deflate);
    c.deflate64Bytes = fs::file_size(c.deflate64);
    return c;
}

std::string PrepareLargeArchive(const std::string &work, const std::string &textCorpus, uint64_t size,
                                bool deflate) {
    const std::string path = work + "/archives/large-" + std::to_string(size >> 20) + "MiB-" +
                             (deflate ? "m8" : "m0") + ".qza";
    const std::string stamp = path + ".done";
    if (Exists(stamp))
        return path;
    std::cout << "qzbench: writing " << path << "\n" << std::flush;
    const Bytes unit = ReadAll(textCorpus);
    if (unit.empty() || size % unit.size() != 0)
        Fail("the large entry must be a whole number of text corpora");

    qzw::Record record = qzw::StoredRecord("large", {});
    record.method = deflate ? 8 : 0;
    record.uncompressedSize = uint32_t(size);
    record.compressedSizeOverride = 0;
    const size_t headerSize = qzw::SerializeRecord(record).size();

    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        Fail("cannot write " + path);
    std::vector<uint8_t> zeros(headerSize, 0);
    std::fwrite(zeros.data(), 1, zeros.size(), out);

    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t compressed = 0;
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (deflate && deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        Fail("deflateInit2");
    std::vector<uint8_t> buffer(1 << 20);
    const uint64_t repeats = size / unit.size();
    for (uint64_t r = 0; r < repeats; ++r) {
        crc = crc32(crc, unit.data(), uInt(unit.size()));
        if (!deflate) {
            std::fwrite(unit.data(), 1, unit.size(), out);
            compressed += unit.size();
            continue;
        }
        z.next_in = const_cast<Bytef *>(unit.data());
        z.avail_in = uInt(unit.size());
        const int flush = r + 1 == repeats ? Z_FINISH : Z_NO_FLUSH;
        int status;
        do {
            z.next_out = buffer.data();
            z.avail_out = uInt(buffer.size());
            status = ::deflate(&z, flush);
            const size_t n = buffer.size() - z.avail_out;
            std::fwrite(buffer.data(), 1, n, out);
            compressed += n;
        } while (z.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    }
    if (deflate)
        deflateEnd(&z);
    if (compressed > 0xFFFFFFFFull)
        Fail("the large entry's compressed size does not fit the record");

    record.crc = uint32_t(crc);
    record.compressedSizeOverride = uint32_t(compressed);
    const Bytes header = qzw::SerializeRecord(record);
    std::fseek(out, 0, SEEK_SET);
    std::fwrite(header.data(), 1, header.size(), out);
    if (std::fclose(out) != 0)
        Fail("cannot write " + path);
    WriteAll(stamp, Bytes{'o', 'k', '\n'});
    return path;
}

}  // namespace qzb
