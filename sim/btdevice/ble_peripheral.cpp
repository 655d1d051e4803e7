// ble_peripheral.cpp - the simulated Bluetooth LE device as a peripheral of
// the machine's bluetoothd (see ble_peripheral.h).
//
// The objects under ROOT, on a private connection to the system bus:
//   ROOT                 org.freedesktop.DBus.ObjectManager: the service and
//                        its characteristics (what RegisterApplication reads)
//   ROOT/service0        org.bluez.GattService1, the device's service
//   ROOT/service0/charN  org.bluez.GattCharacteristic1 at position N, in the
//                        order of the contract; bluetoothd gives them their
//                        handles in this order
//   ROOT/advertisement0  org.bluez.LEAdvertisement1: connectable, the
//                        service's UUID, the device's name (bluetoothd puts
//                        it in the scan response: it does not fit beside the
//                        UUID in 31 bytes)
//
// bluetoothd turns a host's switch-on of notifications into AcquireNotify
// (or StartNotify) and sends what we write into that socket (or signal as
// PropertiesChanged of the Value) to the host as notifications; it hands
// the host's writes over the socket of AcquireWrite (or as WriteValue). The
// device side of the link is the simulator's (sim/blesim.cpp): the first
// call of a host opens the device, the host's disconnection (its Device1
// object under the adapter, Connected false) or the adapter's power-off
// closes it.
#include "sim/btdevice/ble_peripheral.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "link/posix/bluez_bus.h"
#include "os/os.h"
#include "sim/blesim_internal.h"
#include "sim/posix/bluez_props.h"

