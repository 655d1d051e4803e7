// bluez_standin.cpp - the simulated Bluetooth LE devices served the way
// BlueZ serves real ones: the name org.bluez on a D-Bus bus, an adapter, a
// Device1 object per present device, and once a device is connected its
// GATT service with the characteristics and client configuration
// descriptors of the contract. Notifications go out as PropertiesChanged
// signals of the characteristics' Value or, acquired (AcquireNotify),
// through a packet socket per characteristic; writes come in as WriteValue
// or, acquired (AcquireWrite), through such a socket.
//
// Object paths are BlueZ's: /org/bluez/hci0, /org/bluez/hci0/dev_AA_BB_..,
// then service000a, char000b and desc000d (the attribute handles of
// sim/blesim_internal.h). The faults of ftsimBleSetFaults act on the same
// steps: the listing (a device that only a second discovery start shows),
// the characteristic layout, the device name, Connect, StartNotify and
// AcquireNotify (no reply: the client's call times out; an InProgress error
// once), and
// WriteValue and AcquireWrite (refused with the write fault).
//
// One thread serves the bus and delivers what the devices send, every
// millisecond; calls are handled under the transceivers' lock.
#include <dbus/dbus.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "link/ble_gatt.h"
#include "os/os.h"
#include "sim/blesim_internal.h"
#include "sim/posix/bluez_props.h"

using namespace ftsim;

