#!/bin/sh
# edflib-check.sh CC INCLUDE LIBEDF EDFCHECK_C FOLDER
# Reads the window test's EDF recording (FOLDER/window.edf) with EDFlib on
# the build machine: compiles edfcheck with the build machine's C compiler
# against libedf into FOLDER, runs it, and compares every sample with the
# values the simulator generated, scaled (FOLDER/window.expected, lines
# "data <signal> v v v"), within half a digital step of each signal as
# EDFlib read it from the header.
set -u
cc=$1 include=$2 lib=$3 source=$4 folder=$5
if [ "$lib" = none ]; then
    echo "SKIP: EDFlib (Debian libedf-dev) or a C compiler for the build machine was not found at configure time"
    exit 77
fi
if [ ! -f "$folder/window.edf" ] || [ ! -f "$folder/window.expected" ]; then
    echo "SKIP: the window test kept no recording in $folder (it did not run or failed first)"
    exit 77
fi
"$cc" -O1 -I"$include" -o "$folder/edfcheck" "$source" "$lib" -lm || { echo "FAIL: cannot build edfcheck"; exit 1; }
if ! "$folder/edfcheck" "$folder/window.edf" >"$folder/window.edflib"; then
    echo "FAIL: EDFlib refused the recording:"; head -c 600 "$folder/window.edflib"; exit 1
fi
awk '
FNR == NR { if ($1 == "data") { want[$2] = NF - 2; for (i = 3; i <= NF; i++) value[$2, i - 3] = $i }; next }
$1 ~ /^(physmin|physmax|digmin|digmax)$/ { h[$1, $2] = $3 }
$1 == "data" {
    s = $2; read[s] = 1
    if (NF - 2 != want[s] + 0) { printf "FAIL: signal %s: EDFlib read %d samples, expected %d\n", s, NF - 2, want[s]; bad = 1; exit }
    half = (h["physmax", s] - h["physmin", s]) / (h["digmax", s] - h["digmin", s]) / 2
    for (i = 3; i <= NF; i++) {
        d = $i - value[s, i - 3]
        if (d > half || -d > half) {
            printf "FAIL: signal %s sample %d: EDFlib read %s, the simulator generated %s (half a step: %g)\n", s, i - 3, $i, value[s, i - 3], half
            bad = 1; exit
        }
    }
    signals++
}
END {
    if (bad) exit 1
    for (s in want) if (!(s in read)) { print "FAIL: EDFlib read no signal " s; exit 1 }
    printf "EDFlib read %d signals, every sample as the simulator generated it\n", signals
}' "$folder/window.expected" "$folder/window.edflib"
