#!/bin/sh
# run-fuzz.sh FUZZER SEEDS WORK SECONDS
#
# Smoke run of one libFuzzer target: SECONDS of fuzzing that start from the
# checked-in seed corpus SEEDS. New inputs go to the scratch folder WORK, so
# the seeds stay as they are.
set -eu
fuzzer=$1
seeds=$2
work=$3
seconds=$4
mkdir -p "$work"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work" "$seeds"