namespace {

const char *const ADAPTER_PATH = "/org/bluez/hci0";
const char *const IF_ADAPTER = "org.bluez.Adapter1";
const char *const IF_DEVICE = "org.bluez.Device1";
const char *const IF_SERVICE = "org.bluez.GattService1";
const char *const IF_CHARACTERISTIC = "org.bluez.GattCharacteristic1";
const char *const IF_DESCRIPTOR = "org.bluez.GattDescriptor1";
const char *const IF_PROPERTIES = "org.freedesktop.DBus.Properties";
const char *const IF_OBJECT_MANAGER = "org.freedesktop.DBus.ObjectManager";
const int MAX_OBJECTS = 1 + FTSIM_MAX * 7;

// The characteristic of the contract that carries the device's data.
const int ROLE_DATA_FROM_DEVICE = 1;

struct Standin {
    DBusConnection *bus = nullptr;
    char address[256] = "";
    int adapters = 0;
    OsThread thread = nullptr;
    std::atomic<bool> stop{false};
    // The sockets of AcquireWrite and AcquireNotify by slot and position
    // (-1: none).
    int writeSockets[FTSIM_MAX][BLE_CHARACTERISTICS];
    int notifySockets[FTSIM_MAX][BLE_CHARACTERISTICS];
};
Standin g_standin;
OsLock g_standinLock;
const bool g_standinLockMade = (osLockInit(&g_standinLock), true);

// ---------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------

enum Kind { K_ADAPTER, K_DEVICE, K_SERVICE, K_CHARACTERISTIC, K_DESCRIPTOR };

struct Object {
    Kind kind;
    int slot;
    int position;
    char path[128];
};

const char *interfaceOf(Kind kind) {
    static const char *const names[] = {IF_ADAPTER, IF_DEVICE, IF_SERVICE, IF_CHARACTERISTIC, IF_DESCRIPTOR};
    return names[kind];
}

bool connectedByBluez(int slot) { return bleDevice(slot) && g_ble[slot].open && g_ble[slot].front == FRONT_BLUEZ; }

void devicePath(int slot, char *out, size_t size) {
    const uint8_t *a = g_ble[slot].address;
    std::snprintf(out, size, "%s/dev_%02X_%02X_%02X_%02X_%02X_%02X", ADAPTER_PATH, a[0], a[1], a[2], a[3], a[4], a[5]);
}

// Every object there is now: the adapter, the devices in range, and the
// GATT objects of the connected ones.
int listObjects(Object *out) {
    int n = 0;
    if (g_standin.adapters <= 0) return 0;
    out[n++] = Object{K_ADAPTER, -1, -1, {0}};
    std::snprintf(out[0].path, sizeof out[0].path, "%s", ADAPTER_PATH);
    for (int slot = 0; slot < FTSIM_MAX; ++slot) {
        if (!bleDevice(slot) || ((g_ble[slot].faults & FTSIM_BLE_MISSED_SCAN) && g_ble[slot].scans < 2)) continue;
        Object d = {K_DEVICE, slot, -1, {0}};
        devicePath(slot, d.path, sizeof d.path);
        out[n++] = d;
        if (!connectedByBluez(slot)) continue;
        Object s = {K_SERVICE, slot, -1, {0}};
        std::snprintf(s.path, sizeof s.path, "%s/service%04x", d.path, (unsigned)BLE_SERVICE_HANDLE);
        out[n++] = s;
        for (int p = 0; p < bleCharacteristicCount(&g_ble[slot]); ++p) {
            Object c = {K_CHARACTERISTIC, slot, p, {0}};
            std::snprintf(c.path, sizeof c.path, "%s/char%04x", s.path, (unsigned)bleHandleOfPosition(p));
            out[n++] = c;
            if (bleRoleAt(&g_ble[slot], p) >= 2) continue;
            Object k = {K_DESCRIPTOR, slot, p, {0}};
            std::snprintf(k.path, sizeof k.path, "%s/desc%04x", c.path, (unsigned)(bleHandleOfPosition(p) + 2));
            out[n++] = k;
        }
    }
    return n;
}

bool findObject(const char *path, Object *found) {
    Object all[MAX_OBJECTS];
    int n = listObjects(all);
    for (int i = 0; path && i < n; ++i) {
        if (std::strcmp(all[i].path, path) == 0) {
            *found = all[i];
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Properties
// ---------------------------------------------------------------------------

void deviceProperties(PropertyOut *out, const Object &o) {
    char address[18], parent[128];
    const uint8_t *a = g_ble[o.slot].address;
    std::snprintf(address, sizeof address, "%02X:%02X:%02X:%02X:%02X:%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
    textProperty(out, "Address", address);
    if (!(g_ble[o.slot].faults & FTSIM_BLE_NO_NAME)) textProperty(out, "Name", g_ble[o.slot].name);
    std::snprintf(parent, sizeof parent, "%s", ADAPTER_PATH);
    textProperty(out, "Adapter", parent, DBUS_TYPE_OBJECT_PATH);
    uuidProperty(out, "UUIDs", BLE_SERVICE_GUID);
    boolProperty(out, "Connected", connectedByBluez(o.slot));
    boolProperty(out, "ServicesResolved", connectedByBluez(o.slot));
}

// The parent object's path: the path without its last element.
void parentPath(const Object &o, char *out, size_t size) {
    std::snprintf(out, size, "%s", o.path);
    char *slash = std::strrchr(out, '/');
    if (slash) *slash = '\0';
}

void properties(PropertyOut *out, const void *object) {
    const Object &o = *static_cast<const Object *>(object);
    char parent[128];
    parentPath(o, parent, sizeof parent);
    const BleFace *b = o.slot >= 0 ? &g_ble[o.slot] : nullptr;
    switch (o.kind) {
    case K_ADAPTER:
        textProperty(out, "Address", "00:1A:7D:DA:71:13");
        boolProperty(out, "Powered", true);
        break;
    case K_DEVICE:
        deviceProperties(out, o);
        break;
    case K_SERVICE:
        uuidProperty(out, "UUID", BLE_SERVICE_GUID);
        boolProperty(out, "Primary", true);
        textProperty(out, "Device", parent, DBUS_TYPE_OBJECT_PATH);
        break;
    case K_CHARACTERISTIC: {
        int role = bleRoleAt(b, o.position);
        static const char *const dataFlags[] = {"write-without-response", "notify"};
        static const char *const readFlags[] = {"read"};
        uuidProperty(out, "UUID", BLE_CHARACTERISTIC_GUIDS[role]);
        textProperty(out, "Service", parent, DBUS_TYPE_OBJECT_PATH);
        textsProperty(out, "Flags", role < 2 ? dataFlags : readFlags, role < 2 ? 2 : 1);
        boolProperty(out, "Notifying", b->notifying[role]);
        if (role < 2) boolProperty(out, "WriteAcquired", g_standin.writeSockets[o.slot][o.position] >= 0);
        if (role < 2) boolProperty(out, "NotifyAcquired", g_standin.notifySockets[o.slot][o.position] >= 0);
        break;
    }
    case K_DESCRIPTOR:
        textProperty(out, "UUID", "00002902-0000-1000-8000-00805f9b34fb");
        textProperty(out, "Characteristic", parent, DBUS_TYPE_OBJECT_PATH);
        break;
    }
}

// ---------------------------------------------------------------------------
// Methods
// ---------------------------------------------------------------------------

DBusMessage *managedObjects(DBusMessage *call) {
    DBusMessage *reply = dbus_message_new_method_return(call);
    DBusMessageIter it, objects;
    dbus_message_iter_init_append(reply, &it);
    dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{oa{sa{sv}}}", &objects);
    Object all[MAX_OBJECTS];
    int n = listObjects(all);
    for (int i = 0; i < n; ++i) appendObject(&objects, all[i].path, interfaceOf(all[i].kind), properties, &all[i]);
    dbus_message_iter_close_container(&it, &objects);
    return reply;
}

DBusMessage *deviceCall(DBusMessage *call, const Object &o, const char *member) {
    if (std::strcmp(member, "Connect") == 0) {
        if (connectedByBluez(o.slot)) return dbus_message_new_error(call, "org.bluez.Error.AlreadyConnected", "Already Connected");
        if (!bleOpen(o.slot, FRONT_BLUEZ)) return dbus_message_new_error(call, "org.bluez.Error.Failed", "Connection refused");
    } else if (std::strcmp(member, "Disconnect") == 0) {
        if (connectedByBluez(o.slot)) bleClose(o.slot);
    } else {
        return nullptr;
    }
    return dbus_message_new_method_return(call);
}

// Whether the options (a{sv}) of a WriteValue ask for a write without
// response: "type" is "command".
bool writeCommand(DBusMessageIter *options) {
    const char *type = nullptr;
    return optionText(options, "type", &type) && std::strcmp(type, "command") == 0;
}

// WriteValue(ay value, a{sv} options) of a characteristic. The device's
// characteristics take writes without response only.
DBusMessage *writeValue(DBusMessage *call, const Object &o, BleFace *b) {
    DBusMessageIter it, bytes;
    const uint8_t *data = nullptr;
    int size = 0;
    if (!dbus_message_iter_init(call, &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY ||
        dbus_message_iter_get_element_type(&it) != DBUS_TYPE_BYTE) {
        return dbus_message_new_error(call, DBUS_ERROR_INVALID_ARGS, "A value of bytes is expected");
    }
    dbus_message_iter_recurse(&it, &bytes);
    dbus_message_iter_get_fixed_array(&bytes, &data, &size);
    if (!dbus_message_iter_next(&it) || !writeCommand(&it)) {
        return dbus_message_new_error(call, "org.bluez.Error.NotPermitted", "Write not permitted");
    }
    if (b->faults & FTSIM_BLE_FAIL_WRITE) return dbus_message_new_error(call, "org.bluez.Error.Failed", "Write failed");
    if (!bleHostWrite(o.slot, bleRoleAt(b, o.position), data, (size_t)size)) {
        return dbus_message_new_error(call, "org.bluez.Error.InvalidValueLength", "Invalid value");
    }
    return dbus_message_new_method_return(call);
}

// null: no reply at all (the call times out on the client's side).
DBusMessage *characteristicCall(DBusMessage *call, const Object &o, const char *member, bool *answer) {
    BleFace *b = &g_ble[o.slot];
    int role = bleRoleAt(b, o.position);
    if (std::strcmp(member, "WriteValue") == 0) return writeValue(call, o, b);
    if (std::strcmp(member, "AcquireWrite") == 0 && role < 2) {
        int *socket = &g_standin.writeSockets[o.slot][o.position];
        if (*socket >= 0) return dbus_message_new_error(call, "org.bluez.Error.NotPermitted", "Write acquired");
        if (b->faults & FTSIM_BLE_FAIL_WRITE) return dbus_message_new_error(call, "org.bluez.Error.Failed", "Failed");
        return acquireReply(call, (uint16_t)(3 + BLE_MAX_VALUE), socket);
    }
    if (std::strcmp(member, "StopNotify") == 0) {
        bleSubscribe(o.slot, role, false);
    } else if (std::strcmp(member, "StartNotify") == 0 || (std::strcmp(member, "AcquireNotify") == 0 && role < 2)) {
        if (b->faults & FTSIM_BLE_DESCRIPTOR_TIMEOUT) {
            *answer = false;
            return nullptr;
        }
        if ((b->faults & FTSIM_BLE_DESCRIPTOR_ABORT) && !b->abortDone) {
            b->abortDone = true;
            return dbus_message_new_error(call, "org.bluez.Error.InProgress", "In Progress");
        }
        int *socket = &g_standin.notifySockets[o.slot][o.position];
        bool acquire = std::strcmp(member, "AcquireNotify") == 0;
        if (acquire && *socket >= 0) return dbus_message_new_error(call, "org.bluez.Error.NotPermitted", "Notify acquired");
        DBusMessage *reply = acquire ? acquireReply(call, (uint16_t)(3 + BLE_MAX_VALUE), socket) : nullptr;
        if (!acquire || *socket >= 0) bleSubscribe(o.slot, role, true);
        if (reply) return reply;
    } else if (std::strcmp(member, "ReadValue") == 0) {
        DBusMessage *reply = dbus_message_new_method_return(call);
        DBusMessageIter it, bytes;
        dbus_message_iter_init_append(reply, &it);
        dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "y", &bytes);
        dbus_message_iter_close_container(&it, &bytes);
        return reply;
    } else {
        return nullptr;
    }
    return dbus_message_new_method_return(call);
}

// The reply to a call on an object (null with *answer true: unknown method).
DBusMessage *handle(DBusMessage *call, bool *answer) {
    const char *path = dbus_message_get_path(call), *interface = dbus_message_get_interface(call);
    const char *member = dbus_message_get_member(call);
    if (!interface || !member) return nullptr;
    if (path && std::strcmp(path, "/") == 0 && std::strcmp(interface, IF_OBJECT_MANAGER) == 0 &&
        std::strcmp(member, "GetManagedObjects") == 0) {
        return managedObjects(call);
    }
    Object o;
    if (!findObject(path, &o)) return dbus_message_new_error(call, DBUS_ERROR_UNKNOWN_OBJECT, "No such object");
    if (std::strcmp(interface, IF_PROPERTIES) == 0) {
        if (std::strcmp(member, "Get") == 0 || std::strcmp(member, "GetAll") == 0) {
            return propertyReply(call, interfaceOf(o.kind), properties, &o, std::strcmp(member, "GetAll") == 0);
        }
        return nullptr;
    }
    if (std::strcmp(interface, interfaceOf(o.kind)) != 0) return nullptr;
    switch (o.kind) {
    case K_ADAPTER:
        // Discovery finds nothing new (every device is known), but for
        // devices whose advertisement the first scan misses.
        for (int slot = 0; std::strcmp(member, "StartDiscovery") == 0 && slot < FTSIM_MAX; ++slot) {
            if (bleDevice(slot) && g_ble[slot].scans < 2) g_ble[slot].scans += 1;
        }
        return dbus_message_new_method_return(call);
    case K_DEVICE:
        return deviceCall(call, o, member);
    case K_CHARACTERISTIC:
        return characteristicCall(call, o, member, answer);
    default:
        return nullptr;
    }
}

DBusHandlerResult onMessage(DBusConnection *bus, DBusMessage *call, void *) {
    if (dbus_message_get_type(call) != DBUS_MESSAGE_TYPE_METHOD_CALL) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    countCall(FTSIM_CALL_GATT);
    bool answer = true;
    DBusMessage *reply;
    {
        OsLockGuard guard(&g_lock);
        reply = handle(call, &answer);
    }
    if (!reply && answer) reply = dbus_message_new_error(call, DBUS_ERROR_UNKNOWN_METHOD, "No such method");
    if (reply) {
        dbus_connection_send(bus, reply, nullptr);
        dbus_message_unref(reply);
    }
    return DBUS_HANDLER_RESULT_HANDLED;
}

// ---------------------------------------------------------------------------
// Delivery and the service thread
// ---------------------------------------------------------------------------

// PropertiesChanged of the Value of the characteristic at a position.
DBusMessage *valueSignal(int slot, int position, const uint8_t *data, size_t size) {
    char path[128];
    devicePath(slot, path, sizeof path);
    std::snprintf(path + std::strlen(path), sizeof path - std::strlen(path), "/service%04x/char%04x",
                  (unsigned)BLE_SERVICE_HANDLE, (unsigned)bleHandleOfPosition(position));
    return valueChanged(path, data, size);
}

// The acquired notifications of a characteristic end (the host closed its
// socket, or the device is no longer connected).
void endNotifications(int slot, int position) {
    int *socket = &g_standin.notifySockets[slot][position];
    close(*socket);
    *socket = -1;
    if (connectedByBluez(slot)) bleSubscribe(slot, bleRoleAt(&g_ble[slot], position), false);
}

// A notification: PropertiesChanged of the characteristic's Value, or a
// value into the socket of AcquireNotify.
void bluezSink(void *context, int slot, int role, const uint8_t *data, size_t size) {
    DBusConnection *bus = static_cast<DBusConnection *>(context);
    int position = blePositionOfRole(&g_ble[slot], role);
    if (position < 0 || !g_ble[slot].notifying[role]) return;
    int *socket = &g_standin.notifySockets[slot][position];
    if (*socket >= 0) {
        if (send(*socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT) != (ssize_t)size) endNotifications(slot, position);
        return;
    }
    DBusMessage *signal = valueSignal(slot, position, data, size);
    if (!signal) return;
    dbus_connection_send(bus, signal, nullptr);
    dbus_message_unref(signal);
}

// The values a host wrote into the socket of a characteristic.
struct Written {
    int slot;
    int role;
};
void takeWritten(void *context, const uint8_t *data, size_t size) {
    const Written *w = static_cast<const Written *>(context);
    bleHostWrite(w->slot, w->role, data, size);
}

// Takes what the hosts wrote into acquired sockets, and ends the acquired
// notifications a host closed; the sockets of a device that is no longer
// connected close, as BlueZ closes them.
void serveSockets(int slot) {
    for (int p = 0; p < BLE_CHARACTERISTICS; ++p) {
        int *socket = &g_standin.writeSockets[slot][p];
        if (*socket < 0) continue;
        if (!connectedByBluez(slot) || g_ble[slot].dead) {
            close(*socket);
            *socket = -1;
            continue;
        }
        Written w = {slot, bleRoleAt(&g_ble[slot], p)};
        takeValues(socket, takeWritten, &w);
    }
    for (int p = 0; p < BLE_CHARACTERISTICS; ++p) {
        pollfd ended = {g_standin.notifySockets[slot][p], POLLIN, 0};
        if (ended.fd < 0) continue;
        if (!connectedByBluez(slot) || g_ble[slot].dead || (poll(&ended, 1, 0) > 0 && ended.revents)) {
            endNotifications(slot, p);
        }
    }
}

void serve(void *) {
    DBusConnection *bus = g_standin.bus;
    while (!g_standin.stop.load()) {
        if (!dbus_connection_read_write_dispatch(bus, 1)) break;
        OsLockGuard guard(&g_lock);
        for (int slot = 0; slot < FTSIM_MAX; ++slot) {
            serveSockets(slot);
            if (connectedByBluez(slot)) blePump(slot, bluezSink, bus);
        }
    }
}

// A private connection to the bus at address (null: the system bus).
DBusConnection *openBus(const char *address) {
    DBusError e;
    dbus_error_init(&e);
    DBusConnection *bus = address ? dbus_connection_open_private(address, &e) : dbus_bus_get_private(DBUS_BUS_SYSTEM, &e);
    if (bus && address && !dbus_bus_register(bus, &e)) {
        dbus_connection_close(bus);
        dbus_connection_unref(bus);
        bus = nullptr;
    }
    dbus_error_free(&e);
    if (bus) dbus_connection_set_exit_on_disconnect(bus, FALSE);
    return bus;
}

// The service's connection: org.bluez and every object below "/".
DBusConnection *connectBus(const char *address) {
    DBusConnection *bus = openBus(address);
    if (!bus) return nullptr;
    int owner = dbus_bus_request_name(bus, "org.bluez", DBUS_NAME_FLAG_DO_NOT_QUEUE, nullptr);
    static const DBusObjectPathVTable vtable = {nullptr, onMessage, nullptr, nullptr, nullptr, nullptr};
    if (owner != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER || !dbus_connection_register_fallback(bus, "/", &vtable, nullptr)) {
        dbus_connection_close(bus);
        dbus_connection_unref(bus);
        return nullptr;
    }
    return bus;
}

}  // namespace

extern "C" {

int ftsimBluezStart(const char *address, int adapters) {
    OsLockGuard guard(&g_standinLock);
    if (g_standin.bus || !dbus_threads_init_default()) return -1;
    DBusConnection *bus = connectBus(address);
    if (!bus) return -1;
    g_standin.bus = bus;
    std::snprintf(g_standin.address, sizeof g_standin.address, "%s", address ? address : "");
    g_standin.adapters = adapters;
    for (int slot = 0; slot < FTSIM_MAX; ++slot) {
        for (int p = 0; p < BLE_CHARACTERISTICS; ++p) g_standin.writeSockets[slot][p] = g_standin.notifySockets[slot][p] = -1;
    }
    g_standin.stop.store(false);
    g_standin.thread = osThreadStart(serve, nullptr, 0, OS_PRIORITY_NORMAL);
    if (!g_standin.thread) {
        dbus_connection_close(bus);
        dbus_connection_unref(bus);
        g_standin.bus = nullptr;
        return -1;
    }
    return 0;
}

int ftsimBluezForge(int index, const uint8_t *data, size_t size) {
    int position;
    {
        OsLockGuard lock(&g_lock);
        if (!connectedByBluez(index)) return -1;
        position = blePositionOfRole(&g_ble[index], ROLE_DATA_FROM_DEVICE);
    }
    DBusConnection *bus = nullptr;
    if (position >= 0) {
        OsLockGuard guard(&g_standinLock);
        if (g_standin.bus) bus = openBus(g_standin.address[0] ? g_standin.address : nullptr);
    }
    DBusMessage *signal = bus ? valueSignal(index, position, data, size) : nullptr;
    bool sent = signal && dbus_connection_send(bus, signal, nullptr);
    if (sent) dbus_connection_flush(bus);
    if (signal) dbus_message_unref(signal);
    if (bus) {
        dbus_connection_close(bus);
        dbus_connection_unref(bus);
    }
    return sent ? 0 : -1;
}

void ftsimBluezStop(void) {
    OsLockGuard guard(&g_standinLock);
    if (!g_standin.bus) return;
    g_standin.stop.store(true);
    osThreadJoin(g_standin.thread);
    {
        OsLockGuard lock(&g_lock);
        for (int slot = 0; slot < FTSIM_MAX; ++slot) {
            if (connectedByBluez(slot)) bleClose(slot);
            serveSockets(slot);
        }
    }
    dbus_connection_close(g_standin.bus);
    dbus_connection_unref(g_standin.bus);
    g_standin.bus = nullptr;
    g_standin.thread = nullptr;
}

}  // extern "C"
