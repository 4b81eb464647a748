#include "tree_corpus.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "bench_files.h"
#include "measure.h"
#include "writer/writer.h"

namespace qzb {

namespace fs = std::filesystem;

namespace {

// At least this many files and bytes, or the tree says little about many
// files; at most kCap bytes, so that a run stays within minutes. A single
// file above kLargestFile is passed over: the tree is about many files, not
// a few big ones.
constexpr uint32_t kMinFiles = 10000;
constexpr uint64_t kMinBytes = 200000000;
constexpr uint64_t kCap = 256ull << 20;
constexpr uint64_t kLargestFile = 16ull << 20;

constexpr const char *kTop = "usr";
constexpr const char *kSevenSwitches = "-tzip -mm=Deflate -mx=5";

[[noreturn]] void Fail(const std::string &message) {
    std::fprintf(stderr, "qzbench: %s\n", message.c_str());
    std::exit(2);
}

// The directories below `dir` whose names start with `prefix`, sorted;
// symbolic links to directories are not followed.
std::vector<std::string> Children(const std::string &dir, const std::string &prefix) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) == 0 && !it->is_symlink(ec) && it->is_directory(ec))
            out.push_back(it->path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Where the tree comes from, in this order: the C headers, the standard
// libraries of Python and Perl (whatever versions are installed), then
// documentation and message catalogues to make up the size.
std::vector<std::string> SourceRoots() {
    std::vector<std::string> roots;
    auto add = [&](const std::vector<std::string> &dirs) { roots.insert(roots.end(), dirs.begin(), dirs.end()); };
    add(Children("/usr", "include"));
    add(Children("/usr/lib", "python3"));
    add(Children("/usr/share", "perl"));
    for (const std::string &multiarch : Children("/usr/lib", ""))
        if (multiarch.find("-linux-gnu") != std::string::npos)
            add(Children(multiarch, "perl"));
    add(Children("/usr/share", "doc"));
    add(Children("/usr/share", "locale"));
    return roots;
}

// A name every archiver here records and restores alike: no backslash (a
// directory separator in QZ names), no control characters.
bool PortableName(const std::string &path) {
    for (unsigned char c : path)
        if (c == '\\' || c < 0x20 || c == 0x7F)
            return false;
    return true;
}

bool Readable(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return bool(in);
}

// The regular files (symbolic links and special files left out) below the
// roots, each root's sorted, until the cap.
std::vector<std::string> PickFiles(const std::vector<std::string> &roots, std::vector<std::string> &used) {
    std::vector<std::string> picked;
    uint64_t total = 0;
    for (const std::string &root : roots) {
        std::vector<std::pair<std::string, uint64_t>> found;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code fileEc;
            const fs::file_status status = it->symlink_status(fileEc);
            if (fileEc || !fs::is_regular_file(status))
                continue;
            const uint64_t size = it->file_size(fileEc);
            if (!fileEc)
                found.emplace_back(it->path().string(), size);
        }
        std::sort(found.begin(), found.end());
        bool any = false;
        for (const auto &[path, size] : found) {
            if (size > kLargestFile || !PortableName(path) || !Readable(path))
                continue;
            if (total + size > kCap) {
                if (any)
                    used.push_back(root + " (in part)");
                return picked;
            }
            picked.push_back(path);
            total += size;
            any = true;
        }
        if (any)
            used.push_back(root);
    }
    return picked;
}

// FILETIME (100 ns steps since 1601) of a file's modification time.
uint64_t FileTime(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    const uint64_t seconds = uint64_t(st.st_mtim.tv_sec) + 11644473600ull;
    return seconds * 10000000ull + uint64_t(st.st_mtim.tv_nsec) / 100;
}

std::string QzName(std::string name) {
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

// The QZ archive of the tree, one record at a time so that the archive is
// never held whole: Deflate level 6 per entry, stored where that would not
// shrink it (as `qzarc a` does). Returns how many entries were stored.
uint32_t WriteQz(const TreeCorpus &tree, const std::string &path) {
    const std::string partial = path + ".partial";
    std::FILE *out = std::fopen(partial.c_str(), "wb");
    if (out == nullptr)
        Fail("cannot write " + partial);
    qzw::DeflateOptions options;
    options.level = 6;
    uint32_t stored = 0;
    for (const TreeFile &f : tree.files) {
        const std::string copy = tree.root + "/" + f.path;
        const Bytes data = ReadAll(copy);
        qzw::Record record = qzw::StoredRecord(QzName(f.path), data);
        if (!data.empty()) {
            Bytes stream = qzw::DeflateRaw(data, options);
            if (stream.size() < data.size()) {
                record.method = 8;
                record.payload = std::move(stream);
            }
        }
        stored += record.method == 0 ? 1 : 0;
        record.writeTime = record.creationTime = record.accessTime = FileTime(copy);
        const Bytes bytes = qzw::SerializeRecord(record);
        if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size())
            Fail("cannot write " + partial);
    }
    if (std::fclose(out) != 0)
        Fail("cannot write " + partial);
    fs::rename(partial, path);
    return stored;
}

