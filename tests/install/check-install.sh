#!/usr/bin/env bash
# The install tree as a host author and a packager meet it:
#   check-install.sh linux BUILD_DIR SOURCE_DIR VERSION WALK C_COMPILER
#   check-install.sh win32 BUILD_DIR SOURCE_DIR VERSION WALK
# WALK is the Linux build tree's walk program, whose listing of the sample
# the installed builds must reproduce ("" when it is not built).
#
# linux: installs BUILD_DIR into a temporary prefix and checks the tree (file
# list, SONAME, exported symbols, the program's run path), builds
# examples/walk.c from the installed copy twice, with pkg-config and with
# find_package(qzarc), runs both on the sample, runs the installed qzarc from
# a directory without the library (also after moving the whole prefix),
# renders the manual pages with warnings enabled, asks the bash completion,
# and checks that DESTDIR stages the install without changing the prefix
# recorded in it.
# win32: installs the Windows tree, checks its file list, the DLL's version
# resource, and builds and (by the wine entries' route) runs walk.exe against
# it, and runs the installed qzarc.exe.
# Exits 77 (skipped) when the tree to check is not built.
set -uo pipefail

mode=${1:?usage: check-install.sh linux|win32 BUILD_DIR SOURCE_DIR VERSION WALK [C_COMPILER]}
build=${2:?}
[[ -d $build ]] && build=$(cd "$build" && pwd)
srcdir=$(cd "${3:?}" && pwd)
version=${4:?}
reference_walk=${5:-}
major=${version%%.*}
sample=$srcdir/examples/sample.qza

failures=0
passes=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() {
    echo "ok: $*"
    passes=$((passes + 1))
}
# expect_equal WHAT EXPECTED ACTUAL
expect_equal() {
    if [[ $2 == "$3" ]]; then
        pass "$1"
    else
        fail "$1: expected '$2', got '$3'"
    fi
}

# The Windows tree's checks work inside the source tree: on a machine that
# cannot run 32-bit programs its programs run in the emulated guest, which
# sees only that tree.
if [[ $mode == win32 && -d $build ]]; then
    work=$(mktemp -d "$build/install-check.XXXXXX")
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/qzarc-install.XXXXXX")
fi
trap 'rm -rf "$work"' EXIT

# The files below PREFIX, one relative path a line, sorted; symlinks as
# "path -> target"; the CMake package's per-configuration file as
# qzarcTargets-CONFIG.cmake.
list_tree() {
    (cd "$1" && find . -type f -printf '%P\n' && find . -type l -printf '%P -> %l\n') |
        sed 's/qzarcTargets-[a-z]*\.cmake$/qzarcTargets-CONFIG.cmake/' | LC_ALL=C sort
}

# The run path recorded in an ELF file (RUNPATH or RPATH), without brackets.
runpath() {
    readelf -d "$1" | awk '/\((RUNPATH|RPATH)\)/ {print $NF}' | tr -d '[]'
}

install_into() {  # install_into PREFIX [DESTDIR]
    local log=$work/install-$RANDOM.log
    if ! DESTDIR=${2:-} cmake --install "$build" --prefix "$1" >"$log" 2>&1; then
        cat "$log"
        fail "cmake --install $build --prefix $1"
        return 1
    fi
}

# What walk prints for the sample: the build tree's own walk, when built.
walk_expected() {
    if [[ -n $reference_walk && -x $reference_walk ]]; then
        "$reference_walk" "$sample"
    fi
}

