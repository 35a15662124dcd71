#!/usr/bin/env bash
# Makes the seed corpus: a tiny file of every container and image format the
# loaders accept. Run once by hand; the results are kept in the repository
# beside the regression inputs, so fuzzing starts from the same seeds.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)/corpus
mkdir -p "$out/video" "$out/image"
ff() { ffmpeg -nostdin -v error -y "$@"; }
src="-f lavfi -i testsrc2=size=32x32:rate=25 -frames:v 3"
v() { local name=$1; shift; ff $src "$@" "$out/video/seed-$name"; }
v h264.mp4 -c:v libx264 -g 2 -pix_fmt yuv420p
v mjpeg.mov -c:v mjpeg
v mpeg4.avi -c:v mpeg4
v wmv2.wmv -c:v wmv2
v vp8.mkv -c:v libvpx
v mpeg2.ts -c:v mpeg2video
v mpeg1.mpg -c:v mpeg1video -f mpeg
v flv1.flv -c:v flv1
v raw.h264 -c:v libx264 -g 2 -pix_fmt yuv420p -f h264
v raw.m4v -c:v mpeg4 -f m4v
v vp9.ivf -c:v libvpx-vp9 -f ivf
v theora.ogg -c:v libtheora
v ffv1.nut -c:v ffv1
v raw.y4m -pix_fmt yuv420p
v rv10.rm -c:v rv10
ff -f lavfi -i testsrc2=size=128x96:rate=25 -frames:v 3 -c:v h263 "$out/video/seed-raw.h263"
ff -f lavfi -i testsrc2=size=32x24 -frames:v 3 -c:v libx265 -x265-params log-level=none -f hevc "$out/video/seed-raw.hevc"
# Rotated by its display matrix.
ff -i "$out/video/seed-h264.mp4" -c copy -display_rotation 90 "$out/video/seed-rotated.mp4" 2>/dev/null ||
  ff -i "$out/video/seed-h264.mp4" -c copy -metadata:s:v rotate=90 "$out/video/seed-rotated.mp4"

i() { local name=$1; shift; ff -f lavfi -i testsrc2=size=24x16 -frames:v 1 "$@" "$out/image/seed-$name"; }
i rgb.png
i rgba.png -pix_fmt rgba
i gray.png -pix_fmt gray
i baseline.jpg -pix_fmt yuvj420p
i rgb.bmp
i palette.gif
ls -l "$out/video" "$out/image"
