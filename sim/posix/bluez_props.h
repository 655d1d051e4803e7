// bluez_props.h - the D-Bus pieces that the simulator's two BlueZ-facing
// fronts share: the stand-in BlueZ service (bluez_standin.cpp), which
// exports BlueZ's own objects, and the peripheral (bluez_peripheral.cpp),
// which exports a GATT application and an advertisement to a real
// bluetoothd. Both answer GetManagedObjects, Properties.Get and GetAll from
// one property writer per object, and send a characteristic's new value as
// PropertiesChanged of its Value.
#pragma once

#include <dbus/dbus.h>

#include <cstddef>
#include <cstdint>

#include "link/ble_gatt.h"

namespace ftsim {

// Where properties go: entries of a dictionary (a{sv}), or the one asked
// for (only) as a variant of its own (single).
struct PropertyOut {
    DBusMessageIter *dict;
    const char *only;
    DBusMessageIter *single;
    bool found;
};

void textProperty(PropertyOut *out, const char *key, const char *value, int type = DBUS_TYPE_STRING);
void boolProperty(PropertyOut *out, const char *key, bool value);
void textsProperty(PropertyOut *out, const char *key, const char *const *values, int count);
void uuidProperty(PropertyOut *out, const char *key, const BleGuid &guid);
void bytesProperty(PropertyOut *out, const char *key, const uint8_t *data, size_t size);

// The properties of one object into a PropertyOut.
typedef void (*PropertyWriter)(PropertyOut *out, const void *object);
// a{sv} of one object's interface.
void appendProperties(DBusMessageIter *it, PropertyWriter write, const void *object);
// The reply to Properties.Get (all false) or GetAll of an object whose
// interface is interface.
DBusMessage *propertyReply(DBusMessage *call, const char *interface, PropertyWriter write, const void *object,
                           bool all);
// One entry of a GetManagedObjects reply: the object's path with its one
// interface and properties.
void appendObject(DBusMessageIter *objects, const char *path, const char *interface, PropertyWriter write,
                  const void *object);

// PropertiesChanged of a characteristic's Value at path (null: no memory).
DBusMessage *valueChanged(const char *path, const uint8_t *data, size_t size);

// A string or unsigned option of a method's options (a{sv}); false when
// the options have none of that name and type.
bool optionText(DBusMessageIter *options, const char *key, const char **value);
bool optionUint16(DBusMessageIter *options, const char *key, uint16_t *value);

// AcquireWrite: the reply with one end of a new pair of packet sockets and
// the MTU, the other end in *kept (an error reply when none can be made).
// What the other side writes then arrives there, one value per packet.
DBusMessage *acquireReply(DBusMessage *call, uint16_t mtu, int *kept);
// Hands each value waiting in an acquired socket to take; once the other
// side has closed it, closes it too and sets *socket to -1.
typedef void (*ValueTaker)(void *context, const uint8_t *data, size_t size);
void takeValues(int *socket, ValueTaker take, void *context);

}  // namespace ftsim
