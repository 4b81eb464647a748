#!/usr/bin/env bash
# What ships, as a user and a distribution check it:
#   check-release.sh SOURCE_DIR LINUX_DIR WIN32_DIR WIN64_DIR C_COMPILER
# Hardening of each built binary (those of a tree not built are named and
# left out):
#   Linux    libqzarc.so.1.N.M and qzarc: BIND_NOW, a GNU_RELRO segment, a
#            stack that is not executable, the stack protector and
#            fortified calls in use; qzarc a position-independent executable
#   Windows  QZARC.dll and qzarc.exe: ASLR and DEP flags, relocations kept,
#            high-entropy ASLR on 64-bit, no link time in the headers, the
#            stack guard linked in, imports from KERNEL32, USER32 and msvcrt
#            only
# The Debian packages (scripts/make-packages.sh deb, lintian without
# errors): unpacked with dpkg-deb -x into a temporary root, their qzarc
# lists the sample, and examples/walk.c from libqzarc-dev builds with
# pkg-config against that root and lists it too.
set -uo pipefail

srcdir=$(cd "${1:?usage: check-release.sh SOURCE_DIR LINUX_DIR WIN32_DIR WIN64_DIR C_COMPILER}" && pwd)
linux=${2:?}
win32=${3:?}
win64=${4:?}
cc=${5:?}
sample=$srcdir/examples/sample.qza
version=$(sed -n 's/^project(qzarc VERSION \([0-9.]*\).*/\1/p' "$srcdir/CMakeLists.txt")
major=${version%%.*}

failures=0
passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; passes=$((passes + 1)); }
check() {  # check WHAT COMMAND...: passes when the command succeeds
    local what=$1
    shift
    if "$@" >/dev/null 2>&1; then pass "$what"; else fail "$what"; fi
}

work=$(mktemp -d "${TMPDIR:-/tmp}/qzarc-release.XXXXXX")
trap 'rm -rf "$work"' EXIT

elf_hardening() {  # elf_hardening FILE [pie]
    local f=$1 name
    name=$(basename "$f")
    local dynamic segments symbols
    dynamic=$(readelf -d "$f")
    segments=$(readelf -lW "$f")
    symbols=$(nm -D --undefined-only "$f")
    check "$name: BIND_NOW" grep -qE 'BIND_NOW|Flags:.* NOW' <<<"$dynamic"
    check "$name: RELRO" grep -q GNU_RELRO <<<"$segments"
    check "$name: stack not executable" grep -qE 'GNU_STACK +(0x[0-9a-f]+ +){5}RW ' <<<"$segments"
    check "$name: stack protector" grep -q __stack_chk_fail <<<"$symbols"
    check "$name: fortified calls" grep -qE '__[a-z]+_chk@' <<<"$symbols"
    if [[ ${2:-} == pie ]]; then
        check "$name: position-independent executable" grep -q 'Flags:.*PIE' <<<"$dynamic"
    fi
}

pe_hardening() {  # pe_hardening FILE BITS
    local f=$1 bits=$2 name headers characteristics dll
    name="win$bits $(basename "$f")"
    headers=$(TZ=UTC0 objdump -p "$f")
    characteristics=$((16#$(awk '/^DllCharacteristics/ {print $2}' <<<"$headers")))
    check "$name: ASLR (dynamic base)" test $((characteristics & 0x40)) -ne 0
    check "$name: DEP (NX compatible)" test $((characteristics & 0x100)) -ne 0
    if ((bits == 64)); then
        check "$name: high-entropy ASLR" test $((characteristics & 0x20)) -ne 0
    fi
    local flags
    flags=$((16#$(awk '/^Characteristics/ {print $2; exit}' <<<"$headers" | sed 's/^0x//')))
    check "$name: relocations kept" test $((flags & 0x1)) -eq 0
    check "$name: no link time in the header" grep -qE '^Time/Date[[:space:]]+Thu Jan  1 00:00:00 1970' <<<"$headers"
    check "$name: stack guard linked in" grep -q '__stack_chk_guard' <(objdump -t "$f")
    dll=$(awk '/DLL Name:/ {print toupper($3)}' <<<"$headers" | LC_ALL=C sort -u | xargs)
    if [[ $(basename "$f") == QZARC.dll ]]; then
        check "$name: imports KERNEL32, USER32, msvcrt only ($dll)" \
            grep -qxE 'KERNEL32.DLL MSVCRT.DLL( USER32.DLL)?' <<<"$dll"
    fi
}

# ---- hardening ----
so=$(ls "$linux"/libqzarc.so.1.*.* 2>/dev/null | sort -V | tail -n 1)
if [[ -n $so ]]; then elf_hardening "$so"; else fail "no $linux/libqzarc.so.1.N.M"; fi
if [[ -x $linux/qzarc ]]; then elf_hardening "$linux/qzarc" pie; else fail "no $linux/qzarc"; fi
for pair in "32:$win32" "64:$win64"; do
    bits=${pair%%:*} tree=${pair#*:}
    if [[ -f $tree/QZARC.dll && -f $tree/qzarc.exe ]]; then
        pe_hardening "$tree/QZARC.dll" "$bits"
        pe_hardening "$tree/qzarc.exe" "$bits"
    else
        echo "note: $tree is not built: its binaries are not checked"
    fi
done

# ---- the Debian packages ----
if ! command -v dpkg-deb >/dev/null 2>&1; then
    fail "dpkg-deb is missing"
else
    export OUT=$work/packages
    if bash "$srcdir/scripts/make-packages.sh" deb >"$work/packages.log" 2>&1; then
        pass "Debian packages built, lintian without errors"
    else
        cat "$work/packages.log"
        fail "scripts/make-packages.sh deb"
    fi
    mkdir -p "$work/root"
    for deb in "$OUT"/libqzarc"$major"_*.deb "$OUT"/libqzarc-dev_*.deb "$OUT"/qzarc_*.deb; do
        [[ -f $deb ]] && dpkg-deb -x "$deb" "$work/root" || fail "unpacking $deb"
    done
    multiarch=$(ls -d "$work"/root/usr/lib/*-linux-gnu 2>/dev/null | head -n 1)
    expect_depends=$(dpkg-deb -f "$OUT"/qzarc_*.deb Depends 2>/dev/null)
    check "qzarc depends on libqzarc$major of its version ($expect_depends)" \
        grep -q "libqzarc$major (= $version-" <<<"$expect_depends"
    listing=$(LD_LIBRARY_PATH=$multiarch "$work/root/usr/bin/qzarc" l "$sample" 2>&1)
    check "the packaged qzarc lists the sample" grep -q 'plan.txt' <<<"$listing"
    export PKG_CONFIG_SYSROOT_DIR=$work/root PKG_CONFIG_LIBDIR=$multiarch/pkgconfig
    flags=$(pkg-config --cflags --libs qzarc 2>&1)
    if "$cc" -Wall -Wextra -Werror -o "$work/walk" "$work/root/usr/share/doc/libqzarc-dev/examples/walk.c" \
        $flags 2>"$work/cc.log"; then
        listing=$(LD_LIBRARY_PATH=$multiarch "$work/walk" "$sample" 2>&1)
        check "walk.c built with pkg-config against the packages lists the sample" grep -q 'plan.txt' <<<"$listing"
    else
        cat "$work/cc.log"
        fail "building walk.c against the packages ($flags)"
    fi
fi

echo
if ((failures > 0)); then
    echo "[  FAILED  ] $failures of $((passes + failures)) checks."
    exit 1
fi
echo "[  PASSED  ] $passes checks."
