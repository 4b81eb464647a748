# Cross toolchain for the 64-bit Windows build (build/win64): the MinGW-w64
# x86-64 compilers with the POSIX thread model, as Debian packages them. The
# same sources and export table as build/win32 (mingw-i686.cmake), for hosts
# that are 64-bit programs and so cannot load the 32-bit QZARC.dll.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QZARC_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
