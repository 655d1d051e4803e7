// blesim_gatt.cpp - the GATT face of the simulated Bluetooth LE devices: the
// nine GATT functions of the link's seam with the Windows names and
// behaviour (count queries answer with more data, results are HRESULTs), and
// the device list of a stand-in (QvBle*): the present devices in slot order,
// with paths as Windows writes them.
//
// Device handles name the slot and the open, so that a handle of an earlier
// open, or of a device gone out of range, fails.
#include <cstring>
#include <new>

#include "os/os.h"
#include "sim/blesim.h"
#include "sim/blesim_internal.h"

using namespace ftsim;

namespace {

const uintptr_t DEVICE_TAG = 0x5B000000u;
const uintptr_t EVENT_TAG = 0x5C000000u;

// System errors of the open.
const uint32_t ERROR_FILE_NOT_FOUND = 2, ERROR_ACCESS_DENIED = 5, ERROR_SHARING_VIOLATION = 32;
// The device's answer to a write it does not take: its characteristics are
// written without response only.
const BleResult ATT_WRITE_NOT_PERMITTED = (BleResult)0x80650003u;

void *makeHandle(uintptr_t tag, int index) {
    return reinterpret_cast<void *>(tag | ((uintptr_t)(g_ble[index].openSerial & 0xFFFF) << 8) | (uintptr_t)index);
}

// The slot a handle of a tag names, or -1 (the open need not be current).
int slotOf(const void *handle, uintptr_t tag) {
    uintptr_t v = reinterpret_cast<uintptr_t>(handle);
    int index = (int)(v & 0xFF);
    if ((v & ~(uintptr_t)0xFFFFFF) != tag || index >= FTSIM_MAX || !g_tx[index].used || g_tx[index].kind != PORT_BLE) return -1;
    return ((v >> 8) & 0xFFFF) == (g_ble[index].openSerial & 0xFFFF) ? index : -1;
}

// Runs one locked, counted call on the device of an open handle.
template <typename F>
BleResult onDevice(void *device, F body) {
    countCall(FTSIM_CALL_GATT);
    OsLockGuard guard(&g_lock);
    int index = slotOf(device, DEVICE_TAG);
    if (index < 0 || !g_ble[index].open || g_ble[index].front != FRONT_GATT) return BLE_E_INVALIDARG;
    if (g_ble[index].dead || !g_tx[index].present) return BLE_E_NOT_CONNECTED;
    return body(index, &g_ble[index]);
}

void longUuid(BleUuid *u, const BleGuid &g) {
    std::memset(u, 0, sizeof *u);
    u->value.longUuid = g;
}

void fillCharacteristic(const BleFace *b, int position, BleGattCharacteristic *ch) {
    int role = bleRoleAt(b, position);
    std::memset(ch, 0, sizeof *ch);
    ch->serviceHandle = BLE_SERVICE_HANDLE;
    longUuid(&ch->characteristicUuid, BLE_CHARACTERISTIC_GUIDS[role]);
    ch->attributeHandle = bleHandleOfPosition(position);
    ch->characteristicValueHandle = (uint16_t)(ch->attributeHandle + 1);
    ch->isWritableWithoutResponse = role < 2;
    ch->isNotifiable = role < 2;
    ch->isReadable = role == 2;
}

// A time-out of ms: on the manual clock it passes at once.
void elapse(uint32_t ms) {
    if (osClockIsManual()) {
        osClockAdvance(ms);
    } else {
        osSleep(ms);
    }
}

bool anyRegistered() {
    for (int i = 0; i < FTSIM_MAX; ++i) {
        if (g_tx[i].used && g_tx[i].kind == PORT_BLE && g_ble[i].registered && g_ble[i].front == FRONT_GATT) return true;
    }
    return false;
}

struct SimList {
    int count;
    int index[FTSIM_MAX];
};

}  // namespace

