// ble_posix.cpp - which GATT functions the Bluetooth LE link uses on Linux:
// BlueZ over D-Bus (ble_bluez.cpp), the system's Bluetooth stack; or, when a
// host has loaded the simulator's stand-in library (libqvbluetoothapis.so,
// the counterpart of the simulator's BluetoothAPIs.dll on Windows) before
// the driver starts its link library, the simulator's GATT functions and
// device list, which the log names.
#include <dlfcn.h>
#include <link.h>

#include "link/ble_gatt.h"
#include "link/link_internal.h"

extern const BleGattApi g_bluezGatt;

static const char *const BLE_STANDIN_LIBRARY = "libqvbluetoothapis.so";
static void *g_standin = nullptr;
static BleGattApi g_standinGatt = {};

// The stand-in holds no code of its own: its functions are found in the
// libraries it depends on.
static void *symbolOf(void *library, const char *name) { return dlsym(library, name); }

void linkBleLoad() {
    if (g_standin) return;
    void *standin = dlopen(BLE_STANDIN_LIBRARY, RTLD_LAZY | RTLD_NOLOAD);
    if (!standin) {
        linkBleSetSystemGatt(&g_bluezGatt);
        return;
    }
    BleGattApi api = {};
    if (!bleGattBind(&api, BLE_STANDIN_FUNCTIONS, symbolOf, standin)) {
        linkLog("!Cannot find required BLE function in %s library\n", BLE_STANDIN_LIBRARY);
        dlclose(standin);
        linkBleSetSystemGatt(&g_bluezGatt);
        return;
    }
    struct link_map *map = nullptr;
    const char *file = dlinfo(standin, RTLD_DI_LINKMAP, &map) == 0 && map ? map->l_name : BLE_STANDIN_LIBRARY;
    linkLog("#BLE functions and device list of the stand-in %s\n", file);
    g_standinGatt = api;
    g_standin = standin;
    linkBleSetSystemGatt(&g_standinGatt);
}

void linkBleUnload() {
    linkBleSetSystemGatt(nullptr);
    if (g_standin) dlclose(g_standin);
    g_standin = nullptr;
}
