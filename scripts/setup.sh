#!/bin/sh
# setup.sh: installs what a fresh Debian 12 machine lacks to build and test
# the tree. Idempotent and quiet: it prints nothing when everything is there
# and shows apt's log only when an installation fails.
set -eu

need=""
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

packages="
cmake g++ make pkg-config file
libgtest-dev libgmock-dev
g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64
wine wine64
xvfb xauth fonts-wine
libftdi1-dev libusb-1.0-0-dev libbluetooth-dev
umockdev libumockdev-dev
libdbus-1-dev dbus-daemon
clang libclang-rt-14-dev
valgrind strace
libedf-dev edfbrowser biosig-tools
python3-numpy python3-pytest python3-mne
lintian debootstrap debhelper dh-python dpkg-dev python3-setuptools python3-wheel python3-venv python3-pip
nsis doxygen zip llvm lld
"

for p in $packages; do
    have "$p" || need="$need $p"
done
# wine32 runs the 32-bit build's tests here, where the kernel runs 32-bit
# programs; elsewhere they run in the test machine (scripts/vm32), which
# has its own, and the host needs no i386 packages at all.
want_wine32=0
if ! have wine32:i386 && "$(dirname "$0")/can-run-32bit.sh" --kernel; then
    # A failed try is not repeated for a day (see below).
    [ -n "$(find /var/tmp/quorvane-wine32-failed -mtime -1 2>/dev/null)" ] || want_wine32=1
fi
[ -z "$need" ] && [ "$want_wine32" = 0 ] && exit 0

SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"

# A mirror in the middle of a sync serves index files of the wrong size
# ("Mirror sync in progress?"): the update is tried again, and if one index
# still fails the installation goes on with the others; apt then says
# whether what is asked for can be had.
update() {
    for try in 1 2 3; do
        $SUDO apt-get update -qq && return 0
        echo "setup: the package index update failed (try $try of 3)"
        [ "$try" = 3 ] || sleep $((try * 15))
    done
    echo "setup: going on with the indexes that could be fetched"
}

log=$(mktemp /tmp/quorvane-setup.XXXXXX)
if [ -n "$need" ]; then
    echo "setup: installing$need" >&2
    if ! { update && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $need; } >"$log" 2>&1; then
        cat "$log" >&2
        echo "setup: installation failed (log above)" >&2
        exit 1
    fi
fi

# wine32 needs the i386 architecture, whose indexes must match the amd64
# ones' versions. When they cannot be had (a mirror half synced), the i386
# architecture goes again and the 32-bit tests take the test machine's road.
if [ "$want_wine32" = 1 ]; then
    echo "setup: installing wine32:i386" >&2
    added=0
    dpkg --print-foreign-architectures | grep -qx i386 || { $SUDO dpkg --add-architecture i386 && added=1; }
    if { update && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq wine32:i386; } >"$log" 2>&1; then
        rm -f /var/tmp/quorvane-wine32-failed
    else
        tail -n 5 "$log" >&2
        [ "$added" = 0 ] || { $SUDO dpkg --remove-architecture i386 && $SUDO apt-get update -qq; } >/dev/null 2>&1
        touch /var/tmp/quorvane-wine32-failed 2>/dev/null || true
        echo "setup: wine32:i386 could not be installed; the 32-bit tests run in the test machine (scripts/vm32)" >&2
    fi
fi
rm -f "$log"
