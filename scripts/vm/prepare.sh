#!/usr/bin/env bash
# Gets the Windows test route of this machine ready before the tests run:
#   prepare.sh [BUILD_DIR]
# Says which route cmake/win32-route.sh chose; on the emulated route it makes
# sure the guest image exists (build-image.sh: once, a quarter of an hour
# from nothing, then cached), so that no ctest entry has to build it.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
route=$(bash "$here/../../cmake/win32-route.sh" "${1:-}")
case $route in
    native)
        echo "Windows tests: wine on this machine (it runs 32-bit programs)" ;;
    emulated)
        echo "Windows tests: wine in an emulated Debian guest (scripts/vm)"
        start=$SECONDS
        image=$(bash "$here/build-image.sh")
        echo "Windows tests: guest image $image ($((SECONDS - start)) s)" ;;
    *)
        echo "Windows tests: will be skipped: ${route#none: }" ;;
esac
