#!/usr/bin/env bash
# Cross-builds the Qt-free code (engine, media backends, registration) and
# its tests for 64-bit Windows with mingw-w64, then runs the tests under
# Wine through ctest. Installs what it needs on Debian 12.
#   scripts/windows-tests.sh [build dir, default build-mingw]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m "${1:-$root/build-mingw}")"

# Wine's Media Foundation decodes through GStreamer: -libav for H.264 and
# MPEG-4, -ugly for the ASF (WMV) container.
packages=(
  cmake ninja-build ffmpeg googletest
  g++-mingw-w64-x86-64-posix wine64
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-libav
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

toolchain="$root/cmake/mingw-w64-x86_64.cmake"

# GoogleTest from Debian's sources, built once per build directory with the
# cross compiler.
gtest_prefix="$build/googletest-install"
if [ ! -f "$gtest_prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$build/googletest" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest_prefix" >/dev/null
  cmake --build "$build/googletest" --parallel 2
  cmake --install "$build/googletest" >/dev/null
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DVIDLOOM_BUILD_APP=OFF -DVIDLOOM_BUILD_BENCH=OFF -DGTest_DIR="$gtest_prefix/lib/cmake/GTest" >/dev/null
cmake --build "$build" --parallel 2

# A private, headless 64-bit prefix. One wine server stays up for the whole
# run, so each test program starts in a fraction of a second.
export WINEPREFIX="$build/wineprefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix"
  "$wine" wineboot --init
  "$wineserver" --wait
fi
"$wineserver" --persistent || true # already up from an earlier run
trap '"$wineserver" --kill' EXIT
# The first program of a server session starts Wine's background services,
# which would inherit (and hold open) the output pipe of whatever test came
# first; start them here, detached from every pipe.
"$wine" cmd /c exit </dev/null >/dev/null 2>&1

ctest --test-dir "$build" --output-on-failure --timeout 300
