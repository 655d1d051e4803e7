#!/bin/sh
# cases.sh BUILD OUT: the Bluetooth cases on the real stack, run inside the
# Bluetooth test machine (scripts/btvm) once its stack is up: hci0 plays the
# user's computer, hci1 the device (qvbtdevice, the simulator's Halvex behind
# a real RFCOMM server, with the Serial Port record in the SDP server; then,
# for the ble- cases, qvbtdevice --ble: the simulator's Halvex+ 4 BLE as a
# GATT peripheral of bluetoothd on hci1, advertised with its name). The
# shipped programs of BUILD run as a user runs them. Each case leaves
# OUT/NAME.log and OUT/NAME.rc (0 passed); checks that need the simulator's
# record of the samples run here and on the host (ctest-btvm.sh verdict).
# A case that fails is made once more on a fresh stack (stack.sh again,
# then its group's device side): its first try stays in OUT/NAME.first.log.
# Every step is bounded by a time-out.
build=$1
out=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
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

# mgmt COMMAND...: btmgmt on the device's controller (it does its work
# only with a terminal: script gives it one).
mgmt() { timeout 20 script -qc "btmgmt --index 1 $*" /dev/null </dev/null >>"$out/mgmt.log" 2>&1; }
# The device switched off and on. Off, its controller first stops
# answering pages: the emulated controllers have no page time-out, and a
# host's page that reached the controller while it went off would wait for
# the kernel's connect time-out (40 s) instead of failing at once, as it
# does against a device that is off.
device_off() { mgmt connectable off; power_ false; }
device_on() { power_ true && mgmt connectable on; }
# control COMMAND: a line to the device program's control FIFO; a device
# that is gone (no reader) does not hold the script.
control() { timeout 5 sh -c "echo $1 >$fifo" || echo "btvm: the device took no \"$1\""; }
# on_again: the device switched off and on (at rest) and its controller on
# again; then a new start.
on_again() {
    control power-cycle
    sleep 1
    echo "btvm: hci1 power on"; device_on
    sleep 2
    acquire 3
}

# case NAME COMMAND...: runs COMMAND (a shell function) with its output in
# NAME.log and its result in NAME.rc, and judges it (ctest-btvm.sh
# verdict). A case that failed is made once more on a fresh stack: the
# emulated controllers now and then lose or reorder an event (README), and
# the stack they leave behind may fail every case after (a controller that
# no longer powers on), which no code of ours can mend.
case_() {
    try_case "$@" && return 0
    mv "$out/$1.log" "$out/$1.first.log"
    echo "btvm-case: $1 failed; the stack is made anew and the case once more"
    fresh_stack >>"$out/stack.log" 2>&1 || echo "btvm-case: the stack did not come up again (stack.log)"
    try_case "$@"
}
try_case() {
    name=$1; shift
    t0=$(date +%s)
    "$@" >"$out/$name.log" 2>&1
    echo "$?" >"$out/$name.rc"
    verdict=$(QD_BTVM_BUILD="$build" sh "$root/scripts/btvm/ctest-btvm.sh" verdict "$name" 2>&1)
    ok=$?
    echo "btvm-case: $name rc=$(cat "$out/$name.rc") $(( $(date +%s) - t0 )) s $(echo "$verdict" | grep FAIL | head -n 1)"
    state "after $name" >>"$out/stack.log"
    return $ok
}
# fresh_stack: the device program ended, bluetoothd and the controllers
# made anew, and the device side of the running group of cases brought up.
fresh_stack() {
    stop_device
    sh "$root/scripts/btvm/stack.sh" again && ${group}_up
}
# keep FILE: an earlier FILE (a device program's log before a fresh stack)
# is kept under a numbered name, so that a case's checks read its own.
keep() { [ ! -f "$1" ] || mv "$1" "${1%.log}.$(date +%s).log"; }
# stop_device: the device program ends (quit), or is ended after 5 s.
stop_device() {
    control quit
    ( sleep 5; kill $devicePid 2>/dev/null ) &
    wait $devicePid
}

# once_more TEXT BEFORE COMMAND...: runs COMMAND, its output passed on as it
# comes; when the output holds TEXT (a start that failed for a reason of the
# emulated stack, not of the case: README), runs BEFORE and COMMAND once
# more, as a user would start again.
once_more() {
    text=$1 before=$2; shift 2
    for try in 1 2; do
        { "$@" 2>&1; echo $? >"$out/start.rc"; } | tee "$out/start.txt"
        rc=$(cat "$out/start.rc")
        grep -qF -- "$text" "$out/start.txt" || return $rc
        [ $try = 2 ] || { echo "btvm: the start failed ($text); once more"; $before; }
    done
    return $rc
}

