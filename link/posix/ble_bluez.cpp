// ble_bluez.cpp - the GATT seam on Linux: the link as a client of BlueZ
// (bluetoothd) on the system bus.
//
//   device list      the org.bluez.Device1 objects that offer the device's
//                    service (UUIDs), with their object paths, names and
//                    addresses; when none matches the identifier looked for,
//                    an org.bluez.Adapter1 discovery of LE devices of the
//                    service, for at most DISCOVERY_MS
//   open             Device1.Connect, then the wait for ServicesResolved
//   services         the org.bluez.GattService1 objects of the service under
//                    the device, characteristics (GattCharacteristic1) and
//                    descriptors (GattDescriptor1) under them, in the order
//                    of their attribute handles
//   notifications    the client configuration descriptor's write becomes
//                    AcquireNotify (the values then come through a socket,
//                    without a signal per value through the bus daemon), or
//                    StartNotify where the stack has no AcquireNotify for
//                    the characteristic; the characteristics' PropertiesChanged
//                    signals (Value) reach the event callback on a dispatch
//                    thread of the registration, with a connection of its own;
//                    only signals of the connection that owns org.bluez count
//                    (any client of the bus may send a signal)
//   writes           without response: into the socket that AcquireWrite
//                    gives for the characteristic (one value per packet; no
//                    call per value), else WriteValue with type "command";
//                    with response: WriteValue with type "request"
//
// Each open device has a private connection of its own for its calls, and
// its registration another for the signals; the device list uses a short one.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "link/ble_gatt.h"
#include "link/link_internal.h"
#include "link/posix/bluez_bus.h"
#include "os/os.h"

using namespace bluez;

namespace {

const int CALL_MS = 3000;
const int CONNECT_MS = 30000;
const int RESOLVE_MS = 10000;
const int DISCOVERY_MS = 5000;
const int RESCAN_MS = 500;
const int POLL_MS = 100;
const int MAX_DEVICES = 64;
const int MAX_SERVICES = 4;
const int MAX_ATTRIBUTES = 16;
const int MAX_VALUE = 512;

// System error numbers for the open's log line.
const uint32_t ERROR_NOT_FOUND = 2, ERROR_NOT_READY = 21, ERROR_NOT_CONNECTED = 1167, ERROR_TIMEOUT = 1460;

void copyText(char *dst, size_t size, const char *src) { std::snprintf(dst, size, "%s", src); }

void serviceUuid(char out[37]) { guidText(BLE_SERVICE_GUID, out); }

// ---------------------------------------------------------------------------
// Device list
// ---------------------------------------------------------------------------

struct ListEntry {
    char path[PATH_SIZE];
    char name[TEXT_SIZE];
    bool hasName;
    uint8_t address[6];
    bool hasAddress;
};

struct List {
    char adapter[PATH_SIZE];
    int count;
    ListEntry entries[MAX_DEVICES];
};

void visitListed(void *context, const char *path, const char *interface, DBusMessageIter *properties) {
    List *list = static_cast<List *>(context);
    if (std::strcmp(interface, ADAPTER) == 0) {
        if (list->adapter[0] == '\0') copyText(list->adapter, sizeof list->adapter, path);
        return;
    }
    DBusMessageIter v;
    char uuid[37];
    serviceUuid(uuid);
    if (std::strcmp(interface, DEVICE) != 0 || list->count >= MAX_DEVICES ||
        !property(properties, "UUIDs", &v) || !textsContain(&v, uuid)) {
        return;
    }
    ListEntry *e = &list->entries[list->count++];
    copyText(e->path, sizeof e->path, path);
    e->hasName = property(properties, "Name", &v) && readText(&v, e->name, sizeof e->name);
    char address[TEXT_SIZE];
    e->hasAddress = property(properties, "Address", &v) && readText(&v, address, sizeof address) &&
                    bleIsAddress(address, e->address);
}

bool readList(DBusConnection *bus, List *list, Error *error) {
    DBusMessage *reply = managedObjects(bus, error);
    if (!reply) return false;
    list->count = 0;
    walkObjects(reply, visitListed, list);
    dbus_message_unref(reply);
    return true;
}

// Whether the list holds what is looked for (any device when nothing is).
bool listHas(const List *list, const char *wanted) {
    uint8_t address[6];
    bool byAddress = wanted && bleIsAddress(wanted, address);
    for (int i = 0; i < list->count; ++i) {
        const ListEntry &e = list->entries[i];
        if (!wanted || (byAddress ? e.hasAddress && std::memcmp(e.address, address, 6) == 0
                                  : e.hasName && std::strcmp(e.name, wanted) == 0)) {
            return true;
        }
    }
    return false;
}

// The adapter's discovery filter: LE devices that advertise the service.
void setFilter(DBusConnection *bus, const List *list) {
    DBusMessage *m = newCall(list->adapter, ADAPTER, "SetDiscoveryFilter");
    DBusMessageIter it, dict, entry, variant, array;
    char uuid[37];
    serviceUuid(uuid);
    const char *uuidText = uuid, *uuidsKey = "UUIDs", *transportKey = "Transport", *le = "le";
    bool ok = m != nullptr;
    if (ok) {
        dbus_message_iter_init_append(m, &it);
        ok = dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &dict) &&
             dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry) &&
             dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &uuidsKey) &&
             dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "as", &variant) &&
             dbus_message_iter_open_container(&variant, DBUS_TYPE_ARRAY, "s", &array) &&
             dbus_message_iter_append_basic(&array, DBUS_TYPE_STRING, &uuidText) &&
             dbus_message_iter_close_container(&variant, &array) && dbus_message_iter_close_container(&entry, &variant) &&
             dbus_message_iter_close_container(&dict, &entry) &&
             dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry) &&
             dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &transportKey) &&
             dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "s", &variant) &&
             dbus_message_iter_append_basic(&variant, DBUS_TYPE_STRING, &le) &&
             dbus_message_iter_close_container(&entry, &variant) && dbus_message_iter_close_container(&dict, &entry) &&
             dbus_message_iter_close_container(&it, &dict);
    }
    Error error;
    DBusMessage *reply = ok ? call(bus, m, CALL_MS, &error) : nullptr;
    if (!ok && m) dbus_message_unref(m);
    if (reply) dbus_message_unref(reply);
}

