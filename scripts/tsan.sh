#!/usr/bin/env bash
# Builds the engine with ThreadSanitizer and runs the tests labelled "tsan".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VIDLOOM_TSAN_BUILD_DIR:-$root/build-tsan}
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIDLOOM_SANITIZE=thread -DVIDLOOM_BUILD_BENCH=OFF
cmake --build "$build" --parallel "$(nproc)" --target tsan_tests
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp ${TSAN_OPTIONS:-}"
ctest --test-dir "$build" --output-on-failure -L tsan
