// bluez_props.cpp - properties, object entries, value signals and method
// options for the simulator's BlueZ-facing fronts (see bluez_props.h).
#include "sim/posix/bluez_props.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ftsim {

namespace {

const char *const IF_PROPERTIES = "org.freedesktop.DBus.Properties";
const char *const IF_CHARACTERISTIC = "org.bluez.GattCharacteristic1";

// Opens the variant of a property; false when it is not wanted.
bool openProperty(PropertyOut *out, const char *key, const char *signature, DBusMessageIter *entry,
                  DBusMessageIter *variant) {
    if (out->only) {
        if (std::strcmp(out->only, key) != 0 || out->found) return false;
        out->found = true;
        return dbus_message_iter_open_container(out->single, DBUS_TYPE_VARIANT, signature, variant);
    }
    dbus_message_iter_open_container(out->dict, DBUS_TYPE_DICT_ENTRY, nullptr, entry);
    dbus_message_iter_append_basic(entry, DBUS_TYPE_STRING, &key);
    return dbus_message_iter_open_container(entry, DBUS_TYPE_VARIANT, signature, variant);
}

void closeProperty(PropertyOut *out, DBusMessageIter *entry, DBusMessageIter *variant) {
    if (out->only) {
        dbus_message_iter_close_container(out->single, variant);
        return;
    }
    dbus_message_iter_close_container(entry, variant);
    dbus_message_iter_close_container(out->dict, entry);
}

void appendBytes(DBusMessageIter *variant, const uint8_t *data, size_t size) {
    DBusMessageIter bytes;
    dbus_message_iter_open_container(variant, DBUS_TYPE_ARRAY, "y", &bytes);
    dbus_message_iter_append_fixed_array(&bytes, DBUS_TYPE_BYTE, &data, (int)size);
    dbus_message_iter_close_container(variant, &bytes);
}

// The variant of an option of that name and type, or false.
bool option(DBusMessageIter *options, const char *key, int type, DBusMessageIter *variant) {
    if (dbus_message_iter_get_arg_type(options) != DBUS_TYPE_ARRAY) return false;
    DBusMessageIter entry, pair;
    for (dbus_message_iter_recurse(options, &entry); dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_DICT_ENTRY;
         dbus_message_iter_next(&entry)) {
        const char *name = nullptr;
        dbus_message_iter_recurse(&entry, &pair);
        if (dbus_message_iter_get_arg_type(&pair) != DBUS_TYPE_STRING) continue;
        dbus_message_iter_get_basic(&pair, &name);
        if (std::strcmp(name, key) != 0 || !dbus_message_iter_next(&pair)) continue;
        dbus_message_iter_recurse(&pair, variant);
        return dbus_message_iter_get_arg_type(variant) == type;
    }
    return false;
}

}  // namespace

void textProperty(PropertyOut *out, const char *key, const char *value, int type) {
    DBusMessageIter entry, variant;
    const char signature[2] = {(char)type, 0};
    if (!openProperty(out, key, signature, &entry, &variant)) return;
    dbus_message_iter_append_basic(&variant, type, &value);
    closeProperty(out, &entry, &variant);
}

void boolProperty(PropertyOut *out, const char *key, bool value) {
    DBusMessageIter entry, variant;
    dbus_bool_t b = value ? TRUE : FALSE;
    if (!openProperty(out, key, "b", &entry, &variant)) return;
    dbus_message_iter_append_basic(&variant, DBUS_TYPE_BOOLEAN, &b);
    closeProperty(out, &entry, &variant);
}

void textsProperty(PropertyOut *out, const char *key, const char *const *values, int count) {
    DBusMessageIter entry, variant, array;
    if (!openProperty(out, key, "as", &entry, &variant)) return;
    dbus_message_iter_open_container(&variant, DBUS_TYPE_ARRAY, "s", &array);
    for (int i = 0; i < count; ++i) dbus_message_iter_append_basic(&array, DBUS_TYPE_STRING, &values[i]);
    dbus_message_iter_close_container(&variant, &array);
    closeProperty(out, &entry, &variant);
}

void uuidProperty(PropertyOut *out, const char *key, const BleGuid &guid) {
    char text[37];
    const uint8_t *d = guid.data4;
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", (unsigned)guid.data1,
                  guid.data2, guid.data3, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
    const char *texts[1] = {text};
    if (std::strcmp(key, "UUIDs") == 0 || std::strcmp(key, "ServiceUUIDs") == 0) {
        textsProperty(out, key, texts, 1);
    } else {
        textProperty(out, key, text);
    }
}

void bytesProperty(PropertyOut *out, const char *key, const uint8_t *data, size_t size) {
    DBusMessageIter entry, variant;
    if (!openProperty(out, key, "ay", &entry, &variant)) return;
    appendBytes(&variant, data, size);
    closeProperty(out, &entry, &variant);
}

