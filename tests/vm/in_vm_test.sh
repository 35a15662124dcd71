#!/bin/bash
# Runs inside the test VM, as root, chrooted into the host's (read-only)
# root: registers the camera, streams through the real FrameSender and
# libvidloomcam.so, reads it with v4l2-ctl and ffmpeg, checks what arrived,
# unregisters. Everything is logged to $results/log.txt; the verdict goes to
# $results/result.txt ("PASS" or "FAIL: ...").
#
# Then the same scenarios run on each module version (Debian's, then the
# snapshots built for the VM kernel): sessions of changing sizes with client
# probes between them, the placeholder after Stop, and a reader holding an
# old size while the next session asks for another.
#
#   in_vm_test.sh <build dir> <results dir> <helper> <driver dir> [snapshot .ko ...]
set -u
build=$1
results=$2
helper=$3
bin=$4
shift 4
snapshots=("$@")
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
"$bin/vidloom_vm_driver" "${source[@]}" $width $height > "$results/driver.txt" 2>&1 &
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


# ---- the matrix -----------------------------------------------------------
session=0
start_driver() { # width height: streams the halves picture, waits for it to stream
    session=$((session + 1))
    local out=$results/driver-$module-$session.txt
    "$bin/vidloom_vm_driver" --image "$1" "$2" > "$out" 2>&1 &
    driver=$!
    for _ in $(seq 120); do grep -q streaming "$out" && break; sleep 0.5; done
    # The device may still show the last session's placeholder at this size.
    sleep 2
}
# SIGTERM: a script's background jobs ignore SIGINT.
stop_driver() { kill -TERM "$driver" 2>/dev/null; wait "$driver"; }
grab() { # name width height halves|placeholder [seconds]: one frame, judged
    # v4l2-ctl starts in a fraction of ffmpeg's time under emulation.
    local prefix=$results/$module-$1
    v4l2-ctl -d "$node" --info --get-fmt-video --get-parm > "$prefix.txt" 2>&1
    timeout "${5:-90}" v4l2-ctl -d "$node" --stream-mmap --stream-count=3 --stream-to="$prefix.yuyv" \
        >> "$prefix.txt" 2>&1
    python3 "$(dirname "$0")/check_frame.py" "$prefix" "$2" "$3" "$4" | sed "s/^/$module $1: /"
    return "${PIPESTATUS[0]}"
}
listed() { # clients list a device whose own capabilities offer capture
    v4l2-ctl --list-devices 2>/dev/null | grep -q '^Vidloom' &&
        v4l2-ctl -d "$node" --info 2>/dev/null | sed -n '/Device Caps/,$p' | grep -q 'Video Capture'
}
scenarios() { # module name; placeholder required?
    module=$1
    local need_placeholder=$2
    say "== $module: sessions with probes between them"
    local prev=
    for size in 320x240 480x272 320x240; do
        local w=${size%x*} h=${size#*x}
        start_driver "$w" "$h"
        check "$module: listed while streaming $size" listed
        check "$module: session $session reaches the reader at $size" grab "session$session" "$w" "$h" halves
        stop_driver
        v4l2-ctl -d "$node" --info >> "$log" 2>&1 # a client probes
        if listed; then say "$module: listed after Stop"; else say "$module: not listed after Stop"; fi
        if [ "$need_placeholder" = yes ]; then
            check "$module: placeholder after Stop" listed
            check "$module: placeholder after Stop at $size" grab "after$session" "$w" "$h" placeholder
        else
            grab "after$session" "$w" "$h" placeholder 15 >> "$log" || say "$module: no placeholder after Stop (noted)"
        fi
    done

    say "== $module: a reader holds 320x240 while the next session asks for 480x272"
    start_driver 320 240
    v4l2-ctl -d "$node" --stream-mmap --stream-count=100000 > /dev/null 2>&1 &
    local reader=$!
    sleep 4
    stop_driver
    start_driver 480 272
    local held=$results/driver-$module-$session.txt
    for _ in $(seq 40); do grep -q 'problem=3 held=320x240' "$held" && break; sleep 0.5; done
    say "$module: driver reported: $(grep problem= "$held" | tr '\n' ' ')"
    check "$module: status tells the size the reader holds" grep -q 'problem=3 held=320x240' "$held"
    kill "$reader"; wait "$reader" 2>/dev/null
    for _ in $(seq 40); do grep -q 'problem=0' "$held" && break; sleep 0.5; done
    check "$module: the stream reaches a reader once the old one lets go" grab released 480 272 halves
    stop_driver
}

scenarios "v4l2loopback-$(cat /sys/module/v4l2loopback/version 2>/dev/null || echo debian)" yes

say "== unregister"
if [ -x "$helper" ]; then
    check "helper unregisters the camera" "$helper" unregister
else
    check "modprobe -r v4l2loopback" modprobe -r v4l2loopback
fi
no_vidloom_node() { ! vidloom_node; }
check "device gone" no_vidloom_node

for ko in "${snapshots[@]}"; do
    name=$(basename "$(dirname "$ko")")
    say "== load $name"
    modprobe videodev
    check "insmod $name" insmod "$ko" devices=1 exclusive_caps=1 card_label=Vidloom
    for _ in $(seq 50); do vidloom_node > /dev/null && break; sleep 0.1; done
    node=$(vidloom_node) || { failures+=("$name: no Vidloom device"); continue; }
    scenarios "$name" no
    check "rmmod $name" rmmod v4l2loopback
done
