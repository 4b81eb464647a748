// The platform the library runs on: the Win32 file, heap and string calls.
// On Windows they are the real ones. Elsewhere a small layer over POSIX
// (posix_*.cpp in this directory) provides the same calls with the behaviour
// the library relies on; where POSIX differs, the layer follows Windows.
#ifndef QZARC_PLATFORM_H
#define QZARC_PLATFORM_H

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#if defined(QZARC_TEST_HOOKS) && !defined(QZARC_HOOKS_IMPL)
// Test builds route the calls that the test instruments watch through
// counting wrappers (win32_test_hooks.cpp); the shipped DLL calls Windows directly.
HANDLE QzHookCreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
BOOL QzHookCloseHandle(HANDLE);
BOOL QzHookWriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL QzHookReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
DWORD QzHookSetFilePointer(HANDLE, LONG, PLONG, DWORD);
LPVOID QzHookHeapAlloc(HANDLE, DWORD, SIZE_T);
BOOL QzHookHeapFree(HANDLE, DWORD, LPVOID);
#undef CreateFileA
#define CreateFileA QzHookCreateFileA
#define CloseHandle QzHookCloseHandle
#define WriteFile QzHookWriteFile
#define ReadFile QzHookReadFile
#define SetFilePointer QzHookSetFilePointer
#define HeapAlloc QzHookHeapAlloc
#define HeapFree QzHookHeapFree
#endif

#include <cstdint>

// Not a Win32 call; see the declaration below. Windows needs no such hint.
inline void ReserveOutputSpace(HANDLE, uint64_t) {}

// Not a Win32 call; see the declaration below. On Windows a read at an
// offset moves the file pointer that the handle's owner reads on from, so
// there is no such read: callers read in turn on the owner's thread.
constexpr bool kReadsAtOffset = false;
inline bool ReadFileAt(HANDLE, void *, uint32_t, uint64_t) { return false; }

#else

#include <cstddef>
#include <cstdint>

typedef void *HANDLE;
typedef void *HWND;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef DWORD *LPDWORD;
typedef LONG *PLONG;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef size_t SIZE_T;
typedef unsigned int UINT;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
typedef FILETIME *LPFILETIME;
struct SECURITY_ATTRIBUTES;
struct OVERLAPPED;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define INVALID_SET_FILE_POINTER ((DWORD)0xFFFFFFFF)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define HEAP_ZERO_MEMORY 0x00000008u

#define MB_OK 0x00000000u
#define IDOK 1

#define NO_ERROR 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_GEN_FAILURE 31
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_DISK_FULL 112
#define ERROR_NEGATIVE_SEEK 131
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_NO_UNICODE_TRANSLATION 1113

typedef uint16_t WCHAR;
typedef WCHAR *LPWSTR;
#define MB_ERR_INVALID_CHARS 0x00000008u
// The ANSI code pages of the tables made at build time (437, 850, 1250,
// 1251, 1252, 932, 936): bytes to UTF-16 as Windows converts them. With
// MB_ERR_INVALID_CHARS a byte or pair that is no character fails the call
// (0, ERROR_NO_UNICODE_TRANSLATION); without it, it becomes U+FFFD. A
// wideCount of 0 asks for the length. Other code pages fail with
// ERROR_INVALID_PARAMETER.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int count, LPWSTR wide, int wideCount);
BOOL IsDBCSLeadByteEx(UINT codePage, BYTE byte);
BOOL IsValidCodePage(UINT codePage);

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES *security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, OVERLAPPED *overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, OVERLAPPED *overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL CloseHandle(HANDLE object);
BOOL DeleteFileA(LPCSTR name);
DWORD GetFileAttributesA(LPCSTR name);
BOOL SetFileAttributesA(LPCSTR name, DWORD attributes);
BOOL SetFileTime(HANDLE file, const FILETIME *creation, const FILETIME *lastAccess,
                 const FILETIME *lastWrite);
BOOL LocalFileTimeToFileTime(const FILETIME *local, LPFILETIME utc);
DWORD GetLastError();
void SetLastError(DWORD error);

HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

LPSTR lstrcpyA(LPSTR dest, LPCSTR src);
LPSTR lstrcpynA(LPSTR dest, LPCSTR src, int size);
int lstrlenA(LPCSTR s);
int wsprintfA(LPSTR out, LPCSTR format, ...);

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Not a Win32 call: tells the file system that a file just created will grow
// to this many bytes, so that it can reserve the space in one step rather
// than a page at a time as the writes arrive (on Linux file systems that is
// a large part of the cost of writing a big file). The file's size does not
// change and the last error is kept; a refusal is ignored, the writes then
// meet whatever they would have met.
void ReserveOutputSpace(HANDLE file, uint64_t bytes);

// Not a Win32 call: reads n bytes at `offset` of an open file without
// moving its file pointer, so that another thread may read there while the
// handle's owner reads on from where it is. True when all n bytes were
// read. The last error is left as it was either way: it belongs to the
// owner's thread.
constexpr bool kReadsAtOffset = true;
bool ReadFileAt(HANDLE file, void *buffer, uint32_t n, uint64_t offset);

#endif // !_WIN32

#endif // QZARC_PLATFORM_H
