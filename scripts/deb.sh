#!/bin/sh
# deb.sh BUILD DIST: makes the Debian packages libquorvane5,
# libquorvane-dev, quorvane-tools and python3-quorvane from the finished
# native build BUILD (its installation below /usr, split by component) into
# DIST, with debhelper: the packaging in packaging/debian is copied into a
# work folder of its own below BUILD and run there. The API reference
# (build/docs/html, or QD_API_DOCS) goes into libquorvane-dev when it exists.
# The copyright file is the driver's licence text (API/driver/ui/docs).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
[ $# = 2 ] || { echo "usage: deb.sh BUILD DIST" >&2; exit 2; }
build=$(cd "$1" && pwd)
mkdir -p "$2"
dist=$(cd "$2" && pwd)
docs=${QD_API_DOCS:-$root/build/docs/html}
fail() { echo "deb: $*" >&2; exit 1; }

# The packages, the library and the Python package carry one version.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "$build is not a configured build"
changelog=$(dpkg-parsechangelog -l "$root/packaging/debian/changelog" -S Version)
python=$(sed -n 's/^__version__ = "\(.*\)"$/\1/p' "$root/python/quorvane/_version.py")
[ "$changelog" = "$version" ] || fail "packaging/debian/changelog is at $changelog, the build at $version"
[ "$python" = "$version" ] || fail "python/quorvane/_version.py is at $python, the build at $version"

work=$(mktemp -d "$build/deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -r "$root/packaging/debian" "$work/debian"
{
    cat "$work/debian/copyright.head"
    sed -e 's/[[:space:]]*$//' -e 's/^$/./' -e 's/^/ /' "$root/API/driver/ui/docs/Quorvane_Driver_EULA.txt"
} >"$work/debian/copyright"
rm "$work/debian/copyright.head"

for p in libquorvane5 libquorvane-dev quorvane-tools python3-quorvane; do rm -f "$dist/${p}_"*.deb; done
log=$work/debhelper.log
if ! (cd "$work" && QD_BUILD="$build" QD_DIST="$dist" QD_API_DOCS="$docs" debian/rules binary) >"$log" 2>&1; then
    cat "$log" >&2
    fail "debhelper failed (above)"
fi
ls "$dist"/*_"$version"_*.deb
