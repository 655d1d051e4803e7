#!/bin/sh
# ctest-btvm.sh prepare | run | check CASE: the Bluetooth tests on the real
# Linux stack (the kernel's RFCOMM and SDP, bluetoothd), in the Bluetooth
# test machine (image.sh, run.sh), with the native build's shipped programs.
#
#   prepare     the machine's image, made once and kept in the cache
#               (scripts/test-all.sh may run this beside the builds)
#   run         one machine start for every case (tests/btvm/cases.sh);
#               each case leaves its log and result in build/btvm/results
#   verdict CASE  whether one case passed: its exit status and its own
#               checks (the samples against the simulator's record); the
#               machine judges each case with it, and makes a failed one
#               once more on a fresh stack (tests/btvm/cases.sh)
#   check CASE  the case's log (both tries, if it had two) and its verdict;
#               77 (skipped) when the machine did not run
#
# ctest runs these as native.btvm.machine (the fixture that starts the
# machine) and native.btvm.<case>, labelled "btvm". Without root, KVM or
# QEMU, or with QD_BTVM=0, they are skipped.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$(dirname "$here")")
build=${QD_BTVM_BUILD:-$root/build/native}
results="$root/build/btvm/results"
cd "$root"

usable() {
    [ "${QD_BTVM:-1}" != 0 ] || { echo "btvm: switched off (QD_BTVM=0)"; return 1; }
    [ "$(id -u)" = 0 ] || { echo "btvm: the test machine needs root"; return 1; }
    case "$root" in
    *[!A-Za-z0-9_./-]*) echo "btvm: the project path $root holds characters the machine's share cannot carry"; return 1 ;;
    esac
}

# refused_then_clean MARK TEXT...: up to the line MARK the start failed or
# the link was lost, and the log holds each TEXT (the driver's reason);
# after MARK a new start measured cleanly.
refused_then_clean() {
    mark=$1; shift
    before=$(sed -n "1,/$mark/p" "$log")
    echo "$before" | grep -qE "the measurement did not start|error: Link lost|error: Device is not responding" ||
        { echo "FAIL: neither a refused start nor a lost link before: $mark"; return 1; }
    for text in "$@"; do
        echo "$before" | grep -qF -- "$text" || { echo "FAIL: the log lacks: $text"; return 1; }
    done
    sed -n "/$mark/,\$p" "$log" | grep -q ", 0 lost (0 gaps), stop state: idle" ||
        { echo "FAIL: no clean measurement after: $mark"; return 1; }
}

# vanished DEVICE-LOG WHEN: the device program went away at that moment.
vanished() {
    grep -qF "vanishing $2" "$results/$1.log" || { echo "FAIL: the device did not vanish $2"; return 1; }
}

