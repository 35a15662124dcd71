#!/bin/bash
# Runs inside the test VM, as root, chrooted into the host's (read-only)
# root: registers the camera, streams through the real FrameSender and
# libvidloomcam.so, reads it with v4l2-ctl and ffmpeg, checks what arrived,
# unregisters. Everything is logged to $results/log.txt; the verdict goes to
# $results/result.txt ("PASS" or "FAIL: ...").
#
# Then the same scenarios run on each module version (Debian's, then the
# snapshots built for the VM kernel): sessions of changing sizes with client
# probes between them, the placeholder before Play and after Stop (the
# library's standby), and a reader holding an
# old size while the next session asks for another, headless Chromium's
# getUserMedia, the real program under Xvfb driven by its keyboard, and the
# module unloaded and loaded again mid-stream.
#
#   in_vm_test.sh <build dir> <results dir> <helper> <driver dir> [snapshot .ko ...]
# VIDLOOM_VM_APP: the program to drive (default <build dir>/bin/vidloom);
# VIDLOOM_VM_SCENARIOS: the scenarios to run, e.g. "browser window" (default all);
# VIDLOOM_VM_MODULES=snapshots: the snapshots only (Debian's module registers).
set -u
build=$1
results=$2
helper=$3
bin=$4
shift 4
snapshots=("$@")
log=$results/log.txt
here=$(cd "$(dirname "$0")" && pwd)
app=${VIDLOOM_VM_APP:-$build/bin/vidloom}
selected=" ${VIDLOOM_VM_SCENARIOS:-all} "
wanted() { [ "$selected" = " all " ] || [[ $selected == *" $1 "* ]]; }
# Small enough that the emulated CPU keeps up with 30 fps.
width=320
height=240
: > "$log"
failures=()

