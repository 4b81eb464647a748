#!/usr/bin/env bash
# Checks that this source tree builds to the same bytes wherever and
# whenever it is built:
#   check-reproducible.sh [--library-only]
# Copies the tree's files (those git tracks, as they are in the work tree;
# every file but build/ outside a git checkout) into two directories of
# different names and depths, builds each a while apart, under different
# time zones and umasks, and compares
#   libqzarc.so.1.N.M and qzarc          (Linux, Release)
#   QZARC.dll and qzarc.exe             (Windows i686, and x86-64 when its
#                                        cross compiler is installed)
# byte for byte. --library-only compares the libraries only. Exits 1 when
# any differ, naming them. Takes a few minutes (four to six small builds).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
library_only=false
[[ ${1:-} == --library-only ]] && library_only=true
jobs=${JOBS:-2}

work=$(mktemp -d "${TMPDIR:-/tmp}/qzarc-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
first=$work/a/src
second=$work/bb/deeper/qzarc-source

copy_tree() {  # copy_tree DEST
    mkdir -p "$1"
    if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
        (cd "$root" && git ls-files -z | xargs -0 cp --parents -t "$1")
    else
        (cd "$root" && tar --exclude=./build -cf - .) | tar -xf - -C "$1"
    fi
}

build() {  # build SOURCE TZ UMASK
    local src=$1
    (
        cd "$src"
        umask "$3"
        export TZ=$2
        cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=Release -DQZARC_BUILD_TESTS=OFF \
            -DQZARC_BUILD_EXAMPLES=OFF >build-linux.log 2>&1
        cmake --build build/linux -j"$jobs" --target qzarc qzarc_cli >>build-linux.log 2>&1
        for arch in i686 x86_64; do
            local toolchain=cmake/mingw-$arch.cmake tree=build/win-$arch
            [[ -f $toolchain ]] && command -v $arch-w64-mingw32-g++-posix >/dev/null 2>&1 || continue
            cmake -S . -B "$tree" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$src/$toolchain" \
                -DQZARC_BUILD_TESTS=OFF -DQZARC_BUILD_EXAMPLES=OFF >"build-$arch.log" 2>&1
            cmake --build "$tree" -j"$jobs" --target qzarc qzarc_cli >>"build-$arch.log" 2>&1
        done
    ) || { echo "check-reproducible: the build in $src failed:"; tail -n 20 "$src"/build-*.log; exit 2; }
}

# The files compared, relative to a copy.
products() {
    (
        cd "$1"
        ls build/linux/libqzarc.so.1.*.*
        $library_only || echo build/linux/qzarc
        for tree in build/win-i686 build/win-x86_64; do
            [[ -f $tree/QZARC.dll ]] || continue
            echo $tree/QZARC.dll
            $library_only || echo $tree/qzarc.exe
        done
    )
}

copy_tree "$first"
copy_tree "$second"
start=$SECONDS
build "$first" UTC 022
sleep 2  # a later second for anything that would record the time
build "$second" Asia/Kolkata 077
echo "check-reproducible: two builds in $((SECONDS - start)) s"

different=0
while read -r file; do
    a=$(sha256sum <"$first/$file" | cut -c1-64)
    if [[ ! -f $second/$file ]]; then
        echo "DIFFERENT  $file: missing in the second build"
        different=$((different + 1))
    elif b=$(sha256sum <"$second/$file" | cut -c1-64) && [[ $a == "$b" ]]; then
        echo "same       $a  $file"
    else
        echo "DIFFERENT  $file: $(cmp -l "$first/$file" "$second/$file" | wc -l) bytes differ"
        different=$((different + 1))
    fi
done < <(products "$first")
if ((different > 0)); then
    echo "check-reproducible: $different file(s) differ between the two builds"
    exit 1
fi
echo "check-reproducible: every file is the same in both builds"
