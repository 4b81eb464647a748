#!/usr/bin/env bash
# Checks that the library's code points only down its layers:
#
#   export                                  the entry points
#   archive  handle walk / handle read      the handle API's archive and entry
#            record walk, handle state,     one QZUnpack call; a handle's state;
#            parallel read                  decoding one entry on several threads
#            entry extraction               output file, password, stamping;
#                                           the buffers an open archive holds
#            stored copier / compressed     the two extraction paths
#            byte source                    the archive reader
#            volumes                        the volume chain
#            walk state, record, host       what every part of the walk shares
#   inflate, crypto                         the decoder; CRC-32 and the cipher
#   platform                                the Win32 calls
#   common                                  the status and method vocabulary
#
# (writer/, the archive writer of the tests and tools, stands beside export.)
#
#   scripts/check-layers.sh [SRC_DIR]       (default: src/ of this tree)
#
# A module is a header and its source file (archive/volumes.h and .cpp).
# Every `#include "..."` of a file under SRC_DIR must name a file below
# SRC_DIR (written from there: "archive/record.h") or the public qzarc.h, and
# a module may include only modules of its own layer or of layers below it.
# Within a layer the includes must not go round in a circle: the module
# graph as a whole has to sort topologically (tsort). Fails, listing every
# offence, when one of the rules is broken; a file of no known layer is one.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
src=$(cd "${1:-$here/src}" && pwd)

# The rank of a module (path below src/ without its extension); higher
# layers have higher ranks, equal ranks are one layer.
rank() {
    case $1 in
        export/* | writer/*) echo 90 ;;
        archive/handle_walk | archive/handle_read) echo 87 ;;
        archive/record_walk | archive/handle_state | archive/parallel_read) echo 86 ;;
        archive/extract_entry | archive/open_archive) echo 85 ;;
        archive/extract_stored | archive/stored_copier | archive/extract_compressed) echo 84 ;;
        archive/archive_reader) echo 83 ;;
        archive/volumes) echo 82 ;;
        archive/unpack_state | archive/record | archive/host_callback | archive/entry_name) echo 81 ;;
        inflate/* | crypto/*) echo 50 ;;
        platform/*) echo 20 ;;
        common/*) echo 10 ;;
        *) echo "" ;;
    esac
}

failures=0
fail() {
    echo "check-layers: $*" >&2
    failures=$((failures + 1))
}

edges=$(mktemp)
trap 'rm -f "$edges"' EXIT

while IFS= read -r file; do
    relative=${file#"$src"/}
    module=${relative%.*}
    own=$(rank "$module")
    if [[ -z $own ]]; then
        fail "$relative: belongs to no layer (add its module to scripts/check-layers.sh)"
        continue
    fi
    # Each node stands for itself too, so that a module without includes
    # still takes part in the sort.
    echo "$module $module" >>"$edges"
    while IFS= read -r included; do
        [[ $included == qzarc.h ]] && continue
        if [[ ! -f $src/$included ]]; then
            fail "$relative: includes \"$included\", which is not a path below src/"
            continue
        fi
        target=${included%.*}
        [[ $target == "$module" ]] && continue
        theirs=$(rank "$target")
        if [[ -z $theirs ]]; then
            fail "$relative: includes $included, which belongs to no layer"
        elif ((theirs > own)); then
            fail "$relative: includes $included, a layer above its own"
        fi
        echo "$module $target" >>"$edges"
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

# tsort names every circle it breaks: "input contains a loop:", then its
# modules one a line.
if ! circles=$(tsort <"$edges" 2>&1 >/dev/null); then
    fail "the includes go round in a circle (each circle's modules listed):"
    echo "$circles" | sed -e 's/^tsort: //' -e 's/^.*input contains a loop:$/  circle:/' \
                          -e 's/^\([a-z]\)/    \1/' >&2
fi

if ((failures > 0)); then
    echo "check-layers: $failures problem(s)" >&2
    exit 1
fi
echo "check-layers: every include of $(basename "$src")/ points down its layers"
