#!/usr/bin/env bash
# Installs the peers and tools `make bench` measures against, on Debian,
# when run as root: libdeflate-gunzip (libdeflate-tools), unzip, 7zz (7zip),
# valgrind (for the instruction count) and zlib's headers (the zlib
# reference). Does nothing when everything is present. Not root or not
# Debian: prints what is missing and carries on; the benchmark then leaves
# out the rows it cannot measure.
set -euo pipefail

missing=()
need_command() {  # need_command COMMAND PACKAGE
    command -v "$1" >/dev/null 2>&1 || missing+=("$2")
}
need_file() {  # need_file PATH PACKAGE
    [[ -e $1 ]] || missing+=("$2")
}

need_command libdeflate-gunzip libdeflate-tools
need_command unzip unzip
need_command 7zz 7zip
need_command valgrind valgrind
need_file /usr/include/zlib.h zlib1g-dev

if ((${#missing[@]} == 0)); then
    echo "install-bench-deps: everything is installed"
    exit 0
fi
if [[ $EUID -ne 0 ]] || ! command -v apt-get >/dev/null 2>&1; then
    echo "install-bench-deps: missing: ${missing[*]}"
    echo "install-bench-deps: not root on Debian, so not installing; as root run:"
    echo "    apt-get update && apt-get install ${missing[*]}"
    exit 0
fi
echo "install-bench-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
echo "install-bench-deps: done"