// Looks for LE devices of the service until the wanted one shows or the
// time is up. The scan starts again every RESCAN_MS while nothing matches:
// a controller that filters duplicate advertisements reports an advertiser
// once per scan, and the kernel drops a report that comes before it counts
// the scan as a discovery (an advertiser already on the air is reported at
// once), so that one scan may never show a device that is there.
void discover(DBusConnection *bus, List *list, const char *wanted) {
    setFilter(bus, list);
    Error error;
    if (!callVoid(bus, list->adapter, ADAPTER, "StartDiscovery", CALL_MS, &error)) {
        linkLog("!BLE discovery on %s: %s\n", list->adapter, error.message);
        return;
    }
    linkLog("#BLE discovery on %s\n", list->adapter);
    for (int waited = 0; waited < DISCOVERY_MS && !listHas(list, wanted) && !linkOpensCancelled(); waited += POLL_MS) {
        if (waited > 0 && waited % RESCAN_MS == 0) {
            callVoid(bus, list->adapter, ADAPTER, "StopDiscovery", CALL_MS, &error);
            if (!callVoid(bus, list->adapter, ADAPTER, "StartDiscovery", CALL_MS, &error)) break;
        }
        osSleep(POLL_MS);
        if (!readList(bus, list, &error)) break;
    }
    callVoid(bus, list->adapter, ADAPTER, "StopDiscovery", CALL_MS, &error);
}

void *BLE_CALL listBegin(const char *wanted) {
    Error error;
    DBusConnection *bus = openBus(&error);
    if (!bus) {
        linkLog("!BLE: no D-Bus system bus: %s\n", error.message);
        return nullptr;
    }
    List *list = static_cast<List *>(std::calloc(1, sizeof(List)));
    bool ok = list != nullptr;
    if (ok && !readList(bus, list, &error)) {
        linkLog("!BLE: no Bluetooth service (org.bluez) on the system bus: %s\n", error.message);
        ok = false;
    } else if (ok && list->adapter[0] == '\0') {
        linkLog("!BLE: no Bluetooth adapter (org.bluez.Adapter1) on the system bus\n");
        ok = false;
    } else if (ok && !listHas(list, wanted)) {
        discover(bus, list, wanted);
    }
    closeBus(bus);
    if (!ok) std::free(list);
    return ok ? list : nullptr;
}

int BLE_CALL listPath(void *handle, uint32_t index, char *path, uint32_t size) {
    const List *list = static_cast<const List *>(handle);
    if (index >= (uint32_t)list->count) return BLE_LIST_END;
    if (std::strlen(list->entries[index].path) >= size) return BLE_LIST_SKIP;
    copyText(path, size, list->entries[index].path);
    return BLE_LIST_OK;
}

int BLE_CALL listName(void *handle, uint32_t index, char *name, uint32_t size) {
    const List *list = static_cast<const List *>(handle);
    if (index >= (uint32_t)list->count || !list->entries[index].hasName || size == 0) return -1;
    copyText(name, size, list->entries[index].name);
    return 0;
}

void BLE_CALL listEnd(void *handle) { std::free(handle); }

