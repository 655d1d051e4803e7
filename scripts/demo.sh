#!/bin/sh
# demo.sh: a first acquisition (see README): qdacq loads the Linux driver
# library the way a host application does, puts the built-in simulated
# "Quorvane Halvex-4 USB" under it, measures four channels at mixed rates for
# five seconds, prints a summary line per second, stops cleanly and leaves
# the recording in demo.edf (the driver's EDF writer).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
# The driver logs to $ALLUSERSPROFILE/Quorvane, else /var/lib/Quorvane. When
# neither is usable (a normal user cannot write /var/lib), log into the build.
shared=""
if [ -z "${ALLUSERSPROFILE:-}" ] && [ ! -w /var/lib ]; then
    shared="$root/build/native/demo-shared"
fi
"$root/build/native/tools/qdacq" ${shared:+--shared-dir "$shared"} \
    --simulate --model "Quorvane Halvex-4 USB" \
    --set "Channel enable=1" \
    --set "Sample rate:0=250" --set "Sample rate:1=500" \
    --set "Sample rate:2=125" --set "Sample rate:3=1000" \
    --seconds 5 \
    --edf "$root/demo.edf" --client "Demo client" --session "Simulated session"
echo
echo "The recording is $root/demo.edf (EDF, channels A-D at 250, 500, 125 and 1000 sps)."
echo "Show it in EDFbrowser (Debian package edfbrowser):"
echo "  edfbrowser $root/demo.edf"
echo "Watch a recording live while it grows (EDFbrowser starts after 4 s):"
echo "  $root/build/native/tools/qdacq${shared:+ --shared-dir $shared} --simulate --model \"Quorvane Halvex-4 USB\" --set \"Channel enable=1\" --seconds 30 --edf $root/demo.edf --view"
