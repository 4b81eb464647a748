#!/usr/bin/env bash
# Installs the peers and tools `make bench` measures against, on Debian,
# when run as root: libdeflate-gunzip (libdeflate-tools), unzip, 7zz (7zip),
# zip (the creation peer), valgrind (for the instruction count), strace (the
# many-file section's system call counts) and zlib's headers (the zlib
# reference). Does nothing when everything is present. Not root or not
# Debian: prints what is missing and carries on; the benchmark then leaves
# out the rows it cannot measure.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/deps-common.sh"

need_command libdeflate-gunzip libdeflate-tools
need_command unzip unzip
need_command zip zip
need_command 7zz 7zip
need_command valgrind valgrind
need_command strace strace
need_file /usr/include/zlib.h zlib1g-dev

install_missing install-bench-deps
