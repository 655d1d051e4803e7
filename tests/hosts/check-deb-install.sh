#!/bin/sh
# check-deb-install.sh DIST HOST_SOURCE WORK: installs the four packages in
# DIST with apt-get into a throwaway layer over the cached Debian 12 root
# (scripts/debroot.sh), which lacks every dependency of theirs, so that the
# computed dependencies must pull them in from the mirror. Then, as the
# root's user who is not root (qvuser):
#   qdacq --simulate runs 3 s with 0 lost and, as the user cannot write the
#   driver log that root's run left in /var/lib/Quorvane, says once where
#   the log would be;
#   pkg-config --libs quorvane works, and a C host built with it runs;
#   python3 imports quorvane, and a simulated recording gives finite numpy
#   data; python3 -m quorvane --list works;
#   kestrel runs; man -w finds qdacq(1);
#   without libquorvane-dev, qdparams finds the library by its soname;
# and apt-get remove leaves no file of the packages behind. Downloaded
# packages are kept in the root's cache folder (archives/) for the next run.
# When the root cannot be made (no root rights, no mirror) the test says
# SKIP with the reason; it never passes then.
set -eu
if [ "${1:-}" = --inside ]; then
    shift
    mode=inside
else
    mode=outside
fi
dist=$1 src=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$(dirname "$here")")
cache=${QD_DEBROOT_CACHE:-/var/cache/quorvane-debroot}
packages="libquorvane5 libquorvane-dev quorvane-tools python3-quorvane"
fail() { echo "FAIL: $*"; exit 1; }

if [ $mode = outside ]; then
    [ "$(id -u)" = 0 ] || { echo "SKIP: the install test needs root (chroot, mounts)"; exit 0; }
    why=$("$top/scripts/debroot.sh" 2>&1) ||
        { echo "SKIP: the Debian 12 root cannot be made: $(printf '%s\n' "$why" | tail -n 1)"; exit 0; }
    ls "$dist"/*.deb >/dev/null 2>&1 || fail "no packages in $dist"
    rm -rf "$work"
    mkdir -p "$work/upper" "$work/overlay" "$work/root" "$cache/archives/partial"
    # A mount namespace of its own: every mount ends with the test.
    exec unshare -m sh "$0" --inside "$dist" "$src" "$work"
fi

r=$work/root
log=$work/install.log
if ! mount -t overlay overlay -o "lowerdir=$cache/root,upperdir=$work/upper,workdir=$work/overlay" "$r" 2>/dev/null; then
    cp -a "$cache/root/." "$r/"        # no overlay file system here: a copy
fi
mount -t proc proc "$r/proc"
mount --bind /dev "$r/dev"
mount --bind "$cache/archives" "$r/var/cache/apt/archives"
cp /etc/resolv.conf "$r/etc/resolv.conf"
mkdir -p "$r/tmp/debs"
cp "$dist"/*.deb "$r/tmp/debs/"
cp "$src" "$r/tmp/host.c"

as_root() { chroot "$r" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }
as_user() { chroot --userspec=qvuser:qvuser "$r" env -i HOME=/home/qvuser PATH=/usr/bin:/bin LANG=C.UTF-8 sh -c "cd; $1"; }
debs=$(for f in "$r"/tmp/debs/*.deb; do echo "/tmp/debs/${f##*/}"; done)
# shellcheck disable=SC2086
install() { as_root apt-get install -y -q --no-install-recommends -o APT::Sandbox::User=root -o Dpkg::Options::=--force-unsafe-io $debs; }

for p in libftdi1-2 libbluetooth3 libdbus-1-3 python3-numpy; do
    as_root dpkg -s "$p" >/dev/null 2>&1 && fail "the Debian root already has $p: it cannot show the dependencies"
done
# The root's package lists may be older than the mirror: update once when
# the install fails. Runs of other trees share the downloaded packages:
# one installs at a time.
exec 8>"$cache/archives.lock"
flock 8
if ! install >"$log" 2>&1; then
    { as_root apt-get update -q && install; } >>"$log" 2>&1 || { tail -n 30 "$log"; fail "apt-get install failed"; }
fi
flock -u 8
echo "apt-get install: $(grep -c '^Setting up' "$log") packages set up"
files=$(as_root dpkg -L $packages | while read -r f; do [ -d "$r$f" ] || echo "$f"; done)

# root's run leaves a driver log in /var/lib/Quorvane that qvuser cannot write.
as_root qdacq --list >/dev/null || fail "qdacq --list as root"
[ -f "$r/var/lib/Quorvane/QuorvaneDrv.log" ] || fail "root's qdacq left no driver log"
out=$(as_user 'qdacq --simulate --set "Channel enable=1" --seconds 3') || { echo "$out"; fail "qdacq exited $?"; }
echo "$out" | tail -n 2
echo "$out" | grep -q "^total: .* 0 lost (0 gaps)" || fail "qdacq lost samples"
[ "$(echo "$out" | grep -c 'driver log')" = 1 ] || fail "qdacq does not say once where the log would be"
echo "$out" | grep -q "^driver log: none (the driver cannot write /var/lib/Quorvane/QuorvaneDrv.log" ||
    fail "qdacq does not say that it runs without a log"

libs=$(as_user 'pkg-config --libs quorvane') || fail "pkg-config --libs quorvane"
echo "pkg-config --libs quorvane: $libs"
as_user 'cc -o host /tmp/host.c $(pkg-config --cflags --libs quorvane) && ./host' || fail "the C host"

as_user 'python3 -c "
import numpy as np, quorvane
with quorvane.open(\"Quorvane Halvex-4 BT\", simulate=True) as dev:
    dev.set(\"Channel enable\", 1)
    rec = dev.record(seconds=1)
assert rec.blocks and all(np.isfinite(b.data).all() and b.data.shape[1] == b.rate for b in rec), rec
assert quorvane._driver.loaded.log_path is None, \"a log the user cannot write\"
print(\"python3: quorvane\", quorvane.__version__, \"from\", quorvane._driver.loaded.driver_path, [b.data.shape for b in rec])
"' || fail "python3: the simulated recording"
as_user 'python3 -m quorvane --list' | grep -q "Quorvane Brev 100" || fail "python3 -m quorvane --list"
out=$(as_user 'python3 -m quorvane --simulate --seconds 3') || { echo "$out"; fail "python3 -m quorvane --simulate"; }
echo "$out" | grep "^total: .*, 0 lost$" || fail "python3 -m quorvane --simulate lost samples"
as_user 'kestrel --help' >/dev/null || fail "kestrel --help"
page=$(as_user 'man -w qdacq') || fail "man -w qdacq"
echo "man -w qdacq: $page"

# The tools find the library by its soname, without the -dev package's link.
as_root apt-get remove -y -q libquorvane-dev >>"$log" 2>&1 || fail "apt-get remove libquorvane-dev failed"
as_user 'qdparams --list' | grep -q "Quorvane Halvex-4 USB" || fail "qdparams finds no driver without libquorvane-dev"
as_root apt-get remove -y -q libquorvane5 quorvane-tools python3-quorvane >>"$log" 2>&1 ||
    { tail -n 20 "$log"; fail "apt-get remove failed"; }
left=$(for f in $files; do if [ -e "$r$f" ] || [ -L "$r$f" ]; then echo "$f"; fi; done)
[ -z "$left" ] || fail "apt-get remove left $(echo $left)"
[ ! -e "$r/usr/lib/python3/dist-packages/quorvane" ] || fail "apt-get remove left the Python package's folder"
echo "installed, used and removed: $(echo "$files" | wc -l) files"
