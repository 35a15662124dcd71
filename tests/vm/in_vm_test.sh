#!/bin/bash
# Runs inside the test VM, as root, chrooted into the host's (read-only)
# root: registers the camera, streams through the real FrameSender and
# libvidloomcam.so, reads it with v4l2-ctl and ffmpeg, checks what arrived,
# unregisters. Everything is logged to $results/log.txt; the verdict goes to
# $results/result.txt ("PASS" or "FAIL: ...").
#
#   in_vm_test.sh <build dir> <results dir> [installed]
# With "installed", the Debian package's helper and camera library are used.
set -u
build=$1
results=$2
bin=$build/bin
helper=$bin/vidloom-camera-helper
driver=$bin/vidloom_vm_driver
log=$results/log.txt
# Small enough that the emulated CPU keeps up with 30 fps.
width=320
height=240
: > "$log"
failures=()

say() { echo "$*" | tee -a "$log"; }
check() { # description, then a command that must succeed
    local what=$1; shift
    if "$@" >> "$log" 2>&1; then say "ok   $what"; else say "FAIL $what"; failures+=("$what"); fi
}
vidloom_node() { # the /dev node of the device labelled Vidloom, if any
    local d
    for d in /sys/class/video4linux/video*; do
        [ -e "$d/name" ] && [ "$(cat "$d/name")" = Vidloom ] && { echo "/dev/$(basename "$d")"; return 0; }
    done
    return 1
}
finish() {
    if [ ${#failures[@]} -eq 0 ]; then echo PASS > "$results/result.txt"
    else printf 'FAIL: %s\n' "$(IFS=';'; echo "${failures[*]}")" > "$results/result.txt"; fi
    cat "$results/result.txt" | tee -a "$log"
}
trap finish EXIT

say "== register"
if [ "${3:-}" = installed ]; then
    helper=/usr/libexec/vidloom/vidloom-camera-helper
    check "installed helper" test -x "$helper"
    # Alone in a folder, the driver loads the camera library from the
    # package's private folder, as /usr/bin/vidloom does.
    mkdir -p /tmp/installed && cp "$driver" /tmp/installed/ && driver=/tmp/installed/vidloom_vm_driver
fi
if [ -x "$helper" ]; then
    check "helper registers the camera" "$helper" register
else
    say "note: no registration helper built; loading v4l2loopback directly"
    check "modprobe v4l2loopback" modprobe v4l2loopback devices=1 exclusive_caps=1 card_label=Vidloom
fi
for _ in $(seq 50); do vidloom_node > /dev/null && break; sleep 0.1; done
node=$(vidloom_node) || { failures+=("no Vidloom device after registering"); exit 1; }
say "device $node"

say "== stream"
video=$results/halves.mp4
source=(--image)
if ffmpeg -nostdin -v error -y -f lavfi -i "color=c=red:s=$((width / 2))x$height:r=30:d=4" \
        -f lavfi -i "color=c=blue:s=$((width / 2))x$height:r=30:d=4" \
        -filter_complex hstack -pix_fmt yuv420p -c:v mpeg4 -q:v 2 "$video" >> "$log" 2>&1; then
    source=("$video")
fi
"$driver" "${source[@]}" $width $height > "$results/driver.txt" 2>&1 &
driver=$!
# Under emulation the driver takes seconds to start; wait for its first
# frames, which turn the device into a capture device.
for _ in $(seq 120); do
    v4l2-ctl -d "$node" --info 2>/dev/null | grep -q 'Video Capture' && break
    sleep 0.5
done

say "== devices"
v4l2-ctl --list-devices > "$results/list-devices.txt" 2>&1
cat "$results/list-devices.txt" >> "$log"
check "listed as Vidloom" grep -q '^Vidloom' "$results/list-devices.txt"
v4l2-ctl -d "$node" --all > "$results/all.txt" 2>&1
cat "$results/all.txt" >> "$log"
check "a capture device" grep -q 'Video Capture' "$results/all.txt"
check "YUYV at ${width}x$height" grep -Eq "Width/Height +: $width/$height" "$results/all.txt"
check "pixel format YUYV" grep -q "'YUYV'" "$results/all.txt"
check "30 fps advertised" grep -Eq 'Frames per second: 30\.000' "$results/all.txt"

say "== read with v4l2-ctl"
v4l2-ctl -d "$node" --stream-mmap --stream-count=90 > "$results/v4l2-stream.txt" 2>&1
tr '\r' '\n' < "$results/v4l2-stream.txt" | grep fps | tail -3 | tee -a "$log"

say "== read with ffmpeg"
# Bash's own clock, so no process start-up blurs the readers' times.
start=$EPOCHREALTIME
timeout -s INT 120 ffmpeg -nostdin -hide_banner -f v4l2 -i "$node" -frames:v 150 -map 0 -c copy -copyts -f framecrc \
    "$results/frames.crc" > "$results/ffmpeg-read.txt" 2>&1
ffmpeg -nostdin -hide_banner -v error -f v4l2 -i "$node" -frames:v 1 -vf format=rgb24 -f rawvideo -y \
    "$results/frame.rgb" >> "$results/ffmpeg-read.txt" 2>&1
stop=$EPOCHREALTIME
echo "readers from $start to $stop" >> "$log"
grep -E 'Stream #|Input #' "$results/ffmpeg-read.txt" | tee -a "$log"
check "ffmpeg sees yuyv422 ${width}x$height at 30 fps" \
    grep -Eq "yuyv422.*$width"x"$height.*30 fps" "$results/ffmpeg-read.txt"

sleep 2
kill -INT $driver; wait $driver
cat "$results/driver.txt" >> "$log"

say "== verdicts"
check "frames, colours and connection" python3 "$(dirname "$0")/check_vm_results.py" \
    "$results" $width $height "$start" "$stop"

say "== unregister"
if [ -x "$helper" ]; then
    check "helper unregisters the camera" "$helper" unregister
else
    check "modprobe -r v4l2loopback" modprobe -r v4l2loopback
fi
no_vidloom_node() { ! vidloom_node; }
check "device gone" no_vidloom_node
