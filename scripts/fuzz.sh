#!/usr/bin/env bash
# Runs the libFuzzer targets (tests/fuzz) for a fixed number of inputs each,
# from the kept corpus, in the sanitizer build of scripts/asan.sh. A crash, a
# leak, a time-out or a sanitizer report fails; the input is left in
# build-asan/fuzz/ and belongs in tests/fuzz/corpus/<target>/ once fixed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VIDLOOM_ASAN_BUILD_DIR:-$root/build-asan}
# Runs per target (about a minute each on two cores, at most 60 s: inputs
# that grow into large pictures slow the image target down); VIDLOOM_FUZZ_SCALE
# multiplies them for a longer session, VIDLOOM_FUZZ_SEED (default 1, so CI
# runs repeat) picks other inputs.
scale=${VIDLOOM_FUZZ_SCALE:-1}
[ -f "$build/CMakeCache.txt" ] || { echo "run scripts/asan.sh first" >&2; exit 1; }
cmake --build "$build" --parallel "$(nproc)" --target fuzz_video_decoder fuzz_image_loader
export ASAN_OPTIONS="detect_leaks=1 ${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"
for target in video_decoder:video:2000 image_loader:image:2500; do
  IFS=: read -r name folder runs <<<"$target"
  runs=$((runs * scale))
  fresh=$(mktemp -d) # what the fuzzer adds stays out of the kept corpus
  echo "-- fuzz_$name: $runs runs"
  "$build/fuzz/fuzz_$name" -runs="$runs" -seed="${VIDLOOM_FUZZ_SEED:-1}" -max_len=65536 -timeout=20 -rss_limit_mb=1536 \
    -max_total_time=$((60 * scale)) \
    -print_final_stats=1 -artifact_prefix="$build/fuzz/$name-" "$fresh" "$root/tests/fuzz/corpus/$folder" 2>&1 |
    grep -v -E '^#[0-9]+\s+(NEW|REDUCE|pulse)' || { rm -rf "$fresh"; exit 1; }
  rm -rf "$fresh"
done
