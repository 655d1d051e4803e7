// ble_gatt.h - the GATT seam of the Bluetooth LE link, and the device
// contract it carries (service, characteristics, flow-control messages).
//
// The Bluetooth LE link (link/ble.cpp) talks to a device through one table of
// functions, BleGattApi:
//   - nine GATT client functions with the signatures, records and result
//     codes of the Windows functions of BluetoothAPIs.dll
//     (BluetoothGATTGetServices ... BluetoothGATTUnregisterEvent). The
//     records below are our own declarations with the Windows layout, so
//     that the functions bound from that library can be called through them;
//   - the device list: the present device interfaces of the service with
//     their paths and device names, and the open and close of one interface.
//
// Who fills the table (linkBleLoad, at library start):
//   - Windows: BluetoothAPIs.dll, loaded by name, and SetupAPI with the
//     configuration manager for the list (link/win32/ble_win32.cpp). When the
//     loaded BluetoothAPIs.dll also exports the list functions (QvBleListBegin
//     ...), it is the simulator's stand-in, and its list is used.
//   - Linux: BlueZ over D-Bus (link/posix/ble_bluez.cpp), or the simulator's
//     GATT functions when a host has loaded the stand-in library
//     libqvbluetoothapis.so (link/posix/ble_posix.cpp).
//   - Tests: the simulator's table, installed with linkBleUseGatt.
//
// Results are HRESULT values (0 = success). Handles are opaque pointers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// BLE_CALL: the calling convention of these functions on this system
// (link/<platform>/ble_abi.h).
#include "ble_abi.h"

// ---------------------------------------------------------------------------
// Result codes
// ---------------------------------------------------------------------------

typedef int32_t BleResult;
const BleResult BLE_OK = 0;
const BleResult BLE_E_MORE_DATA = (BleResult)0x800700EAu;     // a count query's normal answer
const BleResult BLE_E_TIMEOUT = (BleResult)0x80070079u;       // the device did not answer in time
const BleResult BLE_E_ABORT = (BleResult)0x80004004u;         // the operation was aborted
const BleResult BLE_E_INVALIDARG = (BleResult)0x80070057u;
const BleResult BLE_E_OUTOFMEMORY = (BleResult)0x8007000Eu;
const BleResult BLE_E_FAIL = (BleResult)0x80004005u;
const BleResult BLE_E_NOT_FOUND = (BleResult)0x80070490u;     // no such element
const BleResult BLE_E_NOT_CONNECTED = (BleResult)0x8007048Fu; // the device is not connected

// ---------------------------------------------------------------------------
// Records (Windows layout)
// ---------------------------------------------------------------------------

struct BleGuid {
    uint32_t data1;
    uint16_t data2, data3;
    uint8_t data4[8];
};

struct BleUuid {
    uint8_t isShortUuid;
    union {
        uint16_t shortUuid;
        BleGuid longUuid;
    } value;
};

struct BleGattService {
    BleUuid serviceUuid;
    uint16_t attributeHandle;
};

struct BleGattCharacteristic {
    uint16_t serviceHandle;
    BleUuid characteristicUuid;
    uint16_t attributeHandle;
    uint16_t characteristicValueHandle;
    uint8_t isBroadcastable;
    uint8_t isReadable;
    uint8_t isWritable;
    uint8_t isWritableWithoutResponse;
    uint8_t isSignedWritable;
    uint8_t isNotifiable;
    uint8_t isIndicatable;
    uint8_t hasExtendedProperties;
};

// Descriptor types (an enum of 32 bits).
enum : int32_t {
    BLE_DESCRIPTOR_EXTENDED_PROPERTIES = 0,
    BLE_DESCRIPTOR_USER_DESCRIPTION = 1,
    BLE_DESCRIPTOR_CLIENT_CONFIGURATION = 2,  // turns notifications on and off
};

struct BleGattDescriptor {
    uint16_t serviceHandle;
    uint16_t characteristicHandle;
    int32_t descriptorType;
    BleUuid descriptorUuid;
    uint16_t attributeHandle;
};

struct BleGattDescriptorValue {
    int32_t descriptorType;
    BleUuid descriptorUuid;
    union {
        struct {
            uint8_t isReliableWriteEnabled;
            uint8_t isAuxiliariesWritable;
        } extendedProperties;
        struct {
            uint8_t isBroadcast;
        } serverConfiguration;
        struct {
            uint8_t isSubscribeToNotification;
            uint8_t isSubscribeToIndication;
        } clientConfiguration;
        struct {
            uint8_t format;
            uint8_t exponent;
            BleUuid unit;
            uint8_t nameSpace;
            BleUuid description;
        } format;
    };
    uint32_t dataSize;
    uint8_t data[1];
};

// A characteristic value: dataSize bytes from data on. Callers that write a
// value of more than one byte pass a record of this layout with room for
// them (BleGattValueBuffer).
struct BleGattValue {
    uint32_t dataSize;
    uint8_t data[1];
};

