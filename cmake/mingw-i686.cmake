# Cross toolchain for the 32-bit Windows build (build/win32): the MinGW-w64
# i686 compilers with the POSIX thread model, as Debian packages them.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QZARC_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
