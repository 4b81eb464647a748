#include "cli_harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <fstream>
#include <iterator>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace qzct {
namespace {

#if defined(_WIN32)
std::string Quote(const std::string &s) { return "\"" + s + "\""; }
constexpr const char *kNullDevice = "NUL";
#else
std::string Quote(const std::string &s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}
constexpr const char *kNullDevice = "/dev/null";
#endif

fs::path OwnDirectory() {
#if defined(_WIN32)
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return fs::path(std::string(path, n)).parent_path();
#else
    return fs::canonical("/proc/self/exe").parent_path();
#endif
}

}  // namespace

fs::path QzarcProgram() {
#if defined(_WIN32)
    return OwnDirectory() / "qzarc.exe";
#else
    return OwnDirectory() / "qzarc";
#endif
}

CliRun Qzarc(const std::vector<std::string> &args, const fs::path &cwd) {
    static qzt::TempDir captures;
    static int counter = 0;
    const fs::path out = captures.path() / ("out" + std::to_string(counter) + ".txt");
    const fs::path err = captures.path() / ("err" + std::to_string(counter++) + ".txt");

    std::string command;
    if (!cwd.empty()) {
#if defined(_WIN32)
        command = "cd /d " + Quote(cwd.string()) + " && ";
#else
        command = "cd " + Quote(cwd.string()) + " && ";
#endif
    }
#if !defined(_WIN32)
    // A run that waits for input it will never get fails instead of hanging.
    command += "timeout 120 ";
#endif
    command += Quote(QzarcProgram().string());
    for (const std::string &arg : args)
        command += " " + Quote(arg);
    command += " >" + Quote(out.string()) + " 2>" + Quote(err.string()) + " <" + kNullDevice;

    CliRun run;
#if defined(_WIN32)
    // cmd.exe /c drops the first and the last quote of a command starting
    // with one; the outer pair keeps the inner quoting intact.
    // std::system gives -1 only when cmd.exe itself could not be started
    // (a crashed program gives its exception code, an exit its status):
    // wine fails that now and then under load. Nothing ran, so the command
    // is tried once more rather than reported as the program's fault.
    for (int attempt = 0; attempt < 2; ++attempt) {
        run.status = std::system(("\"" + command + "\"").c_str());
        if (run.status != -1)
            break;
        std::fprintf(stderr, "could not start: %s\n", command.c_str());
    }
#else
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    // Windows programs end their lines with "\r\n".
    for (std::string *text : {&run.out, &run.err}) {
        *text = ReadText(text == &run.out ? out : err);
        text->erase(std::remove(text->begin(), text->end(), '\r'), text->end());
    }
    return run;
}

void WriteBytes(const fs::path &path, const qzw::Bytes &bytes) {
    if (path.has_parent_path())
        fs::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadText(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> TreeListing(const fs::path &root) {
    std::vector<std::string> paths;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        paths.push_back(fs::relative(it->path(), root).generic_string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

#if defined(_WIN32)
namespace {

uint64_t Ticks(const FILETIME &t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

FILETIME FromTicks(uint64_t ticks) {
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(ticks);
    t.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return t;
}

void FileTimes(const fs::path &path, FILETIME *access, FILETIME *write) {
    HANDLE file = CreateFileA(path.string().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE || !GetFileTime(file, nullptr, access, write))
        throw std::runtime_error("cannot read the times of " + path.string());
    CloseHandle(file);
}

}  // namespace

uint64_t WriteTicks(const fs::path &path) {
    FILETIME access, write;
    FileTimes(path, &access, &write);
    return Ticks(write);
}

uint64_t AccessTicks(const fs::path &path) {
    FILETIME access, write;
    FileTimes(path, &access, &write);
    return Ticks(access);
}

void SetTimes(const fs::path &path, uint64_t writeTicks, uint64_t accessTicks) {
    HANDLE file = CreateFileA(path.string().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const FILETIME write = FromTicks(writeTicks);
    const FILETIME access = FromTicks(accessTicks);
    const bool ok = file != INVALID_HANDLE_VALUE && SetFileTime(file, nullptr, &access, &write);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!ok)
        throw std::runtime_error("cannot set the times of " + path.string());
}
#else
namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

uint64_t Ticks(const struct timespec &t) {
    return static_cast<uint64_t>(t.tv_sec + kSecondsFrom1601To1970) * 10000000u +
           static_cast<uint64_t>(t.tv_nsec) / 100u;
}

struct timespec FromTicks(uint64_t ticks) {
    struct timespec t;
    t.tv_sec = static_cast<time_t>(static_cast<int64_t>(ticks / 10000000u) - kSecondsFrom1601To1970);
    t.tv_nsec = static_cast<long>(ticks % 10000000u) * 100;
    return t;
}

struct stat StatOf(const fs::path &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        throw std::runtime_error("cannot stat " + path.string());
    return st;
}

}  // namespace

uint64_t WriteTicks(const fs::path &path) { return Ticks(StatOf(path).st_mtim); }

uint64_t AccessTicks(const fs::path &path) { return Ticks(StatOf(path).st_atim); }

void SetTimes(const fs::path &path, uint64_t writeTicks, uint64_t accessTicks) {
    const struct timespec times[2] = {FromTicks(accessTicks), FromTicks(writeTicks)};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("cannot set the times of " + path.string());
}
#endif

bool IsReadOnly(const fs::path &path) {
    const fs::perms p = fs::status(path).permissions();
    return (p & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) ==
           fs::perms::none;
}

void MakeReadOnly(const fs::path &path) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

namespace {

void SetVariable(const std::string &name, const std::string *value) {
#if defined(_WIN32)
    _putenv_s(name.c_str(), value != nullptr ? value->c_str() : "");
#else
    if (value != nullptr)
        setenv(name.c_str(), value->c_str(), 1);
    else
        unsetenv(name.c_str());
#endif
}

}  // namespace

ScopedEnvironment::ScopedEnvironment(const std::string &name, const std::string &value) : name_(name) {
    if (const char *old = std::getenv(name.c_str())) {
        had_ = true;
        old_ = old;
    }
    SetVariable(name_, &value);
}

ScopedEnvironment::~ScopedEnvironment() { SetVariable(name_, had_ ? &old_ : nullptr); }

fs::path CopySample(const fs::path &dir) {
    const fs::path examples = fs::path(QZARC_SOURCE_DIR) / "examples";
    fs::copy_file(examples / "sample.qza", dir / "sample.qza");
    fs::copy_file(examples / "sample.001", dir / "sample.001");
    return dir / "sample.qza";
}

}  // namespace qzct
