#!/bin/sh
# wine-prefix.sh: creates the project's Wine prefix once (build/wineprefix or
# $WINEPREFIX), and makes it a Windows 10 (the driver's Bluetooth LE link needs
# Windows 8 or newer; Wine's default is Windows 7). A prefix made before that
# step was added gets it on the next run. Safe to run from several processes
# at once.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
: "${WINEPREFIX:=$root/build/wineprefix}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
prefix_ready() { [ -f "$WINEPREFIX/.quorvane-ready" ] && [ -f "$WINEPREFIX/.quorvane-win10" ]; }
prefix_ready && exit 0
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
prefix_ready && exit 0
loader=/usr/lib/wine/wine64
[ -x "$loader" ] || loader=wine
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=wineserver
if [ ! -f "$WINEPREFIX/.quorvane-ready" ]; then
    "$loader" wineboot.exe -i >/dev/null 2>&1
    "$wineserver" -w >/dev/null 2>&1
    [ -f "$WINEPREFIX/system.reg" ] || exit 1
    touch "$WINEPREFIX/.quorvane-ready"
fi
"$loader" reg.exe add 'HKEY_CURRENT_USER\Software\Wine' /v Version /t REG_SZ /d win10 /f >/dev/null 2>&1 || exit 1
"$wineserver" -w >/dev/null 2>&1
touch "$WINEPREFIX/.quorvane-win10"
