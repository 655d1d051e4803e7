#!/bin/sh
# callgrind.sh [QDBENCH] [SAMPLES]
#
# Instructions per delivered sample of the engine's decode-and-deliver path:
# runs "qdbench throughput" under valgrind's callgrind, counting only inside
# the measured loop (benchDecodeLoop), and divides the instructions by the
# samples delivered. Then lists where the instructions go (inclusive counts
# of the main functions of the path). Prints figures; fails only when
# valgrind is missing or the run breaks.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
bench=${1:-$root/build/native/bench/qdbench}
samples=${2:-300000}

if ! command -v valgrind >/dev/null 2>&1; then
    echo "callgrind: valgrind is not installed (scripts/setup.sh installs it)"
    exit 1
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

valgrind --tool=callgrind --callgrind-out-file="$out/cg.out" --toggle-collect='*benchDecodeLoop*' \
    "$bench" throughput --samples "$samples" >"$out/run.txt" 2>"$out/valgrind.txt" || {
    cat "$out/run.txt" "$out/valgrind.txt"
    exit 1
}
delivered=$(sed -n 's/^figure: throughput_samples //p' "$out/run.txt")
ir=$(sed -n 's/^summary: //p' "$out/cg.out" | awk '{print $1}')
[ -n "$ir" ] || ir=$(sed -n 's/^totals: //p' "$out/cg.out" | awk '{print $1}')
if [ -z "$delivered" ] || [ -z "$ir" ] || [ "$delivered" -eq 0 ]; then
    echo "callgrind: no figures (run output follows)"
    cat "$out/run.txt"
    exit 1
fi
echo "callgrind: $ir instructions for $delivered samples in the decode-and-deliver loop"
awk -v ir="$ir" -v n="$delivered" 'BEGIN { printf "  %.1f instructions per sample\n", ir / n }'
awk -v ir="$ir" -v n="$delivered" 'BEGIN { printf "figure: instructions_per_sample %.1f\n", ir / n }'

# Inclusive instructions per sample of the functions on the path, and the
# split between the simulated D2XX functions and the driver's own code.
if command -v callgrind_annotate >/dev/null 2>&1; then
    callgrind_annotate --inclusive=yes --auto=no "$out/cg.out" 2>/dev/null |
        awk -v n="$delivered" -v ir="$ir" '
        /%\)  / {
            value = $1; gsub(",", "", value);
            f = $0; sub(/^.*%\)  /, "", f); sub(/ \[.*$/, "", f);
            sub(/^[^:]*:/, "", f); gsub(/\(anonymous namespace\)::/, "", f); sub(/\(.*$/, "", f); sub(/@.*$/, "", f);
            if (!(f in v) || value + 0 > v[f] + 0) v[f] = value;
        }
        END {
            split("QdProtocolEngine halvexStep RecvLink queueStatusUsb recvUsb FT_GetQueueStatus FT_Read " \
                  "osClockMs pthread_mutex_lock pthread_mutex_unlock rxFeed msgValidate samplesHandleData " \
                  "samplesFilter countSamples", names, " ");
            print "  where they go (inclusive instructions per sample):";
            for (i = 1; i in names; i++) if (names[i] in v) printf "    %-22s %8.1f\n", names[i], v[names[i]] / n;
            d2xx = v["FT_GetQueueStatus"] + v["FT_Read"];
            printf "  in the simulated D2XX functions %.1f, in the driver itself %.1f instructions per sample\n",
                   d2xx / n, (ir - d2xx) / n;
            printf "figure: driver_instructions_per_sample %.1f\n", (ir - d2xx) / n;
        }'
fi
