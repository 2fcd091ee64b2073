#!/usr/bin/env bash
# Builds the project with sanitizers in a build directory of its own and runs
# the tests under them.
#
#   scripts/sanitize.sh                 AddressSanitizer (with leak checks) +
#                                       UndefinedBehaviorSanitizer (including
#                                       float-cast-overflow), whole CTest suite
#                                       (build-sanitize/)
#   scripts/sanitize.sh --tsan          ThreadSanitizer, device-link tests (build-tsan/)
#   scripts/sanitize.sh [--tsan] ARGS   ARGS go to ctest (e.g. -R core_tst_usb)
#
# Environment: SANITIZE_BUILD_DIR overrides the build directory, JOBS the
# parallelism (default 2), SANITIZE_TARGETS the targets to build (default: all,
# or the device-link tests with --tsan), e.g.
#   SANITIZE_TARGETS="core_tst_catalogue" scripts/sanitize.sh -R core_tst_catalogue
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
jobs="${JOBS:-2}"

mode=asan
if [[ "${1:-}" == "--tsan" ]]; then
    mode=tsan
    shift
fi

if [[ "$mode" == asan ]]; then
    build="${SANITIZE_BUILD_DIR:-$root/build-sanitize}"
    options=(-DLUMORY_SANITIZE=ON -DLUMORY_TSAN=OFF)
    ctest_args=("$@")
    export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
else
    build="${SANITIZE_BUILD_DIR:-$root/build-tsan}"
    options=(-DLUMORY_SANITIZE=OFF -DLUMORY_TSAN=ON)
    if [[ $# -gt 0 ]]; then
        ctest_args=("$@")
    else
        ctest_args=(-R 'core_tst_(usb|device|macro|wire)')
    fi
    export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=0:second_deadlock_stack=1}"
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DLUMORY_BUILD_BENCH=OFF "${options[@]}"
if [[ -n "${SANITIZE_TARGETS:-}" ]]; then
    read -r -a targets <<< "$SANITIZE_TARGETS"
    cmake --build "$build" -j "$jobs" --target "${targets[@]}"
elif [[ "$mode" == tsan && $# -eq 0 ]]; then
    cmake --build "$build" -j "$jobs" --target core_tst_usb_transport core_tst_device_commands \
        core_tst_device_load core_tst_device_robustness core_tst_macro_transfer core_tst_wire_records
else
    cmake --build "$build" -j "$jobs"
fi

cd "$build"
run_ctest() {
    if command -v xvfb-run >/dev/null 2>&1; then
        # The X11 tests need a display; the others do not mind one.
        xvfb-run -a -s "-screen 0 1600x1000x24" \
            ctest --output-on-failure --timeout 900 -j "$jobs" "$@"
    else
        ctest --output-on-failure --timeout 900 -j "$jobs" "$@"
    fi
}

status=0
if [[ "$mode" == asan ]]; then
    # Leaks count as failures, except those listed in tests/lsan.supp.
    base="abort_on_error=1:strict_init_order=1:detect_stack_use_after_return=1"
    export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp}"
    if [[ ${#ctest_args[@]} -gt 0 ]]; then
        ASAN_OPTIONS="${ASAN_OPTIONS:-$base:detect_leaks=1}" run_ctest "${ctest_args[@]}" || status=$?
    else
        ASAN_OPTIONS="${ASAN_OPTIONS:-$base:detect_leaks=1}" run_ctest -LE x11 || status=$?
        # The X11 tests run the whole program against the X server's client
        # libraries, whose process-lifetime allocations are not ours to chase.
        ASAN_OPTIONS="${ASAN_OPTIONS:-$base:detect_leaks=0}" run_ctest -L x11 || status=$?
    fi
else
    run_ctest "${ctest_args[@]}" || status=$?
fi
exit "$status"