// The largest value of this link, either way.
const uint32_t BLE_MAX_VALUE = 243;

struct BleGattValueBuffer {
    uint32_t dataSize;
    uint8_t data[BLE_MAX_VALUE];
};

// Event type of BleRegisterEventFn: a characteristic's value changed.
const int32_t BLE_EVENT_VALUE_CHANGED = 0;

// What a value-changed event hands to the callback.
struct BleGattValueChangedEvent {
    uint16_t changedAttributeHandle;
    size_t characteristicValueDataSize;
    BleGattValue *characteristicValue;
};

// The characteristics a value-changed registration covers. The link
// registers two at once; a callee reads numCharacteristics entries.
const int BLE_EVENT_MAX_CHARACTERISTICS = 2;
struct BleGattEventRegistration {
    uint16_t numCharacteristics;
    BleGattCharacteristic characteristics[BLE_EVENT_MAX_CHARACTERISTICS];
};

static_assert(sizeof(BleUuid) == 20, "BleUuid has the Windows layout");
static_assert(sizeof(BleGattService) == 24, "BleGattService has the Windows layout");
static_assert(sizeof(BleGattCharacteristic) == 36, "BleGattCharacteristic has the Windows layout");
static_assert(sizeof(BleGattDescriptor) == 32, "BleGattDescriptor has the Windows layout");
static_assert(offsetof(BleGattDescriptorValue, dataSize) == 72, "BleGattDescriptorValue has the Windows layout");
static_assert(offsetof(BleGattEventRegistration, characteristics) == 4, "the registration has the Windows layout");

// Flags of the GATT calls.
const uint32_t BLE_FLAG_NONE = 0;
const uint32_t BLE_FLAG_WRITE_WITHOUT_RESPONSE = 0x20;

// ---------------------------------------------------------------------------
// The device contract
// ---------------------------------------------------------------------------

