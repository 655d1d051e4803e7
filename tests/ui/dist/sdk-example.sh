#!/bin/sh
# sdk-example.sh CMAKE CC BITS ZIP OUT DRIVER SIMULATOR PROBE
#
# Unpacks the SDK zip into OUT, checks that it holds what a host developer
# needs, builds its example host with this build's MinGW compiler CC
# against the SDK's import libraries (the .lib made for Visual Studio, and
# the .dll.a), links PROBE against the .lib with lld-link (Microsoft's
# linker's rules) where clang and lld-link are installed, and puts the
# driver and the simulator (as FTD2XX.dll) beside the example for
# <build>.ui-dist. Skipped (77) without the zip: make dist makes it.
set -eu
cmake=$1 cc=$2 bits=$3 zip=$4 out=$5 driver=$6 sim=$7 probe=$8
[ -f "$zip" ] || { echo "SKIP: no SDK zip $zip (make dist makes it)"; exit 77; }
rm -rf "$out"
mkdir -p "$out/sdk"
(cd "$out/sdk" && "$cmake" -E tar xf "$zip")
sdk=$(echo "$out"/sdk/quorvane-sdk-*-win)
if [ "$bits" = 64 ]; then
    lib=lib/x64/QuorvaneDrv64.lib dlla=lib/x64/libQuorvaneDrv64.dll.a target=x86_64-pc-windows-msvc
else
    lib=lib/x86/QuorvaneDrv.lib dlla=lib/x86/libQuorvaneDrv.dll.a target=i686-pc-windows-msvc
fi
for f in include/QuorvaneDrv.h lib/QuorvaneDrv.def "$lib" "$dlla" example/qdexample.c README.md \
         LICENSE.txt docs/html/index.html; do
    [ -f "$sdk/$f" ] || { echo "the SDK lacks $f"; exit 1; }
done
flags="-std=c99 -Wall -Wextra -Werror -I $sdk/include"
"$cc" $flags "$sdk/example/qdexample.c" "$sdk/$lib" -luser32 -o "$out/qdexample.exe"
"$cc" $flags "$sdk/example/qdexample.c" "$sdk/$dlla" -luser32 -o "$out/qdexample-dll-a.exe"
if command -v clang >/dev/null && command -v lld-link >/dev/null; then
    clang --target=$target -ffreestanding -Wall -Werror -c "$probe" -I "$sdk/include" -o "$out/probe.obj"
    lld-link /nologo /entry:probe /subsystem:console /nodefaultlib "$out/probe.obj" "$sdk/$lib" /out:"$out/probe.exe"
    echo "lld-link resolved the driver's functions and variables from $lib"
fi
cp "$driver" "$out/"
cp "$sim" "$out/FTD2XX.dll"
echo "built $out/qdexample.exe against $lib"
