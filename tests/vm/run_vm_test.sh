#!/bin/bash
# End-to-end test of the camera on a real v4l2loopback device. This
# machine's kernel may not load modules, so a QEMU VM boots the Debian
# kernel with a tiny busybox initramfs, mounts the host's root read-only over
# 9p and chroots into it; there the host's own binaries (helper, driver,
# ffmpeg, v4l2-ctl) run against a real /dev/videoN (see in_vm_test.sh).
#
#   run_vm_test.sh [build dir]     (default: build)
# Exits 0 on success or when no VM can be started (with a SKIP message).
#
# The module versions: Debian's (v4l2loopback-dkms, registered by the helper)
# and the newest source snapshot in $VIDLOOM_V4L2LOOPBACK_SOURCES (default
# ../shared/v4l2loopback beside the checkout; all of them with VIDLOOM_VM_ALL_SNAPSHOTS=1),
# built here for the VM kernel as test fixtures, never installed.
# VIDLOOM_VM_INSTALLED=1: use the installed package's program, helper and
# camera library instead of the build's. VIDLOOM_VM_SCENARIOS picks scenarios
# (see in_vm_test.sh), e.g. "browser window" while working on those.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
skip() { echo "SKIP vm test: $*"; exit 0; }

# The VM's own needs; not in scripts/install-deps.sh, so nobody else pays.
packages=(qemu-system-x86 linux-image-amd64 linux-headers-amd64 v4l2loopback-dkms busybox-static v4l-utils
          chromium xvfb xdotool x11-utils)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    [ "$(id -u)" -eq 0 ] || skip "needs root to install ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    { apt-get update -q && apt-get install -y -q --no-install-recommends "${missing[@]}"; } ||
        skip "could not install ${missing[*]}"
fi
lib=$build/bin/libvidloomcam.so
helper=$build/bin/vidloom-camera-helper
app=$build/bin/vidloom
if [ "${VIDLOOM_VM_INSTALLED:-0}" = 1 ]; then
    lib=
    helper=/usr/libexec/vidloom/vidloom-camera-helper
    app=/usr/bin/vidloom
    [ -x "$helper" ] || { echo "FAIL vm test: no installed helper at $helper"; exit 1; }
fi
[ -x "$build/bin/vidloom_vm_driver" ] && [ -x "$app" ] && [ -z "$lib" -o -e "$lib" ] ||
    { echo "FAIL vm test: build vidloom, vidloom_vm_driver and vidloomcam in $build first"; exit 1; }