// "/org/bluez/hci0/dev_00_11_22_33_44_55": the six pairs after "dev_".
int BLE_CALL pathAddress(const char *path, uint8_t address[6]) {
    const char *last = std::strrchr(path, '/');
    if (!last || std::strncmp(last + 1, "dev_", 4) != 0) return 0;
    char text[18];
    const char *p = last + 5;
    if (std::strlen(p) != 17) return 0;
    for (int i = 0; i < 17; ++i) text[i] = p[i] == '_' ? ':' : p[i];
    text[17] = '\0';
    return bleIsAddress(text, address) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// An open device
// ---------------------------------------------------------------------------

// A GATT object of the device: its path, attribute handle, and for a
// descriptor the handle of its characteristic.
struct Attribute {
    char path[PATH_SIZE];
    uint16_t handle;
    uint16_t owner;
};

struct Registration;

// The write socket of a characteristic: not asked for yet, or refused (the
// stack has none: WriteValue then), else the socket.
enum : int { WRITE_UNASKED = -1, WRITE_REFUSED = -2 };

struct Device {
    DBusConnection *bus;
    char path[PATH_SIZE];
    int serviceCount, characteristicCount, descriptorCount;
    Attribute services[MAX_SERVICES];
    Attribute characteristics[MAX_ATTRIBUTES];
    Attribute descriptors[MAX_ATTRIBUTES];
    int writeSockets[MAX_ATTRIBUTES];   // by characteristic
    Registration *registration;         // of the value-changed events, or null
};

const Attribute *find(const Attribute *list, int count, uint16_t handle) {
    for (int i = 0; i < count; ++i) {
        if (list[i].handle == handle) return &list[i];
    }
    return nullptr;
}

void *BLE_CALL openDevice(const char *path, uint32_t *error) {
    Error e;
    DBusConnection *bus = openBus(&e);
    if (!bus) {
        linkLog("!BLE: no D-Bus system bus: %s\n", e.message);
        *error = ERROR_NOT_READY;
        return BLE_INVALID_DEVICE;
    }
    if (!callVoid(bus, path, DEVICE, "Connect", CONNECT_MS, &e) &&
        std::strcmp(e.name, "org.bluez.Error.AlreadyConnected") != 0) {
        linkLog("!BLE: Connect %s: %s\n", path, e.message);
        closeBus(bus);
        *error = resultOf(e) == BLE_E_NOT_FOUND ? ERROR_NOT_FOUND : ERROR_NOT_CONNECTED;
        return BLE_INVALID_DEVICE;
    }
    bool resolved = false;
    for (int waited = 0; !(getBool(bus, path, DEVICE, "ServicesResolved", &resolved) && resolved); waited += POLL_MS) {
        if (waited >= RESOLVE_MS || linkOpensCancelled()) {
            linkLog("!BLE: the services of %s were not resolved in time\n", path);
            callVoid(bus, path, DEVICE, "Disconnect", CALL_MS, &e);
            closeBus(bus);
            *error = ERROR_TIMEOUT;
            return BLE_INVALID_DEVICE;
        }
        osSleep(POLL_MS);
    }
    Device *d = static_cast<Device *>(std::calloc(1, sizeof(Device)));
    if (!d) {
        closeBus(bus);
        *error = ERROR_NOT_READY;
        return BLE_INVALID_DEVICE;
    }
    d->bus = bus;
    copyText(d->path, sizeof d->path, path);
    for (int &w : d->writeSockets) w = WRITE_UNASKED;
    return d;
}

void BLE_CALL closeDevice(void *device) {
    Device *d = static_cast<Device *>(device);
    for (int w : d->writeSockets) {
        if (w >= 0) close(w);
    }
    Error e;
    callVoid(d->bus, d->path, DEVICE, "Disconnect", CALL_MS, &e);
    closeBus(d->bus);
    std::free(d);
}

// The GATT objects of one kind whose owner property (Device, Service or
// Characteristic) is a given path, sorted by attribute handle.
struct Collect {
    const char *interface;
    const char *ownerProperty;
    const char *owner;
    const char *uuid;        // only objects of this UUID, or null
    int count;
    Attribute items[MAX_ATTRIBUTES];
    char uuids[MAX_ATTRIBUTES][40];
    uint32_t flags[MAX_ATTRIBUTES];
};

enum : uint32_t { F_READ = 1, F_WRITE = 2, F_COMMAND = 4, F_NOTIFY = 8, F_INDICATE = 16, F_BROADCAST = 32 };

uint32_t flagsOf(const DBusMessageIter *properties) {
    static const struct {
        const char *name;
        uint32_t bit;
    } names[] = {{"read", F_READ},     {"write", F_WRITE},       {"write-without-response", F_COMMAND},
                 {"notify", F_NOTIFY}, {"indicate", F_INDICATE}, {"broadcast", F_BROADCAST}};
    uint32_t flags = 0;
    DBusMessageIter v;
    for (const auto &n : names) {
        if (property(properties, "Flags", &v) && textsContain(&v, n.name)) flags |= n.bit;
    }
    return flags;
}

void visitCollect(void *context, const char *path, const char *interface, DBusMessageIter *properties) {
    Collect *c = static_cast<Collect *>(context);
    char owner[PATH_SIZE], uuid[40];
    DBusMessageIter v;
    if (std::strcmp(interface, c->interface) != 0 || c->count >= MAX_ATTRIBUTES ||
        !property(properties, c->ownerProperty, &v) || !readText(&v, owner, sizeof owner) ||
        std::strcmp(owner, c->owner) != 0 || !property(properties, "UUID", &v) || !readText(&v, uuid, sizeof uuid) ||
        (c->uuid && std::strcmp(uuid, c->uuid) != 0)) {
        return;
    }
    int at = c->count++;
    uint16_t handle = handleOfPath(path);
    uint32_t flags = flagsOf(properties);
    // Insertion by handle.
    while (at > 0 && c->items[at - 1].handle > handle) {
        c->items[at] = c->items[at - 1];
        std::memcpy(c->uuids[at], c->uuids[at - 1], sizeof c->uuids[at]);
        c->flags[at] = c->flags[at - 1];
        --at;
    }
    copyText(c->items[at].path, PATH_SIZE, path);
    c->items[at].handle = handle;
    copyText(c->uuids[at], sizeof c->uuids[at], uuid);
    c->flags[at] = flags;
}

BleResult collect(Device *d, Collect *c) {
    Error e;
    DBusMessage *reply = managedObjects(d->bus, &e);
    if (!reply) return resultOf(e);
    c->count = 0;
    walkObjects(reply, visitCollect, c);
    dbus_message_unref(reply);
    return BLE_OK;
}

// The answer of a list query: the count, more data when the buffer is too
// small for it.
BleResult answer(int have, uint16_t room, uint16_t *actual) {
    if (actual) *actual = (uint16_t)have;
    if (have == 0) return BLE_E_NOT_FOUND;
    return room < have ? BLE_E_MORE_DATA : BLE_OK;
}

void longUuid(BleUuid *u, const char *text) {
    std::memset(u, 0, sizeof *u);
    parseGuid(text, &u->value.longUuid);
}

BleResult BLE_CALL getServices(void *device, uint16_t count, BleGattService *services, uint16_t *actual, uint32_t) {
    Device *d = static_cast<Device *>(device);
    char uuid[37];
    serviceUuid(uuid);
    Collect c = {GATT_SERVICE, "Device", d->path, uuid, 0, {}, {}, {}};
    BleResult r = collect(d, &c);
    if (r != BLE_OK) return r;
    d->serviceCount = c.count < MAX_SERVICES ? c.count : MAX_SERVICES;
    for (int i = 0; i < d->serviceCount; ++i) {
        d->services[i] = c.items[i];
        if (services && i < count) {
            longUuid(&services[i].serviceUuid, c.uuids[i]);
            services[i].attributeHandle = c.items[i].handle;
        }
    }
    return answer(d->serviceCount, services ? count : 0, actual);
}

BleResult BLE_CALL getCharacteristics(void *device, BleGattService *service, uint16_t count,
                                      BleGattCharacteristic *out, uint16_t *actual, uint32_t) {
    Device *d = static_cast<Device *>(device);
    const Attribute *s = service ? find(d->services, d->serviceCount, service->attributeHandle) : nullptr;
    if (!s) return BLE_E_NOT_FOUND;
    Collect c = {GATT_CHARACTERISTIC, "Service", s->path, nullptr, 0, {}, {}, {}};
    BleResult r = collect(d, &c);
    if (r != BLE_OK) return r;
    for (int i = 0; i < MAX_ATTRIBUTES; ++i) {
        if (d->writeSockets[i] >= 0) close(d->writeSockets[i]);
        d->writeSockets[i] = WRITE_UNASKED;
    }
    d->characteristicCount = c.count;
    for (int i = 0; i < c.count; ++i) {
        d->characteristics[i] = c.items[i];
        if (!out || i >= count) continue;
        BleGattCharacteristic &ch = out[i];
        std::memset(&ch, 0, sizeof ch);
        ch.serviceHandle = s->handle;
        longUuid(&ch.characteristicUuid, c.uuids[i]);
        ch.attributeHandle = c.items[i].handle;
        ch.characteristicValueHandle = (uint16_t)(c.items[i].handle + 1);
        ch.isReadable = (c.flags[i] & F_READ) != 0;
        ch.isWritable = (c.flags[i] & F_WRITE) != 0;
        ch.isWritableWithoutResponse = (c.flags[i] & F_COMMAND) != 0;
        ch.isNotifiable = (c.flags[i] & F_NOTIFY) != 0;
        ch.isIndicatable = (c.flags[i] & F_INDICATE) != 0;
        ch.isBroadcastable = (c.flags[i] & F_BROADCAST) != 0;
    }
    return answer(c.count, out ? count : 0, actual);
}

// Descriptor types by their short UUIDs (0000xxxx-0000-1000-8000-00805f9b34fb).
int32_t descriptorType(const char *uuid, uint16_t *shortUuid) {
    unsigned v = 0;
    *shortUuid = 0;
    if (std::sscanf(uuid, "0000%4x-0000-1000-8000-00805f9b34fb", &v) == 1) *shortUuid = (uint16_t)v;
    if (*shortUuid == BLE_CLIENT_CONFIGURATION_UUID) return BLE_DESCRIPTOR_CLIENT_CONFIGURATION;
    if (*shortUuid == 0x2901) return BLE_DESCRIPTOR_USER_DESCRIPTION;
    if (*shortUuid == 0x2900) return BLE_DESCRIPTOR_EXTENDED_PROPERTIES;
    return 6;  // a descriptor of the device's own
}

void rememberDescriptor(Device *d, const Attribute &a) {
    if (find(d->descriptors, d->descriptorCount, a.handle) || d->descriptorCount >= MAX_ATTRIBUTES) return;
    d->descriptors[d->descriptorCount++] = a;
}

BleResult BLE_CALL getDescriptors(void *device, BleGattCharacteristic *characteristic, uint16_t count,
                                  BleGattDescriptor *out, uint16_t *actual, uint32_t) {
    Device *d = static_cast<Device *>(device);
    const Attribute *ch =
        characteristic ? find(d->characteristics, d->characteristicCount, characteristic->attributeHandle) : nullptr;
    if (!ch) return BLE_E_NOT_FOUND;
    Collect c = {GATT_DESCRIPTOR, "Characteristic", ch->path, nullptr, 0, {}, {}, {}};
    BleResult r = collect(d, &c);
    if (r != BLE_OK) return r;
    if (c.count == 0 && characteristic->isNotifiable) {
        // A stack that keeps the client configuration to itself: the
        // descriptor stands for the notifications it gives.
        c.count = 1;
        c.items[0].path[0] = '\0';
        c.items[0].handle = (uint16_t)(ch->handle + 2);
        std::snprintf(c.uuids[0], sizeof c.uuids[0], "0000%04x-0000-1000-8000-00805f9b34fb",
                      (unsigned)BLE_CLIENT_CONFIGURATION_UUID);
    }
    for (int i = 0; i < c.count; ++i) {
        c.items[i].owner = ch->handle;
        rememberDescriptor(d, c.items[i]);
        if (!out || i >= count) continue;
        BleGattDescriptor &desc = out[i];
        std::memset(&desc, 0, sizeof desc);
        desc.serviceHandle = characteristic->serviceHandle;
        desc.characteristicHandle = ch->handle;
        uint16_t shortUuid = 0;
        desc.descriptorType = descriptorType(c.uuids[i], &shortUuid);
        if (shortUuid != 0) {
            desc.descriptorUuid.isShortUuid = 1;
            desc.descriptorUuid.value.shortUuid = shortUuid;
        } else {
            longUuid(&desc.descriptorUuid, c.uuids[i]);
        }
        desc.attributeHandle = c.items[i].handle;
    }
    if (c.count == 0) {
        if (actual) *actual = 0;
        return BLE_OK;
    }
    return answer(c.count, out ? count : 0, actual);
}

// ReadValue of a characteristic or descriptor into size bytes at data.
BleResult readValue(Device *d, const char *path, const char *interface, uint32_t room, uint8_t *data,
                    uint32_t *dataSize, uint16_t *required) {
    DBusMessage *m = newCall(path, interface, "ReadValue");
    DBusMessageIter it, dict;
    if (m) {
        dbus_message_iter_init_append(m, &it);
        dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &dict);
        dbus_message_iter_close_container(&it, &dict);
    }
    Error e;
    DBusMessage *reply = call(d->bus, m, CALL_MS, &e);
    if (!reply) return resultOf(e);
    const uint8_t *bytes = nullptr;
    int n = 0;
    BleResult r = BLE_E_FAIL;
    if (dbus_message_iter_init(reply, &it) && readBytes(&it, &bytes, &n)) {
        if (required) *required = (uint16_t)n;
        r = data && room >= (uint32_t)n ? BLE_OK : BLE_E_MORE_DATA;
        if (r == BLE_OK) {
            if (n > 0) std::memcpy(data, bytes, (size_t)n);
            *dataSize = (uint32_t)n;
        }
    }
    dbus_message_unref(reply);
    return r;
}

