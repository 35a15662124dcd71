#!/usr/bin/env bash
# Builds Vidloom with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# (plus the fuzzer's coverage, so scripts/fuzz.sh reuses this build) and runs
# every test that needs no Qt GUI (label "engine"). Any report fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VIDLOOM_ASAN_BUILD_DIR:-$root/build-asan}
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/install-deps.sh" clang # libFuzzer comes with it
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVIDLOOM_SANITIZE="address;undefined;fuzzer" -DVIDLOOM_BUILD_BENCH=OFF
targets=$(ctest --test-dir "$build" -N -L engine | sed -n 's/^ *Test *#[0-9]*: //p')
# shellcheck disable=SC2086 # one target per test program
cmake --build "$build" --parallel "$(nproc)" --target recording_camera incomplete_camera $targets
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1 strict_string_checks=1 detect_stack_use_after_return=1 ${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"
ctest --test-dir "$build" --output-on-failure -L engine --parallel "$(nproc)"
