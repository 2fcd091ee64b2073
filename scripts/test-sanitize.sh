#!/usr/bin/env bash
# The core and widget test suites under AddressSanitizer (with leak checks) and
# UndefinedBehaviorSanitizer (-DLUMORY_SANITIZE=ON), built in a directory of
# their own (build-san/). CI runs it beside the normal suite; developers can
# run it alone:
#
#   scripts/test-sanitize.sh [ARGS]           build, then run the suites
#   scripts/test-sanitize.sh --build          build only
#   scripts/test-sanitize.sh --test [ARGS]    run only (after a build)
#
# ARGS go to ctest instead of the default "-L core" and "-L gui" (e.g.
# -R core_tst_macrofile). The X11 suite is left out here: it runs the whole
# program against the X server's client libraries (scripts/sanitize.sh
# covers it).
#
# Environment: SANITIZE_BUILD_DIR overrides the build directory, JOBS the
# parallelism of build and tests (default 2). The suites get a temporary
# directory of their own, so the program instances they start never meet
# those of a suite running at the same time (the single-instance socket
# lives there).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
build="${SANITIZE_BUILD_DIR:-$root/build-san}"
jobs="${JOBS:-2}"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"

do_build=1
do_test=1
case "${1:-}" in
--build)
    do_test=0
    shift
    ;;
--test)
    do_build=0
    shift
    ;;
esac

start=$(date +%s)
if [[ $do_build -eq 1 ]]; then
    # The same configuration as scripts/sanitize.sh, so the compiler cache
    # serves both.
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DLUMORY_SANITIZE=ON -DLUMORY_TSAN=OFF -DLUMORY_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" -j "$jobs"
    echo "sanitizer build: $(($(date +%s) - start)) s"
fi
[[ $do_test -eq 1 ]] || exit 0

# Leaks count as failures, except those listed in tests/lsan.supp.
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:strict_init_order=1:detect_stack_use_after_return=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp}"
export TMPDIR="$build/tmp"
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"

if [[ $# -gt 0 ]]; then
    ctest_args=("$@")
else
    ctest_args=(-L '^(core|gui)$')
fi
t0=$(date +%s)
status=0
(cd "$build" && ctest --output-on-failure --timeout 900 -j "$jobs" "${ctest_args[@]}") || status=$?
echo "sanitizer suite: $(($(date +%s) - t0)) s, exit $status"
exit "$status"
