#!/bin/sh
# check-install.sh CMAKE CC BUILD VERSION WORK HOST_SOURCE: installs the
# build BUILD into WORK/dest (DESTDIR) below the prefix /opt/quorvane, checks
# the library's version links, builds HOST_SOURCE against the installed
# driver with the flags pkg-config gives for "quorvane" and runs it, and
# runs the installed qdparams and qdacq, which must find the installed
# driver by themselves.
set -eu
cmake=$1 cc=$2 build=$3 version=$4 work=$5 src=$6
prefix=/opt/quorvane
dest=$work/dest
root=$dest$prefix
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work/shared"
DESTDIR=$dest "$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" || fail "install: $(cat "$work/install.log")"
pc=$(find "$root" -name quorvane.pc)
[ -n "$pc" ] || fail "no quorvane.pc below $root"
libdir=$(dirname "$(dirname "$pc")")
major=${version%%.*}
[ "$(readlink "$libdir/libQuorvaneDrv.so")" = "libQuorvaneDrv.so.$major" ] || fail "libQuorvaneDrv.so does not link to .so.$major"
[ "$(readlink "$libdir/libQuorvaneDrv.so.$major")" = "libQuorvaneDrv.so.$version" ] || fail "no .so.$major -> .so.$version"
[ -f "$root/include/QuorvaneDrv.h" ] || fail "no header"
[ -f "$root/lib/udev/rules.d/70-quorvane.rules" ] || fail "no udev rule"
# Access for our transceivers only: every rule that grants it names their product string.
! grep 'MODE=' "$root/lib/udev/rules.d/70-quorvane.rules" | grep -qv 'ATTR{product}=="Quorvane\*"' ||
    fail "the udev rule grants access to FTDI devices that are not ours"

export PKG_CONFIG_PATH="$(dirname "$pc")" PKG_CONFIG_LIBDIR="$(dirname "$pc")" PKG_CONFIG_SYSROOT_DIR="$dest"
[ "$(pkg-config --modversion quorvane)" = "$version" ] || fail "pkg-config gives another version"
flags=$(pkg-config --cflags --libs quorvane)
echo "pkg-config --cflags --libs quorvane: $flags"
# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra -Werror -o "$work/host" "$src" $flags || fail "the host does not build"
readelf -d "$work/host" | grep -q "NEEDED.*\[libQuorvaneDrv.so.$major\]" || fail "the host does not need the soname"

export ALLUSERSPROFILE="$work/shared"
LD_LIBRARY_PATH="$libdir" "$work/host" || fail "the host failed"
"$root/bin/qdparams" --list | grep "Quorvane Halvex-4 USB" || fail "the installed qdparams found no driver"
"$root/bin/qdacq" --list | grep "Quorvane Halvex-4 USB" || fail "the installed qdacq found no driver"
echo "installed and used"
