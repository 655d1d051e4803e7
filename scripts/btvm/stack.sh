#!/bin/sh
# stack.sh: brings the Bluetooth stack of the test machine up (run by
# guest-init before the job): the kernel's modules, the system bus, two
# virtual controllers on one virtual air (btvirt -l2), bluetoothd, both
# controllers powered, hci1 (the device's) named, connectable and
# discoverable; bluetoothd in its compatibility mode (-C), so that the
# device side can add its Serial Port record to the SDP server. Every wait has a bound. Exit 0 when both adapters are on.
log=/tmp/btvm-stack.log
say() { echo "btvm: $*"; }
for m in bluetooth hci_vhci rfcomm bnep; do modprobe "$m" 2>>"$log"; done
[ -c /dev/vhci ] || { say "no /dev/vhci: $(cat $log)"; exit 1; }
mkdir -p /run/dbus /var/lib/bluetooth
# What bluetoothd learns of remote devices stays in this boot only.
mount -t tmpfs btstate /var/lib/bluetooth
dbus-daemon --system --fork --nopidfile || { say "the system bus did not start"; exit 1; }

# waitfor SECONDS COMMAND...: retries COMMAND every 0.2 s until it succeeds.
waitfor() {
    n=$(( $1 * 5 )); shift
    while [ $n -gt 0 ]; do "$@" >/dev/null 2>&1 && return 0; sleep 0.2; n=$((n - 1)); done
    return 1
}
btvirt -l2 >/tmp/btvirt.log 2>&1 &
waitfor 30 test -e /sys/class/bluetooth/hci1 || { say "btvirt made no hci1: $(cat /tmp/btvirt.log)"; exit 1; }
/usr/libexec/bluetooth/bluetoothd -n -E -C ${QD_BTVM_BLUETOOTHD_DEBUG:+-d} >/tmp/bluetoothd.log 2>&1 &
has_adapter() {
    dbus-send --system --print-reply --dest=org.bluez "/org/bluez/$1" \
        org.freedesktop.DBus.Properties.Get string:org.bluez.Adapter1 string:Address
}
waitfor 30 has_adapter hci0 && waitfor 30 has_adapter hci1 ||
    { say "bluetoothd shows no two adapters: $(tail -n 20 /tmp/bluetoothd.log)"; exit 1; }
mgmt() { timeout 10 btmgmt --index "$@" </dev/null >>"$log" 2>&1; }
mgmt 0 power on && mgmt 1 power on &&
    mgmt 1 name "${QD_BTVM_NAME:-Quorvane Halvex*}" && mgmt 1 connectable on && mgmt 1 discov yes ||
    { say "btmgmt failed: $(tail -n 20 $log)"; exit 1; }
powered() {
    dbus-send --system --print-reply --dest=org.bluez "/org/bluez/$1" \
        org.freedesktop.DBus.Properties.Get string:org.bluez.Adapter1 string:Powered | grep -q "true"
}
waitfor 20 powered hci0 && waitfor 20 powered hci1 || { say "the adapters are not powered"; exit 1; }
say "stack up: $(cat /sys/class/bluetooth/hci0/address 2>/dev/null) $(cat /sys/class/bluetooth/hci1/address 2>/dev/null)"
exit 0
