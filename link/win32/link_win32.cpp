// link_win32.cpp - the link library's Windows services: Winsock and the
// Bluetooth LE library BluetoothAPIs.dll.
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

int linkSocketsStart(int *error) {
    WSADATA data;
    int rc = WSAStartup(514, &data);
    if (rc != 0) {
        if (error) *error = rc;
        return 0;
    }
    return 1;
}

void linkSocketsStop() { WSACleanup(); }

int linkSocketLastError() { return WSAGetLastError(); }

int32_t linkSocketSend(uintptr_t socket, const void *data, int32_t length) {
    int sent = send((SOCKET)socket, static_cast<const char *>(data), length, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int linkSocketPending(uintptr_t socket, uint32_t *count) {
    u_long waiting = 0;
    if (ioctlsocket((SOCKET)socket, FIONREAD, &waiting) == SOCKET_ERROR) return -1;
    *count = (uint32_t)waiting;
    return 0;
}

int32_t linkSocketRecvByte(uintptr_t socket, void *buffer) {
    int got = recv((SOCKET)socket, static_cast<char *>(buffer), 1, 0);
    return got == SOCKET_ERROR ? -1 : got;
}

int linkSocketClose(uintptr_t socket) { return closesocket((SOCKET)socket) == SOCKET_ERROR ? -1 : 0; }