check_walk() {  # check_walk WHAT PROGRAM [RUNNER...]
    local what=$1 program=$2
    shift 2
    local out status
    # Standard output only: wine may say things on standard error.
    out=$("$@" "$program" "$sample" 2>"$work/walk.err")
    status=$?
    out=${out//$'\r'/}
    if ((status != 0)); then
        fail "$what: exit status $status: $out $(cat "$work/walk.err")"
        return
    fi
    local expected
    expected=$(walk_expected)
    if [[ -z $expected ]]; then
        # No reference: at least the sample's encrypted entry must be named.
        [[ $out == *plan.txt* ]] && expected=$out
    fi
    expect_equal "$what lists the sample" "$expected" "$out"
}

# check_listing WHAT QZARC: QZARC l lists the sample, started from an empty
# directory with no library search path set.
check_listing() {
    local listing
    mkdir -p "$work/nolib"
    listing=$(cd "$work/nolib" && env -u LD_LIBRARY_PATH "$2" l "$sample" 2>&1)
    if [[ $? -eq 0 && $listing == *plan.txt* ]]; then
        pass "$1"
    else
        fail "$1: $listing"
    fi
}

linux() {
    local cc=${1:?the C compiler}
    local prefix=$work/prefix
    install_into "$prefix" || return

    local expected
    expected=$(LC_ALL=C sort <<EOF
bin/qzarc
include/qzarc.h
lib/cmake/qzarc/qzarcConfig.cmake
lib/cmake/qzarc/qzarcConfigVersion.cmake
lib/cmake/qzarc/qzarcTargets-CONFIG.cmake
lib/cmake/qzarc/qzarcTargets.cmake
lib/libqzarc.so -> libqzarc.so.$major
lib/libqzarc.so.$major -> libqzarc.so.$version
lib/libqzarc.so.$version
lib/pkgconfig/qzarc.pc
share/bash-completion/completions/qzarc
share/doc/qzarc/LICENSE
share/doc/qzarc/README.md
share/doc/qzarc/examples/walk.c
share/man/man1/qzarc.1
share/man/man3/QZCallback.3
share/man/man3/QZEntryInfo.3
share/man/man3/QZUnpack.3
share/man/man3/qzarc.3
share/man/man3/qz_archive.3
share/man/man3/qz_archive_new.3
share/man/man3/qz_archive_free.3
share/man/man3/qz_archive_set_password.3
share/man/man3/qz_archive_set_codepage.3
share/man/man3/qz_archive_set_volume_handler.3
share/man/man3/qz_archive_set_progress_handler.3
share/man/man3/qz_archive_set_threads.3
share/man/man3/qz_archive_open.3
share/man/man3/qz_archive_close.3
share/man/man3/qz_archive_next.3
share/man/man3/qz_archive_entry.3
share/man/man3/qz_archive_read.3
share/man/man3/qz_archive_skip.3
share/man/man3/qz_archive_extract.3
share/man/man3/qz_archive_seek.3
share/man/man3/qz_archive_count.3
share/man/man3/qz_archive_error.3
share/man/man3/qz_strerror.3
share/man/man3/qz_version.3
share/zsh/site-functions/_qzarc
EOF
)
    expect_equal "installed tree" "$expected" "$(list_tree "$prefix")"

    # The library: versioned name, SONAME, exactly the entry points: the
    # legacy three and the handle API's.
    local so=$prefix/lib/libqzarc.so.$version
    expect_equal "SONAME" "libqzarc.so.$major" \
        "$(readelf -d "$so" | sed -n 's/.*(SONAME).*\[\(.*\)\].*/\1/p')"
    expect_equal "exported functions" "QZCallback QZEntryInfo QZUnpack qz_archive_close qz_archive_count qz_archive_entry qz_archive_error qz_archive_extract qz_archive_free qz_archive_new qz_archive_next qz_archive_open qz_archive_read qz_archive_seek qz_archive_set_codepage qz_archive_set_password qz_archive_set_progress_handler qz_archive_set_threads qz_archive_set_volume_handler qz_archive_skip qz_strerror qz_version" \
        "$(nm -D --defined-only "$so" | awk '{print $NF}' | LC_ALL=C sort | xargs)"

    # The program finds the library relative to itself, and nowhere else.
    local qzarc=$prefix/bin/qzarc
    expect_equal "run path of bin/qzarc" "\$ORIGIN/../lib:\$ORIGIN" "$(runpath "$qzarc")"
    expect_equal "qzarc --version" "qzarc $version" "$("$qzarc" --version)"
    local loaded
    loaded=$(env -u LD_LIBRARY_PATH ldd "$qzarc" | awk '$1 == "libqzarc.so.'"$major"'" {print $3}')
    expect_equal "bin/qzarc loads" "$prefix/lib/libqzarc.so.$major" "$(realpath -ms "$loaded")"
    # No empty entry: the loader would search the current directory for it.
    if [[ ":$(runpath "$build/qzarc"):" != *::* ]]; then
        pass "run path of the build tree's qzarc ($(runpath "$build/qzarc"))"
    else
        fail "run path of the build tree's qzarc has an empty entry: '$(runpath "$build/qzarc")'"
    fi

    check_listing "installed qzarc l, run from a directory without the library" "$qzarc"
    mv "$prefix" "$work/moved"
    check_listing "qzarc l after the whole prefix moved" "$work/moved/bin/qzarc"
    mv "$work/moved" "$prefix"

    # A host built with pkg-config; the installed header and library only.
    export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
    expect_equal "pkg-config --modversion" "$version" "$(pkg-config --modversion qzarc)"
    local flags
    flags=$(pkg-config --cflags --libs qzarc)
    if "$cc" -Wall -Wextra -Werror -o "$work/walk-pc" "$prefix/share/doc/qzarc/examples/walk.c" \
        $flags -Wl,-rpath,"$prefix/lib" 2>"$work/cc.log"; then
        check_walk "walk built with pkg-config ($flags)" "$work/walk-pc" env -u LD_LIBRARY_PATH
    else
        cat "$work/cc.log"
        fail "building walk.c with pkg-config flags: $flags"
    fi
    unset PKG_CONFIG_PATH

    # A host built with find_package(qzarc); an incompatible version is
    # refused by the version file.
    mkdir -p "$work/host"
    cp "$prefix/share/doc/qzarc/examples/walk.c" "$work/host/"
    cat >"$work/host/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.25)
project(walkhost C)
find_package(qzarc $((major + 1)) QUIET)
if(qzarc_FOUND)
    message(FATAL_ERROR "find_package(qzarc $((major + 1))) accepted version \${qzarc_VERSION}")
endif()
find_package(qzarc $major.0 REQUIRED)
if(NOT qzarc_VERSION STREQUAL "$version")
    message(FATAL_ERROR "qzarc_VERSION is \${qzarc_VERSION}")
endif()
add_executable(walk walk.c)
target_compile_options(walk PRIVATE -Wall -Wextra -Werror)
target_link_libraries(walk PRIVATE qzarc::qzarc)
EOF
    if cmake -S "$work/host" -B "$work/host/build" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_C_COMPILER="$cc" >"$work/host.log" 2>&1 &&
        cmake --build "$work/host/build" >>"$work/host.log" 2>&1; then
        check_walk "walk built with find_package(qzarc)" "$work/host/build/walk" env -u LD_LIBRARY_PATH
    else
        cat "$work/host.log"
        fail "building walk.c with find_package(qzarc)"
    fi

    # The manual pages render, with every groff warning enabled; QZUnpack.3
    # leads to qzarc.3, qz_archive_read.3 to qz_archive.3.
    local page
    for page in man1/qzarc.1 man3/qzarc.3 man3/QZUnpack.3 man3/qz_archive.3 man3/qz_archive_read.3; do
        local text
        # From the top of the manual tree, where man resolves a page's .so.
        text=$(cd "$prefix/share/man" &&
            LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>"$work/man.err")
        if [[ $? -eq 0 && ! -s $work/man.err && $text == *qzarc* && $text == *NAME* ]]; then
            pass "man -l $page renders without warnings"
        else
            fail "man -l $page: $(cat "$work/man.err")"
        fi
    done

    # The bash completion offers the commands, each command's options and
    # option values, also after "=" (bash splits --codepage=N at the "=").
    local completion
    completion=$(bash -c '
        source "$1"
        ask() { COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=(); _qzarc; echo "${COMPREPLY[*]}"; }
        ask qzarc ""
        ask qzarc a x.qza -m ""
        ask qzarc x x.qza -
        ask qzarc l x.qza --codepage = 12
        ask qzarc a x.qza --u' _ "$prefix/share/bash-completion/completions/qzarc")
    expect_equal "bash completion" "l t x a list test extract add help -h --help --version
store deflate
-o -c --stdout -p -y -n -j -T --threads -x --scan --codepage --help
1250 1251 1252
--utf8" "$completion"
    if command -v zsh >/dev/null 2>&1; then
        if zsh -n "$prefix/share/zsh/site-functions/_qzarc"; then
            pass "zsh completion parses"
        else
            fail "zsh -n _qzarc"
        fi
    else
        echo "note: zsh is not installed; the zsh completion's syntax is not checked"
    fi

    # DESTDIR stages the files; the prefix recorded in them stays the real one.
    local stage=$work/stage final=/opt/qzarc-install-test
    install_into "$final" "$stage" || return
    if [[ -f $stage$final/lib/libqzarc.so.$version && ! -e $final ]]; then
        pass "DESTDIR stages the install below $stage"
    else
        fail "DESTDIR: $stage$final/lib/libqzarc.so.$version missing, or $final written"
    fi
    expect_equal "prefix in the staged qzarc.pc" "prefix=$final" \
        "$(grep '^prefix=' "$stage$final/lib/pkgconfig/qzarc.pc")"

    # The Python package beside the library (make install PYTHON_SITE=DIR)
    # loads the library installed with it, with no QZARC_LIBRARY and no
    # library search path.
    local site=$work/python-site python
    python=$(command -v python3) || { fail "python3 not found"; return; }
    QZARC_PYTHON_SITE=$site install_into "$prefix" || return
    local listed
    listed=$(cd "$work/nolib" && env -u QZARC_LIBRARY -u LD_LIBRARY_PATH PYTHONPATH="$site" "$python" -c '
import sys, qzarc, qzarc._library
with qzarc.QzFile(sys.argv[1]) as z:
    print(qzarc._library.library()._name, *z.namelist())' "$sample" 2>&1)
    if [[ $listed == "$prefix/lib/libqzarc.so.$major "*plan.txt* ]]; then
        pass "the installed Python package loads the installed library"
    else
        fail "the installed Python package: $listed"
    fi
}

win32() {
    if [[ ! -f $build/QZARC.dll ]]; then
        echo "SKIPPED: $build/QZARC.dll is not built (the Windows tree needs the MinGW cross compiler)"
        exit 77
    fi
    local prefix=$work/prefix
    install_into "$prefix" || return

    local expected
    expected=$(LC_ALL=C sort <<EOF
USING-THE-DLL.txt
bin/QZARC.dll
bin/qzarc.exe
include/qzarc.h
lib/QZARC.def
lib/cmake/qzarc/qzarcConfig.cmake
lib/cmake/qzarc/qzarcConfigVersion.cmake
lib/cmake/qzarc/qzarcTargets-CONFIG.cmake
lib/cmake/qzarc/qzarcTargets.cmake
lib/libQZARC.dll.a
lib/pkgconfig/qzarc.pc
share/doc/qzarc/LICENSE
share/doc/qzarc/README.md
share/doc/qzarc/examples/walk.c
EOF
)
    expect_equal "installed Windows tree" "$expected" "$(list_tree "$prefix")"

    # The version resource carries the project version.
    local strings
    strings=$(strings -el "$prefix/bin/QZARC.dll")
    if grep -qx "$version" <<<"$strings" && grep -qx "QZARC.dll" <<<"$strings"; then
        pass "QZARC.dll has a version resource for $version"
    else
        fail "QZARC.dll: no version resource with $version"
    fi

    # A host linked against the installed import library, with the flags the
    # installed pkg-config file gives.
    local cc=i686-w64-mingw32-gcc-posix
    if ! command -v "$cc" >/dev/null 2>&1; then
        echo "note: $cc is not installed; walk.exe is not built"
        return
    fi
    mkdir -p "$work/wrun"
    local flags
    flags=$(PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig pkg-config --define-prefix --cflags --libs qzarc)
    if "$cc" -Wall -Wextra -Werror -o "$work/wrun/walk.exe" "$prefix/share/doc/qzarc/examples/walk.c" \
        $flags -static-libgcc 2>"$work/cc.log"; then
        pass "walk.exe links against the installed import library ($flags)"
    else
        cat "$work/cc.log"
        fail "building walk.exe against the installed tree"
        return
    fi
    # Windows programs run as the wine test entries run them: wine here, or
    # wine in the emulated guest where this machine runs 64-bit code only.
    local route
    route=$(bash "$srcdir/cmake/win32-route.sh")
    if [[ $route == none:* ]]; then
        echo "note: walk.exe is not run: ${route#none: }"
        return
    fi
    local wine=(bash "$srcdir/cmake/run-wine-tests.sh")
    cp "$prefix/bin/QZARC.dll" "$work/wrun/"
    check_walk "walk.exe under wine with the installed QZARC.dll" "$work/wrun/walk.exe" "${wine[@]}"
    local listing
    listing=$("${wine[@]}" "$prefix/bin/qzarc.exe" l "$sample" 2>"$work/wine.err")
    if [[ $? -eq 0 && $listing == *plan.txt* ]]; then
        pass "installed qzarc.exe l under wine"
    else
        fail "installed qzarc.exe l: $listing $(cat "$work/wine.err")"
    fi
}

case $mode in
linux) linux "${6:-cc}" ;;
win32) win32 ;;
*)
    echo "unknown mode $mode"
    exit 2
    ;;
esac

# The closing line in the form the test summary collects from every entry.
if ((failures != 0)); then
    echo "[  FAILED  ] $failures checks, $passes passed."
    exit 1
fi
echo "[  PASSED  ] $passes checks."
