#!/bin/sh
# debroot.sh: prepares the Debian 12 root in which the package install test
# (tests/hosts/check-deb-install.sh) installs the packages of make deb: a
# minimal Debian 12 (debootstrap --variant=minbase) with what the test
# itself uses (a C compiler, pkg-config, man) and a user who is not root,
# qvuser. None of the packages' own dependencies is in it: installing the
# packages has to pull them in from the mirror.
#
# The root is kept in $QD_DEBROOT_CACHE (default /var/cache/quorvane-debroot)
# and made again only when its recipe changes; the test runs in a throwaway
# layer over it. Needs root and Debian's package mirror ($QD_DEBROOT_MIRROR,
# default http://deb.debian.org/debian). Exit 0 when the root is ready, else
# 1 with the reason as the last line on standard error.
set -eu
cache=${QD_DEBROOT_CACHE:-/var/cache/quorvane-debroot}
mirror=${QD_DEBROOT_MIRROR:-http://deb.debian.org/debian}
user=qvuser
tools=gcc,libc6-dev,pkg-config,man-db
# Change the recipe text when the steps below change.
recipe="1 bookworm minbase $tools user:$user mirror:$mirror"

ready() { [ -f "$cache/ready" ] && [ "$(cat "$cache/ready")" = "$recipe" ]; }
ready && exit 0
[ "$(id -u)" = 0 ] || { echo "the Debian root needs root to be made (debootstrap, chroot)" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "debootstrap is not installed (scripts/setup.sh installs it)" >&2; exit 1; }

mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
ready && exit 0
rm -f "$cache/ready"
new=$cache/root.new
log=$cache/debroot.log
: >"$log"
unmount() { umount "$new/proc" 2>/dev/null || true; }
trap unmount EXIT
unmount
rm -rf "$new" "$cache/root"

echo "debroot: making the Debian 12 root in $cache (once, a few minutes)" >&2
if ! debootstrap --variant=minbase --include="$tools" bookworm "$new" "$mirror" >>"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "debootstrap of Debian 12 from $mirror failed (log: $log)" >&2
    exit 1
fi
cp /etc/resolv.conf "$new/etc/resolv.conf"
mount -t proc proc "$new/proc"
if ! chroot "$new" sh -c "set -e; useradd -m -s /bin/sh $user; apt-get update -qq; apt-get clean" >>"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "setting up the Debian root failed (log: $log)" >&2
    exit 1
fi
unmount
mv "$new" "$cache/root"
echo "$recipe" >"$cache/ready"
echo "debroot: ready" >&2
