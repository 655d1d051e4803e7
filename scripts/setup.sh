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
wine wine64 wine32:i386
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

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_i386=1
else
    need_i386=0
fi
for p in $packages; do
    have "$p" || need="$need $p"
done
[ -z "$need" ] && [ "$need_i386" = 0 ] && exit 0

SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"

# A mirror in the middle of a sync serves index files of the wrong size for
# a minute or so ("Mirror sync in progress?"): the update is tried again a
# few times before the set-up gives up.
update() {
    for try in 1 2 3 4 5; do
        $SUDO apt-get update -qq && return 0
        echo "setup: the package index update failed (try $try of 5), again in $((try * 15)) s"
        sleep $((try * 15))
    done
    return 1
}

log=$(mktemp /tmp/quorvane-setup.XXXXXX)
echo "setup: installing$need" >&2
if ! {
    { [ "$need_i386" = 0 ] || $SUDO dpkg --add-architecture i386; } &&
    update &&
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $need
} >"$log" 2>&1; then
    cat "$log" >&2
    echo "setup: installation failed (log above)" >&2
    exit 1
fi
rm -f "$log"
