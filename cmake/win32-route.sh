#!/usr/bin/env bash
# Decides how the Windows test programs run on this machine and prints the
# answer on one line:
#   native     wine runs them here (the machine runs 32-bit x86 programs)
#   emulated   they run in a Debian guest under full-system emulation
#              (scripts/vm), because this machine runs 64-bit code only
#   none: WHY  neither can work here
#
#   win32-route.sh [BUILD_DIR]
#
# QZARC_WIN32_ROUTE=native|emulated forces a route (both can be checked on
# any machine that has what they need); unset or "auto" probes. The probe
# runs a tiny 32-bit program once and keeps its verdict in
# BUILD_DIR/win32-route-probe, so later calls cost nothing.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-$here/../build/linux}

# Exits with 0 when an i386 ELF program runs here, 1 when it does not.
probe_ia32() {
    local cache=$build/win32-route-probe verdict
    if [[ -f $cache ]]; then
        verdict=$(<"$cache")
    else
        mkdir -p "$build"
        local elf
        elf=$(mktemp "${TMPDIR:-/tmp}/qzarc-ia32-probe.XXXXXX") || return 1
        # A 96-byte static i386 ELF: one PT_LOAD segment whose code is
        # "mov eax, 1 (exit); mov ebx, 42; int 0x80". It exits with 42 where
        # the kernel runs 32-bit code; elsewhere execve fails (ENOEXEC).
        printf '%b' \
            '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
            '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
            '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
            '\x00\x00\x00\x00' \
            '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
            '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
            '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$elf"
        chmod +x "$elf"
        "$elf" >/dev/null 2>&1
        if [[ $? -eq 42 ]]; then verdict=ia32; else verdict=no-ia32; fi
        rm -f "$elf"
        echo "$verdict" >"$cache"
    fi
    [[ $verdict == ia32 ]]
}

# Whether the emulated route can work: as root everything it needs can be
# installed and built (scripts/vm/build-image.sh); otherwise qemu and a
# finished guest image must already be there.
emulated_possible() {
    if [[ $EUID -eq 0 ]] && command -v apt-get >/dev/null 2>&1; then
        return 0
    fi
    command -v qemu-system-x86_64 >/dev/null 2>&1 &&
        compgen -G "${QZARC_VM_CACHE:-/var/cache/qzarc-vm}/image-*/ready" >/dev/null
}

route=${QZARC_WIN32_ROUTE:-auto}
case $route in
    native | emulated) ;;
    auto)
        if probe_ia32; then route=native; else route=emulated; fi
        ;;
    *)
        echo "none: QZARC_WIN32_ROUTE=$route is not one of native, emulated, auto"
        exit 0
        ;;
esac

if [[ $route == native ]]; then
    if ! command -v wine >/dev/null 2>&1; then
        echo "none: wine is not installed (scripts/install-deps.sh installs it as root)"
    else
        echo native
    fi
elif emulated_possible; then
    echo emulated
else
    why="this machine runs 64-bit programs only"
    [[ ${QZARC_WIN32_ROUTE:-auto} == emulated ]] && why="QZARC_WIN32_ROUTE=emulated"
    echo "none: $why, and the emulated route needs qemu-system-x86 and a guest" \
         "image, which only root can install and build"
fi
