#!/bin/sh
# kestrel_cli.sh KESTREL - the shipped command line without a device: exit
# status and message of a failed connect, of a bad link key and of a
# missing firmware file name; the log line of the run.
set -u
kestrel=$1
dir=$ALLUSERSPROFILE
mkdir -p "$dir" && cd "$dir" || exit 1
fail() { echo "FAILED: $*"; exit 1; }

out=$("$kestrel" --check L=usb A=NOSUCH01 2>&1); rc=$?
echo "$out"
[ $rc -eq 1 ] || fail "no transceiver: exit status $rc, not 1"
echo "$out" | grep -q '^Error: Cannot connect\.$' || fail "no transceiver: no 'Cannot connect.'"

out=$("$kestrel" fw.bin L=wifi 2>&1); rc=$?
echo "$out"
[ $rc -eq 2 ] || fail "bad link key: exit status $rc, not 2"
echo "$out" | grep -q '^Error: Unknown link type\.$' || fail "bad link key: no 'Unknown link type.'"

out=$("$kestrel" L=usb 2>&1); rc=$?
[ $rc -eq 2 ] || fail "no firmware file: exit status $rc, not 2"
echo "$out" | grep -q 'Firmware file should be specified\.' || fail "no firmware file: no warning"

grep -q '^!FT_OpenEx: 2$' "$dir/Quorvane/upgrade.log" || fail "the link's lines are not in upgrade.log"
echo "kestrel command line: ok"
