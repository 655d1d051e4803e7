// ble_abi.h - how the Bluetooth LE GATT functions are called on Windows:
// __stdcall (WINAPI, and CALLBACK for the event callback) in 32-bit
// processes; 64-bit compilers have one convention and ignore the keyword.
// Libraries that implement them (the simulator) export them through a
// definition file, so no export mark is needed.
#pragma once

#define BLE_CALL __stdcall
#define BLE_EXPORT
