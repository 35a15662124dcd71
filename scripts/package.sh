#!/usr/bin/env bash
# Builds the Debian package vidloom_<version>_amd64.deb into build/ (or
# $VIDLOOM_BUILD_DIR) and checks it with lintian, desktop-file-validate and
# appstreamcli; any error fails. Their reports go to stderr; the package's
# path is the only line on stdout.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VIDLOOM_BUILD_DIR:-$root/build}
bash "$root/scripts/install-deps.sh" >&2

# The packaging tools; only this script needs them.
bash "$root/scripts/install-deps.sh" dpkg-dev lintian desktop-file-utils appstream >&2

{
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
    cmake --build "$build" --parallel "$(nproc)" --target vidloom vidloomcam vidloom-camera-helper vidloom_changelog
    rm -f "$build"/vidloom_*_amd64.deb
    (cd "$build" && cpack -G DEB)
} >&2
deb=$(ls "$build"/vidloom_*_amd64.deb)
{
    echo "== desktop-file-validate" && desktop-file-validate "$root/packaging/org.vidloom.Vidloom.desktop"
    echo "== appstreamcli validate" && appstreamcli validate --no-net "$root/packaging/org.vidloom.Vidloom.metainfo.xml"
    echo "== lintian" && lintian --fail-on error --tag-display-limit 0 "$deb"
} >&2
echo "$deb"
