// The POSIX platform layer, where it must behave like Windows rather than
// like POSIX: error numbers, read-only files, non-regular files, seeks,
// file times, and the test instruments the other suites rely on.
#if !defined(_WIN32)

#include "platform/platform.h"
#include "platform/test_hooks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qzarc_platform_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Path(const std::string &name) const { return dir_ + "/" + name; }
    std::string MakeFile(const std::string &name, const std::string &content, mode_t mode = 0644) {
        std::string p = Path(name);
        std::ofstream(p, std::ios::binary) << content;
        chmod(p.c_str(), mode);
        return p;
    }
    static mode_t Mode(const std::string &p) {
        struct stat st;
        EXPECT_EQ(lstat(p.c_str(), &st), 0) << p;
        return st.st_mode & 07777;
    }
    static HANDLE Open(const std::string &p, DWORD access, DWORD disposition) {
        return CreateFileA(p.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    static DWORD Position(HANDLE h) {
        return SetFilePointer(h, 0, nullptr, FILE_CURRENT);
    }
    std::string dir_;
};

FILETIME FromTicks(uint64_t t) {
    return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

constexpr uint64_t kUnixEpochTicks = 11644473600ull * 10000000ull;

TEST_F(PlatformTest, OpenFailuresReportWindowsErrorNumbers) {
    MakeFile("file", "x");
    fs::create_directory(Path("sub"));
    struct Case {
        std::string path;
        DWORD access, disposition, error;
    } cases[] = {
        {Path("missing"), GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {Path("nodir/missing"), GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {Path("nodir/new"), GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {Path("file/inner"), GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {Path(std::string(300, 'n')), GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {Path("file"), GENERIC_WRITE, CREATE_NEW, ERROR_FILE_EXISTS},
        {Path("sub"), GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {Path("sub"), GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {Path("sub"), GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
        {"", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
    };
    long handlesBefore = qzarc_test::LiveHandles();
    for (const Case &c : cases) {
        SetLastError(0);
        EXPECT_EQ(Open(c.path, c.access, c.disposition), INVALID_HANDLE_VALUE) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(qzarc_test::LiveHandles(), handlesBefore);
}

TEST_F(PlatformTest, InvalidHandlesAreRejected) {
    DWORD n = 7;
    char buf[4];
    for (HANDLE h : {HANDLE(nullptr), INVALID_HANDLE_VALUE}) {
        SetLastError(0);
        EXPECT_FALSE(ReadFile(h, buf, sizeof buf, &n, nullptr));
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
        EXPECT_EQ(n, 0u);
        EXPECT_FALSE(CloseHandle(h));
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    }
}

// A closed handle is stale for good: closing it again, or reading, seeking
// and sizing through it, fails with ERROR_INVALID_HANDLE, also once a new
// file has been opened in its place, which stays untouched. So do values
// that were never handles.
TEST_F(PlatformTest, StaleAndForeignHandlesAreRejected) {
    const std::string p = MakeFile("a", "abcdef");
    const long handlesBefore = qzarc_test::LiveHandles();
    HANDLE stale = Open(p, GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(stale, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(stale));
    HANDLE fresh = Open(p, GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
    EXPECT_NE(fresh, stale);

    int foreign = 0;
    for (HANDLE h : {stale, HANDLE(&foreign), HANDLE(uintptr_t{0x1234})}) {
        DWORD n = 7;
        char buf[4];
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(h));
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
        SetLastError(0);
        EXPECT_FALSE(ReadFile(h, buf, sizeof buf, &n, nullptr));
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
        EXPECT_EQ(GetFileSize(h, nullptr), INVALID_FILE_SIZE);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    }
    DWORD n = 0;
    char buf[8] = {};
    EXPECT_TRUE(ReadFile(fresh, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "abcdef");
    EXPECT_TRUE(CloseHandle(fresh));
    EXPECT_FALSE(CloseHandle(fresh));
    EXPECT_EQ(qzarc_test::LiveHandles(), handlesBefore);
}

// The table of handles is fixed: once it is full an open fails cleanly
// (ERROR_TOO_MANY_OPEN_FILES, no descriptor kept) and a close makes room.
TEST_F(PlatformTest, FullHandleTableRefusesAnOpen) {
    const std::string p = MakeFile("many", "x");
    std::vector<HANDLE> open;
    for (;;) {
        HANDLE h = Open(p, GENERIC_READ, OPEN_EXISTING);
        if (h == INVALID_HANDLE_VALUE)
            break;
        open.push_back(h);
        ASSERT_LT(open.size(), 10000u);
    }
    EXPECT_EQ(GetLastError(), DWORD{ERROR_TOO_MANY_OPEN_FILES});
    EXPECT_GE(open.size(), 200u);
    ASSERT_TRUE(CloseHandle(open.back()));
    open.back() = Open(p, GENERIC_READ, OPEN_EXISTING);
    EXPECT_NE(open.back(), INVALID_HANDLE_VALUE);
    for (HANDLE h : open)
        EXPECT_TRUE(CloseHandle(h));
}

TEST_F(PlatformTest, LastErrorIsPerThread) {
    SetLastError(ERROR_DISK_FULL);
    DWORD seen = 0;
    std::thread([&] {
        EXPECT_EQ(GetFileAttributesA(Path("missing").c_str()), INVALID_FILE_ATTRIBUTES);
        seen = GetLastError();
    }).join();
    EXPECT_EQ(seen, DWORD{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(GetLastError(), DWORD{ERROR_DISK_FULL});
}

TEST_F(PlatformTest, ReadOnlyFilesRefuseWritingEvenToRoot) {
    std::string p = MakeFile("ro", "keep me", 0444);
    EXPECT_EQ(GetFileAttributesA(p.c_str()), DWORD{FILE_ATTRIBUTE_READONLY});
    for (DWORD disposition : {CREATE_ALWAYS, OPEN_EXISTING, TRUNCATE_EXISTING}) {
        SetLastError(0);
        EXPECT_EQ(Open(p, GENERIC_WRITE, disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
    }
    EXPECT_EQ(fs::file_size(p), 7u);  // not truncated by a refused CREATE_ALWAYS

    HANDLE h = Open(p, GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);

    // Clearing the attribute makes the file replaceable again.
    ASSERT_TRUE(SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(Mode(p), mode_t{0644});
    EXPECT_EQ(GetFileAttributesA(p.c_str()), DWORD{FILE_ATTRIBUTE_NORMAL});
    h = Open(p, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(fs::file_size(p), 0u);
}

TEST_F(PlatformTest, AttributesTranslateToModeBits) {
    mode_t oldMask = umask(022);
    HANDLE h = Open(Path("new"), GENERIC_WRITE, CREATE_ALWAYS);
    umask(oldMask);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(Mode(Path("new")), mode_t{0644});

    std::string p = MakeFile("rw", "", 0666);
    ASSERT_TRUE(SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(Mode(p), mode_t{0444});  // every write bit goes, not just the owner's
    ASSERT_TRUE(SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(Mode(p), mode_t{0644});  // only the owner's comes back

    fs::create_directory(Path("d"));
    chmod(Path("d").c_str(), 0555);
    EXPECT_EQ(GetFileAttributesA(Path("d").c_str()),
              DWORD{FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY});
    EXPECT_EQ(GetFileAttributesA(Path("nodir/x").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
    EXPECT_FALSE(SetFileAttributesA(Path("missing").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
}

TEST_F(PlatformTest, NonRegularFilesAreNeitherDeletedNorChmodded) {
    std::string fifo = Path("fifo"), sub = Path("sub");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    chmod(fifo.c_str(), 0666);
    fs::create_directory(sub);
    chmod(sub.c_str(), 0755);
    for (const std::string &p : {fifo, sub}) {
        mode_t before = Mode(p);
        SetLastError(0);
        EXPECT_FALSE(DeleteFileA(p.c_str())) << p;
        EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
        EXPECT_TRUE(fs::exists(fs::symlink_status(p)));
        EXPECT_TRUE(SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_READONLY));
        EXPECT_EQ(Mode(p), before);
    }

    // A symlink is removed itself; its target stays.
    std::string target = MakeFile("target", "data");
    fs::create_symlink(target, Path("link"));
    fs::create_symlink(Path("nowhere"), Path("dangling"));
    EXPECT_TRUE(DeleteFileA(Path("link").c_str()));
    EXPECT_TRUE(DeleteFileA(Path("dangling").c_str()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(Path("link"))));
    EXPECT_FALSE(fs::exists(fs::symlink_status(Path("dangling"))));
    EXPECT_TRUE(fs::exists(target));

    EXPECT_FALSE(DeleteFileA(Path("missing").c_str()));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
    EXPECT_FALSE(DeleteFileA(Path("nodir/missing").c_str()));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
}

TEST_F(PlatformTest, ReadFileFillsTheBufferAcrossShortReads) {
    std::string fifo = Path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        int fd = open(fifo.c_str(), O_WRONLY);
        for (const char *piece : {"abc", "defg", "hij"}) {
            EXPECT_EQ(write(fd, piece, strlen(piece)), ssize_t(strlen(piece)));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        close(fd);
    });
    HANDLE h = Open(fifo, GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buf[16] = {};
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(h, buf, 7, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "abcdefg");
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));  // stops at end of file
    EXPECT_EQ(std::string(buf, n), "hij");
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(n, 0u);
    CloseHandle(h);
    writer.join();
}

TEST_F(PlatformTest, WriteToFullDiskFailsWithDiskFull) {
    std::string link = Path("full");
    fs::create_symlink("/dev/full", link);
    long handles = qzarc_test::LiveHandles();
    HANDLE h = Open(link, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(qzarc_test::LiveHandles(), handles + 1);
    qzarc_test::ResetCounters();
    DWORD written = 99;
    char data[100] = {};
    EXPECT_FALSE(WriteFile(h, data, sizeof data, &written, nullptr));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_DISK_FULL});
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(qzarc_test::LiveHandles(), handles);
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, data, 5, &written, nullptr));
    EXPECT_EQ(qzarc_test::WriteSizes(), (std::vector<uint32_t>{100, 5}));  // failures logged too
    EXPECT_TRUE(fs::is_symlink(link));
}

// The space hint must be invisible: the size seen through the handle and the
// last error stay as they were, the writes then give exactly their bytes and
// no more, and handles the hint cannot use (a device, a bad handle) are left
// alone.
TEST_F(PlatformTest, ReservingSpaceChangesNothingVisible) {
    const std::string p = Path("reserved");
    HANDLE h = Open(p, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    SetLastError(ERROR_FILE_EXISTS);
    ReserveOutputSpace(h, 3u << 20);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_EXISTS});
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(h, &high), 0u);
    EXPECT_EQ(high, 0u);
    std::vector<char> data(65536);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 13);
    DWORD written = 0;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(WriteFile(h, data.data(), DWORD(data.size()), &written, nullptr));
    EXPECT_EQ(GetFileSize(h, nullptr), 3u * 65536u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(fs::file_size(p), 3u * 65536u);
    std::ifstream in(p, std::ios::binary);
    std::vector<char> back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(back.size(), 3u * 65536u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin() + 2 * 65536));

    const std::string link = Path("full");
    fs::create_symlink("/dev/full", link);
    h = Open(link, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    SetLastError(NO_ERROR);
    ReserveOutputSpace(h, 1u << 20);
    EXPECT_EQ(GetLastError(), DWORD{NO_ERROR});
    EXPECT_FALSE(WriteFile(h, data.data(), 100, &written, nullptr));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_DISK_FULL});
    EXPECT_TRUE(CloseHandle(h));
    ReserveOutputSpace(INVALID_HANDLE_VALUE, 1u << 20);
    ReserveOutputSpace(nullptr, 1u << 20);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_DISK_FULL});
}

TEST_F(PlatformTest, SeeksFollowWindowsRules) {
    HANDLE h = Open(Path("f"), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, "0123456789", 10, &n, nullptr));
    EXPECT_EQ(SetFilePointer(h, -3, nullptr, FILE_END), 7u);
    EXPECT_EQ(SetFilePointer(h, -2, nullptr, FILE_CURRENT), 5u);  // signed without a high part
    EXPECT_EQ(SetFilePointer(h, -6, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NEGATIVE_SEEK});
    EXPECT_EQ(Position(h), 5u);  // the failed seek did not move

    // With a high part, the low part is unsigned: -1 means 0xFFFFFFFF.
    LONG high = 0;
    SetLastError(ERROR_GEN_FAILURE);
    EXPECT_EQ(SetFilePointer(h, -1, &high, FILE_BEGIN), 0xFFFFFFFFu);
    EXPECT_EQ(GetLastError(), DWORD{NO_ERROR});  // how a caller tells it from failure
    EXPECT_EQ(high, 0);
    high = 1;
    EXPECT_EQ(SetFilePointer(h, 0x10, &high, FILE_BEGIN), 0x10u);
    EXPECT_EQ(high, 1);
    high = -1;  // 64-bit distance -16 from 4 GiB + 16
    EXPECT_EQ(SetFilePointer(h, -16, &high, FILE_CURRENT), 0u);
    EXPECT_EQ(high, 1);
    high = -1;
    EXPECT_EQ(SetFilePointer(h, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NEGATIVE_SEEK});

    // Seeking past the end is allowed; writing there extends the file.
    EXPECT_EQ(SetFilePointer(h, 12, nullptr, FILE_BEGIN), 12u);
    ASSERT_TRUE(WriteFile(h, "x", 1, &n, nullptr));
    DWORD sizeHigh = 9;
    EXPECT_EQ(GetFileSize(h, &sizeHigh), 13u);
    EXPECT_EQ(sizeHigh, 0u);
    CloseHandle(h);

    // Sizes beyond 4 GiB (a sparse file) split into low and high parts.
    ASSERT_EQ(truncate(Path("f").c_str(), 0x140000003ll), 0);
    h = Open(Path("f"), GENERIC_READ, OPEN_EXISTING);
    EXPECT_EQ(GetFileSize(h, &sizeHigh), 0x40000003u);
    EXPECT_EQ(sizeHigh, 1u);
    CloseHandle(h);
}

TEST_F(PlatformTest, SetFileTimeConvertsFileTimes) {
    std::string p = MakeFile("t", "");
    HANDLE h = Open(p, GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // 2001-09-09 01:46:40.1234567 UTC and 1969-12-31 23:59:59.5 UTC.
    FILETIME write = FromTicks(kUnixEpochTicks + 1000000000ull * 10000000ull + 1234567);
    FILETIME access = FromTicks(kUnixEpochTicks - 5000000);
    FILETIME creation = FromTicks(1);
    ASSERT_TRUE(SetFileTime(h, &creation, &access, &write));
    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);
    EXPECT_EQ(st.st_atim.tv_sec, -1);  // floor, not truncation toward zero
    EXPECT_EQ(st.st_atim.tv_nsec, 500000000);

    // NULL (and a zero FILETIME) leave a time alone.
    FILETIME later = FromTicks(kUnixEpochTicks + 20000000);
    FILETIME zero = FromTicks(0);
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &later));
    ASSERT_TRUE(SetFileTime(h, nullptr, &zero, nullptr));
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 2);
    EXPECT_EQ(st.st_atim.tv_sec, -1);
    CloseHandle(h);
}

TEST_F(PlatformTest, LocalFileTimeSubtractsTheCurrentOffset) {
    const char *old = getenv("TZ");
    std::string saved = old ? old : "";
    const uint64_t base = kUnixEpochTicks + 86400ull * 10000000ull;
    // POSIX TZ offsets are west-positive: "<+0230>-2:30" is 2.5 hours east.
    for (auto [tz, offsetSeconds] : {std::pair<const char *, int64_t>{"<+0230>-2:30", 9000},
                                     {"<-05>5", -18000}}) {
        setenv("TZ", tz, 1);
        tzset();
        FILETIME ft = FromTicks(base);
        ASSERT_TRUE(LocalFileTimeToFileTime(&ft, &ft));  // in place
        uint64_t got = (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        EXPECT_EQ(int64_t(got - base), -offsetSeconds * 10000000) << tz;
    }
    if (old) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(PlatformHeap, FailureInjectionAndCounters) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    qzarc_test::ResetCounters();
    long live = qzarc_test::LiveBlocks();

    qzarc_test::FailAllocation(3);
    void *a = HeapAlloc(heap, 0, 16);
    void *b = HeapAlloc(heap, 0, 0);
    void *c = HeapAlloc(heap, 0, 16);  // the third fails
    void *d = HeapAlloc(heap, 0, 0);   // and only the third
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(c, nullptr);
    ASSERT_NE(b, nullptr);  // zero bytes still give distinct blocks
    ASSERT_NE(d, nullptr);
    EXPECT_NE(b, d);
    EXPECT_EQ(qzarc_test::AllocationCount(), 4u);
    EXPECT_EQ(qzarc_test::LiveBlocks(), live + 3);

    qzarc_test::FailAllocation(1);
    qzarc_test::FailAllocation(0);  // disarmed
    void *e = HeapAlloc(heap, 0, 8);
    EXPECT_NE(e, nullptr);

    qzarc_test::ResetCounters();  // does not forget live blocks
    EXPECT_EQ(qzarc_test::AllocationCount(), 0u);
    EXPECT_EQ(qzarc_test::LiveBlocks(), live + 4);
    for (void *p : {a, b, c, d, e}) {
        EXPECT_TRUE(HeapFree(heap, 0, p));
    }
    EXPECT_EQ(qzarc_test::LiveBlocks(), live);

    // A recycled block comes back zeroed when asked.
    auto *dirty = static_cast<unsigned char *>(HeapAlloc(heap, 0, 4096));
    std::memset(dirty, 0xAB, 4096);
    HeapFree(heap, 0, dirty);
    auto *clean = static_cast<unsigned char *>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 4096));
    ASSERT_NE(clean, nullptr);
    EXPECT_EQ(std::count(clean, clean + 4096, 0), 4096);
    HeapFree(heap, 0, clean);
}

TEST(PlatformStrings, TruncationAndFormatting) {
    char buf[2048];
    std::memset(buf, 'z', sizeof buf);
    EXPECT_EQ(lstrcpynA(buf, "abcdef", 4), buf);
    EXPECT_STREQ(buf, "abc");
    lstrcpynA(buf, "abcdef", 1);
    EXPECT_STREQ(buf, "");
    buf[0] = 'q';
    lstrcpynA(buf, "abcdef", 0);  // no room: untouched
    EXPECT_EQ(buf[0], 'q');
    EXPECT_EQ(lstrlenA(nullptr), 0);

    EXPECT_EQ(wsprintfA(buf, "%08lX-%03d", 0xBEEFul, 7), 12);
    EXPECT_STREQ(buf, "0000BEEF-007");
    std::string longText(1500, 'w');
    buf[1023] = 'z';
    EXPECT_EQ(wsprintfA(buf, "%s", longText.c_str()), 1023);  // Windows' 1024-byte limit
    EXPECT_EQ(buf[1023], '\0');

    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "bad archive", "qzarc", MB_OK), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "bad archive\n");
}

} // namespace

#endif // !_WIN32