# check_case CASE: the case's own expectations.
check_case() {
    log="$results/$1.log"
    has() { grep -qF -- "$1" "$log" || { echo "FAIL: the log lacks: $1"; return 1; }; }
    refused() { has "the measurement did not start" && has "$1"; }
    case $1 in
    bt-find) has "found: Quorvane Halvex-4 BT" ;;
    bt-heavy)
        has ", 0 lost (0 gaps), stop state: idle" &&
            "$build/qd_e2e_host" --sim "$build/sim/libqvftd2xx.so" --check-csv "$results/bt-heavy.csv" \
                --model "Quorvane Halvex-4 BT" --rates 2000,2000,2000,2000 --range 6000 ;;
    bt-restart) [ "$(grep -c ', 0 lost (0 gaps), stop state: idle' "$log")" = 2 ] || { echo "FAIL: two clean runs expected"; return 1; } ;;
    bt-power)
        # The link is lost at once after the controller went off (not
        # through the data watchdog), and a new start after it came back
        # measures cleanly.
        sed -n '/hci1 power off/,/hci1 power on/p' "$log" | grep -q "error: Link lost." ||
            { echo "FAIL: no link loss while the device's controller was off"; return 1; }
        sed -n '/hci1 power off/,/hci1 power on/p' "$log" | grep -q "Device is not responding" &&
            { echo "FAIL: the loss was found by the data watchdog, not by the link"; return 1; }
        sed -n '/hci1 power on/,$p' "$log" | grep -q ", 0 lost (0 gaps), stop state: idle" ||
            { echo "FAIL: no clean measurement after the device's controller came back"; return 1; } ;;
    bt-drop)
        # A link error, then connected again, and the run ends as the host
        # stops it.
        sed -n '/drops the connection/,$p' "$log" | grep -q "link: link error" ||
            { echo "FAIL: the dropped connection was not seen"; return 1; }
        sed -n '/drops the connection/,$p' "$log" | grep -q "link: connected" ||
            { echo "FAIL: no reconnection"; return 1; }
        has "stop state: idle (QdStopMeasurement" ;;
    bt-upload) has "Firmware updated succesfully." ;;
    bt-vanish) vanished qvbtdevice "as the host connects" && refused_then_clean "hci1 power on" ;;
    bt-nochannel)
        refused_then_clean "the record is back" \
            "!SDP: the Serial Port service of 00:AA:01:01:00:01 names no RFCOMM channel" ;;
    ble-find) has "found: Quorvane Halvex+ 4 BLE" ;;
    ble-drop)
        # Bluetooth LE has no reconnection: the driver sees the link error
        # and ends the measurement; the stop finds the driver idle.
        sed -n '/drops the connection/,$p' "$log" | grep -q "link: link error" ||
            { echo "FAIL: the dropped connection was not seen"; return 1; }
        has "stop state: idle" ;;
    ble-vanish-connect) vanished qvbledevice "as the host connects" && refused_then_clean "hci1 power on" ;;
    ble-vanish-notify)
        vanished qvbledevice "as the host switches notifications on" && refused_then_clean "hci1 power on" ;;
    ble-gatt-missing) refused "!Too few service characteristics" ;;
    ble-gatt-flags) refused "!Setting descriptor values failed" ;;
    ble-heavy)
        has ", 0 lost (0 gaps), stop state: idle" &&
            "$build/qd_e2e_host" --sim "$build/sim/libqvftd2xx.so" --check-csv "$results/ble-heavy.csv" \
                --model "Quorvane Halvex+ 4 BLE" --rates 2000,2000,2000,2000 --range 6000 ;;
    ble-restart) [ "$(grep -c ', 0 lost (0 gaps), stop state: idle' "$log")" = 2 ] || { echo "FAIL: two clean runs expected"; return 1; } ;;
    ble-power)
        # A Bluetooth LE link's loss shows as silence: the driver's timers
        # end the measurement with the link-lost message. A new start after
        # the controller came back measures cleanly.
        sed -n '/hci1 power off/,/hci1 power on/p' "$log" | grep -q "error: Link lost." ||
            { echo "FAIL: no link loss while the device's controller was off"; return 1; }
        sed -n '/hci1 power on/,$p' "$log" | grep -q ", 0 lost (0 gaps), stop state: idle" ||
            { echo "FAIL: no clean measurement after the device's controller came back"; return 1; } ;;
    *) echo "btvm: no case $1"; return 2 ;;
    esac
}

# verdict CASE: the case's exit status, then its own checks.
verdict() {
    [ "$(cat "$results/$1.rc")" = 0 ] || { echo "FAIL: exit status $(cat "$results/$1.rc")"; return 1; }
    check_case "$1"
}

case ${1:-} in
prepare) usable || exit 0; exec "$here/image.sh" ;;
run)
    usable || exit 77
    "$here/image.sh" || exit 1
    rm -rf "$results"
    mkdir -p "$results"
    job=$(mktemp)
    printf 'sh "%s/tests/btvm/cases.sh" "%s" "%s"\n' "$root" "$build" "$results" >"$job"
    "$here/run.sh" "$job"
    rc=$?
    rm -f "$job"
    exit $rc ;;
verdict) verdict "$2" ;;
check)
    [ -f "$results/$2.rc" ] || { echo "btvm: the case $2 did not run in the machine"; exit 77; }
    [ ! -f "$results/$2.first.log" ] || {
        echo "---- the first try, which failed (the case then ran once more on a fresh stack):"
        cat "$results/$2.first.log"
        echo "---- the second try:"
    }
    cat "$results/$2.log"
    echo "---- exit $(cat "$results/$2.rc")"
    verdict "$2" ;;
*) echo "usage: $0 prepare | run | verdict CASE | check CASE" >&2; exit 2 ;;
esac
