#!/bin/sh
# Start-up and idle figures of Lumory against a Qt hello-world built with the
# same Qt: idle_wakeups_per_s, idle_cpu_pct, start_to_window_ms,
# start_to_loaded_ms and peak_rss_mb, each followed by the hello-world's
# figure (<name>_hello), as "name value unit" lines. Medians of interleaved
# runs under Xvfb; Lumory runs in demo mode (--simulate).
#
#   bench/lean.sh <build dir> [runs (7)] [idle seconds (10)] [display (:91)]
#
# The build dir must hold the targets Lumory, lumory_hello and lumory_leanprobe.
set -eu

build=${1:?usage: lean.sh <build dir> [runs] [idle seconds] [display]}
runs=${2:-7}
idle=${3:-10}
display=${4:-:91}

for target in Lumory lumory_hello lumory_leanprobe; do
    if [ ! -x "$build/$target" ]; then
        echo "lean.sh: $build/$target is missing; build the target $target" >&2
        exit 2
    fi
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/lumory-lean.XXXXXX")
xvfb_pid=
cleanup() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
# Wait until the display answers.
tries=0
until DISPLAY=$display xdpyinfo >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
        echo "lean.sh: Xvfb $display did not start" >&2
        cat "$scratch/xvfb.log" >&2
        exit 2
    fi
    sleep 0.1
done

# The probe's scratch directories (one copy of the program per run) go here.
TMPDIR=$scratch DISPLAY=$display \
    "$build/lumory_leanprobe" "$build/Lumory" "$build/lumory_hello" "$runs" "$idle"
