#!/usr/bin/env bash
# Runs a Windows program of build/win64 (a test program, or any other) under
# 64-bit wine and exits with its exit code:
#   run-wine64-tests.sh PROGRAM.exe [ARGS...]
# 64-bit wine is an x86-64 program, so it runs directly on every machine
# this project builds on, those that cannot run 32-bit programs included:
# there is no emulated route as for build/win32 (run-wine-tests.sh). The
# 64-bit loader is started itself, not through `wine`, which picks the
# 32-bit loader whenever that is installed.
# The prefix is a 64-bit one of its own (QZARC_WINE64_PREFIX, by default
# wineprefix beside the program), never the one the 32-bit programs use.
# Exits 77 (which ctest reports as skipped) with the reason printed when
# 64-bit wine is not installed or the program is not built.
set -uo pipefail

exe=${1:?usage: run-wine64-tests.sh PROGRAM.exe [ARGS...]}
shift

if [[ ! -f $exe ]]; then
    echo "SKIPPED: $exe is not built (the 64-bit Windows tree needs the x86-64 MinGW cross compiler)"
    exit 77
fi

# Debian's wine64 package installs the loader here, outside PATH.
loader=/usr/lib/wine/wine64
[[ -x $loader ]] || loader=$(command -v wine64 || true)
if [[ -z $loader ]]; then
    echo "SKIPPED: 64-bit wine is not installed (scripts/install-deps.sh installs it as root)"
    exit 77
fi

export WINEDEBUG=${WINEDEBUG:--all}
# No prompts to fetch the .NET and HTML runtimes when the prefix is created.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64
export WINEPREFIX=${QZARC_WINE64_PREFIX:-$(cd "$(dirname "$exe")" && pwd)/wineprefix}

echo "wine64: running $exe (WINEPREFIX=$WINEPREFIX, TZ=${TZ:-unset})" >&2
# The loader finds QZARC.dll beside the program.
exec "$loader" "$exe" "$@"