# acquire SECONDS [QDACQ OPTIONS]: the heaviest configuration, the device
# named by its address (the inquiry of a search by name takes 10 s, and
# qdacq's seconds count from its start; bt-find covers the name). A start
# whose connection's authentication failed (13: after a connection cut
# during its pairing, one side may keep a key the other lacks) is made
# once more.
acquire() {
    s=$1; shift
    once_more "WSAGetLastError 13" true \
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
    acquire 22 & run=$!
    sleep 5
    echo "btvm: hci1 power off"; device_off
    wait $run
    echo "qdacq exit $?"
    on_again
}
# measuring: waits (up to 30 s) until the start running in the background
# shows samples (its output in start.txt), then 2 s more: a start under
# emulation may take 6 s to connect, and a drop before it finds no host.
measuring() {
    for i in $(seq 1 150); do
        grep -qE "^\[ *[0-9.]+ s\] A [1-9]" "$out/start.txt" 2>/dev/null && break
        sleep 0.2
    done
    sleep 2
}
# The device ends the connection and stays in range: the driver's
# reconnection picks it up, and the measurement goes on to its end.
drop() {
    rm -f "$out/start.txt"
    acquire 12 & run=$!
    measuring
    echo "btvm: the device drops the connection"; control drop
    wait $run
    rc=$?
    echo "qdacq exit $rc"
    [ $rc = 0 ] || [ $rc = 4 ]
}
# The device goes away as the host connects (its controller goes off as it
# accepts the connection): the start ends in the driver's open-failed or
# link-lost path within its bounds. On again, the device measures.
vanish() {
    control vanish-at-connect
    sleep 0.5
    acquire 5
    echo "qdacq exit $?"
    control vanish-never
    on_again
}
# The device's SDP server lists the Serial Port service without an RFCOMM
# channel: the start is refused with the log's reason. The record put back,
# the device measures.
nochannel() {
    timeout 10 sdptool del $record || return 1
    "$build/qvbtdevice" --sdp-without-channel 60 & holder=$!
    sleep 1
    acquire 3
    echo "qdacq exit $?"
    kill $holder 2>/dev/null; wait $holder
    timeout 10 sdptool add --handle=$record --channel=$channel SP || return 1
    echo "btvm: the record is back"
    acquire 3
}
upload() {
    timeout 10 "$build/qvbtdevice" --image "$out/firmware.bin" || return 1
    timeout 300 "$build/kestrel" "$out/firmware.bin" L=bt A=$device
}

# The classic cases' device side: the device's Serial Port record, at a
# handle of ours so that the no-channel case can take it away and put it
# back, and the device program.
record=0x10100
classic_up() {
    timeout 10 sdptool add --handle=$record --channel=$channel SP >"$out/sdp.log" 2>&1 || { cat "$out/sdp.log"; return 1; }
    keep "$out/qvbtdevice.log"
    "$build/qvbtdevice" --address $device --channel $channel --model "$model" --control "$fifo" --seconds 600 \
        >"$out/qvbtdevice.log" 2>&1 &
    devicePid=$!
    sleep 1
}
fifo=/tmp/btdevice.control
mkfifo "$fifo"
group=classic
classic_up || exit 1

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
case_ bt-vanish vanish
case_ bt-nochannel nochannel

stop_device

