#!/usr/bin/env bash
# Compiles the Windows-only code that needs Qt (the activation seam, the
# window's and main's Windows paths) with the mingw-w64 compiler against
# Debian's Qt headers, syntax only. Debian has no Qt for MinGW, so nothing
# links; but Qt's headers pick the platform from the compiler's _WIN32, not
# from the Linux qconfig.h, so a typo or a wrong Win32 call in that code
# fails here instead of on a Windows machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cxx=x86_64-w64-mingw32-g++-posix
bash "$root/scripts/install-deps.sh" g++-mingw-w64-x86-64-posix pkg-config qt6-base-dev qt6-svg-dev
qt=$(pkg-config --variable=includedir Qt6Core)

# Sources that include Qt and have a Windows path of their own.
mapfile -t sources < <(git ls-files 'src/*.cpp' | while read -r f; do
  grep -q '^#include <Q' "$f" || continue
  case $f in *_windows.cpp | */windows/*) echo "$f" ;; *) grep -q '_WIN32\|Q_OS_WIN' "$f" && echo "$f" ;; esac
done)
[ ${#sources[@]} -gt 0 ] || { echo "no Windows Qt sources found" >&2; exit 1; }

includes=()
for d in $(git ls-files 'src/*.h' | xargs -n1 dirname | sort -u); do includes+=(-I"$d"); done
for m in "" QtCore QtGui QtWidgets QtNetwork QtSvg; do includes+=(-I"$qt/$m"); done

# -Wno-attributes: GCC for Windows warns that Qt's friend declarations
# repeat without their dllimport attribute; harmless when nothing links.
flags=(-std=c++20 -fsyntax-only -Wall -Wextra -Wno-attributes -Werror -DUNICODE -D_UNICODE "${includes[@]}")
pids=()
for f in "${sources[@]}"; do
  echo "  $f"
  "$cxx" "${flags[@]}" "$f" &
  pids+=($!)
  # Two at a time.
  [ ${#pids[@]} -ge 2 ] && { wait "${pids[0]}"; pids=("${pids[@]:1}"); }
done
for p in "${pids[@]}"; do wait "$p"; done
echo "Windows Qt sources compile: ${#sources[@]} files"
