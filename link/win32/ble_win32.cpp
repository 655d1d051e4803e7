// ble_win32.cpp - the GATT seam on Windows: the nine GATT functions of
// BluetoothAPIs.dll, bound at run time, and the device list through SetupAPI
// and the configuration manager (the present interfaces of the device's
// service class, the device name of each interface's parent node).
//
// A BluetoothAPIs.dll that also exports the list functions (QvBleListBegin
// ...) is the simulator's stand-in, which a host loads from its own folder
// before the driver starts the link library; its list and its device handles
// are used then, and the log says so.
#include <windows.h>

#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "link/ble_gatt.h"
#include "link/link_internal.h"

namespace {

HMODULE g_module = nullptr;
BleGattApi g_api = {};

GUID serviceGuid() {
    GUID g;
    static_assert(sizeof g == sizeof BLE_SERVICE_GUID, "a GUID is a GUID");
    std::memcpy(&g, &BLE_SERVICE_GUID, sizeof g);
    return g;
}

// One listing: the interface set, and the device node of the interface
// whose path was read last (its name is asked for next).
struct WinList {
    HDEVINFO info;
    bool haveNode;
    uint32_t nodeIndex;
    DEVINST node;
};

void *BLE_CALL listBegin(const char *) {
    GUID guid = serviceGuid();
    WinList *list = new (std::nothrow) WinList();
    if (!list) return nullptr;
    // A set that cannot be made lists nothing.
    list->info = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    return list;
}

int BLE_CALL listPath(void *handle, uint32_t index, char *path, uint32_t size) {
    WinList *list = static_cast<WinList *>(handle);
    if (list->info == INVALID_HANDLE_VALUE) return BLE_LIST_END;
    GUID guid = serviceGuid();
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(list->info, nullptr, &guid, index, &data)) {
        return GetLastError() == ERROR_NO_MORE_ITEMS ? BLE_LIST_END : BLE_LIST_FAILED;
    }
    DWORD needed = 0;
    if (SetupDiGetDeviceInterfaceDetailA(list->info, &data, nullptr, 0, &needed, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return BLE_LIST_SKIP;
    }
    auto *detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(std::calloc(1, needed + 1));
    if (!detail) return BLE_LIST_FAILED;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA node;
    node.cbSize = sizeof node;
    int result = BLE_LIST_FAILED;
    if (SetupDiGetDeviceInterfaceDetailA(list->info, &data, detail, needed, nullptr, &node)) {
        // A path too long for the link's buffers cannot be opened by it.
        result = std::strlen(detail->DevicePath) < size ? BLE_LIST_OK : BLE_LIST_SKIP;
        if (result == BLE_LIST_OK) std::strcpy(path, detail->DevicePath);
        list->haveNode = true;
        list->nodeIndex = index;
        list->node = node.DevInst;
    }
    std::free(detail);
    return result;
}

int BLE_CALL listName(void *handle, uint32_t index, char *name, uint32_t size) {
    WinList *list = static_cast<WinList *>(handle);
    if (!list->haveNode || list->nodeIndex != index || size == 0) return -1;
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, list->node, 0) != CR_SUCCESS) return -1;
    // The device name of the parent node.
    static const DEVPROPKEY nameKey = {{0xB725F130, 0x47EF, 0x101A, {0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC}},
                                       10};
    WCHAR wide[256];
    ULONG bytes = sizeof wide - sizeof(WCHAR);
    DEVPROPTYPE type = 0;
    if (CM_Get_DevNode_PropertyW(parent, &nameKey, &type, reinterpret_cast<PBYTE>(wide), &bytes, 0) != CR_SUCCESS ||
        type != DEVPROP_TYPE_STRING) {
        return -1;
    }
    wide[bytes / sizeof(WCHAR)] = 0;
    int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, name, (int)size, nullptr, nullptr);
    return n > 0 ? 0 : -1;
}

void BLE_CALL listEnd(void *handle) {
    WinList *list = static_cast<WinList *>(handle);
    if (list->info != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(list->info);
    delete list;
}

void *BLE_CALL openDevice(const char *path, uint32_t *error) {
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (error) *error = GetLastError();
        return BLE_INVALID_DEVICE;
    }
    return h;
}

void BLE_CALL closeDevice(void *device) { CloseHandle(device); }

void *procOf(void *module, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name));
}

}  // namespace

void linkBleLoad() {
    if (g_module) return;
    HMODULE module = LoadLibraryA("BluetoothAPIs.dll");
    if (!module) {
        linkLog("!Cannot load library BluetoothAPIs.dll\n");
        return;
    }
    BleGattApi api = {};
    if (!bleGattBind(&api, BLE_GATT_FUNCTIONS, procOf, module)) {
        linkLog("!Cannot find required BLE function in BluetoothAPIs.dll library\n");
        FreeLibrary(module);
        return;
    }
    if (bleGattBind(&api, BLE_STANDIN_FUNCTIONS, procOf, module)) {
        char file[MAX_PATH] = {0};
        GetModuleFileNameA(module, file, sizeof file - 1);
        linkLog("#BLE functions and device list of the stand-in %s\n", file);
    } else {
        api.listBegin = listBegin;
        api.listPath = listPath;
        api.listName = listName;
        api.listEnd = listEnd;
        api.openDevice = openDevice;
        api.closeDevice = closeDevice;
    }
    g_api = api;
    g_module = module;
    linkBleSetSystemGatt(&g_api);
}

void linkBleUnload() {
    linkBleSetSystemGatt(nullptr);
    if (g_module) FreeLibrary(g_module);
    g_module = nullptr;
    g_api = BleGattApi{};
}
