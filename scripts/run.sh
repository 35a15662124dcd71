#!/usr/bin/env bash
# Builds Vidloom and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
exec "${VIDLOOM_BUILD_DIR:-$root/build}/bin/vidloom" "$@"
