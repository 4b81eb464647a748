#!/usr/bin/env bash
# Two builds of qzarc side by side on the benchmark's corpora, in one run:
#   bench/compare-builds.sh BUILD_A BUILD_B [REPEATS]
# For each archive of build/bench/archives (made by `make bench`): `qzarc t
# -T 1` of BUILD_A and of BUILD_B, alternating, REPEATS times each (default
# 9), through bench_spawn (user+sys of the child alone); prints the medians
# and B/A as a Markdown table. Used to show what a change of flags costs,
# e.g. the hardening: an unhardened tree (-DQZARC_HARDENING=OFF) as A.
set -euo pipefail
a=${1:?usage: compare-builds.sh BUILD_A BUILD_B [REPEATS]}
b=${2:?}
repeats=${3:-9}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
archives=$root/build/bench/archives
spawn=$a/bench_spawn
[[ -x $spawn ]] || spawn=$b/bench_spawn
[[ -x $spawn ]] || { echo "compare-builds: build bench_spawn first (make bench)"; exit 2; }
report=$(mktemp)
trap 'rm -f "$report"' EXIT

median() { LC_ALL=C sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

echo "| archive | A user+sys s | B user+sys s | B/A |"
echo "| --- | ---: | ---: | ---: |"
for name in text binary mixed small; do
    for method in 0 8 9; do
        archive=$archives/$name-m$method.qza
        [[ -f $archive ]] || continue
        ta=() tb=()
        for ((i = 0; i < repeats; i++)); do
            for side in a b; do
                dir=${!side}
                "$spawn" "$report" - - . "$dir/qzarc" t -T 1 "$archive"
                read -r status cpu _ <"$report"
                ((status == 0)) || { echo "compare-builds: $dir/qzarc t $archive failed ($status)"; exit 1; }
                if [[ $side == a ]]; then ta+=("$cpu"); else tb+=("$cpu"); fi
            done
        done
        ma=$(printf '%s\n' "${ta[@]}" | median)
        mb=$(printf '%s\n' "${tb[@]}" | median)
        echo "| $name-m$method | $ma | $mb | $(awk -v a="$ma" -v b="$mb" 'BEGIN {printf "%.3f", b / a}') |"
    done
done
