#!/usr/bin/env bash
# Installs what the build and the tests need, on Debian, when run as root:
# the native toolchain, GoogleTest's sources, the MinGW-w64 i686 cross
# toolchain, wine (32-bit), 7-Zip and zlib (host and MinGW), tzdata, and for
# the reliability runs clang with libFuzzer and valgrind.
# Does nothing when everything is present. Not root or not Debian: prints
# what is missing and carries on; the build then skips what it cannot do.
set -euo pipefail

missing=()

need_command() {  # need_command COMMAND PACKAGE
    command -v "$1" >/dev/null 2>&1 || missing+=("$2")
}
need_file() {  # need_file PATH PACKAGE
    [[ -e $1 ]] || missing+=("$2")
}
need_glob() {  # need_glob PATTERN PACKAGE: some file matches the pattern
    compgen -G "$1" >/dev/null 2>&1 || missing+=("$2")
}
need_package() {  # need_package PACKAGE
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$1")
}

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
need_command wine wine
need_command 7zz 7zip
need_file /usr/share/zoneinfo/Europe/Berlin tzdata
# Reliability runs: clang with libFuzzer's runtime (make fuzz), memcheck
# (make test-valgrind); g++ brings its own sanitizer runtimes (make test-asan).
need_command clang clang
need_command clang++ clang
need_glob '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' libclang-rt-14-dev
need_command valgrind valgrind
if $have_dpkg; then
    need_package wine32:i386
fi

# Each package once, in order.
declare -A seen=()
packages=()
for p in "${missing[@]+"${missing[@]}"}"; do
    [[ -n ${seen[$p]+x} ]] && continue
    seen[$p]=1
    packages+=("$p")
done

if ((${#packages[@]} == 0)); then
    echo "install-deps: everything is installed"
    exit 0
fi

if [[ $EUID -ne 0 ]] || ! $have_dpkg || ! command -v apt-get >/dev/null 2>&1; then
    echo "install-deps: missing: ${packages[*]}"
    echo "install-deps: not root on Debian, so not installing; as root run:"
    echo "    dpkg --add-architecture i386 && apt-get update && apt-get install ${packages[*]}"
    echo "install-deps: continuing; the build skips what it cannot do"
    exit 0
fi

echo "install-deps: installing ${packages[*]}"
for p in "${packages[@]}"; do
    if [[ $p == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        break
    fi
done
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${packages[@]}"
echo "install-deps: done"
