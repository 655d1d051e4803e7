#!/bin/sh
# ctest-win32.sh: runs the tests of the 32-bit build. Where this machine
# executes 32-bit code they run here under Wine like the 64-bit ones. Where
# its kernel cannot (no IA32 support, so no wine32), the checks that need
# only host tools run here and every other test runs inside the 32-bit
# test machine (image.sh, run.sh): the same ctest, the same build folder.
# Tests labelled "after-vm" read what a test in the machine left and run
# here afterwards.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$(dirname "$here")")
cache=${QD_VM32_CACHE:-/var/cache/quorvane-vm32}
cd "$root"

# QD_VM32=always takes the machine's road even here (to see what the tests
# cost where the kernel has no 32-bit support).
if [ "${QD_VM32:-1}" != always ] && "$root/scripts/can-run-32bit.sh"; then
    exec ctest --preset win32
fi
echo "win32: the 32-bit tests run in a virtual machine (scripts/vm32): this machine's kernel cannot execute 32-bit code, or QD_VM32=always asks for it"
usable=1
case "$root$cache" in
*[!A-Za-z0-9_./-]*)
    echo "win32: the project path $root or the cache path $cache holds characters the machine's shares cannot carry"
    usable=0 ;;
esac
if [ "${QD_VM32:-1}" = 0 ] || [ $usable = 0 ] || ! "$here/image.sh"; then
    echo "win32: no virtual machine: the tests that execute 32-bit code are reported as skipped"
    exec ctest --preset win32
fi

rc=0
ctest --preset win32 -L host || rc=1

# The machine's prefix brought up to date once (wine-prefix.sh adds what a
# prefix made by an earlier recipe lacks), then a fresh copy for this run.
if [ ! -f "$cache/wineprefix/.quorvane-win10" ]; then
    job=$(mktemp)
    printf 'export WINEPREFIX="%s"\nsh "%s/scripts/wine-prefix.sh"\n' "$cache/wineprefix" "$root" >"$job"
    "$here/run.sh" "$job" || { rm -f "$job"; echo "win32: cannot update the Wine prefix" >&2; exit 1; }
    rm -f "$job"
fi
# A fresh copy of the machine's Wine prefix for this run.
prefix="$root/build/vm32/wineprefix"
rm -rf "$prefix"
mkdir -p "$root/build/vm32"
cp -a "$cache/wineprefix" "$prefix" || { echo "win32: cannot copy the Wine prefix" >&2; exit 1; }

job=$(mktemp)
cat >"$job" <<JOB
cd "$root" || exit 1
export WINEPREFIX="$prefix"
echo "win32: running in \$(uname -sr), \$(/usr/lib/wine/wine --version), 32-bit Wine"
# The window tests run their brief sets here (tests/ui/ui.cmake).
export QD_UI_BRIEF=1
ctest --preset win32 -LE "host|after-vm"
JOB
"$here/run.sh" "$job" || rc=1
rm -f "$job"
# Checks on the build machine of what the tests in the machine left behind
# (EDFlib on the window's recording).
ctest --preset win32 -L after-vm || rc=1
rm -rf "$prefix"
exit $rc
