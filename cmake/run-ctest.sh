#!/usr/bin/env bash
# Runs the ctest entries of a build tree and ends with each run's gtest
# summary, so the Linux and wine test counts appear side by side:
#   run-ctest.sh BUILD_DIR [CTEST_ARGS...]
# Exits with ctest's status.
set -uo pipefail

build=${1:?usage: run-ctest.sh BUILD_DIR [CTEST_ARGS...]}
shift
output=$build/Testing/ctest-output.txt
mkdir -p "$build/Testing"

(cd "$build" && ctest --output-on-failure "$@") 2>&1 | tee "$output"
status=${PIPESTATUS[0]}

log=$build/Testing/Temporary/LastTest.log
echo
echo "Summary of the test runs:"
if [[ -f $log ]]; then
    # LastTest.log holds every entry's full output, each block opened by
    # "N/M Test: NAME".
    awk '
        match($0, /^[0-9]+\/[0-9]+ Test: /) { name = substr($0, RLENGTH + 1); next }
        # gtest programs, the install checks, and Python unittest ("Ran N tests", then OK or FAILED).
        /^\[  PASSED  \]|^\[  FAILED  \] [0-9]+ test|^\[  SKIPPED \] [0-9]+ test|^SKIPPED: |^Ran [0-9]+ tests? in |^OK( \(|$)|^FAILED \(/ {
            printf "  %-16s %s\n", name, $0
        }
    ' "$log"
else
    echo "  (no test log)"
fi
# Repeat ctest's closing line so that it stays the last word.
closing=$(grep -E '^[0-9]+% tests passed' "$output" | tail -n 1 || true)
if [[ -n $closing ]]; then
    echo
    echo "$closing"
fi
exit "$status"