BleResult BLE_CALL getCharacteristicValue(void *device, BleGattCharacteristic *characteristic, uint32_t size,
                                          BleGattValue *value, uint16_t *required, uint32_t) {
    Device *d = static_cast<Device *>(device);
    const Attribute *ch =
        characteristic ? find(d->characteristics, d->characteristicCount, characteristic->attributeHandle) : nullptr;
    if (!ch) return BLE_E_NOT_FOUND;
    uint32_t room = value && size > offsetof(BleGattValue, data) ? size - (uint32_t)offsetof(BleGattValue, data) : 0;
    return readValue(d, ch->path, GATT_CHARACTERISTIC, room, value ? value->data : nullptr,
                     value ? &value->dataSize : nullptr, required);
}

BleResult BLE_CALL getDescriptorValue(void *device, BleGattDescriptor *descriptor, uint32_t size,
                                      BleGattDescriptorValue *value, uint16_t *required, uint32_t) {
    Device *d = static_cast<Device *>(device);
    const Attribute *a = descriptor ? find(d->descriptors, d->descriptorCount, descriptor->attributeHandle) : nullptr;
    if (!a) return BLE_E_NOT_FOUND;
    uint32_t head = (uint32_t)offsetof(BleGattDescriptorValue, data);
    uint32_t room = value && size > head ? size - head : 0;
    if (value) value->descriptorType = descriptor->descriptorType;
    return readValue(d, a->path, GATT_DESCRIPTOR, room, value ? value->data : nullptr,
                     value ? &value->dataSize : nullptr, required);
}

