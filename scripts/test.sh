#!/usr/bin/env bash
# Builds Vidloom and runs every test with no display, camera or network.
# Arguments go to CMake (CI passes -DVIDLOOM_WERROR=ON).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VIDLOOM_BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh" "$@"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)"
