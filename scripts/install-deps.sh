#!/usr/bin/env bash
# Installs the Debian 12 packages Vidloom needs to build, run and test, or
# with arguments just those packages. Safe to run again: only what is
# missing is installed.
set -euo pipefail

packages=("$@")
[ $# -gt 0 ] || packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-image-formats-plugins
  libgl-dev
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  ffmpeg
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
