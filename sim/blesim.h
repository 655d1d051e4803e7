// blesim.h - the simulated Bluetooth LE devices of sim/ftsim.h as a GATT
// table of the link's seam (link/ble_gatt.h), for programs that link the
// simulator in-process: linkBleUseGatt(ftsimBleGattApi()) makes the link
// talk to them. Programs that load the simulator library reach the same
// functions by name (BluetoothGATT*, QvBle*).
#pragma once

#include "link/ble_gatt.h"

const BleGattApi *ftsimBleGattApi();
