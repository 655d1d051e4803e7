// ble_abi.h - how the Bluetooth LE GATT functions of link/ble_gatt.h are
// called on Linux: the default convention. Libraries that implement them
// (the simulator) are built with hidden symbols and export these by name.
#pragma once

#define BLE_CALL
#define BLE_EXPORT __attribute__((visibility("default")))
