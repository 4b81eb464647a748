#!/usr/bin/env bash
# Installs what the build and the tests need, on Debian, when run as root:
# the native toolchain, GoogleTest's sources, the MinGW-w64 i686 and x86-64
# cross toolchains, wine (32-bit and 64-bit), 7-Zip and zlib (host and
# MinGW), tzdata, pkg-config, man and groff (the install test), and for
# the reliability runs clang with libFuzzer and valgrind.
# Does nothing when everything is present. Not root or not Debian: prints
# what is missing and carries on; the build then skips what it cannot do.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/deps-common.sh"

have_dpkg=false
command -v dpkg-query >/dev/null 2>&1 && have_dpkg=true

need_command cmake cmake
need_command g++ g++
need_command make make
need_command nm binutils
need_file /usr/src/googletest/CMakeLists.txt googletest
need_file /usr/include/zlib.h zlib1g-dev
need_command i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix
need_command i686-w64-mingw32-gcc-posix gcc-mingw-w64-i686-posix
need_command i686-w64-mingw32-objdump binutils-mingw-w64-i686
need_command i686-w64-mingw32-windres binutils-mingw-w64-i686
need_file /usr/i686-w64-mingw32/include/windows.h mingw-w64-i686-dev
need_file /usr/i686-w64-mingw32/lib/libz.a libz-mingw-w64-dev
# The 64-bit Windows tree (build/win64) and its loader.
need_command x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
need_command x86_64-w64-mingw32-gcc-posix gcc-mingw-w64-x86-64-posix
need_command x86_64-w64-mingw32-objdump binutils-mingw-w64-x86-64
need_command x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64
need_file /usr/x86_64-w64-mingw32/include/windows.h mingw-w64-x86-64-dev
need_file /usr/lib/wine/wine64 wine64
need_command wine wine
need_command 7zz 7zip
need_file /usr/share/zoneinfo/Europe/Berlin tzdata
# The install test: hosts built with pkg-config, manual pages rendered by man.
need_command pkg-config pkgconf
need_command man man-db
need_command groff groff-base
# Packages (make package, the release test): CPack's Debian generator asks
# dpkg-shlibdeps for the dependencies; lintian checks the result.
need_command dpkg-shlibdeps dpkg-dev
need_command lintian lintian
# Reliability runs: clang with libFuzzer's runtime (make fuzz), memcheck
# (make test-valgrind); g++ brings its own sanitizer runtimes (make test-asan).
need_command clang clang
need_command clang++ clang
need_glob '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' libclang-rt-14-dev
need_command valgrind valgrind
if $have_dpkg; then
    need_package wine32:i386
fi

install_missing install-deps
