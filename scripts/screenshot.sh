#!/usr/bin/env bash
# Builds Vidloom and takes a picture of the main window streaming a test
# video, under a virtual X server: scripts/screenshot.sh [output.png]
# With "register" after the output file: after pressing Register, with the
# installed helper through pkexec.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VIDLOOM_BUILD_DIR:-$root/build}
output=$(realpath -m "${1:-$root/vidloom-screenshot.png}")
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target window_screenshot
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1280x900x24" "$build/tests/bin/window_screenshot" "$output" "${@:2}"
echo "saved $output"
