# What both Windows cross toolchains share (included by mingw-i686.cmake and
# mingw-x86_64.cmake once they have set CMAKE_SYSTEM_PROCESSOR and
# QZARC_MINGW_TRIPLET): the MinGW-w64 compilers of that triplet with the
# POSIX thread model, as Debian packages them.
set(CMAKE_SYSTEM_NAME Windows)

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
