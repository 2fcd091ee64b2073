#!/usr/bin/env bash
# Installs what is needed, builds, and starts Lumory on a simulated keyboard.
# Set LUMORY_SIMULATE=2 to plug in two simulated keyboards.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
export LUMORY_SIMULATE="${LUMORY_SIMULATE:-1}"
if [ -n "${DISPLAY:-}" ]; then
    exec ./build/Lumory --simulate "$@"
fi
echo "No X display: starting Lumory on a virtual display (Xvfb); stop it with Ctrl+C." >&2
exec xvfb-run -a -s "-screen 0 1600x1000x24" ./build/Lumory --simulate "$@"
