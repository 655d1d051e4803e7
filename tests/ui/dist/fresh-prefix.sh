#!/bin/sh
# fresh-prefix.sh TEST_PROGRAM INSTALLER
#
# Runs the installer's cases (Installer.*) of TEST_PROGRAM in a fresh copy
# of the project's Wine prefix ($WINEPREFIX, else build/wineprefix), on a
# display of its own, as a window test. The copy shares the big system
# folders with the original through hard links (they are only read), so it
# takes a moment, not 1.3 GB. It also holds a folder the installer cannot
# write to, C:\ReadOnly, where the machine can make one: a folder with the
# immutable attribute (root ignores plain permissions). Skipped (77) without
# the installer: make dist makes it.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
program=$1
installer=$2
[ -f "$installer" ] || { echo "SKIP: no installer $installer (make dist makes it)"; exit 77; }
source=${WINEPREFIX:-$root/build/wineprefix}
WINEPREFIX=$source sh "$root/scripts/wine-prefix.sh" || { echo "cannot make the Wine prefix $source"; exit 1; }
work=$(dirname "$program")/installer-test
prefix=$work/prefix
readonly=$prefix/drive_c/ReadOnly
[ -d "$readonly" ] && chattr -i "$readonly" 2>/dev/null
rm -rf "$work"
mkdir -p "$prefix/drive_c/windows"

for f in "$source"/* "$source"/.[!.]*; do
    case "${f#"$source"/}" in
    drive_c) ;;
    *) cp -a "$f" "$prefix/" ;;
    esac
done
for f in "$source"/drive_c/* "$source"/drive_c/windows/*; do
    rel=${f#"$source"/}
    case "$rel" in
    drive_c/windows) ;;
    drive_c/windows/system32 | drive_c/windows/syswow64 | drive_c/windows/winsxs)
        cp -al "$f" "$prefix/$rel" 2>/dev/null || { rm -rf "$prefix/$rel"; ln -s "$f" "$prefix/$rel"; } ;;
    *) cp -a "$f" "$prefix/$rel" ;;
    esac
done

mkdir -p "$readonly"
if chattr +i "$readonly" 2>/dev/null && ! touch "$readonly/probe" 2>/dev/null; then
    export QD_READONLY_DIR='C:\ReadOnly'
fi

WINEPREFIX=$prefix QD_INSTALLER_TEST=1 QD_WINE_WINDOWS=1 \
    sh "$root/scripts/xvfb-run.sh" sh "$root/scripts/wine-run.sh" "$program" --gtest_filter='Installer.*'
rc=$?
chattr -i "$readonly" 2>/dev/null
[ $rc = 0 ] && rm -rf "$work"
exit $rc
