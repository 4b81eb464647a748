#!/usr/bin/env bash
# The release files (make package), from the current source tree:
#   make-packages.sh [KIND...]     KIND: deb win32 win64 source (default: all)
# into OUT (default build/packages), then SHA256SUMS of every file there:
#   deb     libqzarc1_V-1_amd64.deb, libqzarc-dev_V-1_amd64.deb,
#           qzarc_V-1_amd64.deb (build/package: prefix /usr, Debian layout),
#           checked by lintian, which must report no error
#   win32   qzarc-V-win32.zip (build/win32)
#   win64   qzarc-V-win64.zip (build/win64)
#   source  qzarc-V.tar.gz: git archive of HEAD, which builds with the
#           README's commands
# A Windows kind whose cross compiler is missing is skipped, with a note.
# SOURCE_DATE_EPOCH defaults to the time of the last commit, so that dates
# inside the packages (manual pages, changelogs) are the commit's.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

kinds=("$@")
((${#kinds[@]} > 0)) || kinds=(deb win32 win64 source)
out=${OUT:-$root/build/packages}
jobs=${JOBS:-2}
if [[ -z ${SOURCE_DATE_EPOCH:-} ]] && git rev-parse --git-dir >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-0}
version=$(sed -n 's/^project(qzarc VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
mkdir -p "$out"

deb() {
    cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
        -DQZARC_PACKAGE_LAYOUT=deb -DQZARC_BUILD_TESTS=OFF -DQZARC_BUILD_EXAMPLES=OFF >/dev/null
    cmake --build build/package -j"$jobs" --target qzarc qzarc_cli >/dev/null
    rm -rf build/package/packages
    (cd build/package && cpack -G DEB >/dev/null)
    rm -f "$out"/*.deb
    cp build/package/packages/*.deb "$out/"
    if command -v lintian >/dev/null 2>&1; then
        # Warnings are shown; an error fails the run.
        lintian --fail-on error --tag-display-limit 0 "$out"/*.deb 2>&1 | grep -v 'root privileges' || true
        lintian --fail-on error "$out"/*.deb >/dev/null 2>&1 || { echo "make-packages: lintian reports errors"; exit 1; }
    else
        echo "make-packages: lintian is not installed: the Debian packages are not checked"
    fi
}

windows() {  # windows win32|win64
    local tree=build/$1 toolchain compiler
    case $1 in
        win32) toolchain=cmake/mingw-i686.cmake compiler=i686-w64-mingw32-g++-posix ;;
        win64) toolchain=cmake/mingw-x86_64.cmake compiler=x86_64-w64-mingw32-g++-posix ;;
    esac
    if [[ ! -f $toolchain ]] || ! command -v "$compiler" >/dev/null 2>&1; then
        echo "make-packages: no $compiler: no $1 zip"
        return
    fi
    cmake -S . -B "$tree" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain" >/dev/null
    cmake --build "$tree" -j"$jobs" --target qzarc qzarc_cli >/dev/null
    rm -rf "$tree/packages"
    (cd "$tree" && cpack -G ZIP >/dev/null)
    cp "$tree/packages/qzarc-$version-$1.zip" "$out/"
}

source_tarball() {
    git archive --format=tar --prefix="qzarc-$version/" HEAD | gzip -9n >"$out/qzarc-$version.tar.gz"
}

for kind in "${kinds[@]}"; do
    case $kind in
        deb) deb ;;
        win32 | win64) windows "$kind" ;;
        source) source_tarball ;;
        *) echo "usage: make-packages.sh [deb] [win32] [win64] [source]"; exit 2 ;;
    esac
done
(cd "$out" && rm -f SHA256SUMS && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort |
    xargs -r sha256sum -- >SHA256SUMS)
echo "make-packages: $out"
(cd "$out" && ls -l)
