# Cross toolchain for the 32-bit Windows build (build/win32): the MinGW-w64
# i686 compilers with the POSIX thread model, as Debian packages them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QZARC_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QZARC_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QZARC_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QZARC_MINGW_TRIPLET}-windres)

# Headers and libraries come from the MinGW sysroot only (so the host's zlib
# is never picked up for Windows); programs are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${QZARC_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