namespace ftsim {

namespace {

const char *const ROOT = "/org/quorvane/peripheral";
const char *const IF_GATT_MANAGER = "org.bluez.GattManager1";
const char *const IF_ADVERTISING_MANAGER = "org.bluez.LEAdvertisingManager1";
const char *const IF_ADVERTISEMENT = "org.bluez.LEAdvertisement1";
const int REGISTER_MS = 30000;
const int POLL_MS = 1;

enum Kind { P_SERVICE, P_CHARACTERISTIC, P_ADVERTISEMENT };

struct Object {
    Kind kind;
    int position;
    char path[bluez::PATH_SIZE];
};

struct Peripheral {
    DBusConnection *bus = nullptr;
    int slot = -1;
    char adapter[bluez::PATH_SIZE] = "";
    char owner[bluez::TEXT_SIZE] = "";   // bluetoothd's unique name
    char host[bluez::PATH_SIZE] = "";    // the connected host's Device1 object
    uint16_t mtu = 0;                    // as the host's last write reported it
    PeripheralSay say = nullptr;
    OsThread thread = nullptr;
    std::atomic<bool> stop{false};
    std::atomic<bool> drop{false};
    std::atomic<bool> connected{false};
    int writeSockets[BLE_CHARACTERISTICS] = {-1, -1, -1};   // AcquireWrite's, by position
    int notifySockets[BLE_CHARACTERISTICS] = {-1, -1, -1};  // AcquireNotify's
    std::atomic<bool> readvertise{false};   // the adapter came back on
    DBusPendingCall *advertising = nullptr;
    PeripheralShape shape = SHAPE_DEVICE;
    std::atomic<int> vanish{VANISH_NEVER};
};
Peripheral g_peripheral;

const char *interfaceOf(Kind kind) {
    static const char *const names[] = {bluez::GATT_SERVICE, bluez::GATT_CHARACTERISTIC, IF_ADVERTISEMENT};
    return names[kind];
}

// The service, its characteristics, then the advertisement.
int listObjects(Object *out) {
    int n = 0;
    out[n] = Object{P_SERVICE, -1, {0}};
    std::snprintf(out[n++].path, bluez::PATH_SIZE, "%s/service0", ROOT);
    int characteristics = bleCharacteristicCount(&g_ble[g_peripheral.slot]);
    if (g_peripheral.shape == SHAPE_MISSING_CHARACTERISTIC) characteristics -= 1;
    for (int p = 0; p < characteristics; ++p) {
        out[n] = Object{P_CHARACTERISTIC, p, {0}};
        std::snprintf(out[n++].path, bluez::PATH_SIZE, "%s/service0/char%d", ROOT, p);
    }
    out[n] = Object{P_ADVERTISEMENT, -1, {0}};
    std::snprintf(out[n++].path, bluez::PATH_SIZE, "%s/advertisement0", ROOT);
    return n;
}

const int MAX_OBJECTS = 2 + BLE_CHARACTERISTICS;

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

void properties(PropertyOut *out, const void *object) {
    const Object &o = *static_cast<const Object *>(object);
    const BleFace *b = &g_ble[g_peripheral.slot];
    char service[bluez::PATH_SIZE];
    std::snprintf(service, sizeof service, "%s/service0", ROOT);
    switch (o.kind) {
    case P_SERVICE:
        uuidProperty(out, "UUID", BLE_SERVICE_GUID);
        boolProperty(out, "Primary", true);
        break;
    case P_CHARACTERISTIC: {
        // Characteristics 0 and 1 carry the link's bytes both ways, written
        // without response; 2 is only read.
        int role = bleRoleAt(b, o.position);
        static const char *const dataFlags[] = {"write-without-response", "notify"};
        static const char *const readFlags[] = {"read"};
        uuidProperty(out, "UUID", BLE_CHARACTERISTIC_GUIDS[role]);
        textProperty(out, "Service", service, DBUS_TYPE_OBJECT_PATH);
        int dataFlagCount = g_peripheral.shape == SHAPE_NO_NOTIFY ? 1 : 2;
        textsProperty(out, "Flags", role < 2 ? dataFlags : readFlags, role < 2 ? dataFlagCount : 1);
        // bluetoothd then hands the host's writes over a socket, and takes
        // the notifications from one, without a call or signal per value.
        if (role < 2) boolProperty(out, "WriteAcquired", g_peripheral.writeSockets[o.position] >= 0);
        if (role < 2) boolProperty(out, "NotifyAcquired", g_peripheral.notifySockets[o.position] >= 0);
        break;
    }
    case P_ADVERTISEMENT:
        textProperty(out, "Type", "peripheral");
        uuidProperty(out, "ServiceUUIDs", BLE_SERVICE_GUID);
        textProperty(out, "LocalName", b->name);
        break;
    }
}

// ---------------------------------------------------------------------------
// bluetoothd's calls
// ---------------------------------------------------------------------------

DBusMessage *managedObjects(DBusMessage *call) {
    DBusMessage *reply = dbus_message_new_method_return(call);
    DBusMessageIter it, objects;
    dbus_message_iter_init_append(reply, &it);
    dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{oa{sa{sv}}}", &objects);
    Object all[MAX_OBJECTS];
    int n = listObjects(all);
    for (int i = 0; i < n; ++i) {
        if (all[i].kind != P_ADVERTISEMENT) appendObject(&objects, all[i].path, interfaceOf(all[i].kind), properties, &all[i]);
    }
    dbus_message_iter_close_container(&it, &objects);
    return reply;
}

// The device opened for a host's first call after a disconnection.
bool openForHost() {
    int slot = g_peripheral.slot;
    if (g_ble[slot].open && g_ble[slot].front == FRONT_PERIPHERAL && !g_ble[slot].dead) return true;
    if (g_ble[slot].open) bleClose(slot);
    return bleOpen(slot, FRONT_PERIPHERAL);
}

// WriteValue(ay value, a{sv} options): the host's bytes for the device.
DBusMessage *writeValue(DBusMessage *call, int role) {
    DBusMessageIter it, bytes;
    const uint8_t *data = nullptr;
    int size = 0;
    if (!dbus_message_iter_init(call, &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY ||
        dbus_message_iter_get_element_type(&it) != DBUS_TYPE_BYTE) {
        return dbus_message_new_error(call, DBUS_ERROR_INVALID_ARGS, "A value of bytes is expected");
    }
    dbus_message_iter_recurse(&it, &bytes);
    dbus_message_iter_get_fixed_array(&bytes, &data, &size);
    uint16_t mtu = 0;
    if (dbus_message_iter_next(&it) && optionUint16(&it, "mtu", &mtu) && mtu != g_peripheral.mtu) {
        g_peripheral.mtu = mtu;
        char text[16];
        std::snprintf(text, sizeof text, "%u", (unsigned)mtu);
        g_peripheral.say("the host's ATT MTU: ", text);
    }
    if (!openForHost() || !bleHostWrite(g_peripheral.slot, role, data, (size_t)size)) {
        return dbus_message_new_error(call, "org.bluez.Error.InvalidValueLength", "Invalid value");
    }
    return dbus_message_new_method_return(call);
}

// AcquireWrite(a{sv} options): the socket of the host's writes.
DBusMessage *acquireWrite(DBusMessage *call, int position) {
    DBusMessageIter it;
    uint16_t mtu = 3 + BLE_MAX_VALUE;
    if (dbus_message_iter_init(call, &it)) optionUint16(&it, "mtu", &mtu);
    int *socket = &g_peripheral.writeSockets[position];
    if (*socket >= 0) close(*socket);
    *socket = -1;
    if (!openForHost()) return dbus_message_new_error(call, "org.bluez.Error.Failed", "The device is not there");
    return acquireReply(call, mtu, socket);
}

// The device goes away if it was armed for this moment: its adapter is
// switched off, without waiting for bluetoothd's reply (this thread serves
// bluetoothd's calls).
void vanishesAt(PeripheralVanish moment) {
    int armed = moment;
    if (!g_peripheral.vanish.compare_exchange_strong(armed, VANISH_NEVER)) return;
    DBusMessage *m = bluez::newCall(g_peripheral.adapter, bluez::PROPERTIES, "Set");
    const char *interface = bluez::ADAPTER, *name = "Powered";
    dbus_bool_t off = FALSE;
    DBusMessageIter it, variant;
    if (m) {
        dbus_message_iter_init_append(m, &it);
        dbus_message_iter_append_basic(&it, DBUS_TYPE_STRING, &interface);
        dbus_message_iter_append_basic(&it, DBUS_TYPE_STRING, &name);
        dbus_message_iter_open_container(&it, DBUS_TYPE_VARIANT, "b", &variant);
        dbus_message_iter_append_basic(&variant, DBUS_TYPE_BOOLEAN, &off);
        dbus_message_iter_close_container(&it, &variant);
        dbus_message_set_no_reply(m, TRUE);
        dbus_connection_send(g_peripheral.bus, m, nullptr);
        dbus_message_unref(m);
    }
    g_peripheral.say(moment == VANISH_AT_CONNECT ? "vanishing as the host connects" : "vanishing as the host switches "
                                                                                        "notifications on",
                     "");
}

// AcquireNotify(a{sv} options), bluetoothd's answer to the host's switch-on
// of notifications: the socket the notifications go into.
DBusMessage *acquireNotify(DBusMessage *call, int position, int role) {
    DBusMessageIter it;
    uint16_t mtu = 3 + BLE_MAX_VALUE;
    if (dbus_message_iter_init(call, &it)) optionUint16(&it, "mtu", &mtu);
    int *socket = &g_peripheral.notifySockets[position];
    if (*socket >= 0) close(*socket);
    *socket = -1;
    if (!openForHost()) return dbus_message_new_error(call, "org.bluez.Error.Failed", "The device is not there");
    DBusMessage *reply = acquireReply(call, mtu, socket);
    if (*socket >= 0) bleSubscribe(g_peripheral.slot, role, true);
    return reply;
}

DBusMessage *characteristicCall(DBusMessage *call, const Object &o, const char *member) {
    int role = bleRoleAt(&g_ble[g_peripheral.slot], o.position);
    // The switch-on is answered as usual: the adapter's power-off ends it
    // (an error here left bluetoothd refusing the next connection's).
    bool switchOn = std::strcmp(member, "AcquireNotify") == 0 || std::strcmp(member, "StartNotify") == 0;
    if (switchOn) vanishesAt(VANISH_AT_NOTIFY);
    if (std::strcmp(member, "AcquireNotify") == 0 && role < 2) return acquireNotify(call, o.position, role);
    if (std::strcmp(member, "WriteValue") == 0) return writeValue(call, role);
    if (std::strcmp(member, "AcquireWrite") == 0 && role < 2) return acquireWrite(call, o.position);
    if (std::strcmp(member, "StartNotify") == 0) {
        if (!openForHost()) return dbus_message_new_error(call, "org.bluez.Error.Failed", "The device is not there");
        bleSubscribe(g_peripheral.slot, role, true);
    } else if (std::strcmp(member, "StopNotify") == 0) {
        bleSubscribe(g_peripheral.slot, role, false);
    } else if (std::strcmp(member, "ReadValue") == 0) {
        // Characteristic 2 has no value the link reads.
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

// The reply to a call on one of the objects (null: unknown method).
DBusMessage *handle(DBusMessage *call) {
    const char *path = dbus_message_get_path(call), *interface = dbus_message_get_interface(call);
    const char *member = dbus_message_get_member(call);
    if (!interface || !member || !path) return nullptr;
    if (std::strcmp(path, ROOT) == 0 && std::strcmp(interface, bluez::OBJECT_MANAGER) == 0 &&
        std::strcmp(member, "GetManagedObjects") == 0) {
        return managedObjects(call);
    }
    Object o;
    if (!findObject(path, &o)) return dbus_message_new_error(call, DBUS_ERROR_UNKNOWN_OBJECT, "No such object");
    if (std::strcmp(interface, bluez::PROPERTIES) == 0 &&
        (std::strcmp(member, "Get") == 0 || std::strcmp(member, "GetAll") == 0)) {
        return propertyReply(call, interfaceOf(o.kind), properties, &o, std::strcmp(member, "GetAll") == 0);
    }
    if (std::strcmp(interface, interfaceOf(o.kind)) != 0) return nullptr;
    if (o.kind == P_CHARACTERISTIC) return characteristicCall(call, o, member);
    if (o.kind == P_ADVERTISEMENT && std::strcmp(member, "Release") == 0) {
        g_peripheral.say("the advertisement was released by bluetoothd", "");
        return dbus_message_new_method_return(call);
    }
    return nullptr;
}

DBusHandlerResult onCall(DBusConnection *bus, DBusMessage *call, void *) {
    if (dbus_message_get_type(call) != DBUS_MESSAGE_TYPE_METHOD_CALL) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    DBusMessage *reply;
    {
        OsLockGuard guard(&g_lock);
        reply = handle(call);
    }
    if (!reply) reply = dbus_message_new_error(call, DBUS_ERROR_UNKNOWN_METHOD, "No such method");
    if (reply) {
        dbus_connection_send(bus, reply, nullptr);
        dbus_message_unref(reply);
    }
    return DBUS_HANDLER_RESULT_HANDLED;
}

// ---------------------------------------------------------------------------
// The host's connection, as bluetoothd shows it under the adapter
// ---------------------------------------------------------------------------

void closeSocket(int *socket) {
    if (*socket >= 0) close(*socket);
    *socket = -1;
}

void hostGone(const char *why) {
    OsLockGuard guard(&g_lock);
    int slot = g_peripheral.slot;
    if (g_ble[slot].open && g_ble[slot].front == FRONT_PERIPHERAL) bleClose(slot);
    for (int p = 0; p < BLE_CHARACTERISTICS; ++p) {
        closeSocket(&g_peripheral.writeSockets[p]);
        closeSocket(&g_peripheral.notifySockets[p]);
    }
    g_peripheral.host[0] = '\0';
    g_peripheral.connected.store(false);
    g_peripheral.say("host connection ended: ", why);
}

// PropertiesChanged of a Device1 (Connected) or of the adapter (Powered).
DBusHandlerResult onSignal(DBusConnection *, DBusMessage *message, void *) {
    const char *sender = dbus_message_get_sender(message), *path = dbus_message_get_path(message);
    if (!dbus_message_is_signal(message, bluez::PROPERTIES, "PropertiesChanged") || !sender || !path ||
        std::strcmp(sender, g_peripheral.owner) != 0) {
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }
    DBusMessageIter it, changed, variant;
    const char *interface = nullptr;
    if (!dbus_message_iter_init(message, &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_STRING) {
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }
    dbus_message_iter_get_basic(&it, &interface);
    if (!dbus_message_iter_next(&it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY) {
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }
    dbus_message_iter_recurse(&it, &changed);
    bool on = false;
    if (std::strcmp(interface, bluez::DEVICE) == 0 && bluez::property(&changed, "Connected", &variant) &&
        bluez::readBool(&variant, &on)) {
        if (on) {
            std::snprintf(g_peripheral.host, sizeof g_peripheral.host, "%s", path);
            g_peripheral.connected.store(true);
            g_peripheral.say("host connected: ", path);
            vanishesAt(VANISH_AT_CONNECT);
        } else if (std::strcmp(path, g_peripheral.host) == 0 || g_peripheral.host[0] == '\0') {
            hostGone("the host disconnected");
        }
    } else if (std::strcmp(interface, bluez::ADAPTER) == 0 && std::strcmp(path, g_peripheral.adapter) == 0 &&
               bluez::property(&changed, "Powered", &variant) && bluez::readBool(&variant, &on)) {
        if (!on) hostGone("the adapter was powered off");
        // Its advertising does not come back by itself.
        if (on) g_peripheral.readvertise.store(true);
        g_peripheral.say(on ? "adapter powered on" : "adapter powered off", "");
    }
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
}

// ---------------------------------------------------------------------------
// Delivery and the service thread
// ---------------------------------------------------------------------------

// A notification: PropertiesChanged of the characteristic's Value.
void sink(void *, int slot, int role, const uint8_t *data, size_t size) {
    int position = blePositionOfRole(&g_ble[slot], role);
    if (position < 0 || !g_ble[slot].notifying[role]) return;
    int *socket = &g_peripheral.notifySockets[position];
    if (*socket >= 0) {
        // bluetoothd closes its end when the host switches the
        // notifications off or goes.
        if (send(*socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT) != (ssize_t)size) {
            closeSocket(socket);
            bleSubscribe(slot, role, false);
        }
        return;
    }
    char path[bluez::PATH_SIZE];
    std::snprintf(path, sizeof path, "%s/service0/char%d", ROOT, position);
    DBusMessage *signal = valueChanged(path, data, size);
    if (!signal) return;
    dbus_connection_send(g_peripheral.bus, signal, nullptr);
    dbus_message_unref(signal);
}

// Device1.Disconnect of the connected host, without waiting for it (the
// reply comes once bluetoothd has stopped the notifications, which it asks
// this thread for).
void dropHost() {
    if (g_peripheral.host[0] == '\0') return;
    DBusMessage *m = bluez::newCall(g_peripheral.host, bluez::DEVICE, "Disconnect");
    if (m) {
        dbus_message_set_no_reply(m, TRUE);
        dbus_connection_send(g_peripheral.bus, m, nullptr);
        dbus_message_unref(m);
    }
}

// A value the host wrote into the socket of the characteristic at a
// position (bluetoothd closes the socket when the host goes).
void takeWritten(void *context, const uint8_t *data, size_t size) {
    int position = *static_cast<const int *>(context);
    if (openForHost()) bleHostWrite(g_peripheral.slot, bleRoleAt(&g_ble[g_peripheral.slot], position), data, size);
}

// A call to one of bluetoothd's managers with our object and no options,
// sent now; its reply is waited for by awaitReplies.
DBusPendingCall *registerWith(const char *interface, const char *method, const char *object) {
    DBusMessage *m = bluez::newCall(g_peripheral.adapter, interface, method);
    DBusMessageIter it, options;
    DBusPendingCall *pending = nullptr;
    if (!m) return nullptr;
    dbus_message_iter_init_append(m, &it);
    bool ok = dbus_message_iter_append_basic(&it, DBUS_TYPE_OBJECT_PATH, &object) &&
              dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &options) &&
              dbus_message_iter_close_container(&it, &options) &&
              dbus_connection_send_with_reply(g_peripheral.bus, m, &pending, REGISTER_MS);
    dbus_message_unref(m);
    return ok ? pending : nullptr;
}

// Serves bluetoothd's calls (it reads the application while it registers
// it) until every registration has its reply; true when all succeeded.
bool awaitReplies(DBusPendingCall **pending, const char *const *what, int count) {
    bool ok = true;
    for (int i = 0; i < count; ++i) {
        if (!pending[i]) {
            g_peripheral.say("no memory for the registration of the ", what[i]);
            ok = false;
            continue;
        }
        while (!dbus_pending_call_get_completed(pending[i]) &&
               dbus_connection_read_write_dispatch(g_peripheral.bus, 10)) {
        }
        DBusMessage *reply = dbus_pending_call_steal_reply(pending[i]);
        dbus_pending_call_unref(pending[i]);
        DBusError e;
        dbus_error_init(&e);
        if (!reply || dbus_set_error_from_message(&e, reply)) {
            char text[bluez::TEXT_SIZE];
            std::snprintf(text, sizeof text, "%s: %s", what[i], e.message ? e.message : "no reply");
            g_peripheral.say("registration refused: ", text);
            ok = false;
        }
        dbus_error_free(&e);
        if (reply) dbus_message_unref(reply);
    }
    return ok;
}

// The advertisement registered again once the adapter came back on; the
// reply is told when it comes.
void readvertise() {
    Peripheral &p = g_peripheral;
    char advertisement[bluez::PATH_SIZE];
    std::snprintf(advertisement, sizeof advertisement, "%s/advertisement0", ROOT);
    if (p.readvertise.exchange(false) && !p.advertising) {
        DBusMessage *m = bluez::newCall(p.adapter, IF_ADVERTISING_MANAGER, "UnregisterAdvertisement");
        const char *path = advertisement;
        if (m && dbus_message_append_args(m, DBUS_TYPE_OBJECT_PATH, &path, DBUS_TYPE_INVALID)) {
            dbus_message_set_no_reply(m, TRUE);
            dbus_connection_send(p.bus, m, nullptr);
        }
        if (m) dbus_message_unref(m);
        p.advertising = registerWith(IF_ADVERTISING_MANAGER, "RegisterAdvertisement", advertisement);
    }
    if (!p.advertising || !dbus_pending_call_get_completed(p.advertising)) return;
    DBusMessage *reply = dbus_pending_call_steal_reply(p.advertising);
    dbus_pending_call_unref(p.advertising);
    p.advertising = nullptr;
    bool ok = reply && dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
    p.say(ok ? "advertised again" : "the advertisement was refused after the power-on", "");
    if (reply) dbus_message_unref(reply);
}

void serve(void *) {
    while (!g_peripheral.stop.load()) {
        if (!dbus_connection_read_write_dispatch(g_peripheral.bus, POLL_MS)) break;
        if (g_peripheral.drop.exchange(false)) dropHost();
        readvertise();
        OsLockGuard guard(&g_lock);
        for (int p = 0; p < BLE_CHARACTERISTICS; ++p) takeValues(&g_peripheral.writeSockets[p], takeWritten, &p);
        int slot = g_peripheral.slot;
        if (g_ble[slot].open && g_ble[slot].front == FRONT_PERIPHERAL) blePump(slot, sink, nullptr);
    }
}

bool watchHost() {
    char rule[bluez::PATH_SIZE + bluez::TEXT_SIZE + 128];
    std::snprintf(rule, sizeof rule,
                  "type='signal',sender='%s',interface='%s',member='PropertiesChanged',path_namespace='%s'",
                  g_peripheral.owner, bluez::PROPERTIES, g_peripheral.adapter);
    DBusError e;
    dbus_error_init(&e);
    dbus_bus_add_match(g_peripheral.bus, rule, &e);
    bool ok = !dbus_error_is_set(&e) && dbus_connection_add_filter(g_peripheral.bus, onSignal, nullptr, nullptr);
    dbus_error_free(&e);
    return ok;
}

}  // namespace

bool peripheralStart(int slot, const char *adapterPath, PeripheralShape shape, PeripheralSay say) {
    Peripheral &p = g_peripheral;
    bluez::Error e;
    p.slot = slot;
    p.shape = shape;
    p.say = say;
    std::snprintf(p.adapter, sizeof p.adapter, "%s", adapterPath);
    p.bus = bluez::openBus(&e);
    if (!p.bus || !bluez::serviceOwner(p.bus, p.owner, sizeof p.owner, &e)) {
        say("no bluetoothd on the system bus: ", e.message);
        return false;
    }
    static const DBusObjectPathVTable vtable = {nullptr, onCall, nullptr, nullptr, nullptr, nullptr};
    if (!dbus_connection_register_fallback(p.bus, ROOT, &vtable, nullptr) || !watchHost()) {
        say("cannot serve the objects on the bus", "");
        return false;
    }
    char advertisement[bluez::PATH_SIZE];
    std::snprintf(advertisement, sizeof advertisement, "%s/advertisement0", ROOT);
    DBusPendingCall *pending[2] = {registerWith(IF_GATT_MANAGER, "RegisterApplication", ROOT),
                                   registerWith(IF_ADVERTISING_MANAGER, "RegisterAdvertisement", advertisement)};
    static const char *const what[2] = {"GATT application", "advertisement"};
    if (!awaitReplies(pending, what, 2)) return false;
    p.stop.store(false);
    p.thread = osThreadStart(serve, nullptr, 0, OS_PRIORITY_NORMAL);
    return p.thread != nullptr;
}

bool peripheralDrop() {
    if (!g_peripheral.connected.load()) return false;
    g_peripheral.drop.store(true);
    return true;
}

void peripheralArm(PeripheralVanish when) { g_peripheral.vanish.store(when); }

void peripheralStop() {
    Peripheral &p = g_peripheral;
    if (p.thread) {
        p.stop.store(true);
        osThreadJoin(p.thread);
        p.thread = nullptr;
    }
    {
        OsLockGuard guard(&g_lock);
        if (p.slot >= 0 && g_ble[p.slot].open && g_ble[p.slot].front == FRONT_PERIPHERAL) bleClose(p.slot);
    }
    bluez::closeBus(p.bus);
    p.bus = nullptr;
}

}  // namespace ftsim
