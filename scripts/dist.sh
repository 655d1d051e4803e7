#!/bin/sh
# dist.sh: the Windows distribution, from the win32 and win64 builds and the
# API reference (make dist builds them first):
#
#   build/dist/QuorvaneSetup-<version>.exe       the installer (NSIS)
#   build/dist/quorvane-sdk-<version>-win.zip    the SDK for host developers
#
# The SDK holds the public header, the export definition, import libraries
# of both bitnesses for Visual Studio (.lib, made from the definition by
# llvm-dlltool, the format of Microsoft's lib.exe) and for MinGW (.dll.a,
# the ones the DLL builds make), the example host, its README, the licence
# and the API reference. The installer carries the SDK as a component, in
# the same layout.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
w32="$root/build/win32"
w64="$root/build/win64"
docs="$root/build/docs/html"
out="$root/build/dist"

fail() {
    echo "dist: $*" >&2
    exit 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$w64/CMakeCache.txt" 2>/dev/null || true)
[ -n "$version" ] || fail "no win64 build in $w64 (make dist builds it)"
for f in "$w32/QuorvaneDrv.dll" "$w32/libQuorvaneDrv.dll.a" "$w32/Kestrel.exe" "$w32/kestrel.htm" \
         "$w32/QuorvaneRecorder.exe" "$w32/sim/FTD2XX.dll" "$w32/sim/BluetoothAPIs.dll" \
         "$w64/QuorvaneDrv64.dll" "$w64/libQuorvaneDrv64.dll.a" "$w64/QuorvaneRecorder.exe" \
         "$w64/sim/FTD2XX.dll" "$w64/sim/BluetoothAPIs.dll" "$docs/index.html"; do
    [ -f "$f" ] || fail "$f is missing: build win32 and win64 and the API reference first (make dist does)"
done
dlltool=$(command -v llvm-dlltool || true)
[ -n "$dlltool" ] || fail "llvm-dlltool is missing (Debian package llvm; scripts/setup.sh installs it)"
command -v makensis >/dev/null || fail "makensis is missing (Debian package nsis; scripts/setup.sh installs it)"
command -v zip >/dev/null || fail "zip is missing (scripts/setup.sh installs it)"

# The SDK's folder, as the zip and the installer's component hold it.
name="quorvane-sdk-$version-win"
sdk="$out/sdk/$name"
rm -rf "$out/sdk" "$out/nsis"
mkdir -p "$sdk/include" "$sdk/lib/x86" "$sdk/lib/x64" "$sdk/example" "$sdk/docs" "$out/nsis"
cp "$root/API/QuorvaneDrv.h" "$sdk/include/"
cp "$root/API/driver/QuorvaneDrv.def" "$sdk/lib/"
"$dlltool" -m i386 -d "$root/API/driver/QuorvaneDrv.def" -D QuorvaneDrv.dll -l "$sdk/lib/x86/QuorvaneDrv.lib"
"$dlltool" -m i386:x86-64 -d "$root/API/driver/QuorvaneDrv.def" -D QuorvaneDrv64.dll -l "$sdk/lib/x64/QuorvaneDrv64.lib"
cp "$w32/libQuorvaneDrv.dll.a" "$sdk/lib/x86/"
cp "$w64/libQuorvaneDrv64.dll.a" "$sdk/lib/x64/"
cp "$root/sdk/example/qdexample.c" "$sdk/example/"
cp "$root/sdk/README.md" "$sdk/"
cp "$root/API/driver/ui/docs/Quorvane_Driver_EULA.txt" "$sdk/LICENSE.txt"
cp -R "$docs" "$sdk/docs/html"

rm -f "$out/$name.zip"
(cd "$out/sdk" && zip -qrX "../$name.zip" "$name")

# The SDK's files for the installer: every folder with its files, and their
# removal, deepest folders first (RMDir leaves a folder that is not empty).
nsh="$out/nsis/sdk-files.nsh"
{
    echo "; made by scripts/dist.sh from $sdk"
    echo "!macro InstallSdkFiles"
    (cd "$sdk" && find . -type d | sort) | while read -r d; do
        rel=$(printf '%s' "${d#./}" | tr / '\\')
        printf '    SetOutPath "$INSTDIR\\SDK%s"\n' "${rel:+\\$rel}"
        find "$sdk/$d" -maxdepth 1 -type f | sort | while read -r f; do
            printf '    File "%s"\n' "$f"
        done
    done
    echo "!macroend"
    echo "!macro RemoveSdkFiles"
    (cd "$sdk" && find . -type f | sort) | while read -r f; do
        printf '    Delete "$INSTDIR\\SDK\\%s"\n' "$(printf '%s' "${f#./}" | tr / '\\')"
    done
    (cd "$sdk" && find . -type d | sort -r) | while read -r d; do
        rel=$(printf '%s' "${d#./}" | tr / '\\')
        printf '    RMDir "$INSTDIR\\SDK%s"\n' "${rel:+\\$rel}"
    done
    echo "!macroend"
} >"$nsh"

setup="$out/QuorvaneSetup-$version.exe"
rm -f "$setup"
makensis -V2 -NOCD -DVERSION="$version" -DROOT="$root" -DWIN32_DIR="$w32" -DWIN64_DIR="$w64" \
    -DSDK_FILES="$nsh" -DOUTFILE="$setup" "$root/installer/quorvane.nsi" >"$out/makensis.log" 2>&1 ||
    { cat "$out/makensis.log" >&2; fail "makensis failed"; }
echo "dist: $setup"
echo "dist: $out/$name.zip"