// WriteValue of bytes with an options dictionary {"type": type}.
BleResult writeValue(Device *d, const char *path, const char *interface, const uint8_t *data, uint32_t size,
                     const char *type) {
    DBusMessage *m = newCall(path, interface, "WriteValue");
    DBusMessageIter it, bytes, dict, entry, variant;
    const char *key = "type";
    bool ok = m != nullptr;
    if (ok) {
        dbus_message_iter_init_append(m, &it);
        ok = dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "y", &bytes) &&
             dbus_message_iter_append_fixed_array(&bytes, DBUS_TYPE_BYTE, &data, (int)size) &&
             dbus_message_iter_close_container(&it, &bytes) &&
             dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &dict) &&
             dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry) &&
             dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key) &&
             dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "s", &variant) &&
             dbus_message_iter_append_basic(&variant, DBUS_TYPE_STRING, &type) &&
             dbus_message_iter_close_container(&entry, &variant) && dbus_message_iter_close_container(&dict, &entry) &&
             dbus_message_iter_close_container(&it, &dict);
    }
    if (!ok) {
        if (m) dbus_message_unref(m);
        return BLE_E_OUTOFMEMORY;
    }
    Error e;
    DBusMessage *reply = call(d->bus, m, CALL_MS, &e);
    if (!reply) return resultOf(e);
    dbus_message_unref(reply);
    return BLE_OK;
}

