// ble_api.h - the Bluetooth LE GATT functions of BluetoothAPIs.dll, bound at
// run time by linkBleLoad (link_win32.cpp) in this order. The Bluetooth LE
// transport casts each to its own prototype before calling it.
#pragma once

#include <windows.h>

struct BleApi {
    HMODULE module;  // null while the library is not loaded
    FARPROC getServices;
    FARPROC getCharacteristics;
    FARPROC getDescriptors;
    FARPROC getCharacteristicValue;
    FARPROC getDescriptorValue;
    FARPROC setCharacteristicValue;
    FARPROC setDescriptorValue;
    FARPROC registerEvent;
    FARPROC unregisterEvent;
};

extern BleApi g_bleApi;
