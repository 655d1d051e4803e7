#!/bin/sh
# private-bus.sh PROGRAM [ARGS...]: runs PROGRAM with a D-Bus bus of its own
# as its system bus. A dbus-daemon (session configuration) is started for
# it; its address is passed in DBUS_SYSTEM_BUS_ADDRESS, and QD_PRIVATE_BUS=1
# tells the tests that the bus is theirs. The daemon ends with the program.
# Exits 77 (skipped) on a machine without dbus-daemon.
command -v dbus-daemon >/dev/null 2>&1 || { echo "SKIP: no dbus-daemon"; exit 77; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/qd-bus.XXXXXX") || exit 1
dbus-daemon --session --nofork --address="unix:path=$dir/bus" --print-address=3 3>"$dir/address" &
daemon=$!
i=0
while [ ! -s "$dir/address" ] && [ $i -lt 200 ]; do
    sleep 0.05
    i=$((i + 1))
done
if [ ! -s "$dir/address" ]; then
    echo "private-bus.sh: dbus-daemon did not start" >&2
    kill $daemon 2>/dev/null
    rm -rf "$dir"
    exit 1
fi
DBUS_SYSTEM_BUS_ADDRESS=$(head -n 1 "$dir/address") QD_PRIVATE_BUS=1 "$@"
rc=$?
kill $daemon 2>/dev/null
wait $daemon 2>/dev/null
rm -rf "$dir"
exit $rc
