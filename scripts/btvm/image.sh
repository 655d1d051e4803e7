#!/bin/sh
# image.sh: prepares the virtual machine that runs the Bluetooth tests on the
# real Linux stack: a minimal Debian 12 with its stock kernel (Bluetooth,
# RFCOMM and the virtual controller driver hci_vhci as modules), BlueZ's
# bluetoothd, its controller emulator btvirt (bluez-test-tools), the system
# bus and Python's D-Bus bindings, under QEMU. The project reaches the guest
# as a 9p share at its own path, so the build folders stay what they are.
#
# The image is kept in $QD_BTVM_CACHE (default /var/cache/quorvane-btvm) and
# made again only when its recipe changes. Needs root (debootstrap, chroot)
# and Debian's package mirror. Exit 0 when the image is ready.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cache=${QD_BTVM_CACHE:-/var/cache/quorvane-btvm}
mirror=${QD_BTVM_MIRROR:-http://deb.debian.org/debian}
packages=linux-image-amd64,kmod,iproute2,initramfs-tools,bluez,bluez-test-tools,dbus,python3,python3-dbus,python3-gi,procps,libdbus-1-3,libbluetooth3,libftdi1-2,libusb-1.0-0
# (The driver loads the D2XX library of the build, which needs libftdi1
# and libusb.) The recipe: the steps below (their version number) and the guest's init.
recipe="1 bookworm minbase $packages 9p-root init:$(cksum <"$here/guest-init")"

[ "$(id -u)" = 0 ] || { echo "btvm: the test machine needs root to be made" >&2; exit 1; }
if [ -f "$cache/ready" ] && [ "$(cat "$cache/ready")" = "$recipe" ]; then
    exit 0
fi

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
need=""
for p in qemu-system-x86 debootstrap; do have "$p" || need="$need $p"; done
if [ -n "$need" ]; then
    echo "btvm: installing$need"
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=600 $need; } >/tmp/quorvane-btvm-apt.log 2>&1 ||
        { cat /tmp/quorvane-btvm-apt.log >&2; exit 1; }
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
rm -rf "$new"

echo "btvm: making the Bluetooth test machine in $cache (Debian 12, BlueZ; about 8 minutes, once)"
debootstrap --variant=minbase --include="$packages" bookworm "$new" "$mirror" >>"$log" 2>&1 ||
    { tail -n 30 "$log" >&2; echo "btvm: debootstrap failed (log: $log)" >&2; exit 1; }
mount --bind /proc "$new/proc"
mount --bind /sys "$new/sys"
mount --bind /dev "$new/dev"
printf '9p\n9pnet\n9pnet_virtio\nnetfs\n' >>"$new/etc/initramfs-tools/modules"
chroot "$new" sh -c 'set -e; update-initramfs -u -k all; apt-get clean' >>"$log" 2>&1 ||
    { tail -n 30 "$log" >&2; echo "btvm: the initramfs could not be made (log: $log)" >&2; exit 1; }
unmount
cp "$here/guest-init" "$new/qv-init"
chmod 755 "$new/qv-init"
# The old root goes only now: a machine may still run on it meanwhile.
rm -rf "$cache/root.old"
[ -d "$cache/root" ] && mv "$cache/root" "$cache/root.old"
mv "$new" "$cache/root"
rm -rf "$cache/root.old"

echo "$recipe" >"$cache/ready"
echo "btvm: ready"
