#!/bin/sh
# cases.sh BUILD OUT: the Bluetooth cases on the real stack, run inside the
# Bluetooth test machine (scripts/btvm) once its stack is up: hci0 plays the
# user's computer, hci1 the device (qvbtdevice, the simulator's Halvex behind
# a real RFCOMM server, with the Serial Port record in the SDP server; then,
# for the ble- cases, qvbtdevice --ble: the simulator's Halvex+ 4 BLE as a
# GATT peripheral of bluetoothd on hci1, advertised with its name). The
# shipped programs of BUILD run as a user runs them. Each case leaves
# OUT/NAME.log and OUT/NAME.rc (0 passed); checks that need the simulator's
# record of the samples run on the host afterwards (ctest-btvm.sh). Every
# step is bounded by a time-out.
build=$1
out=$2
device=00:AA:01:01:00:01
channel=3
model="Quorvane Halvex-4 BT"
mkdir -p "$out"
rm -f "$out"/*.rc "$out"/*.log "$out"/*.csv
export ALLUSERSPROFILE="$out/shared"
mkdir -p "$ALLUSERSPROFILE"
qdacq="$build/tools/qdacq"

# The device's controller on or off, through bluetoothd (the management
# interface's power command, as btmgmt gives it).
power_() {
    timeout 20 dbus-send --system --print-reply --dest=org.bluez /org/bluez/hci1 \
        org.freedesktop.DBus.Properties.Set string:org.bluez.Adapter1 string:Powered variant:boolean:$1 >/dev/null
}

# case NAME COMMAND...: runs COMMAND (a shell function) with its output in
# NAME.log and its result in NAME.rc.
case_() {
    name=$1; shift
    t0=$(date +%s)
    "$@" >"$out/$name.log" 2>&1
    rc=$?
    echo "$rc" >"$out/$name.rc"
    echo "btvm-case: $name rc=$rc $(( $(date +%s) - t0 )) s"
    state "after $name" >>"$out/stack.log"
}
# expect NAME TEXT: the case's log holds TEXT.
expect() { grep -qF -- "$2" "$out/$1.log" || { echo "missing in $1: $2"; return 1; }; }

# acquire SECONDS [QDACQ OPTIONS]: the heaviest configuration, the device
# named by its address (the inquiry of a search by name takes 10 s, and
# qdacq's seconds count from its start; bt-find covers the name).
acquire() {
    s=$1; shift
    timeout $((s + 60)) "$qdacq" --model "$model" --set "Device id=$device" --set "Channel enable=1" --set "Sample rate=2000" \
        --set "Measurement range=6000" --set "Lower limit frequency=0" --seconds "$s" "$@"
}

find_device() { timeout 90 "$qdacq" --find "" --model "$model"; }
heavy() { acquire 12 --csv "$out/bt-heavy.csv"; }
restart() { acquire 3 && acquire 3; }
# The device's controller goes off mid-measurement: the host's kernel ends
# the connection, the driver sees it at its next poll and tries once to
# reconnect, which fails while the controller is off: the measurement ends
# with the link-lost message. The device itself measures on, as a device
# out of range does, until the user switches it off and on as the driver's
# messages ask; powered on again, a new start finds it.
power() {
    acquire 16 & run=$!
    sleep 5
    echo "btvm: hci1 power off"; power_ false
    wait $run
    echo "qdacq exit $?"
    echo power-cycle >"$fifo"
    sleep 1
    echo "btvm: hci1 power on"; power_ true
    sleep 2
    acquire 3
}
# The device ends the connection and stays in range: the driver's
# reconnection picks it up, and the measurement goes on to its end.
drop() {
    acquire 10 & run=$!
    sleep 4
    echo "btvm: the device drops the connection"; echo drop >"$fifo"
    wait $run
    rc=$?
    echo "qdacq exit $rc"
    [ $rc = 0 ] || [ $rc = 4 ]
}
upload() {
    timeout 10 "$build/qvbtdevice" --image "$out/firmware.bin" || return 1
    timeout 300 "$build/kestrel" "$out/firmware.bin" L=bt A=$device
}

timeout 10 sdptool add --channel=$channel SP >"$out/sdp.log" 2>&1 || { cat "$out/sdp.log"; exit 1; }
fifo=/tmp/btdevice.control
mkfifo "$fifo"
"$build/qvbtdevice" --address $device --channel $channel --model "$model" --control "$fifo" --seconds 600 \
    >"$out/qvbtdevice.log" 2>&1 &
devicePid=$!
sleep 1

state() { echo "== $1"; hciconfig 2>&1 | grep -E "^hci|Address|UP|DOWN"; hcitool con 2>&1; pgrep -l btvirt || echo "btvirt is gone"; }
state before >"$out/stack.log"
case_ bt-find find_device
state "after bt-find" >>"$out/stack.log"
case_ bt-heavy heavy
case_ bt-restart restart
# The upload before the power cycle: a device that the power case leaves
# measuring (when its reconnection fails) refuses an upload.
case_ bt-upload upload
case_ bt-drop drop
case_ bt-power power

# stop_device: the device program ends (quit), or is ended after 5 s.
stop_device() {
    echo quit >"$fifo"
    ( sleep 5; kill $devicePid 2>/dev/null ) &
    wait $devicePid
}
stop_device

# Bluetooth LE: the same machine, the device now a Halvex+ 4 BLE.
blemodel="Quorvane Halvex+ 4 BLE"
# ble_acquire SECONDS [QDACQ OPTIONS]: the heaviest configuration the CSV
# check can follow: the four analog channels at 2000 sps (the button
# channel off), the device found by the default device id, its name.
ble_acquire() {
    s=$1; shift
    set -- --set "Channel enable=1" --set "Channel enable:4=0" "$@"
    for c in 0 1 2 3; do
        set -- --set "Sample rate:$c=2000" --set "Measurement range:$c=6000" --set "Lower limit frequency:$c=0" "$@"
    done
    timeout $((s + 60)) "$qdacq" --model "$blemodel" --seconds "$s" "$@"
}
ble_find() { timeout 90 "$qdacq" --find "" --model "$blemodel"; }
ble_heavy() { ble_acquire 12 --csv "$out/ble-heavy.csv"; }
ble_restart() { ble_acquire 3 && ble_acquire 3; }
# The device's controller goes off mid-measurement: the host hears nothing
# more, and the driver's link-lost handling ends the measurement; powered on
# again (and the device switched off and on), a new start measures cleanly.
ble_power() {
    ble_acquire 30 & run=$!
    sleep 5
    echo "btvm: hci1 power off"; power_ false
    wait $run
    echo "qdacq exit $?"
    echo power-cycle >"$fifo"
    sleep 1
    echo "btvm: hci1 power on"; power_ true
    sleep 2
    ble_acquire 3
}
# The Halvex+ 4 BLE is a device of Bluetooth LE alone: hci1 leaves BR/EDR,
# so that its advertisement says so (else the host's bluetoothd may take
# the device for a dual-mode one and connect it over BR/EDR).
power_ false && timeout 20 btmgmt --index 1 bredr off </dev/null >/dev/null 2>&1
power_ true
# It is another device than the classic one of the cases above, on the same
# address: the user's computer forgets that one. (bluetoothd takes no
# advertised service UUIDs into a device whose services it has resolved,
# and the driver lists the devices that name the service.)
timeout 20 dbus-send --system --print-reply --dest=org.bluez /org/bluez/hci0 org.bluez.Adapter1.RemoveDevice \
    objpath:/org/bluez/hci0/dev_$(echo $device | tr : _) >/dev/null
"$build/qvbtdevice" --ble hci1 --control "$fifo" --seconds 600 >"$out/qvbledevice.log" 2>&1 &
devicePid=$!
sleep 2
case_ ble-find ble_find
case_ ble-heavy ble_heavy
case_ ble-restart ble_restart
case_ ble-power ble_power
stop_device
state end >>"$out/stack.log"
cp /tmp/bluetoothd.log /tmp/btvirt.log "$out/" 2>/dev/null
exit 0