// The device's GATT service (also the device interface class listed on
// Windows), and its characteristics by position: 0 takes the data to the
// device and carries the device's flow-control messages; 1 carries the
// device's data and takes the host's flow-control messages; 2 must be there.
inline const BleGuid BLE_SERVICE_GUID = {0x331A36F5, 0x2459, 0x45EA, {0x9D, 0x95, 0x61, 0x42, 0xF0, 0xC4, 0xB3, 0x07}};
const int BLE_CHARACTERISTICS = 3;
inline const BleGuid BLE_CHARACTERISTIC_GUIDS[BLE_CHARACTERISTICS] = {
    {0xA9DA6040, 0x0823, 0x4995, {0x94, 0xEC, 0x9C, 0xE4, 0x1C, 0xA2, 0x88, 0x33}},
    {0xA73E9A10, 0x628F, 0x4494, {0xA0, 0x99, 0x12, 0xEF, 0xAF, 0x72, 0x25, 0x8F}},
    {0x75A9F022, 0xAF03, 0x4E41, {0xB4, 0xBC, 0x9D, 0xE9, 0x0A, 0x47, 0xD5, 0x0B}},
};
// The client characteristic configuration descriptor's short UUID.
const uint16_t BLE_CLIENT_CONFIGURATION_UUID = 0x2902;
inline bool bleGuidEqual(const BleGuid &a, const BleGuid &b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

// Flow-control message: a value of 3 bytes, type then a 16-bit
// little-endian count, in both directions.
enum : uint8_t { INITIAL_BUF_SIZE_MSG = 0, BUF_BYTES_FREED_MSG = 1 };
const uint32_t BLE_FLOW_MSG_SIZE = 3;

// The host's receive ring and its flow control: 2500 bytes of storage, of
// which 2499 can be held (the count the host announces); 2047 bytes of credit
// until the device announces its own buffer; freed space reported in steps
// of at least 210 bytes.
const uint32_t BLE_RING_SIZE = 2500;
const uint32_t BLE_RING_CAPACITY = BLE_RING_SIZE - 1;
const uint32_t BLE_INITIAL_CREDIT = 2047;
const uint32_t BLE_FREED_STEP = 210;

// ---------------------------------------------------------------------------
// Functions
// ---------------------------------------------------------------------------

typedef void(BLE_CALL *BleEventCallback)(int32_t eventType, void *eventOut, void *context);

typedef BleResult(BLE_CALL *BleGetServicesFn)(void *device, uint16_t count, BleGattService *services,
                                              uint16_t *actual, uint32_t flags);
typedef BleResult(BLE_CALL *BleGetCharacteristicsFn)(void *device, BleGattService *service, uint16_t count,
                                                     BleGattCharacteristic *characteristics, uint16_t *actual,
                                                     uint32_t flags);
typedef BleResult(BLE_CALL *BleGetDescriptorsFn)(void *device, BleGattCharacteristic *characteristic,
                                                 uint16_t count, BleGattDescriptor *descriptors, uint16_t *actual,
                                                 uint32_t flags);
typedef BleResult(BLE_CALL *BleGetCharacteristicValueFn)(void *device, BleGattCharacteristic *characteristic,
                                                         uint32_t size, BleGattValue *value, uint16_t *required,
                                                         uint32_t flags);
typedef BleResult(BLE_CALL *BleGetDescriptorValueFn)(void *device, BleGattDescriptor *descriptor, uint32_t size,
                                                     BleGattDescriptorValue *value, uint16_t *required,
                                                     uint32_t flags);
typedef BleResult(BLE_CALL *BleSetCharacteristicValueFn)(void *device, BleGattCharacteristic *characteristic,
                                                         BleGattValue *value, uint64_t reliableWriteContext,
                                                         uint32_t flags);
typedef BleResult(BLE_CALL *BleSetDescriptorValueFn)(void *device, BleGattDescriptor *descriptor,
                                                     BleGattDescriptorValue *value, uint32_t flags);
typedef BleResult(BLE_CALL *BleRegisterEventFn)(void *device, int32_t eventType, void *registration,
                                                BleEventCallback callback, void *context, void **eventHandle,
                                                uint32_t flags);
typedef BleResult(BLE_CALL *BleUnregisterEventFn)(void *eventHandle, uint32_t flags);

// The device list. listBegin takes the identifier the caller looks for (a
// hint: a list may use it to look further, e.g. by a discovery, when no
// listed device matches; null: any) and returns the list, or null when the
// system cannot list devices at all (the implementation has logged why).
// listPath gives one of BLE_LIST_* for the interface at an index.
enum : int {
    BLE_LIST_OK = 0,        // the path was copied
    BLE_LIST_SKIP = 1,      // this interface's path cannot be read: go on with the next
    BLE_LIST_FAILED = -1,   // reading the path failed: the listing ends
    BLE_LIST_END = 2,       // no interface at this index or after it
};
typedef void *(BLE_CALL *BleListBeginFn)(const char *wanted);
typedef int(BLE_CALL *BleListPathFn)(void *list, uint32_t index, char *path, uint32_t size);
// The device name of the interface at an index, narrowed to 8-bit
// characters: 0, or -1 when it cannot be read.
typedef int(BLE_CALL *BleListNameFn)(void *list, uint32_t index, char *name, uint32_t size);
typedef void(BLE_CALL *BleListEndFn)(void *list);
// Opens the interface at a path for reading and writing, not shared: the
// device handle, or BLE_INVALID_DEVICE with the system's error in *error.
typedef void *(BLE_CALL *BleOpenDeviceFn)(const char *path, uint32_t *error);
typedef void(BLE_CALL *BleCloseDeviceFn)(void *device);
// The device address of an interface path in the six bytes in the order in
// which the path writes them: 1, or 0 when the path holds none.
typedef int(BLE_CALL *BlePathAddressFn)(const char *path, uint8_t address[6]);

#define BLE_INVALID_DEVICE ((void *)~(uintptr_t)0)

struct BleGattApi {
    BleGetServicesFn getServices;
    BleGetCharacteristicsFn getCharacteristics;
    BleGetDescriptorsFn getDescriptors;
    BleGetCharacteristicValueFn getCharacteristicValue;
    BleGetDescriptorValueFn getDescriptorValue;
    BleSetCharacteristicValueFn setCharacteristicValue;
    BleSetDescriptorValueFn setDescriptorValue;
    BleRegisterEventFn registerEvent;
    BleUnregisterEventFn unregisterEvent;
    BleListBeginFn listBegin;
    BleListPathFn listPath;
    BleListNameFn listName;
    BleListEndFn listEnd;
    BleOpenDeviceFn openDevice;
    BleCloseDeviceFn closeDevice;
    // Optional: null reads the address the way Windows writes interface
    // paths, as the twelve hex digits after the first "}_".
    BlePathAddressFn pathAddress;
};

// The names under which a library exports the functions of the table, in
// its order (the nine GATT functions, then the list functions of a
// stand-in), and how many of them a stand-in must have.
extern const char *const BLE_GATT_NAMES[];
const int BLE_GATT_FUNCTIONS = 9;
const int BLE_STANDIN_FUNCTIONS = 15;

// Fills a table from a symbol lookup (each name of BLE_GATT_NAMES in turn,
// up to count); false when one is missing.
bool bleGattBind(BleGattApi *api, int count, void *(*lookup)(void *library, const char *name), void *library);

// Tests and the stand-ins: the table the link uses from now on instead of
// the system's (null: the system's again). The table is not copied; it must
// live as long as it is in use.
void linkBleUseGatt(const BleGattApi *api);
// The table in use, or null when Bluetooth LE is not available.
const BleGattApi *linkBleGatt();
