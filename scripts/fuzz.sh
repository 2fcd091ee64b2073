#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz/ with clang (build-fuzz/) and runs
# each for a while on its seed corpus.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target (default 30); TARGET names as in tests/fuzz/CMakeLists.txt
# (macrofile, device_answers, ...; default: all of them).
#
# Environment: FUZZ_BUILD_DIR overrides the build directory, FUZZ_PARALLEL the
# number of targets run at once (default 2), JOBS the build parallelism
# (default 2), FUZZ_ARGS extra libFuzzer options.
#
# The corpus grows in BUILD/corpus/<target>/ from run to run. A crash leaves
# its input in BUILD/artifacts/<target>/ and the whole output in
# BUILD/logs/<target>.log; replay it with
#   LUMORY_FUZZ_LOG=1 BUILD/fuzz/fuzz_<target> BUILD/artifacts/<target>/crash-...
# (LUMORY_FUZZ_LOG=1 also shows the program's own log lines).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
seconds="${1:-30}"
[[ $# -gt 0 ]] && shift
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
parallel="${FUZZ_PARALLEL:-2}"
jobs="${JOBS:-2}"
read -r -a extra <<< "${FUZZ_ARGS:-}"

if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz.sh: clang++ is needed (scripts/install-deps.sh installs it)" >&2
    exit 1
fi
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"

start=$(date +%s)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DLUMORY_FUZZ=ON \
    -DLUMORY_BUILD_TESTS=OFF -DLUMORY_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target lumory_fuzz
bash tests/fuzz/make-corpus.sh "$build"
echo "fuzz: built in $(($(date +%s) - start)) s"

if [[ $# -gt 0 ]]; then
    targets=("$@")
else
    mapfile -t targets < "$build/fuzz/targets.txt"
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
mkdir -p "$build/logs"
rm -f "$build/logs/summary.txt"

run_target() {
    local target="$1"
    local binary="$build/fuzz/fuzz_$target"
    local artifacts="$build/artifacts/$target"
    if [[ ! -x "$binary" ]]; then
        echo "no fuzz target $target" > "$build/logs/$target.log"
        echo 1 > "$build/logs/$target.rc"
        return
    fi
    mkdir -p "$artifacts" "$build/corpus/$target"
    # The text formats get tokens that seeds and mutations seldom make.
    local dict=()
    case "$target" in
    device_answers | zipreader) ;;
    *) dict=(-dict="$root/tests/fuzz/values.dict") ;;
    esac
    local rc=0
    # A unit slower than 25 s counts as a hang; 2 GB as runaway memory.
    "$binary" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "${dict[@]}" "${extra[@]}" \
        "$build/corpus/$target" > "$build/logs/$target.log" 2>&1 || rc=$?
    echo "$rc" > "$build/logs/$target.rc"
}

running=0
for target in "${targets[@]}"; do
    run_target "$target" &
    running=$((running + 1))
    if [[ $running -ge $parallel ]]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait || true

passed=0
failed=0
for target in "${targets[@]}"; do
    log="$build/logs/$target.log"
    rc="$(cat "$build/logs/$target.rc" 2>/dev/null || echo 1)"
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    added="$(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -1)"
    cov="$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)"
    if [[ "$rc" == 0 ]]; then
        passed=$((passed + 1))
        printf 'fuzz_%-16s ok      %9s runs  %5s edges  %4s new inputs\n' \
            "$target" "${runs:-?}" "${cov:-?}" "${added:-?}"
    else
        failed=$((failed + 1))
        printf 'fuzz_%-16s FAILED  %9s runs  (exit %s, log %s)\n' "$target" "${runs:-?}" "$rc" "$log"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|artifact_prefix|Test unit written)' \
            "$log" | head -8 | sed 's/^/    /'
        grep -E '^ +#[0-9]+ ' "$log" | grep -v -E 'libFuzzer|fuzzer::|libclang_rt|libc\.so|libc_start' |
            head -12 | sed 's/^/    /'
    fi
done
echo "fuzz: $seconds s per target, $(($(date +%s) - start)) s in all"
echo "fuzz: $passed passed, $failed failed" | tee "$build/logs/summary.txt"
[[ $failed -eq 0 ]]
