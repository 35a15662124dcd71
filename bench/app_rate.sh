#!/usr/bin/env bash
# The real window streaming a file with the preview shown, paced by the
# camera library: the 4K -> 4K rate (the goal is 30.0 fps) and the app's CPU
# use streaming 1080p -> 720p over 30 s. Each line carries the load average,
# as the figures mean little on a busy machine.
#
#   bench/app_rate.sh [build dir, default build-app-rate/]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-app-rate}
clips=$(mktemp -d)
trap 'rm -rf "$clips"' EXIT

echo "Making clips in $clips ..."
for clip in 3840x2160:4k 1920x1080:1080p; do
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=s=${clip%%:*}:r=30:d=10" \
    -c:v libx264 -preset ultrafast -pix_fmt yuv420p "$clips/${clip#*:}.mp4"
done
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVIDLOOM_BUILD_APP=ON -DVIDLOOM_BUILD_TESTS=OFF -DVIDLOOM_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target vidloom_app_rate vidloomcam >/dev/null

run() { # clip size seconds
  echo "$1 -> $2 for $3 s, load average $(cut -d' ' -f1-3 /proc/loadavg):"
  xvfb-run -a -s "-screen 0 1920x1080x24" "$build/bin/vidloom_app_rate" "$clips/$1" "$2" "$3" | tail -1
}
run 4k.mp4 3840x2160 20
run 1080p.mp4 1280x720 30
