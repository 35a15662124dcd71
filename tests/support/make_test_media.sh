#!/bin/sh
# Makes the media files that the decoder and image-loader contracts read, on
# the build machine, the same for every backend (the Windows tests run where
# no ffmpeg tool is at hand). Usage:
#   make_test_media.sh <ffmpeg> <output folder>
#
# Every picture is the same four rectangles: red top left, lime top right,
# blue bottom left, white bottom right. Videos show them for one second,
# then yellow for one second, at 30 frames per second with a key frame every
# half second.
# Files that shared tests make with ffmpeg at test time on Linux are made
# here with the same arguments for Windows (the last lines).
set -eu
ffmpeg=$1
out=$2
mkdir -p "$out"
run() { "$ffmpeg" -nostdin -hide_banner -v error -y "$@"; }

# quads W H: the four rectangles at W x H (left column and top row get the
# odd pixel), as a filter graph ending in [q].
quads() {
  w=$1 h=$2 lw=$(( ($1 + 1) / 2 )) th=$(( ($2 + 1) / 2 ))
  rw=$(( $1 - lw )) bh=$(( $2 - th ))
  echo "color=c=red:s=${lw}x${th}:r=30:d=1[tl];color=c=lime:s=${rw}x${th}:r=30:d=1[tr];\
color=c=blue:s=${lw}x${bh}:r=30:d=1[bl];color=c=white:s=${rw}x${bh}:r=30:d=1[br];\
[tl][tr]hstack[top];[bl][br]hstack[bottom];[top][bottom]vstack[q]"
}

video_graph="$(quads 320 240);color=c=yellow:s=320x240:r=30:d=1[y];[q][y]concat=n=2:v=1:a=0[v]"
run -filter_complex "$video_graph" -map '[v]' -c:v libx264 -pix_fmt yuv420p -g 15 "$out/quadrants.mp4"
run -filter_complex "$video_graph" -map '[v]' -c:v mpeg4 -q:v 2 -g 15 "$out/quadrants.avi"
run -filter_complex "$video_graph" -map '[v]' -c:v wmv2 -b:v 4M -g 15 "$out/quadrants.wmv"

still="$(quads 33 17);[q]trim=end_frame=1"
run -filter_complex "$still[v]" -map '[v]' -frames:v 1 -pix_fmt bgr24 "$out/quadrants.bmp"
run -filter_complex "$still[v]" -map '[v]' -frames:v 1 -pix_fmt yuvj444p -q:v 1 "$out/quadrants.jpg"
run -filter_complex "$still,split[a][b];[a]palettegen=max_colors=8:reserve_transparent=0[p];[b][p]paletteuse=dither=none[v]" \
  -map '[v]' -frames:v 1 -pix_fmt pal8 "$out/palette.png"
# Alpha: the top left rectangle half transparent, the bottom right fully.
run -filter_complex "$still,format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='if(lt(X,17)*lt(Y,9),128,if(gte(X,17)*gte(Y,9),0,255))'[v]" \
  -map '[v]' -frames:v 1 -pix_fmt rgba "$out/alpha.png"
run -filter_complex "$still,format=gray,geq=lum='if(lt(X,17)*lt(Y,9)+gte(X,17)*gte(Y,9),0,255)'[v]" \
  -map '[v]' -frames:v 1 -pix_fmt monob "$out/mono.bmp"
# Two frames: the rectangles, then yellow; only the first may come out.
run -filter_complex "$(quads 33 17);color=c=yellow:s=33x17:r=30:d=1[y];[q][y]concat=n=2:v=1:a=0,fps=2,split[a][b];\
[a]palettegen=max_colors=8:reserve_transparent=0[p];[b][p]paletteuse=dither=none[v]" \
  -map '[v]' -frames:v 2 "$out/animated.gif"
run -filter_complex "$(quads 1920 1080);[q]trim=end_frame=1[v]" -map '[v]' -frames:v 1 "$out/large.png"
# Wider than the largest camera frame: loaded fitted into it.
run -f lavfi -i color=c=red:s=16000x1000 -frames:v 1 "$out/panorama.png"

# frame_sender_test's clip.
run -f lavfi -i testsrc2=size=96x64:rate=24 -frames:v 24 -c:v libx264 -pix_fmt yuv420p "$out/sender_clip.mp4"