extern "C" {

BLE_EXPORT BleResult BLE_CALL BluetoothGATTGetServices(void *device, uint16_t count, BleGattService *services,
                                                       uint16_t *actual, uint32_t) {
    return onDevice(device, [&](int, BleFace *b) -> BleResult {
        if (!actual) return BLE_E_INVALIDARG;
        if (b->faults & FTSIM_BLE_FAIL_SERVICES) return BLE_E_FAIL;
        if (count == 0 || !services) {
            *actual = 1;
            return BLE_E_MORE_DATA;
        }
        if (b->faults & FTSIM_BLE_FAIL_SERVICES_READ) return BLE_E_FAIL;
        *actual = (b->faults & FTSIM_BLE_FAIL_SERVICE_READ_EMPTY) ? 0 : 1;
        longUuid(&services[0].serviceUuid, BLE_SERVICE_GUID);
        services[0].attributeHandle = BLE_SERVICE_HANDLE;
        return BLE_OK;
    });
}

BLE_EXPORT BleResult BLE_CALL BluetoothGATTGetCharacteristics(void *device, BleGattService *service, uint16_t count,
                                                              BleGattCharacteristic *out, uint16_t *actual,
                                                              uint32_t) {
    return onDevice(device, [&](int, BleFace *b) -> BleResult {
        if (!service || service->attributeHandle != BLE_SERVICE_HANDLE || !actual) return BLE_E_INVALIDARG;
        if (b->faults & FTSIM_BLE_FAIL_CHARACTERISTICS) return BLE_E_FAIL;
        int n = bleCharacteristicCount(b);
        *actual = (uint16_t)n;
        if (count == 0 || !out) return BLE_E_MORE_DATA;
        if (b->faults & FTSIM_BLE_FAIL_CHARACTERISTICS_READ) return BLE_E_FAIL;
        for (int p = 0; p < n && p < count; ++p) fillCharacteristic(b, p, &out[p]);
        return count < n ? BLE_E_MORE_DATA : BLE_OK;
    });
}

BLE_EXPORT BleResult BLE_CALL BluetoothGATTGetDescriptors(void *device, BleGattCharacteristic *characteristic,
                                                          uint16_t count, BleGattDescriptor *out, uint16_t *actual,
                                                          uint32_t) {
    return onDevice(device, [&](int, BleFace *b) -> BleResult {
        int p = characteristic ? blePositionOfHandle(b, characteristic->attributeHandle, false) : -1;
        if (p < 0 || !actual) return p < 0 ? BLE_E_NOT_FOUND : BLE_E_INVALIDARG;
        if (b->faults & FTSIM_BLE_FAIL_DESCRIPTORS) return BLE_E_FAIL;
        // The notifiable characteristics have their client configuration.
        int n = bleRoleAt(b, p) < 2 ? 1 : 0;
        *actual = (uint16_t)n;
        if (count == 0 || !out) return n > 0 ? BLE_E_MORE_DATA : BLE_OK;
        if (n > 0) {
            std::memset(&out[0], 0, sizeof out[0]);
            out[0].serviceHandle = BLE_SERVICE_HANDLE;
            out[0].characteristicHandle = bleHandleOfPosition(p);
            out[0].descriptorType = BLE_DESCRIPTOR_CLIENT_CONFIGURATION;
            out[0].descriptorUuid.isShortUuid = 1;
            out[0].descriptorUuid.value.shortUuid = BLE_CLIENT_CONFIGURATION_UUID;
            out[0].attributeHandle = (uint16_t)(bleHandleOfPosition(p) + 2);
        }
        return BLE_OK;
    });
}

// The link never reads values; a device of this contract has none to read.
BLE_EXPORT BleResult BLE_CALL BluetoothGATTGetCharacteristicValue(void *device, BleGattCharacteristic *, uint32_t,
                                                                  BleGattValue *, uint16_t *, uint32_t) {
    return onDevice(device, [&](int, BleFace *) -> BleResult { return BLE_E_FAIL; });
}

BLE_EXPORT BleResult BLE_CALL BluetoothGATTGetDescriptorValue(void *device, BleGattDescriptor *, uint32_t,
                                                              BleGattDescriptorValue *, uint16_t *, uint32_t) {
    return onDevice(device, [&](int, BleFace *) -> BleResult { return BLE_E_FAIL; });
}

BLE_EXPORT BleResult BLE_CALL BluetoothGATTSetCharacteristicValue(void *device, BleGattCharacteristic *characteristic,
                                                                  BleGattValue *value, uint64_t, uint32_t flags) {
    return onDevice(device, [&](int index, BleFace *b) -> BleResult {
        int p = characteristic ? blePositionOfHandle(b, characteristic->attributeHandle, false) : -1;
        if (p < 0) return BLE_E_NOT_FOUND;
        if (!value) return BLE_E_INVALIDARG;
        if (!(flags & BLE_FLAG_WRITE_WITHOUT_RESPONSE)) return ATT_WRITE_NOT_PERMITTED;
        if (b->faults & FTSIM_BLE_FAIL_WRITE) return BLE_E_FAIL;
        return bleHostWrite(index, bleRoleAt(b, p), value->data, value->dataSize) ? BLE_OK : BLE_E_INVALIDARG;
    });
}

BLE_EXPORT BleResult BLE_CALL BluetoothGATTSetDescriptorValue(void *device, BleGattDescriptor *descriptor,
                                                              BleGattDescriptorValue *value, uint32_t) {
    return onDevice(device, [&](int index, BleFace *b) -> BleResult {
        int p = descriptor ? blePositionOfHandle(b, descriptor->attributeHandle, true) : -1;
        if (p < 0) return BLE_E_NOT_FOUND;
        if (!value || descriptor->descriptorType != BLE_DESCRIPTOR_CLIENT_CONFIGURATION) return BLE_E_INVALIDARG;
        if (b->faults & FTSIM_BLE_DESCRIPTOR_TIMEOUT) {
            elapse(b->faultParam);
            return BLE_E_TIMEOUT;
        }
        if ((b->faults & FTSIM_BLE_DESCRIPTOR_ABORT) && !b->abortDone) {
            b->abortDone = true;
            return BLE_E_ABORT;
        }
        bleSubscribe(index, bleRoleAt(b, p), value->clientConfiguration.isSubscribeToNotification != 0);
        return BLE_OK;
    });
}

BLE_EXPORT BleResult BLE_CALL BluetoothGATTRegisterEvent(void *device, int32_t eventType, void *parameter,
                                                         BleEventCallback callback, void *context, void **handle,
                                                         uint32_t) {
    BleResult r = onDevice(device, [&](int index, BleFace *b) -> BleResult {
        auto *in = static_cast<BleGattEventRegistration *>(parameter);
        if (eventType != BLE_EVENT_VALUE_CHANGED || !in || !callback || !handle || b->registered ||
            in->numCharacteristics == 0 || in->numCharacteristics > BLE_EVENT_MAX_CHARACTERISTICS) {
            return BLE_E_INVALIDARG;
        }
        for (int k = 0; k < in->numCharacteristics; ++k) {
            if (blePositionOfHandle(b, in->characteristics[k].attributeHandle, false) < 0) return BLE_E_NOT_FOUND;
        }
        if (b->faults & FTSIM_BLE_FAIL_REGISTER) return BLE_E_FAIL;
        b->registeredRoles = 0;
        for (int k = 0; k < in->numCharacteristics; ++k) {
            int p = blePositionOfHandle(b, in->characteristics[k].attributeHandle, false);
            b->registeredRoles = (uint8_t)(b->registeredRoles | (1u << bleRoleAt(b, p)));
        }
        b->registered = true;
        b->callback = callback;
        b->context = context;
        *handle = makeHandle(EVENT_TAG, index);
        return BLE_OK;
    });
    if (r == BLE_OK) bleEnsurePump();
    return r;
}

BLE_EXPORT BleResult BLE_CALL BluetoothGATTUnregisterEvent(void *handle, uint32_t) {
    countCall(FTSIM_CALL_GATT);
    bool last = false;
    {
        OsLockGuard guard(&g_lock);
        int index = slotOf(handle, EVENT_TAG);
        if (index < 0) return BLE_E_INVALIDARG;
        g_ble[index].registered = false;
        g_ble[index].registeredRoles = 0;
        g_ble[index].callback = nullptr;
        last = !anyRegistered();
    }
    // No event is delivered after this returns: the delivery runs under the
    // lock, and its thread ends with the last registration.
    if (last) bleStopPump();
    return BLE_OK;
}

BLE_EXPORT void *BLE_CALL QvBleListBegin(const char *) {
    countCall(FTSIM_CALL_GATT);
    SimList *list = new (std::nothrow) SimList();
    if (!list) return nullptr;
    OsLockGuard guard(&g_lock);
    for (int i = 0; i < FTSIM_MAX; ++i) {
        if (bleDevice(i)) list->index[list->count++] = i;
    }
    return list;
}

BLE_EXPORT int BLE_CALL QvBleListPath(void *handle, uint32_t index, char *path, uint32_t size) {
    const SimList *list = static_cast<const SimList *>(handle);
    if (!list || index >= (uint32_t)list->count) return BLE_LIST_END;
    OsLockGuard guard(&g_lock);
    int slot = list->index[index];
    if (!bleDevice(slot) || std::strlen(g_ble[slot].path) >= size) return BLE_LIST_SKIP;
    copyText(path, size, g_ble[slot].path);
    return BLE_LIST_OK;
}

BLE_EXPORT int BLE_CALL QvBleListName(void *handle, uint32_t index, char *name, uint32_t size) {
    const SimList *list = static_cast<const SimList *>(handle);
    if (!list || index >= (uint32_t)list->count || size == 0) return -1;
    OsLockGuard guard(&g_lock);
    int slot = list->index[index];
    if (!bleDevice(slot) || (g_ble[slot].faults & FTSIM_BLE_NO_NAME)) return -1;
    copyText(name, size, g_ble[slot].name);
    return 0;
}

BLE_EXPORT void BLE_CALL QvBleListEnd(void *handle) { delete static_cast<SimList *>(handle); }

BLE_EXPORT void *BLE_CALL QvBleOpenDevice(const char *path, uint32_t *error) {
    countCall(FTSIM_CALL_GATT);
    OsLockGuard guard(&g_lock);
    uint32_t why = ERROR_FILE_NOT_FOUND;
    for (int i = 0; path && i < FTSIM_MAX; ++i) {
        if (!bleDevice(i) || std::strcmp(g_ble[i].path, path) != 0) continue;
        if (g_ble[i].faults & FTSIM_BLE_FAIL_OPEN) {
            why = ERROR_ACCESS_DENIED;
        } else if (!bleOpen(i, FRONT_GATT)) {
            why = ERROR_SHARING_VIOLATION;
        } else {
            return makeHandle(DEVICE_TAG, i);
        }
        break;
    }
    if (error) *error = why;
    return BLE_INVALID_DEVICE;
}

BLE_EXPORT void BLE_CALL QvBleCloseDevice(void *device) {
    countCall(FTSIM_CALL_GATT);
    OsLockGuard guard(&g_lock);
    int index = slotOf(device, DEVICE_TAG);
    if (index >= 0 && g_ble[index].front == FRONT_GATT) bleClose(index);
}

}  // extern "C"

const BleGattApi *ftsimBleGattApi() {
    static const BleGattApi api = {
        BluetoothGATTGetServices,         BluetoothGATTGetCharacteristics,     BluetoothGATTGetDescriptors,
        BluetoothGATTGetCharacteristicValue, BluetoothGATTGetDescriptorValue, BluetoothGATTSetCharacteristicValue,
        BluetoothGATTSetDescriptorValue,  BluetoothGATTRegisterEvent,          BluetoothGATTUnregisterEvent,
        QvBleListBegin,                   QvBleListPath,                       QvBleListName,
        QvBleListEnd,                     QvBleOpenDevice,                     QvBleCloseDevice,
        nullptr,
    };
    return &api;
}
