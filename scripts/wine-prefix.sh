#!/bin/sh
# wine-prefix.sh: creates the project's Wine prefix once (build/wineprefix or
# $WINEPREFIX). Safe to run from several processes at once.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
: "${WINEPREFIX:=$root/build/wineprefix}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/.quorvane-ready" ] && exit 0
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
[ -f "$WINEPREFIX/.quorvane-ready" ] && exit 0
loader=/usr/lib/wine/wine64
[ -x "$loader" ] || loader=wine
"$loader" wineboot.exe -i >/dev/null 2>&1
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=wineserver
"$wineserver" -w >/dev/null 2>&1
[ -f "$WINEPREFIX/system.reg" ] || exit 1
touch "$WINEPREFIX/.quorvane-ready"
