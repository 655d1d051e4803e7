#!/bin/sh
# demo.sh: the main job against the simulated device (see README).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
# The driver logs to $ALLUSERSPROFILE/Quorvane, else /var/lib/Quorvane. When
# neither is usable (a normal user cannot write /var/lib), log into the build.
shared=""
if [ -z "${ALLUSERSPROFILE:-}" ] && [ ! -w /var/lib ]; then
    shared="$root/build/native/demo-shared"
fi
"$root/build/native/tools/qdhost" ${shared:+--shared-dir "$shared"} "$root/build/native/libQuorvaneDrv.so"

# A recording: 10 s of a simulated Halvex-4 USB session at mixed rates,
# written by the driver's EDF writer into demo.edf.
echo
echo "Recording 10 s of a simulated Quorvane Halvex-4 USB session into demo.edf"
"$root/build/native/tools/qdacq" ${shared:+--shared-dir "$shared"} --simulate --model "Quorvane Halvex-4 USB" \
    --set "Channel enable=1" --set "Sample rate:A=250" --set "Sample rate:B=62.5" \
    --set "Sample rate:C=125" --set "Sample rate:D=500" \
    --client "Demo client" --session "Simulated session" --seconds 10 --edf "$root/demo.edf"
echo
echo "The recording is $root/demo.edf (EDF, channels A-D at 250, 62.5, 125 and 500 sps)."
echo "Open it in an EDF viewer, e.g. EDFbrowser:  edfbrowser $root/demo.edf"
