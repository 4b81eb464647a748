#!/usr/bin/env bash
# Installs the peers and tools `make bench` measures against, on Debian,
# when run as root: libdeflate-gunzip (libdeflate-tools), unzip, 7zz (7zip),
# zip (the creation peer), valgrind (for the instruction count), strace (the
# many-file section's system call counts), zlib's headers (the zlib
# reference), and libdeflate's and ISA-L's headers and libraries
# (libdeflate-dev, libisal-dev, and isal, ISA-L's own igzip) for the
# one-large-entry section's raw-stream peers. Does nothing when everything is present. Not root or not
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
need_file /usr/include/libdeflate.h libdeflate-dev
need_file /usr/include/isa-l/igzip_lib.h libisal-dev
need_command igzip isal

install_missing install-bench-deps
