#!/usr/bin/env bash
# Builds Vidloom, puts in place what registering its camera needs (as the
# Debian package does) and starts it:
# - pkexec, and v4l2loopback built by dkms for the running kernel (which
#   needs that kernel's headers);
# - the root helper and its polkit action, root-owned, at the fixed path
#   that the app runs through pkexec and the action names.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VIDLOOM_BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh"

headers=linux-headers-$(uname -r)
apt-cache show "$headers" >/dev/null 2>&1 || headers=linux-headers-amd64
bash "$root/scripts/install-deps.sh" pkexec v4l2loopback-dkms "$headers"

helper=$(sed -n 's:.*exec.path">\(.*\)</annotate>.*:\1:p' "$build/helper/org.vidloom.camera-helper.policy")
policy=/usr/share/polkit-1/actions/org.vidloom.camera-helper.policy
# An installed vidloom package's helper serves as well and stays dpkg's.
if ! dpkg -S "$helper" >/dev/null 2>&1 &&
    { ! cmp -s "$build/bin/vidloom-camera-helper" "$helper" || ! cmp -s "$build/helper/org.vidloom.camera-helper.policy" "$policy"; }; then
    echo "Installing the camera helper as $helper (root-owned)"
    if [ "$(id -u)" -eq 0 ]; then cmake --install "$build" --component helper
    else sudo cmake --install "$build" --component helper; fi
fi
exec "$build/bin/vidloom" "$@"
