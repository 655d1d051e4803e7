#!/bin/sh
# image.sh: prepares the virtual machine that runs the 32-bit Windows tests
# on a machine whose kernel cannot execute 32-bit code (no IA32 support):
# a minimal Debian 12 with its stock kernel (which runs 32-bit programs),
# Wine with wine32, CMake's ctest, and Xvfb with Wine's fonts for the window
# tests (scripts/xvfb-run.sh), under QEMU's full-system emulation.
# The project and this cache reach the guest as 9p shares at their own
# paths, so the build folders and test commands stay what they are.
#
# The image is kept in $QD_VM32_CACHE (default /var/cache/quorvane-vm32) and
# made again only when its recipe changes. Needs root (debootstrap, chroot)
# and Debian's package mirror. Exit 0 when the image is ready. The 32-bit
# Wine prefix inside it is made where the win32 tests need it
# (ctest-win32.sh prepare).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$(dirname "$here")")
cache=${QD_VM32_CACHE:-/var/cache/quorvane-vm32}
mirror=${QD_VM32_MIRROR:-http://deb.debian.org/debian}
# Change the recipe text when the steps below change.
recipe="3 bookworm minbase linux-image-amd64 iproute2 wine wine32:i386 wine64 cmake xvfb xauth fonts-wine 9p-root init:$(cksum <"$here/guest-init")"

[ "$(id -u)" = 0 ] || { echo "vm32: the test machine needs root to be made" >&2; exit 1; }
if [ -f "$cache/ready" ] && [ "$(cat "$cache/ready")" = "$recipe" ]; then
    exit 0
fi

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
need=""
for p in qemu-system-x86 debootstrap; do have "$p" || need="$need $p"; done
if [ -n "$need" ]; then
    echo "vm32: installing$need"
    # An index that fails to update (a mirror mid-sync) leaves the others.
    { apt-get update -qq; DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $need; } >/tmp/quorvane-vm32-apt.log 2>&1 ||
        { cat /tmp/quorvane-vm32-apt.log >&2; exit 1; }
fi

mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
if [ -f "$cache/ready" ] && [ "$(cat "$cache/ready")" = "$recipe" ]; then
    exit 0
fi
rm -f "$cache/ready"
new="$cache/root.new"
log="$cache/image.log"
: >"$log"

unmount() {
    for m in proc sys dev; do umount "$new/$m" 2>/dev/null || true; done
}
trap unmount EXIT
unmount
rm -rf "$new" "$cache/root" "$cache/wineprefix" "$cache/wineprefix.new"   # a prefix of the old root goes too

echo "vm32: making the 32-bit test machine in $cache (Debian 12, Wine; about 10 minutes, once)"
debootstrap --variant=minbase --include=linux-image-amd64,kmod,iproute2 bookworm "$new" "$mirror" >>"$log" 2>&1 ||
    { tail -n 30 "$log" >&2; echo "vm32: debootstrap failed (log: $log)" >&2; exit 1; }
cp /etc/resolv.conf "$new/etc/resolv.conf"
mount --bind /proc "$new/proc"
mount --bind /sys "$new/sys"
mount --bind /dev "$new/dev"
printf '9p\n9pnet\n9pnet_virtio\nnetfs\n' >>"$new/etc/initramfs-tools/modules"
chroot "$new" sh -c '
    set -e
    dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends wine wine32:i386 wine64 cmake xvfb xauth fonts-wine
    update-initramfs -u -k all
    apt-get clean
' >>"$log" 2>&1 || { tail -n 30 "$log" >&2; echo "vm32: installing Wine in the image failed (log: $log)" >&2; exit 1; }
unmount
cp "$here/guest-init" "$new/qv-init"
chmod 755 "$new/qv-init"
mv "$new" "$cache/root"

echo "$recipe" >"$cache/ready"
echo "vm32: ready"