void appendProperties(DBusMessageIter *it, PropertyWriter write, const void *object) {
    DBusMessageIter dict;
    dbus_message_iter_open_container(it, DBUS_TYPE_ARRAY, "{sv}", &dict);
    PropertyOut out = {&dict, nullptr, nullptr, false};
    write(&out, object);
    dbus_message_iter_close_container(it, &dict);
}

DBusMessage *propertyReply(DBusMessage *call, const char *interface, PropertyWriter write, const void *object,
                           bool all) {
    const char *asked = nullptr, *name = nullptr;
    bool ok = all ? dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &asked, DBUS_TYPE_INVALID)
                  : dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &asked, DBUS_TYPE_STRING, &name,
                                          DBUS_TYPE_INVALID);
    if (!ok || std::strcmp(asked, interface) != 0) {
        return dbus_message_new_error(call, DBUS_ERROR_INVALID_ARGS, "No such interface");
    }
    DBusMessage *reply = dbus_message_new_method_return(call);
    DBusMessageIter it;
    dbus_message_iter_init_append(reply, &it);
    if (all) {
        appendProperties(&it, write, object);
        return reply;
    }
    PropertyOut out = {nullptr, name, &it, false};
    write(&out, object);
    if (out.found) return reply;
    dbus_message_unref(reply);
    return dbus_message_new_error(call, DBUS_ERROR_INVALID_ARGS, "No such property");
}

void appendObject(DBusMessageIter *objects, const char *path, const char *interface, PropertyWriter write,
                  const void *object) {
    DBusMessageIter entry, interfaces, pair;
    dbus_message_iter_open_container(objects, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_OBJECT_PATH, &path);
    dbus_message_iter_open_container(&entry, DBUS_TYPE_ARRAY, "{sa{sv}}", &interfaces);
    dbus_message_iter_open_container(&interfaces, DBUS_TYPE_DICT_ENTRY, nullptr, &pair);
    dbus_message_iter_append_basic(&pair, DBUS_TYPE_STRING, &interface);
    appendProperties(&pair, write, object);
    dbus_message_iter_close_container(&interfaces, &pair);
    dbus_message_iter_close_container(&entry, &interfaces);
    dbus_message_iter_close_container(objects, &entry);
}

DBusMessage *valueChanged(const char *path, const uint8_t *data, size_t size) {
    DBusMessage *signal = dbus_message_new_signal(path, IF_PROPERTIES, "PropertiesChanged");
    if (!signal) return nullptr;
    DBusMessageIter it, dict, entry, variant, invalidated;
    const char *interface = IF_CHARACTERISTIC, *key = "Value";
    dbus_message_iter_init_append(signal, &it);
    dbus_message_iter_append_basic(&it, DBUS_TYPE_STRING, &interface);
    dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &dict);
    dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
    dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "ay", &variant);
    appendBytes(&variant, data, size);
    dbus_message_iter_close_container(&entry, &variant);
    dbus_message_iter_close_container(&dict, &entry);
    dbus_message_iter_close_container(&it, &dict);
    dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "s", &invalidated);
    dbus_message_iter_close_container(&it, &invalidated);
    return signal;
}

bool optionText(DBusMessageIter *options, const char *key, const char **value) {
    DBusMessageIter variant;
    if (!option(options, key, DBUS_TYPE_STRING, &variant)) return false;
    dbus_message_iter_get_basic(&variant, value);
    return true;
}

bool optionUint16(DBusMessageIter *options, const char *key, uint16_t *value) {
    DBusMessageIter variant;
    if (!option(options, key, DBUS_TYPE_UINT16, &variant)) return false;
    dbus_uint16_t v = 0;
    dbus_message_iter_get_basic(&variant, &v);
    *value = v;
    return true;
}

DBusMessage *acquireReply(DBusMessage *call, uint16_t mtu, int *kept) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        return dbus_message_new_error(call, "org.bluez.Error.Failed", "No socket");
    }
    DBusMessage *reply = dbus_message_new_method_return(call);
    dbus_uint16_t m = mtu;
    // The message holds a copy of the passed end.
    if (!reply || !dbus_message_append_args(reply, DBUS_TYPE_UNIX_FD, &ends[1], DBUS_TYPE_UINT16, &m, DBUS_TYPE_INVALID)) {
        if (reply) dbus_message_unref(reply);
        close(ends[0]);
        close(ends[1]);
        return dbus_message_new_error(call, "org.bluez.Error.Failed", "No memory");
    }
    close(ends[1]);
    *kept = ends[0];
    return reply;
}

void takeValues(int *socket, ValueTaker take, void *context) {
    uint8_t value[512];
    while (*socket >= 0) {
        ssize_t n = recv(*socket, value, sizeof value, MSG_DONTWAIT);
        if (n > 0) {
            take(context, value, (size_t)n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        } else {
            close(*socket);
            *socket = -1;
        }
    }
}

}  // namespace ftsim
