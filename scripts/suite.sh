#!/usr/bin/env bash
# Installs what is needed, builds, and runs the CTest suite (core, widget and
# X11 tests); scripts/test.sh runs it together with the sanitizer and fuzz gates.
# Widget tests use Qt's offscreen platform; the X11 tests run on a private Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
cd "${BUILD_DIR:-build}"
xvfb-run -a -s "-screen 0 1600x1000x24" \
    ctest --output-on-failure --timeout 600 -j2 "$@"