// AcquireWrite or AcquireNotify of a characteristic, without options: 1
// with its socket and MTU, 0 when the reply lacks them, -1 when the call
// failed (*e says why).
int acquire(Device *d, const Attribute *ch, const char *method, int *fd, dbus_uint16_t *mtu, Error *e) {
    DBusMessage *m = newCall(ch->path, GATT_CHARACTERISTIC, method);
    DBusMessageIter it, options;
    if (m) {
        dbus_message_iter_init_append(m, &it);
        dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &options);
        dbus_message_iter_close_container(&it, &options);
    }
    DBusMessage *reply = call(d->bus, m, CALL_MS, e);
    if (!reply) return -1;
    bool got = dbus_message_get_args(reply, nullptr, DBUS_TYPE_UNIX_FD, fd, DBUS_TYPE_UINT16, mtu, DBUS_TYPE_INVALID);
    dbus_message_unref(reply);
    return got ? 1 : 0;
}

// AcquireWrite of a characteristic: its socket, or WRITE_REFUSED.
int acquireWrite(Device *d, const Attribute *ch) {
    if (!dbus_connection_can_send_type(d->bus, DBUS_TYPE_UNIX_FD)) return WRITE_REFUSED;
    Error e;
    int fd = -1;
    dbus_uint16_t mtu = 0;
    if (acquire(d, ch, "AcquireWrite", &fd, &mtu, &e) != 1) return WRITE_REFUSED;
    if (mtu < 3 + BLE_MAX_VALUE) {
        // Too small for the link's values: WriteValue then (it fails alike).
        close(fd);
        return WRITE_REFUSED;
    }
    return fd;
}

// One value into a write socket; waits up to CALL_MS while the stack's
// side is full. A socket that fails is dropped (asked for again next time).
BleResult sendValue(int *socket, const uint8_t *data, uint32_t size) {
    for (int waited = 0;; waited += POLL_MS) {
        ssize_t sent = send(*socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent == (ssize_t)size) return BLE_OK;
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && errno == EAGAIN && waited < CALL_MS) {
            pollfd p = {*socket, POLLOUT, 0};
            poll(&p, 1, POLL_MS);
            continue;
        }
        close(*socket);
        *socket = WRITE_UNASKED;
        return sent < 0 && errno == EAGAIN ? BLE_E_TIMEOUT : BLE_E_NOT_CONNECTED;
    }
}

BleResult BLE_CALL setCharacteristicValue(void *device, BleGattCharacteristic *characteristic, BleGattValue *value,
                                          uint64_t, uint32_t flags) {
    Device *d = static_cast<Device *>(device);
    const Attribute *ch =
        characteristic ? find(d->characteristics, d->characteristicCount, characteristic->attributeHandle) : nullptr;
    if (!ch) return BLE_E_NOT_FOUND;
    if (!value || value->dataSize > (uint32_t)MAX_VALUE) return BLE_E_INVALIDARG;
    if (!(flags & BLE_FLAG_WRITE_WITHOUT_RESPONSE)) {
        return writeValue(d, ch->path, GATT_CHARACTERISTIC, value->data, value->dataSize, "request");
    }
    int *socket = &d->writeSockets[ch - d->characteristics];
    if (*socket == WRITE_UNASKED) *socket = acquireWrite(d, ch);
    if (*socket >= 0) return sendValue(socket, value->data, value->dataSize);
    return writeValue(d, ch->path, GATT_CHARACTERISTIC, value->data, value->dataSize, "command");
}

BleResult switchAcquired(Device *d, const Attribute *ch, bool on, bool *acquired);

