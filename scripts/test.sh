#!/usr/bin/env bash
# The whole test run (the README's test command; CI runs it):
#   1. the CTest suite (scripts/suite.sh: install, build, core + widget + X11),
#   2. the core and widget suites under AddressSanitizer + UndefinedBehavior-
#      Sanitizer (scripts/test-sanitize.sh, build-san/),
#   3. every fuzz target for about 30 s (scripts/fuzz.sh, build-fuzz/).
# Both builds come first; then the two suites, which mostly wait on timers
# and the simulated keyboards, run side by side (CI_SERIAL=1 runs them one
# after the other). Every stage runs even when an earlier one failed; the
# run fails when any did.
# LUMORY_QUICK=1 runs the CTest suite alone (arguments go to ctest).
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ "${LUMORY_QUICK:-0}" == 1 ]]; then
    exec bash scripts/suite.sh "$@"
fi
# The compiler cache hits across checkouts in different folders.
export CCACHE_BASEDIR="$(pwd)"
export CCACHE_NOHASHDIR=1

start=$(date +%s)
status=0
times=()
stage() { # stage NAME COMMAND...
    local name="$1" t0 rc=0
    shift
    t0=$(date +%s)
    "$@" || rc=$?
    times+=("$name $(($(date +%s) - t0)) s")
    if [[ $rc -ne 0 ]]; then
        echo "ci: $name failed (exit $rc)"
        status=1
    fi
}

stage deps bash scripts/install-deps.sh
stage build bash scripts/build.sh
stage sanitizer-build bash scripts/test-sanitize.sh --build

mkdir -p build
if [[ "${CI_SERIAL:-0}" == 1 ]]; then
    stage tests bash scripts/suite.sh
    stage sanitizer-tests bash scripts/test-sanitize.sh --test
else
    both() {
        local rc=0 pid_tests pid_san
        bash scripts/suite.sh > build/ci-tests.log 2>&1 &
        pid_tests=$!
        bash scripts/test-sanitize.sh --test > build/ci-sanitize.log 2>&1 &
        pid_san=$!
        wait "$pid_tests" || rc=1
        echo "==== scripts/suite.sh"
        cat build/ci-tests.log
        wait "$pid_san" || rc=1
        echo "==== scripts/test-sanitize.sh --test"
        cat build/ci-sanitize.log
        return "$rc"
    }
    stage suites both
fi

stage fuzz bash scripts/fuzz.sh "${FUZZ_SECONDS:-30}"

echo "ci: ${times[*]}; $(($(date +%s) - start)) s in all"
# The fuzz summary ("fuzz: N passed, N failed") closes the output.
tail -1 build-fuzz/logs/summary.txt 2>/dev/null || true
exit "$status"
