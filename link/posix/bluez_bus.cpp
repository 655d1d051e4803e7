// bluez_bus.cpp - D-Bus for the BlueZ client of the Bluetooth LE link (see
// bluez_bus.h).
#include "link/posix/bluez_bus.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

namespace bluez {

const char *const SERVICE = "org.bluez";
const char *const ADAPTER = "org.bluez.Adapter1";
const char *const DEVICE = "org.bluez.Device1";
const char *const GATT_SERVICE = "org.bluez.GattService1";
const char *const GATT_CHARACTERISTIC = "org.bluez.GattCharacteristic1";
const char *const GATT_DESCRIPTOR = "org.bluez.GattDescriptor1";
const char *const PROPERTIES = "org.freedesktop.DBus.Properties";
const char *const OBJECT_MANAGER = "org.freedesktop.DBus.ObjectManager";

static void setError(Error *error, const char *name, const char *message) {
    std::snprintf(error->name, sizeof error->name, "%s", name ? name : "");
    std::snprintf(error->message, sizeof error->message, "%s", message ? message : "");
}

DBusConnection *openBus(Error *error) {
    // libdbus serialises its use across threads once this has run.
    if (!dbus_threads_init_default()) {
        setError(error, DBUS_ERROR_NO_MEMORY, "no memory for the D-Bus threads");
        return nullptr;
    }
    DBusError e;
    dbus_error_init(&e);
    DBusConnection *bus = dbus_bus_get_private(DBUS_BUS_SYSTEM, &e);
    if (!bus) {
        setError(error, e.name, e.message);
        dbus_error_free(&e);
        return nullptr;
    }
    // A bus that goes away must not end the host's process.
    dbus_connection_set_exit_on_disconnect(bus, FALSE);
    return bus;
}

void closeBus(DBusConnection *bus) {
    if (!bus) return;
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
}

DBusMessage *newCall(const char *path, const char *interface, const char *method) {
    return dbus_message_new_method_call(SERVICE, path, interface, method);
}

DBusMessage *call(DBusConnection *bus, DBusMessage *message, int timeoutMs, Error *error) {
    if (!message) {
        setError(error, DBUS_ERROR_NO_MEMORY, "no memory for the call");
        return nullptr;
    }
    DBusError e;
    dbus_error_init(&e);
    DBusMessage *reply = dbus_connection_send_with_reply_and_block(bus, message, timeoutMs, &e);
    dbus_message_unref(message);
    if (!reply) {
        setError(error, e.name, e.message);
        dbus_error_free(&e);
    }
    return reply;
}

bool callVoid(DBusConnection *bus, const char *path, const char *interface, const char *method, int timeoutMs,
              Error *error) {
    DBusMessage *reply = call(bus, newCall(path, interface, method), timeoutMs, error);
    if (reply) dbus_message_unref(reply);
    return reply != nullptr;
}

DBusMessage *managedObjects(DBusConnection *bus, Error *error) {
    return call(bus, newCall("/", OBJECT_MANAGER, "GetManagedObjects"), 5000, error);
}

bool serviceOwner(DBusConnection *bus, char *out, size_t size, Error *error) {
    DBusMessage *m =
        dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetNameOwner");
    if (m && !dbus_message_append_args(m, DBUS_TYPE_STRING, &SERVICE, DBUS_TYPE_INVALID)) {
        dbus_message_unref(m);
        m = nullptr;
    }
    DBusMessage *reply = call(bus, m, 5000, error);
    if (!reply) return false;
    const char *owner = nullptr;
    DBusError e;
    dbus_error_init(&e);
    bool ok = dbus_message_get_args(reply, &e, DBUS_TYPE_STRING, &owner, DBUS_TYPE_INVALID) && owner[0] != '\0';
    if (ok) std::snprintf(out, size, "%s", owner);
    else setError(error, e.name ? e.name : DBUS_ERROR_INVALID_ARGS, e.message ? e.message : "no owner");
    dbus_error_free(&e);
    dbus_message_unref(reply);
    return ok;
}

// One object of a{oa{sa{sv}}}: each interface with its properties.
static void walkInterfaces(DBusMessageIter *object, ObjectVisitor visit, void *context) {
    DBusMessageIter entry;
    dbus_message_iter_recurse(object, &entry);
    if (dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_OBJECT_PATH) return;
    const char *path = nullptr;
    dbus_message_iter_get_basic(&entry, &path);
    dbus_message_iter_next(&entry);
    if (dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_ARRAY) return;
    DBusMessageIter interfaces;
    for (dbus_message_iter_recurse(&entry, &interfaces);
         dbus_message_iter_get_arg_type(&interfaces) == DBUS_TYPE_DICT_ENTRY; dbus_message_iter_next(&interfaces)) {
        DBusMessageIter pair, properties;
        dbus_message_iter_recurse(&interfaces, &pair);
        if (dbus_message_iter_get_arg_type(&pair) != DBUS_TYPE_STRING) continue;
        const char *name = nullptr;
        dbus_message_iter_get_basic(&pair, &name);
        dbus_message_iter_next(&pair);
        if (dbus_message_iter_get_arg_type(&pair) != DBUS_TYPE_ARRAY) continue;
        dbus_message_iter_recurse(&pair, &properties);
        visit(context, path, name, &properties);
    }
}

bool walkObjects(DBusMessage *reply, ObjectVisitor visit, void *context) {
    DBusMessageIter top, objects;
    if (!dbus_message_iter_init(reply, &top) || dbus_message_iter_get_arg_type(&top) != DBUS_TYPE_ARRAY) return false;
    for (dbus_message_iter_recurse(&top, &objects); dbus_message_iter_get_arg_type(&objects) == DBUS_TYPE_DICT_ENTRY;
         dbus_message_iter_next(&objects)) {
        walkInterfaces(&objects, visit, context);
    }
    return true;
}

bool property(const DBusMessageIter *properties, const char *name, DBusMessageIter *variant) {
    DBusMessageIter it = *properties;
    for (; dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_DICT_ENTRY; dbus_message_iter_next(&it)) {
        DBusMessageIter pair;
        dbus_message_iter_recurse(&it, &pair);
        if (dbus_message_iter_get_arg_type(&pair) != DBUS_TYPE_STRING) continue;
        const char *key = nullptr;
        dbus_message_iter_get_basic(&pair, &key);
        if (std::strcmp(key, name) != 0) continue;
        dbus_message_iter_next(&pair);
        if (dbus_message_iter_get_arg_type(&pair) != DBUS_TYPE_VARIANT) return false;
        dbus_message_iter_recurse(&pair, variant);
        return true;
    }
    return false;
}

bool readText(DBusMessageIter *variant, char *out, size_t size) {
    int type = dbus_message_iter_get_arg_type(variant);
    if (type != DBUS_TYPE_STRING && type != DBUS_TYPE_OBJECT_PATH) return false;
    const char *text = nullptr;
    dbus_message_iter_get_basic(variant, &text);
    std::snprintf(out, size, "%s", text);
    return true;
}

bool readBool(DBusMessageIter *variant, bool *out) {
    if (dbus_message_iter_get_arg_type(variant) != DBUS_TYPE_BOOLEAN) return false;
    dbus_bool_t b = FALSE;
    dbus_message_iter_get_basic(variant, &b);
    *out = b != FALSE;
    return true;
}

bool textsContain(DBusMessageIter *variant, const char *text) {
    if (dbus_message_iter_get_arg_type(variant) != DBUS_TYPE_ARRAY) return false;
    DBusMessageIter it;
    for (dbus_message_iter_recurse(variant, &it); dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_STRING;
         dbus_message_iter_next(&it)) {
        const char *item = nullptr;
        dbus_message_iter_get_basic(&it, &item);
        if (strcasecmp(item, text) == 0) return true;
    }
    return false;
}

bool readBytes(DBusMessageIter *variant, const uint8_t **data, int *size) {
    if (dbus_message_iter_get_arg_type(variant) != DBUS_TYPE_ARRAY ||
        dbus_message_iter_get_element_type(variant) != DBUS_TYPE_BYTE) {
        return false;
    }
    DBusMessageIter bytes;
    dbus_message_iter_recurse(variant, &bytes);
    *data = nullptr;
    *size = 0;
    dbus_message_iter_get_fixed_array(&bytes, data, size);
    return true;
}

bool getBool(DBusConnection *bus, const char *path, const char *interface, const char *name, bool *out) {
    DBusMessage *m = newCall(path, PROPERTIES, "Get");
    if (m && !dbus_message_append_args(m, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
        dbus_message_unref(m);
        m = nullptr;
    }
    Error error;
    DBusMessage *reply = call(bus, m, 5000, &error);
    if (!reply) return false;
    DBusMessageIter it, variant;
    bool ok = dbus_message_iter_init(reply, &it) && dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_VARIANT;
    if (ok) {
        dbus_message_iter_recurse(&it, &variant);
        ok = readBool(&variant, out);
    }
    dbus_message_unref(reply);
    return ok;
}

void guidText(const BleGuid &g, char out[37]) {
    std::snprintf(out, 37, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", (unsigned)g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
}

bool parseGuid(const char *text, BleGuid *g) {
    unsigned v[11];
    int used = 0;
    if (std::strlen(text) != 36 ||
        std::sscanf(text, "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x%n", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                    &v[7], &v[8], &v[9], &v[10], &used) != 11 ||
        used != 36) {
        return false;
    }
    g->data1 = v[0];
    g->data2 = (uint16_t)v[1];
    g->data3 = (uint16_t)v[2];
    for (int i = 0; i < 8; ++i) g->data4[i] = (uint8_t)v[3 + i];
    return true;
}

uint16_t handleOfPath(const char *path) {
    // The element is a word followed by four hex digits (service000a).
    size_t n = std::strlen(path);
    if (n < 5 || std::strchr(path + n - 4, '/')) return 0;
    unsigned v = 0;
    for (size_t i = n - 4; i < n; ++i) {
        char c = path[i];
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0) return 0;
        v = v * 16 + (unsigned)d;
    }
    return (uint16_t)v;
}

BleResult resultOf(const Error &error) {
    if (std::strcmp(error.name, DBUS_ERROR_NO_REPLY) == 0 || std::strcmp(error.name, DBUS_ERROR_TIMEOUT) == 0 ||
        std::strcmp(error.name, DBUS_ERROR_TIMED_OUT) == 0) {
        return BLE_E_TIMEOUT;
    }
    if (std::strcmp(error.name, "org.bluez.Error.InProgress") == 0) return BLE_E_ABORT;
    if (std::strcmp(error.name, DBUS_ERROR_UNKNOWN_OBJECT) == 0 || std::strcmp(error.name, DBUS_ERROR_UNKNOWN_METHOD) == 0 ||
        std::strcmp(error.name, "org.bluez.Error.DoesNotExist") == 0) {
        return BLE_E_NOT_FOUND;
    }
    if (std::strcmp(error.name, "org.bluez.Error.NotConnected") == 0) return BLE_E_NOT_CONNECTED;
    return BLE_E_FAIL;
}

}  // namespace bluez
