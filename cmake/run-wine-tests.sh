#!/usr/bin/env bash
# Runs a Windows test program of build/win32 under wine:
#   run-wine-tests.sh PROGRAM.exe [ARGS...]
# Exits 77 (which ctest reports as skipped) with the reason printed when
# wine or the program is not there; otherwise exits with the program's code.
set -uo pipefail

exe=${1:?usage: run-wine-tests.sh PROGRAM.exe [ARGS...]}
shift

if ! command -v wine >/dev/null 2>&1; then
    echo "SKIPPED: wine is not installed (scripts/install-deps.sh installs it)"
    exit 77
fi
if [[ ! -f $exe ]]; then
    echo "SKIPPED: $exe is not built (the Windows tree needs the MinGW cross compiler)"
    exit 77
fi

export WINEDEBUG=-all
# No prompts to fetch the .NET and HTML runtimes when a prefix is created.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [[ -z ${WINEPREFIX:-} ]]; then
    # The user's default prefix when it can be used, else a private one in
    # the build tree (its first use takes a few seconds to set up).
    if [[ -n ${HOME:-} && ( -w ${HOME}/.wine || ( ! -e ${HOME}/.wine && -w ${HOME} ) ) ]]; then
        export WINEPREFIX=${HOME}/.wine
    else
        export WINEPREFIX=$(cd "$(dirname "$exe")" && pwd)/wineprefix
    fi
fi

echo "wine: running $exe (WINEPREFIX=$WINEPREFIX, TZ=${TZ:-unset})"
# The loader finds QZARC.dll beside the program.
wine "$exe" "$@"
