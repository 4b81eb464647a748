#!/usr/bin/env bash
# Runs a Windows program of build/win32 (a test program, or any other) and
# exits with its exit code:
#   run-wine-tests.sh PROGRAM.exe [ARGS...]
# The route comes from cmake/win32-route.sh: wine on this machine where it
# runs 32-bit programs, else wine in the emulated Debian guest of scripts/vm
# (one boot per call). Exits 77 (which ctest reports as skipped) with the
# reason printed only when neither route can work here, or the program is not
# built.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exe=${1:?usage: run-wine-tests.sh PROGRAM.exe [ARGS...]}
shift

if [[ ! -f $exe ]]; then
    echo "SKIPPED: $exe is not built (the Windows tree needs the MinGW cross compiler)"
    exit 77
fi

route=$(bash "$here/win32-route.sh")
if [[ $route == none:* ]]; then
    echo "SKIPPED: no way to run Windows programs here: ${route#none: }"
    exit 77
fi

export WINEDEBUG=${WINEDEBUG:--all}
# No prompts to fetch the .NET and HTML runtimes when a prefix is created.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

if [[ $route == native ]]; then
    if [[ -z ${WINEPREFIX:-} ]]; then
        # The user's default prefix when it can be used, else a private one in
        # the build tree (its first use takes a few seconds to set up).
        if [[ -n ${HOME:-} && ( -w ${HOME}/.wine || ( ! -e ${HOME}/.wine && -w ${HOME} ) ) ]]; then
            export WINEPREFIX=${HOME}/.wine
        else
            export WINEPREFIX=$(cd "$(dirname "$exe")" && pwd)/wineprefix
        fi
    fi
    # A prefix made here is a 32-bit one, as it is where only 32-bit wine is
    # installed: with 64-bit wine beside it (build/win64's tests need it),
    # wine would otherwise make a 64-bit prefix and run these programs
    # through its 32-bit layer. A prefix that exists keeps what it is.
    if [[ ! -e $WINEPREFIX ]]; then
        export WINEARCH=${WINEARCH:-win32}
    fi
    echo "wine: running $exe (WINEPREFIX=$WINEPREFIX, TZ=${TZ:-unset})" >&2
    # The loader finds QZARC.dll beside the program.
    exec wine "$exe" "$@"
fi

# --- The emulated route ---
# The source tree (with its build trees and test data) is shared with the
# guest at the same absolute path, since the test programs carry those paths.
root=$(cd "$here/.." && pwd)
exe=$(realpath "$exe")
case $exe in
    "$root"/*) ;;
    *) echo "run-wine-tests.sh: $exe is outside $root, which is all the guest sees"; exit 2 ;;
esac
cwd=$PWD
case $cwd/ in
    "$root"/*) ;;
    *) cwd=$(dirname "$exe") ;;
esac

mkdir -p "$root/build/vm-runs"
run=$(mktemp -d "$root/build/vm-runs/run.XXXXXX")
trap '[[ ${QZARC_VM_KEEP:-0} == 1 ]] || rm -rf "$run"' EXIT

# The job: the environment the tests expect (the zone, the test filters, our
# own settings), the prefix baked into the image, the program's standard
# output, standard error and exit code left in the shared folder. What this
# script says itself goes to standard error, so that standard output is the
# program's alone.
{
    echo "export HOME=/root WINEPREFIX=/root/.wine"
    while IFS='=' read -r name _; do
        case $name in
            TZ | LANG | LC_* | WINEDEBUG | WINEDLLOVERRIDES | GTEST_* | QZARC_*)
                printf 'export %s=%q\n' "$name" "${!name}" ;;
        esac
    done < <(env)
    printf 'cd %q || exit 1\n' "$cwd"
    printf 'wine %q' "$exe"
    printf ' %q' "$@"
    printf ' >%q 2>%q\n' "$run/stdout" "$run/stderr"
    printf 'echo $? >%q\n' "$run/status"
} >"$run/job.sh"

echo "wine (emulated guest): running $exe (TZ=${TZ:-unset})" >&2
start=$SECONDS
QZARC_VM_CONSOLE=$run/console.log bash "$root/scripts/vm/boot.sh" "$root" "$run/job.sh"
boot_status=$?
[[ -f $run/stdout ]] && cat "$run/stdout"
[[ -f $run/stderr ]] && cat "$run/stderr" >&2
if [[ ! -f $run/status ]]; then
    echo "run-wine-tests.sh: the guest did not run $exe to the end (boot.sh: $boot_status)" >&2
    exit 1
fi
echo "wine (emulated guest): $exe exited with $(<"$run/status") after $((SECONDS - start)) s (boot included)" >&2
exit "$(<"$run/status")"