# Bluetooth LE: the same machine, the device now a Halvex+ 4 BLE.
blemodel="Quorvane Halvex+ 4 BLE"
# ble_start SECONDS [QDACQ OPTIONS]: a measurement of SECONDS, the device
# found by the default device id, its name. A start that did not find the
# device is made once more, as a user would: after a connection's end the
# host's bluetoothd drops the services of the unpaired device (stack.sh)
# and lists it with the service again only once an advertisement of it
# comes through a scan, which under emulation sometimes takes longer than
# the driver's search (5 s). Such a start leaves the device's properties
# in notfound.log.
ble_start() {
    s=$1; shift
    once_more "Matching BLE device has not been found" ble_listed \
        timeout $((s + 60)) "$qdacq" --model "$blemodel" --seconds "$s" "$@"
}
ble_listed() {
    timeout 10 dbus-send --system --print-reply --dest=org.bluez /org/bluez/hci0/dev_$(echo $device | tr : _) \
        org.freedesktop.DBus.Properties.GetAll string:org.bluez.Device1 >>"$out/notfound.log" 2>&1
}
# ble_acquire SECONDS [QDACQ OPTIONS]: the heaviest configuration the CSV
# check can follow: the four analog channels at 2000 sps (the button
# channel off).
ble_acquire() {
    s=$1; shift
    set -- --set "Channel enable=1" --set "Channel enable:4=0" "$@"
    for c in 0 1 2 3; do
        set -- --set "Sample rate:$c=2000" --set "Measurement range:$c=6000" --set "Lower limit frequency:$c=0" "$@"
    done
    ble_start "$s" "$@"
}
ble_find() { timeout 90 "$qdacq" --find "" --model "$blemodel"; }
ble_heavy() { ble_acquire 12 --csv "$out/ble-heavy.csv"; }
ble_restart() { ble_acquire 3 && ble_acquire 3; }
# ble_on_again: hci1 powered on again; the start waits (up to 15 s) until
# the device advertises again, as a user waits for a device to be ready.
ble_on_again() {
    before=$(grep -c "advertised again" "$out/qvbledevice.log")
    echo "btvm: hci1 power on"; power_ true
    for i in $(seq 1 75); do
        [ "$(grep -c "advertised again" "$out/qvbledevice.log")" -gt "$before" ] && break
        sleep 0.2
    done
}
# The device's controller goes off mid-measurement: the host hears nothing
# more, and the driver's link-lost handling ends the measurement; powered on
# again (and the device switched off and on), a new start measures cleanly.
ble_power() {
    ble_acquire 30 & run=$!
    sleep 5
    echo "btvm: hci1 power off"; power_ false
    wait $run
    echo "qdacq exit $?"
    control power-cycle
    sleep 1
    ble_on_again
    ble_acquire 3
}
# The device ends the connection and stays in range.
ble_drop() {
    rm -f "$out/start.txt"
    ble_acquire 12 & run=$!
    measuring
    echo "btvm: the device drops the connection"; control drop
    wait $run
    echo "qdacq exit $?"
}
# ble_vanish COMMAND: the device goes away as the host connects (while it
# resolves the services) or as it switches the notifications on; on again,
# a new start measures.
ble_vanish() {
    ble_find
    control "$1"
    sleep 0.5
    ble_acquire 5
    echo "qdacq exit $?"
    control vanish-never
    control power-cycle
    sleep 1
    ble_on_again
    # The default configuration: the heaviest one is ble-heavy's, and under
    # emulation its backlog may hold the stop's reply past the driver's wait.
    ble_start 3 --set "Channel enable=1"
}
# ble_gatt SHAPE: a device whose service lacks a characteristic or the
# notifications (the host keeps no services of an unpaired device:
# stack.sh).
ble_gatt() {
    power_ true
    "$build/qvbtdevice" --ble hci1 --gatt "$1" --control "$fifo" --seconds 120 >"$out/qvbledevice-$1.log" 2>&1 &
    devicePid=$!
    sleep 2
    # As a user does with a device just switched on: search, then start.
    ble_find
    ble_acquire 3
    echo "qdacq exit $?"
    stop_device
}
# It is another device than the classic one of the cases above, on the same
# address: the user's computer forgets that one and its bond, and the new
# device knows no bond with the computer. (bluetoothd takes no advertised
# service UUIDs into a device whose services it has resolved, and the
# driver lists the devices that name the service.)
forget() {
    timeout 20 dbus-send --system --print-reply --dest=org.bluez /org/bluez/$1 org.bluez.Adapter1.RemoveDevice \
        objpath:/org/bluez/$1/dev_$(echo $2 | tr : _) >/dev/null
}
# The Bluetooth LE cases' stack: the classic device forgotten (if the stack
# knew it), and hci1 a controller of Bluetooth LE alone, so that its
# advertisement says so (else the host's bluetoothd may take the device for
# a dual-mode one and connect it over BR/EDR). ble_up: with the Halvex+ 4
# BLE on it.
gatt_up() {
    forget hci0 $device 2>/dev/null
    forget hci1 "$(hciconfig hci0 | sed -n "s/.*BD Address: \([0-9A-F:]*\).*/\1/p")" 2>/dev/null
    power_ false && mgmt bredr off
    power_ true
}
ble_up() {
    gatt_up || return 1
    keep "$out/qvbledevice.log"
    "$build/qvbtdevice" --ble hci1 --control "$fifo" --seconds 600 >"$out/qvbledevice.log" 2>&1 &
    devicePid=$!
    sleep 2
}
group=ble
ble_up
case_ ble-find ble_find
case_ ble-heavy ble_heavy
case_ ble-restart ble_restart
case_ ble-power ble_power
case_ ble-drop ble_drop
case_ ble-vanish-connect ble_vanish vanish-at-connect
case_ ble-vanish-notify ble_vanish vanish-at-notify
stop_device
group=gatt
case_ ble-gatt-missing ble_gatt missing
case_ ble-gatt-flags ble_gatt no-notify
state end >>"$out/stack.log"
cp /tmp/bluetoothd*.log /tmp/btvirt*.log "$out/" 2>/dev/null
exit 0