say() { echo "$*" | tee -a "$log"; }
section() { say "== $* (at $SECONDS s)"; }
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
completed=0
finish() {
    # A script that stopped early (a syntax error, a killed shell) must not pass.
    [ "$completed" = 1 ] || failures+=("the VM test stopped before its end")
    if [ ${#failures[@]} -eq 0 ]; then echo PASS > "$results/result.txt"
    else printf 'FAIL: %s\n' "$(IFS=';'; echo "${failures[*]}")" > "$results/result.txt"; fi
    cat "$results/result.txt" | tee -a "$log"
}
trap finish EXIT

session=0
start_driver() { # width height [source|--standby]: streams (or stands by), waits for it to
    session=$((session + 1))
    local out=$results/driver-$module-$session.txt
    "$bin/vidloom_vm_driver" "${3:---image}" "$1" "$2" > "$out" 2>&1 &
    driver=$!
    for _ in $(seq 120); do grep -Eq 'streaming|standing by' "$out" && break; sleep 0.5; done
    # The device may still show the last session's placeholder at this size.
    [ "${3:-}" = --standby ] || sleep 2
}
# SIGTERM: a script's background jobs ignore SIGINT.
stop_driver() { kill -TERM "$driver" 2>/dev/null; wait "$driver"; }
standby_at_start() { # width height: a client before the first Play, then the CPU it costs
    start_driver "$1" "$2" --standby
    placeholder "before the first Play" "$1" "$2" yes
    say "$module: CPU busy while standing by at $1x$2 with no reader: $(cpu_busy 6) %"
    stop_driver
}
grab() { # name width height halves|placeholder [seconds]: one frame, judged
    # v4l2-ctl starts in a fraction of ffmpeg's time under emulation.
    local prefix=$results/$module-$1
    v4l2-ctl -d "$node" --info --get-fmt-video --get-parm > "$prefix.txt" 2>&1
    timeout "${5:-90}" v4l2-ctl -d "$node" --stream-mmap --stream-count=3 --stream-to="$prefix.yuyv" \
        >> "$prefix.txt" 2>&1
    python3 "$here/check_frame.py" "$prefix" "$2" "$3" "$4" | sed "s/^/$module $1: /"
    return "${PIPESTATUS[0]}"
}
grab_soon() { # as grab, a few tries: the picture is about to change
    for _ in 1 2 3 4; do grab "$@" && return 0; sleep 2; done
    return 1
}
listed() { # clients list a device whose own capabilities offer capture
    v4l2-ctl --list-devices 2>/dev/null | grep -q '^Vidloom' &&
        v4l2-ctl -d "$node" --info 2>/dev/null | sed -n '/Device Caps/,$p' | grep -q 'Video Capture'
}
placeholder() { # when width height required: what a client finds while nothing streams
    local shown=listed
    listed || shown="not listed"
    say "$module: $shown $1"
    if [ "$4" = yes ]; then
        check "$module: listed $1" listed
        check "$module: placeholder $1 at $2x$3" grab "${1// /-}" "$2" "$3" placeholder
    elif [ "$shown" = listed ]; then
        grab "${1// /-}" "$2" "$3" placeholder 15 | tee -a "$log" || say "$module: no placeholder $1 (noted)"
    fi
}
browser() { # name width height: headless Chromium's getUserMedia, as a call page; its log in $out
    local out=$results/$module-$1-chromium.txt profile
    profile=$(mktemp -d)
    # Root needs --no-sandbox; the VM has no /dev/shm and no GPU. One process:
    # under emulation its helper processes miss their 15 s start-up limit.
    # The rest spares the emulated CPU what a first start of a browser does.
    HOME=$profile setsid chromium --headless=new --no-sandbox --single-process --no-zygote \
        --disable-gpu --disable-dev-shm-usage --no-first-run --no-default-browser-check \
        --disable-extensions --disable-component-update --disable-background-networking --disable-sync \
        --disable-default-apps --mute-audio --use-fake-ui-for-media-stream --user-data-dir="$profile" \
        --enable-logging=stderr --v=0 "file://$here/camera_page.html?w=$2&h=$3" > "$out" 2>&1 &
    local browser=$! began=$SECONDS
    while [ $((SECONDS - began)) -lt "${VIDLOOM_VM_BROWSER_SECONDS:-360}" ] && ! grep -q 'camera-page:' "$out"; do
        sleep 2
    done
    kill -TERM -- "-$browser" 2>/dev/null; wait "$browser" 2>/dev/null
    rm -rf "$profile"
    say "$module: Chromium ran $((SECONDS - began)) s"
}
window() { # width height: the real program under Xvfb, driven by its keyboard
    local out=$results/$module-window.txt home
    home=$(mktemp -d)
    Xvfb :7 -screen 0 1024x768x24 -nolisten tcp > "$results/$module-xvfb.txt" 2>&1 &
    local xvfb=$!
    export DISPLAY=:7 HOME=$home XDG_CONFIG_HOME=$home XDG_RUNTIME_DIR=$home
    for _ in $(seq 40); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.5; done
    "$app" --resolution "$1x$2" "$video" > "$out" 2>&1 &
    local program=$! id=
    for _ in $(seq 120); do id=$(xdotool search --onlyvisible --name Vidloom 2>/dev/null | head -1); [ -n "$id" ] && break; sleep 0.5; done
    say "$module: window ${id:-not found}"
    # Registered and idle, the window stands by at the chosen size.
    for _ in $(seq 60); do listed && break; sleep 0.5; done
    placeholder "before Play in the program" "$1" "$2" yes
    # No window manager: give the window the focus, then type as a user does.
    xdotool windowfocus --sync "$id" key space >> "$out" 2>&1
    # The placeholder shows until the stream's first frames.
    check "$module: Space plays into the camera at $1x$2" grab_soon window "$1" "$2" halves
    xdotool windowfocus --sync "$id" key alt+t >> "$out" 2>&1
    sleep 2
    placeholder "after Stop in the program" "$1" "$2" yes
    xdotool windowfocus --sync "$id" key ctrl+q >> "$out" 2>&1
    for _ in $(seq 60); do kill -0 "$program" 2>/dev/null || break; sleep 0.5; done
    kill -0 "$program" 2>/dev/null && { say "$module: Ctrl+Q did not quit; SIGTERM"; kill -TERM "$program"; }
    wait "$program"
    say "$module: the program exited with $?"
    kill -TERM "$xvfb"; wait "$xvfb" 2>/dev/null
    unset DISPLAY
    rm -rf "$home"
}
reload() { # the module goes and comes back: a new node, found by its label
    # A producer's open file holds the module, so it unloads once the camera
    # stops; a camera started before the module returns finds the new node.
    start_driver 320 240
    check "$module: streams before the reload" grab before-reload 320 240 halves
    stop_driver
    check "$module: the module unloads once the camera stops" rmmod v4l2loopback
    start_driver 320 240
    load_module
    # The camera looks for its device once a second.
    for _ in $(seq 40); do listed && break; sleep 0.5; done
    check "$module: the stream reaches a reader on the new node $node" grab after-reload 320 240 halves
    stop_driver
}
load_module() {
    if [ -n "$ko" ]; then modprobe videodev && insmod "$ko" "${options[@]}"; else modprobe v4l2loopback "${options[@]}"; fi
    for _ in $(seq 50); do vidloom_node > /dev/null && break; sleep 0.1; done
    node=$(vidloom_node)
}
cpu_busy() { # seconds: the share of the VM's CPU time not idle meanwhile
    local before after
    before=$(head -1 /proc/stat); sleep "$1"; after=$(head -1 /proc/stat)
    python3 -c 'import sys; b, a = ([int(x) for x in l.split()[1:]] for l in sys.argv[1:]); d = [y - x for x, y in zip(b, a)]
print(round(100 * (1 - (d[3] + d[4]) / sum(d)), 1))' "$before" "$after"
}
options=(devices=1 exclusive_caps=1 card_label=Vidloom)

section "register"
if [ -x "$helper" ]; then
    check "helper registers the camera" "$helper" register
else
    say "note: no registration helper built; loading v4l2loopback directly"
    check "modprobe v4l2loopback" modprobe v4l2loopback devices=1 exclusive_caps=1 card_label=Vidloom
fi
for _ in $(seq 50); do vidloom_node > /dev/null && break; sleep 0.1; done
node=$(vidloom_node) || { failures+=("no Vidloom device after registering"); exit 1; }
say "device $node"
ko=
module="v4l2loopback-$(dpkg-query -W -f='${Version}' v4l2loopback-dkms | cut -d- -f1)"
say "$module: CPU busy with no camera stream, for reference: $(cpu_busy 10) %"
standby_at_start 1280 720

section "stream"
# Made on the host (run_vm_test.sh): the emulated CPU takes minutes for it.
video=$results/halves.mp4
source=("$video")
[ -s "$video" ] || source=(--image)
if wanted basic; then
    "$bin/vidloom_vm_driver" "${source[@]}" $width $height > "$results/driver.txt" 2>&1 &
    driver=$!
    # Under emulation the driver takes seconds to start; wait for its first
    # frames, which give the capture device its size (the standby before
    # left its own).
    for _ in $(seq 120); do
        v4l2-ctl -d "$node" --info --get-fmt-video 2>/dev/null | grep -Eq "Width/Height +: $width/$height" && break
        sleep 0.5
    done

    section "devices"
    v4l2-ctl --list-devices > "$results/list-devices.txt" 2>&1
    cat "$results/list-devices.txt" >> "$log"
    check "listed as Vidloom" grep -q '^Vidloom' "$results/list-devices.txt"
    v4l2-ctl -d "$node" --all > "$results/all.txt" 2>&1
    cat "$results/all.txt" >> "$log"
    check "a capture device" grep -q 'Video Capture' "$results/all.txt"
    check "YUYV at ${width}x$height" grep -Eq "Width/Height +: $width/$height" "$results/all.txt"
    check "pixel format YUYV" grep -q "'YUYV'" "$results/all.txt"
    check "30 fps advertised" grep -Eq 'Frames per second: 30\.000' "$results/all.txt"

    section "read with ffmpeg"
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

    section "verdicts"
    check "frames, colours and connection" python3 "$(dirname "$0")/check_vm_results.py" \
        "$results" $width $height "$start" "$stop"
fi

# ---- the matrix -----------------------------------------------------------
scenarios() { # module name; placeholder required after the program quit?
    module=$1
    local need_placeholder=$2
    if wanted sessions; then
        section "$module: sessions with probes between them"
        for size in 320x240 480x272 320x240; do
            local w=${size%x*} h=${size#*x}
            start_driver "$w" "$h"
            check "$module: listed while streaming $size" listed
            check "$module: session $session reaches the reader at $size" grab "session$session" "$w" "$h" halves
            stop_driver
            v4l2-ctl -d "$node" --info >> "$log" 2>&1 # a client probes
            # Once, in the middle, so the next session follows a standby.
            [ "$size" = 480x272 ] || continue
            start_driver "$w" "$h" --standby # the idle window's
            placeholder "after Stop $session" "$w" "$h" yes
            stop_driver
        done
    fi

    if wanted held; then
        section "$module: a reader holds 320x240 while the next session asks for 480x272"
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
    fi

    if wanted browser; then
        section "$module: headless Chromium"
        start_driver 320 240 "$video"
        browser chromium 320 240
        # No report in its time fails too: a page that never gets the camera
        # must not pass.
        check "$module: Chromium sees Vidloom at 320x240, 30 fps, mirrored, moving" \
            python3 "$here/check_frame.py" "$results/$module-chromium-chromium.txt" 320 240 browser
        grep -h 'browser saw' "$log" | tail -1
        stop_driver
    fi
    # The real program on Debian's module; the driver runs the same engine.
    if wanted window && [ -z "$ko" ]; then
        section "$module: the program under Xvfb"
        window 320 240
        placeholder "after the program quit" 320 240 "$need_placeholder"
        say "$module: CPU busy while the camera shows the placeholder to nobody, no Vidloom running: $(cpu_busy 10) %"
    fi
    if wanted reload; then
        section "$module: unloaded and loaded again mid-stream"
        reload
    fi
}

[ "${VIDLOOM_VM_MODULES:-all}" = snapshots ] || scenarios "$module" yes

section "unregister"
if [ -x "$helper" ]; then
    check "helper unregisters the camera" "$helper" unregister
else
    check "modprobe -r v4l2loopback" modprobe -r v4l2loopback
fi
no_vidloom_node() { ! vidloom_node; }
check "device gone" no_vidloom_node

for ko in "${snapshots[@]}"; do
    module=$(basename "$(dirname "$ko")")
    section "load $module"
    load_module
    [ -n "$node" ] || { failures+=("$module: no Vidloom device"); continue; }
    standby_at_start 1280 720
    scenarios "$module" no
    check "rmmod $module" rmmod v4l2loopback
done
completed=1
