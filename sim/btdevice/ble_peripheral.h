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
// The service's shape: as the device has it, or one of the bad ones a host
// must refuse (the characteristic at the last position missing; the data
// characteristics without "notify").
enum PeripheralShape { SHAPE_DEVICE = 0, SHAPE_MISSING_CHARACTERISTIC, SHAPE_NO_NOTIFY };
bool peripheralStart(int slot, const char *adapterPath, PeripheralShape shape, PeripheralSay say);
// The device goes away (its adapter is switched off) once, at the next
// host's connection (while the host resolves the services) or at the next
// switch-on of notifications.
enum PeripheralVanish { VANISH_NEVER = 0, VANISH_AT_CONNECT, VANISH_AT_NOTIFY };
void peripheralArm(PeripheralVanish when);
// Ends the host's connection to the device (the device drops the link);
// false when no host is connected.
bool peripheralDrop();
void peripheralStop();

}  // namespace ftsim
