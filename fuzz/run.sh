#!/usr/bin/env bash
# Runs the fuzz targets of a fuzz build tree (see fuzz/CMakeLists.txt):
#   fuzz/run.sh BUILD_DIR SECONDS [TARGET...]      (default targets: archive inflater handle parallel)
# First every input kept in fuzz/regressions/<target> is replayed; then each
# target fuzzes for SECONDS with its corpus (BUILD_DIR/corpus/<target>, kept
# between runs) and the seeds (BUILD_DIR/seeds/<target>). A crash, leak or
# timeout is saved under BUILD_DIR/artifacts/<target>/ and fails the run.
# Each target's closing figures (executions per second, coverage) are
# printed at the end.
set -uo pipefail

build=${1:?usage: fuzz/run.sh BUILD_DIR SECONDS [TARGET...]}
seconds=${2:?usage: fuzz/run.sh BUILD_DIR SECONDS [TARGET...]}
shift 2
targets=("$@")
((${#targets[@]} > 0)) || targets=(archive inflater handle parallel)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

"$build/make_seeds" "$build/seeds" || exit 1
# The archive target's private directory goes here: a target that stops on
# a failure leaves it behind, inside the build tree rather than in /tmp.
export TMPDIR=$build/tmp
mkdir -p "$TMPDIR"

status=0
summary=()
for target in "${targets[@]}"; do
    binary=$build/fuzz_$target
    corpus=$build/corpus/$target
    artifacts=$build/artifacts/$target
    log=$build/logs/$target.log
    mkdir -p "$corpus" "$artifacts" "$build/logs"

    mapfile -t kept < <(find "$here/regressions/$target" -type f ! -name '.*' 2>/dev/null | sort)
    if ((${#kept[@]} > 0)); then
        echo "fuzz: $target: replaying ${#kept[@]} regression inputs"
        if ! "$binary" "${kept[@]}" >"$build/logs/$target-regressions.log" 2>&1; then
            echo "fuzz: $target: a regression input fails again, see $build/logs/$target-regressions.log"
            status=1
            continue
        fi
    fi

    echo "fuzz: $target: ${seconds}s (log: $log)"
    "$binary" -max_total_time="$seconds" -max_len=65536 -timeout=25 -rss_limit_mb=2560 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$build/seeds/$target" \
        >"$log" 2>&1
    rc=$?
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1)
    rate=$(grep -E '^stat::average_exec_per_sec:' "$log" | awk '{print $2}')
    cov=$(sed -nE 's/.*DONE +cov: ([0-9]+) ft: ([0-9]+).*/cov \1, ft \2/p' <<<"$done_line")
    runs=$(grep -E '^stat::number_of_executed_units:' "$log" | awk '{print $2}')
    if ((rc != 0)); then
        status=1
        summary+=("$target: FAILED (exit $rc), see $log and $artifacts/")
        grep -E 'ERROR|fuzz_[a-z]+:|SUMMARY' "$log" | head -n 5
    else
        summary+=("$target: ${seconds}s, ${runs:-?} runs, ${rate:-?} exec/s, ${cov:-coverage ?}")
    fi
done

echo
echo "Summary of the fuzz runs:"
for line in "${summary[@]}"; do
    echo "  $line"
done
exit $status
