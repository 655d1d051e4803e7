// bluez_bus.h - what the BlueZ client of the Bluetooth LE link
// (ble_bluez.cpp) needs from D-Bus: a private connection to the system bus,
// method calls with their errors, and readers of BlueZ's objects and
// properties. Plain C over libdbus; nothing here throws.
//
// The system bus is the one libdbus finds: DBUS_SYSTEM_BUS_ADDRESS when it
// is set (how tests point the link at a bus of their own), else the system's
// socket. Nothing else chooses it.
#pragma once

#include <dbus/dbus.h>

#include <cstddef>
#include <cstdint>

#include "link/ble_gatt.h"

namespace bluez {

extern const char *const SERVICE;          // org.bluez
extern const char *const ADAPTER;          // org.bluez.Adapter1
extern const char *const DEVICE;           // org.bluez.Device1
extern const char *const GATT_SERVICE;     // org.bluez.GattService1
extern const char *const GATT_CHARACTERISTIC;
extern const char *const GATT_DESCRIPTOR;
extern const char *const PROPERTIES;       // org.freedesktop.DBus.Properties
extern const char *const OBJECT_MANAGER;   // org.freedesktop.DBus.ObjectManager

const size_t PATH_SIZE = 128;
const size_t TEXT_SIZE = 256;

// The error of a failed call: its D-Bus name and message.
struct Error {
    char name[TEXT_SIZE];
    char message[TEXT_SIZE];
};

// A private connection to the system bus; null with the reason in *error.
DBusConnection *openBus(Error *error);
void closeBus(DBusConnection *bus);

// A method call to BlueZ (null when no memory).
DBusMessage *newCall(const char *path, const char *interface, const char *method);
// Sends a call (and releases it) and waits up to timeoutMs for the reply:
// the reply, or null with *error set.
DBusMessage *call(DBusConnection *bus, DBusMessage *message, int timeoutMs, Error *error);
// A call without arguments whose reply is not needed: true when it succeeded.
bool callVoid(DBusConnection *bus, const char *path, const char *interface, const char *method, int timeoutMs,
              Error *error);
// org.freedesktop.DBus.ObjectManager.GetManagedObjects of BlueZ.
DBusMessage *managedObjects(DBusConnection *bus, Error *error);
// The unique name (":1.42") of the connection that owns BlueZ's name on the
// bus: signals of BlueZ's objects come from it and from nobody else.
bool serviceOwner(DBusConnection *bus, char *out, size_t size, Error *error);

// Calls visit for each interface of each object of a GetManagedObjects
// reply, with an iterator over that interface's properties (a{sv}).
typedef void (*ObjectVisitor)(void *context, const char *path, const char *interface, DBusMessageIter *properties);
bool walkObjects(DBusMessage *reply, ObjectVisitor visit, void *context);

// The variant of one property in a property dictionary (a{sv}); false when
// the dictionary has none of that name.
bool property(const DBusMessageIter *properties, const char *name, DBusMessageIter *variant);
// Readers of a variant; each false when the variant holds another type.
bool readText(DBusMessageIter *variant, char *out, size_t size);   // s or o
bool readBool(DBusMessageIter *variant, bool *out);
bool textsContain(DBusMessageIter *variant, const char *text);      // as, letter case ignored
bool readBytes(DBusMessageIter *variant, const uint8_t **data, int *size);  // ay
// The property of an object read with org.freedesktop.DBus.Properties.Get.
bool getBool(DBusConnection *bus, const char *path, const char *interface, const char *name, bool *out);

// GUIDs as BlueZ writes UUIDs ("331a36f5-2459-45ea-9d95-6142f0c4b307").
void guidText(const BleGuid &guid, char out[37]);
bool parseGuid(const char *text, BleGuid *guid);
// The attribute handle in the last element of a GATT object path
// ("/org/bluez/hci0/dev_.../service000a/char000b": 0x000b); 0 when none.
uint16_t handleOfPath(const char *path);

// A D-Bus error as a GATT result: no reply in time gives BLE_E_TIMEOUT, an
// operation already in progress BLE_E_ABORT, a missing object
// BLE_E_NOT_FOUND, anything else BLE_E_FAIL.
BleResult resultOf(const Error &error);

}  // namespace bluez
