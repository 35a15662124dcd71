#!/usr/bin/env bash
# Measures the streaming path: makes a 1080p and a 4K H.264 clip with ffmpeg,
# builds frame_bench and runs it. The summary at the end gives FrameFitter's
# time per frame with its ratio to a memcpy of the output frame, and the
# unpaced end-to-end frame rates.
#
#   bench/run.sh [extra Google Benchmark flags, e.g. --benchmark_filter=FitMirror]
#
# VIDLOOM_BENCH_BUILD_DIR chooses the build folder (default build-bench/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VIDLOOM_BENCH_BUILD_DIR:-$root/build-bench}
clips=$(mktemp -d)
trap 'rm -rf "$clips"' EXIT

make_clip() { # size seconds file
  ffmpeg -nostdin -hide_banner -v error -y -f lavfi -i "testsrc2=s=$1:r=30:d=$2" \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 60 "$3"
}
echo "Making clips in $clips ..."
make_clip 1920x1080 5 "$clips/1080p.mp4"
make_clip 3840x2160 3 "$clips/4k.mp4"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVIDLOOM_BUILD_APP=OFF -DVIDLOOM_BUILD_TESTS=OFF -DVIDLOOM_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target frame_bench

"$build/bin/frame_bench" --video-1080p="$clips/1080p.mp4" --video-4k="$clips/4k.mp4" \
  --benchmark_min_time=1 "$@"