BleResult BLE_CALL setDescriptorValue(void *device, BleGattDescriptor *descriptor, BleGattDescriptorValue *value,
                                      uint32_t) {
    Device *d = static_cast<Device *>(device);
    const Attribute *a = descriptor ? find(d->descriptors, d->descriptorCount, descriptor->attributeHandle) : nullptr;
    if (!a || !value) return BLE_E_INVALIDARG;
    if (descriptor->descriptorType != BLE_DESCRIPTOR_CLIENT_CONFIGURATION) {
        if (value->dataSize > (uint32_t)MAX_VALUE) return BLE_E_INVALIDARG;
        return writeValue(d, a->path, GATT_DESCRIPTOR, value->data, value->dataSize, "request");
    }
    // BlueZ keeps the client configuration itself: notifications are asked
    // for on the characteristic.
    const Attribute *ch = find(d->characteristics, d->characteristicCount, a->owner);
    if (!ch) return BLE_E_NOT_FOUND;
    bool on = value->clientConfiguration.isSubscribeToNotification != 0;
    bool acquired = false;
    BleResult r = switchAcquired(d, ch, on, &acquired);
    if (acquired) return r;
    Error e;
    return callVoid(d->bus, ch->path, GATT_CHARACTERISTIC, on ? "StartNotify" : "StopNotify", CALL_MS, &e) ? BLE_OK
                                                                                                         : resultOf(e);
}

// ---------------------------------------------------------------------------
// Value-changed events
// ---------------------------------------------------------------------------

struct Registration {
    DBusConnection *bus;
    BleEventCallback callback;
    void *context;
    char sender[TEXT_SIZE];     // BlueZ's unique name on the bus
    int count;
    Attribute watched[BLE_EVENT_MAX_CHARACTERISTICS];
    char rules[BLE_EVENT_MAX_CHARACTERISTICS][PATH_SIZE + TEXT_SIZE + 128];
    // The sockets of AcquireNotify by watched characteristic (-1: none, the
    // values come as signals); only the dispatch thread closes them.
    std::atomic<int> sockets[BLE_EVENT_MAX_CHARACTERISTICS];
    Device *device = nullptr;
    std::atomic<bool> stop{false};
    OsThread thread = nullptr;
};

// A characteristic's new value, handed to the callback.
void deliver(Registration *g, const Attribute *a, const uint8_t *bytes, int n) {
    struct {
        uint32_t dataSize;
        uint8_t data[MAX_VALUE];
    } value;
    value.dataSize = (uint32_t)(n < MAX_VALUE ? n : MAX_VALUE);
    std::memcpy(value.data, bytes, value.dataSize);
    BleGattValueChangedEvent event = {a->handle, sizeof(uint32_t) + value.dataSize,
                                      reinterpret_cast<BleGattValue *>(&value)};
    g->callback(BLE_EVENT_VALUE_CHANGED, &event, g->context);
}

