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

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
headers=linux-headers-$(uname -r)
apt-cache show "$headers" >/dev/null 2>&1 || headers=linux-headers-amd64
missing=()
for p in pkexec v4l2loopback-dkms "$headers"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -q
    "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi

helper=$(sed -n 's:.*exec.path">\(.*\)</annotate>.*:\1:p' "$build/helper/org.vidloom.camera-helper.policy")
policy=/usr/share/polkit-1/actions/org.vidloom.camera-helper.policy
if ! cmp -s "$build/bin/vidloom-camera-helper" "$helper" || ! cmp -s "$build/helper/org.vidloom.camera-helper.policy" "$policy"; then
    echo "Installing the camera helper as $helper (root-owned)"
    "${sudo_cmd[@]}" cmake --install "$build" --component helper
fi
exec "$build/bin/vidloom" "$@"
