// ble_peripheral.h - a simulated Bluetooth LE device as a peripheral of the
// machine's real Bluetooth stack (qvbtdevice --ble): bluetoothd on the
// system bus serves the device's GATT service from an application of ours
// and advertises it; hosts on other controllers find, connect and use it
// like the real device.
#pragma once

#include <cstddef>

namespace ftsim {

// Where the peripheral's lines go (what happened, a detail).
typedef void (*PeripheralSay)(const char *text, const char *detail);

// Registers the GATT application (the device contract's service and its
// characteristics, in their order and with their flags) and an
// advertisement of the service with the device's name on the adapter at
// adapterPath ("/org/bluez/hci1"), for the simulated BLE device of a slot;
// then serves bluetoothd's calls and sends what the device has for its host
// from a thread of its own. True once both registrations succeeded.
bool peripheralStart(int slot, const char *adapterPath, PeripheralSay say);
// Ends the host's connection to the device (the device drops the link);
// false when no host is connected.
bool peripheralDrop();
void peripheralStop();

}  // namespace ftsim
