// link_win32.cpp - the link library's Windows services: the Bluetooth LE
// library BluetoothAPIs.dll (Winsock is the socket table of
// sockets_win32.cpp).
#include <winsock2.h>
#include <windows.h>

#include <cstring>

#include "link/link_internal.h"
#include "link/win32/ble_api.h"

BleApi g_bleApi = {};

void linkBleLoad() {
    if (g_bleApi.module) return;
    HMODULE module = LoadLibraryA("BluetoothAPIs.dll");
    if (!module) {
        linkLog("!Cannot load library BluetoothAPIs.dll\n");
        return;
    }
    static const char *const names[9] = {
        "BluetoothGATTGetServices",           "BluetoothGATTGetCharacteristics",
        "BluetoothGATTGetDescriptors",        "BluetoothGATTGetCharacteristicValue",
        "BluetoothGATTGetDescriptorValue",    "BluetoothGATTSetCharacteristicValue",
        "BluetoothGATTSetDescriptorValue",    "BluetoothGATTRegisterEvent",
        "BluetoothGATTUnregisterEvent",
    };
    FARPROC *const slots[9] = {
        &g_bleApi.getServices,         &g_bleApi.getCharacteristics,  &g_bleApi.getDescriptors,
        &g_bleApi.getCharacteristicValue, &g_bleApi.getDescriptorValue, &g_bleApi.setCharacteristicValue,
        &g_bleApi.setDescriptorValue,  &g_bleApi.registerEvent,       &g_bleApi.unregisterEvent,
    };
    for (int i = 0; i < 9; ++i) {
        *slots[i] = GetProcAddress(module, names[i]);
        if (!*slots[i]) {
            linkLog("!Cannot find required BLE function in BluetoothAPIs.dll library\n");
            FreeLibrary(module);
            g_bleApi = BleApi{};
            return;
        }
    }
    g_bleApi.module = module;
}

void linkBleUnload() {
    if (g_bleApi.module) FreeLibrary(g_bleApi.module);
    g_bleApi = BleApi{};
}

bool linkBleLoaded() { return g_bleApi.module != nullptr; }