# A kernel for which dkms built the module.
kver=
for k in /lib/modules/*/updates/dkms/v4l2loopback.ko; do
    [ -e "$k" ] || continue
    v=$(basename "$(dirname "$(dirname "$(dirname "$k")")")")
    [ -e "/boot/vmlinuz-$v" ] && kver=$v
done
[ -n "$kver" ] || skip "no kernel with a v4l2loopback module in /lib/modules"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
results=$build/vm-results
rm -rf "$results" && mkdir -p "$results"

# The changing picture the driver streams: red left, blue right, and a white
# mark running along the top eighth, so readers can tell that frames keep
# changing. Made here: the emulated CPU takes minutes for it.
ffmpeg -nostdin -v error -y -f lavfi -i "color=c=red:s=160x240:r=30:d=4" -f lavfi -i "color=c=blue:s=160x240:r=30:d=4" \
    -f lavfi -i "color=c=white:s=32x30:r=30:d=4" -filter_complex "[0][1]hstack[h];[h][2]overlay=x='mod(t*70,W-w)':y=0" \
    -pix_fmt yuv420p -c:v mpeg4 -q:v 2 "$results/halves.mp4" || echo "note: no video; the driver streams a still picture"

# The driver finds the camera library beside itself first; alone in its
# folder, it loads the package's, as /usr/bin/vidloom does.
drivers=$results/driver-bin
mkdir -p "$drivers"
cp "$build/bin/vidloom_vm_driver" "$drivers/"
[ -z "$lib" ] || ln -s "$(readlink -f "$lib")" "$drivers/libvidloomcam.so"

sources=${VIDLOOM_V4L2LOOPBACK_SOURCES:-$repo/../shared/v4l2loopback}
snapshots=()
tarballs=$( (ls "$sources"/v4l2loopback-*.tar.gz 2>/dev/null || true) | sort)
[ "${VIDLOOM_VM_ALL_SNAPSHOTS:-0}" = 1 ] || tarballs=$(echo "$tarballs" | tail -1)
for tarball in $tarballs; do
    name=$(basename "$tarball" .tar.gz)
    mkdir -p "$results/modules" && tar -xzf "$tarball" -C "$results/modules"
    if make -C "$results/modules/$name" KERNELRELEASE="$kver" v4l2loopback.ko > "$results/modules/$name.log" 2>&1; then
        snapshots+=("$results/modules/$name/v4l2loopback.ko")
    else
        echo "FAIL vm test: could not build $name for $kver"; tail -5 "$results/modules/$name.log"; exit 1
    fi
done
echo "== module versions: Debian's dkms build, ${snapshots[*]:-no snapshots}"

# initramfs: busybox, the modules that reach the host's root, and an init
# that chroots into it and runs the test.
root=$work/initramfs
mkdir -p "$root"/{bin,proc,sys,dev,host,hostro,modules}
cp /bin/busybox "$root/bin/busybox"
: > "$root/modules/order"
for m in virtio_pci 9pnet_virtio 9p; do
    modprobe -S "$kver" --show-depends "$m" | awk '$1 == "insmod" {print $2}'
done | awk '!seen[$0]++' | while read -r ko; do
    cp "$ko" "$root/modules/"
    basename "$ko" >> "$root/modules/order"
done
cat > "$root/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in \$(cat /modules/order); do insmod /modules/\$m; done
echo "vidloom-vm: init up"
opts=trans=virtio,version=9p2000.L,msize=512000
mount -t 9p -o \$opts,ro hostroot /host
mount -o bind /host /hostro
mount -t proc proc /host/proc
mount -t sysfs sys /host/sys
mount -t devtmpfs dev /host/dev
for d in /tmp /run /etc/modprobe.d /etc/modules-load.d; do mount -t tmpfs tmpfs /host\$d; done
# A checkout under /tmp or /run (a CI clone) is hidden by those: put it back.
for p in $repo $build; do
    case \$p in /tmp/*|/run/*) mkdir -p /host\$p && mount -o bind /hostro\$p /host\$p ;; esac
done
mount -t 9p -o \$opts results /host$results
VIDLOOM_VM_APP=$app VIDLOOM_VM_SCENARIOS="${VIDLOOM_VM_SCENARIOS:-all}" VIDLOOM_VM_MODULES=${VIDLOOM_VM_MODULES:-all} \\
    chroot /host /bin/bash $repo/tests/vm/in_vm_test.sh $build $results $helper $drivers ${snapshots[*]} > /host$results/console.txt 2>&1
sync
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initramfs.gz"

echo "== booting Debian kernel $kver in QEMU (software emulation)"
began=$(date +%s)
timeout 1500 qemu-system-x86_64 -accel tcg,thread=multi -cpu max -smp 2 -m 2048 \
    -kernel "/boot/vmlinuz-$kver" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 quiet panic=-1" -nographic -no-reboot -nic none \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs "local,path=$results,mount_tag=results,security_model=none,multidevs=remap" \
    > "$results/qemu.txt" 2>&1 || true
echo "== VM finished in $(($(date +%s) - began)) s"

if ! grep -q "vidloom-vm: init up" "$results/qemu.txt"; then
    tail -20 "$results/qemu.txt"
    skip "QEMU could not boot the VM here"
fi
cat "$results/console.txt" 2>/dev/null || true
# What the readers measured: rate, colours of the two halves, connection.
grep -E '^(ffmpeg read|reader saw|connection changes|disconnected|== )|: (reader|browser) saw|driver reported|listed|standing by|rmmod|took|exited|CPU' \
    "$results/log.txt" 2>/dev/null || true
verdict=$(cat "$results/result.txt" 2>/dev/null || echo "FAIL: no result from the VM")
echo "vm test: $verdict"
[ "$verdict" = PASS ]