void Peer(const std::vector<std::string> &argv, const std::string &archive, const std::string &cwd,
          const std::string &work) {
    std::error_code ec;
    fs::remove(archive, ec);
    const std::string log = work + "/logs/" + argv[0] + "-tree";
    if (RunPlain(argv, log + ".out", log + ".err", cwd) != 0)
        Fail(argv[0] + " could not make " + archive + " (see " + log + ".err)");
}

// CRC-32 of a file's contents, read in pieces; false when it cannot be read.
bool FileCrc(const std::string &path, uint32_t &crc) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::vector<char> buffer(1 << 20);
    crc = 0;
    while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0)
        crc = qzw::Crc32Update(crc, reinterpret_cast<const uint8_t *>(buffer.data()), size_t(in.gcount()));
    return in.eof();
}

// The files and directories of the cached copy.
void Survey(TreeCorpus &tree) {
    tree.files.clear();
    tree.directories = 0;
    tree.bytes = 0;
    for (const auto &entry : fs::recursive_directory_iterator(tree.root)) {
        if (entry.is_directory()) {
            ++tree.directories;
        } else if (entry.is_regular_file()) {
            TreeFile f{fs::relative(entry.path(), tree.root).string(), entry.file_size(), 0};
            if (!FileCrc(entry.path().string(), f.crc))
                Fail("cannot read " + entry.path().string());
            tree.bytes += f.size;
            tree.files.push_back(f);
        }
    }
    std::sort(tree.files.begin(), tree.files.end(),
              [](const TreeFile &a, const TreeFile &b) { return a.path < b.path; });
}

}  // namespace

TreeCorpus PrepareTree(const std::string &work) {
    TreeCorpus tree;
    tree.root = work + "/tree";
    tree.top = kTop;
    tree.qza = work + "/archives/tree-m8.qza";
    tree.zip = work + "/archives/tree-infozip.zip";
    tree.zip7 = work + "/archives/tree-7zip.zip";
    tree.sevenSwitches = kSevenSwitches;
    const std::string stamp = work + "/archives/tree.done";
    const std::string sourcesList = work + "/archives/tree.sources";
    fs::create_directories(work + "/archives");
    fs::create_directories(work + "/logs");

    if (!Exists(stamp)) {
        std::cout << "qzbench: copying a tree of this machine's files to " << tree.root << "\n" << std::flush;
        std::vector<std::string> used;
        const std::vector<std::string> picked = PickFiles(SourceRoots(), used);
        std::error_code ec;
        fs::remove_all(tree.root, ec);
        for (const std::string &source : picked) {
            const std::string copy = tree.root + source;  // source is absolute: root/usr/...
            fs::create_directories(fs::path(copy).parent_path());
            fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
            fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
            fs::last_write_time(copy, fs::last_write_time(source));
        }
        Survey(tree);
        if (tree.files.size() < kMinFiles || tree.bytes < kMinBytes)
            Fail("this machine has too few files for the tree corpus (" + std::to_string(tree.files.size()) +
                 " files, " + std::to_string(tree.bytes) + " bytes)");
        for (const TreeFile &f : tree.files)
            if (f.path.rfind(std::string(kTop) + "/", 0) != 0)
                Fail("the tree copy holds " + f.path + ", outside " + kTop);

        std::cout << "qzbench: writing the tree's archives\n" << std::flush;
        tree.qzaStored = WriteQz(tree, tree.qza);
        Peer({"zip", "-6", "-r", "-q", tree.zip, kTop}, tree.zip, tree.root, work);
        std::vector<std::string> seven = {"7zz", "a"};
        std::istringstream switches(kSevenSwitches);
        for (std::string s; switches >> s;)
            seven.push_back(s);
        seven.push_back(tree.zip7);
        seven.push_back(kTop);
        Peer(seven, tree.zip7, tree.root, work);

        std::string list;
        for (const std::string &u : used)
            list += u + "\n";
        WriteAll(sourcesList, Bytes(list.begin(), list.end()));
        const std::string done = "stored " + std::to_string(tree.qzaStored) + "\n";
        WriteAll(stamp, Bytes(done.begin(), done.end()));
    } else {
        Survey(tree);
        const Bytes stampBytes = ReadAll(stamp);
        std::istringstream done(std::string(stampBytes.begin(), stampBytes.end()));
        std::string word;
        done >> word >> tree.qzaStored;
    }
    const Bytes list = ReadAll(sourcesList);
    std::istringstream lines(std::string(list.begin(), list.end()));
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            tree.sources.push_back(line);
    tree.qzaBytes = fs::file_size(tree.qza);
    tree.zipBytes = fs::file_size(tree.zip);
    tree.zip7Bytes = fs::file_size(tree.zip7);
    return tree;
}

bool TreeMatches(const TreeCorpus &tree, const std::string &dir) {
    size_t found = 0;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        found += entry.is_regular_file() ? 1 : 0;
    if (found != tree.files.size())
        return false;
    for (const TreeFile &f : tree.files) {
        const std::string copy = dir + "/" + f.path;
        std::error_code ec;
        uint32_t crc = 0;
        if (fs::file_size(copy, ec) != f.size || ec || !FileCrc(copy, crc) || crc != f.crc)
            return false;
    }
    return true;
}

}  // namespace qzb
