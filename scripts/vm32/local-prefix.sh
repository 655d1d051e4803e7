#!/bin/sh
# local-prefix.sh SOURCE TARGET: run inside the 32-bit test machine, makes
# TARGET (on the machine's tmpfs) a Wine prefix of its own from the prefix
# SOURCE on the cache share.
#
# On the share every file operation of Wine (its registry, temporary files,
# the driver's shared folder and logs) is a round trip through 9p under full
# emulation: the tests ran two to three times slower there. So the prefix
# is copied into the machine's memory, all but Wine's system folders
# (system32, syswow64, winsxs: 1.3 GB that are only read), which stay on the
# share behind a read-only mount, so that a write into them fails instead of
# changing the cached prefix.
set -eu
source=$1
target=$2
ro=/mnt/wineprefix-ro
mkdir -p "$ro" "$target/drive_c/windows"
mount --bind "$source" "$ro"
mount -o remount,bind,ro "$ro"
for f in "$source"/* "$source"/.[!.]*; do
    [ -e "$f" ] || [ -L "$f" ] || continue
    case "${f#"$source"/}" in
    drive_c) ;;
    *) cp -a "$f" "$target/" ;;
    esac
done
for f in "$source"/drive_c/* "$source"/drive_c/windows/*; do
    rel=${f#"$source"/}
    case "$rel" in
    drive_c/windows) ;;
    drive_c/windows/system32 | drive_c/windows/syswow64 | drive_c/windows/winsxs) ln -s "$ro/$rel" "$target/$rel" ;;
    *) cp -a "$f" "$target/$rel" ;;
    esac
done
