#!/bin/sh
# check-deb.sh BUILD DIST: makes the Debian packages of the native build
# BUILD into DIST as make deb does (scripts/deb.sh) and checks them with
# lintian: an error fails, warnings are shown.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$(dirname "$here")")
build=$1 dist=$2
rm -rf "$dist"
sh "$top/scripts/deb.sh" "$build" "$dist"
command -v lintian >/dev/null || { echo "FAIL: lintian is not installed (scripts/setup.sh installs it)"; exit 1; }
report=$(lintian --pedantic "$dist"/*.deb 2>&1) || true
printf '%s\n' "$report" | grep -v "^I: \|^P: \|^N: \|root privileges" || true
if printf '%s\n' "$report" | grep -q "^E: "; then
    echo "FAIL: lintian reports errors"
    exit 1
fi
echo "lintian: no errors"