// The values of a PropertiesChanged signal of a watched characteristic.
DBusHandlerResult onSignal(DBusConnection *, DBusMessage *message, void *user) {
    Registration *g = static_cast<Registration *>(user);
    if (!dbus_message_is_signal(message, PROPERTIES, "PropertiesChanged")) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    // Another process's signal must not put bytes into the device's stream.
    const char *sender = dbus_message_get_sender(message);
    if (!sender || std::strcmp(sender, g->sender) != 0) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    const char *path = dbus_message_get_path(message);
    const Attribute *a = nullptr;
    for (int i = 0; path && i < g->count; ++i) {
        if (std::strcmp(g->watched[i].path, path) == 0) a = &g->watched[i];
    }
    DBusMessageIter it, changed, variant;
    const uint8_t *bytes = nullptr;
    int n = 0;
    if (!a || !dbus_message_iter_init(message, &it) || !dbus_message_iter_next(&it) ||
        dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY) {
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }
    dbus_message_iter_recurse(&it, &changed);
    if (!property(&changed, "Value", &variant) || !readBytes(&variant, &bytes, &n) || n <= 0) {
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    // The values of a characteristic whose notifications come through a
    // socket are taken there alone.
    if (g->sockets[a - g->watched].load() < 0) deliver(g, a, bytes, n);
    return DBUS_HANDLER_RESULT_HANDLED;
}

// The values waiting in the acquired socket of watched characteristic i;
// a socket that the stack (or the switch-off) ended is closed.
void takeNotifications(Registration *g, int i) {
    uint8_t value[MAX_VALUE];
    for (;;) {
        int fd = g->sockets[i].load();
        ssize_t n = recv(fd, value, sizeof value, MSG_DONTWAIT);
        if (n > 0) {
            deliver(g, &g->watched[i], value, (int)n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        g->sockets[i].store(-1);
        close(fd);
        return;
    }
}

void dispatchLoop(void *arg) {
    Registration *g = static_cast<Registration *>(arg);
    while (!g->stop.load()) {
        pollfd p[BLE_EVENT_MAX_CHARACTERISTICS];
        int at[BLE_EVENT_MAX_CHARACTERISTICS], n = 0;
        for (int i = 0; i < g->count; ++i) {
            int fd = g->sockets[i].load();
            if (fd >= 0) p[n] = {fd, POLLIN, 0}, at[n++] = i;
        }
        // False once the bus is gone: nothing more can come by it.
        if (!dbus_connection_read_write_dispatch(g->bus, n > 0 ? 0 : 20)) break;
        if (n == 0 || poll(p, (nfds_t)n, 10) <= 0) continue;
        for (int k = 0; k < n; ++k) {
            if (p[k].revents) takeNotifications(g, at[k]);
        }
    }
}

// Notifications through a socket (AcquireNotify) for a characteristic that
// the registration watches, switched on or off: *acquired tells whether
// this way took the switch (else StartNotify or StopNotify does: a stack
// without AcquireNotify for it refuses it, but for a time-out or an
// operation in progress, which count as the switch's result).
BleResult switchAcquired(Device *d, const Attribute *ch, bool on, bool *acquired) {
    Registration *g = d->registration;
    int i = 0;
    while (g && i < g->count && g->watched[i].handle != ch->handle) ++i;
    if (!g || i >= g->count) return BLE_OK;
    int fd = g->sockets[i].load();
    if (!on || fd >= 0) {
        // The dispatch thread closes the socket once it has ended.
        if (!on && fd >= 0) shutdown(fd, SHUT_RDWR);
        *acquired = fd >= 0;
        return BLE_OK;
    }
    if (!dbus_connection_can_send_type(d->bus, DBUS_TYPE_UNIX_FD)) return BLE_OK;
    Error e;
    dbus_uint16_t mtu = 0;
    int got = acquire(d, ch, "AcquireNotify", &fd, &mtu, &e);
    if (got < 0) {
        BleResult r = resultOf(e);
        *acquired = r == BLE_E_TIMEOUT || r == BLE_E_ABORT;
        return r;
    }
    if (got == 1) {
        g->sockets[i].store(fd);
        *acquired = true;
    }
    return BLE_OK;
}

BleResult BLE_CALL registerEvent(void *device, int32_t eventType, void *parameter, BleEventCallback callback,
                                 void *context, void **handle, uint32_t) {
    Device *d = static_cast<Device *>(device);
    auto *in = static_cast<BleGattEventRegistration *>(parameter);
    if (eventType != BLE_EVENT_VALUE_CHANGED || !in || !callback || !handle || in->numCharacteristics == 0 ||
        in->numCharacteristics > BLE_EVENT_MAX_CHARACTERISTICS) {
        return BLE_E_INVALIDARG;
    }
    Registration *g = new (std::nothrow) Registration();
    if (!g) return BLE_E_OUTOFMEMORY;
    for (auto &socket : g->sockets) socket.store(-1);
    // The signals come on a connection of their own: its dispatch thread
    // then never holds up the calls the link makes on the device's.
    Error e;
    g->bus = openBus(&e);
    if (!g->bus) {
        linkLog("!BLE: no D-Bus system bus: %s\n", e.message);
        delete g;
        return BLE_E_FAIL;
    }
    g->callback = callback;
    g->context = context;
    if (!serviceOwner(g->bus, g->sender, sizeof g->sender, &e)) {
        linkLog("!BLE: no owner of org.bluez on the system bus: %s\n", e.message);
        closeBus(g->bus);
        delete g;
        return resultOf(e);
    }
    BleResult r = BLE_OK;
    for (; r == BLE_OK && g->count < in->numCharacteristics; ++g->count) {
        const Attribute *ch =
            find(d->characteristics, d->characteristicCount, in->characteristics[g->count].attributeHandle);
        if (!ch) {
            r = BLE_E_NOT_FOUND;
            break;
        }
        g->watched[g->count] = *ch;
        std::snprintf(g->rules[g->count], sizeof g->rules[g->count],
                      "type='signal',sender='%s',interface='%s',member='PropertiesChanged',path='%s'", g->sender,
                      PROPERTIES, ch->path);
        DBusError failure;
        dbus_error_init(&failure);
        dbus_bus_add_match(g->bus, g->rules[g->count], &failure);
        if (dbus_error_is_set(&failure)) {
            r = BLE_E_FAIL;
            dbus_error_free(&failure);
            break;
        }
    }
    if (r == BLE_OK && !dbus_connection_add_filter(g->bus, onSignal, g, nullptr)) r = BLE_E_OUTOFMEMORY;
    if (r == BLE_OK) {
        g->thread = osThreadStart(dispatchLoop, g, 0, OS_PRIORITY_NORMAL);
        if (!g->thread) {
            dbus_connection_remove_filter(g->bus, onSignal, g);
            r = BLE_E_OUTOFMEMORY;
        }
    }
    if (r != BLE_OK) {
        closeBus(g->bus);
        delete g;
        return r;
    }
    g->device = d;
    d->registration = g;
    *handle = g;
    return BLE_OK;
}

BleResult BLE_CALL unregisterEvent(void *handle, uint32_t) {
    Registration *g = static_cast<Registration *>(handle);
    if (!g) return BLE_E_INVALIDARG;
    // No callback runs once the dispatch thread has ended.
    g->stop.store(true);
    osThreadJoin(g->thread);
    dbus_connection_remove_filter(g->bus, onSignal, g);
    for (auto &socket : g->sockets) {
        if (socket.load() >= 0) close(socket.load());
    }
    if (g->device && g->device->registration == g) g->device->registration = nullptr;
    closeBus(g->bus);
    delete g;
    return BLE_OK;
}

}  // namespace

extern const BleGattApi g_bluezGatt = {
    getServices,    getCharacteristics, getDescriptors, getCharacteristicValue, getDescriptorValue,
    setCharacteristicValue, setDescriptorValue, registerEvent, unregisterEvent, listBegin,
    listPath,       listName,           listEnd,        openDevice,             closeDevice,
    pathAddress,
};
