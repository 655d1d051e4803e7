// link_internal.h - what the link dispatchers (link.cpp) reach: the transport
// opens and paths of each link type, and the platform's Bluetooth LE library
// services. Only the link library includes this header.
//
// link/usb.cpp implements the USB transport over the D2XX functions of
// link/d2xx.h; link/bt.cpp and link/irda.cpp the Bluetooth and IrDA
// transports over the socket seam of link/sockets.h, whose system tables
// are platform files (link/win32, link/posix); link/ble.cpp the Bluetooth LE
// transport; the platform files the Bluetooth LE library services.
#pragma once

#include <cstdint>

#include "link/link.h"

// BLE_CALL, the calling convention of the Bluetooth LE functions
// (link/<platform>/ble_abi.h).
#include "ble_abi.h"

#if defined(__GNUC__)
#define LINK_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define LINK_PRINTF(a, b)
#endif

// Writes one log entry through the program's log hook (linkSetLogHook);
// nothing when none is set.
void linkLog(const char *format, ...) LINK_PRINTF(1, 2);

// ---------------------------------------------------------------------------
// USB (link/usb.cpp)
// ---------------------------------------------------------------------------

// Opens the FTDI transceiver named by deviceId (8 characters: serial number;
// otherwise: USB description), resets it when it asks for it and configures
// the serial line. 0 with *handle set, or -1 with *handle invalid.
// serialBuffer (optional, serialBufferSize bytes) receives the serial number.
int OpenUsb(const char *deviceId, uintptr_t *handle, char *serialBuffer, uint32_t serialBufferSize);
// A short write leaves the thread's socket error, as it stood right after
// the write, in *socketError (the broken-link rule looks at it).
int32_t sendUsb(uintptr_t handle, int32_t length, const void *data, int *socketError);
int32_t queueStatusUsb(uintptr_t handle);
int32_t recvUsb(uintptr_t handle, void *buffer);
void closeUsb(uintptr_t handle);
// Lets the D2XX library write its own lines into this program's log and
// tell of received data (the data event) where the library offers that
// (FT_LOG_HOOK_EXPORT and FT_RX_HOOK_EXPORT of link/d2xx.h; platform).
void linkUsbConnectLog();
// Sets the data event (linkSetDataEvent), when there is one.
void linkDataArrived();

// ---------------------------------------------------------------------------
// Bluetooth LE library (platform)
// ---------------------------------------------------------------------------

// Loads the system's Bluetooth LE GATT functions when none are in use yet
// and makes them the system's table (linkBleSetSystemGatt); logs why when
// they cannot be. Not a failure of the library start.
void linkBleLoad();
// Frees what linkBleLoad loaded; the system's table is none afterwards.
void linkBleUnload();
// Whether a GATT table is in use (link/ble.cpp).
bool linkBleLoaded();
// The platform's table (null: none). It must live until it is replaced.
struct BleGattApi;
void linkBleSetSystemGatt(const BleGattApi *api);

// ---------------------------------------------------------------------------
// Transports (platform; Bluetooth LE: link/ble.cpp)
// ---------------------------------------------------------------------------

// IrDA IrCOMM in 9-wire mode to the first device in range (irda.cpp): the
// connected socket or LINK_INVALID_HANDLE.
uintptr_t OpenIrda();

// Bluetooth RFCOMM to the Serial Port service of the device named by
// deviceId, an address text or a device name (bt.cpp): the open socket (also
// stored in *socket) or LINK_INVALID_HANDLE. addrText (optional,
// addrTextSize bytes) receives the address text of the device opened.
uintptr_t OpenBtDevice(const char *deviceId, char *addrText, uint32_t addrTextSize, uintptr_t *socket);
// An RFCOMM socket connected to the Serial Port service of the device at
// address (also in *socket), or LINK_INVALID_HANDLE with the reason as the
// socket layer's last error.
uintptr_t OpenBt(uint64_t address, uintptr_t *socket);
// The devices of that name an inquiry finds (names compared whole, letter
// case aside): 0 when at least one was found, else -1. *count receives how
// many; addresses (room for BT_CANDIDATES_ROOM) the first BT_CANDIDATES_MAX
// of them in the order found. flags is not used.
const uint32_t BT_CANDIDATES_ROOM = 256;
const uint32_t BT_CANDIDATES_MAX = 255;
int Name2AddrBt(const char *name, uint32_t flags, uint32_t *count, uint64_t *addresses);
// The address of the Bluetooth device opened last (0: none); a test may set it.
uint64_t btLastAddress();
void btSetLastAddress(uint64_t address);

// Bluetooth LE (link/ble.cpp).
const int BLE_MAX_PATHS = 16;
const int BLE_PATH_SIZE = 260;
// Fills paths with the device interface paths matching deviceId (an
// address: the one device of that address; a name: every device of that
// name, the last one opened first; null: every device); returns how many,
// or -1 when the system cannot list devices at all (logged).
int FindBleDevices(const char *deviceId, char (*paths)[BLE_PATH_SIZE]);
// Opens the device at path (null: the last BLE path): 0 with the BleLink in
// link->handle, or -1 with the handle invalid and nothing left open.
int OpenBle(const char *path, LinkHandle *link);
// 0 when closed (the handle is invalid afterwards), -1 when the library is
// not loaded or the handle invalid.
int CloseBle(LinkHandle *link);
// The value-changed callback of an open link's event registration; its
// context is the link's record (the LinkHandle's handle). Data of
// characteristic 1 goes into the ring (what does not fit is dropped); a
// flow-control message of characteristic 0 sets or raises the credit;
// anything else is ignored.
void BLE_CALL OnBleEvent(int32_t eventType, void *eventOut, void *context);
// Turns on notifications of the characteristic at a position of an open
// link: 0, or the failing result.
int32_t SubscribeBle(LinkHandle *link, int position);
// Reads a device address of six hex pairs ("{" and "}" around it and ":"
// between the pairs may be left out) into bytes; returns where the reading
// stopped (the text itself when it is null or shorter than 12 characters).
// The text is an address when that is its end after six pairs.
const char *ParseBtAddr(const char *text, uint8_t bytes[6]);
// True when the whole text is a device address: six pairs read by
// ParseBtAddr and nothing after them.
bool bleIsAddress(const char *text, uint8_t bytes[6]);
// The device address in a device interface path, as the table in use reads
// it: 1 with the six bytes, else 0 (bytes read so far kept, the rest zero).
// strict: what follows the address must be the end or '#'.
int bleAddressOfPath(const char *path, uint8_t address[6], bool strict);
// The BLE branches of SendLink, QueueStatusLink and RecvLink, called only
// with the library loaded and a valid handle.
int32_t sendBle(LinkHandle *link, int32_t length, const void *data);
int32_t queueStatusBle(LinkHandle *link);
int32_t recvBle(LinkHandle *link, void *buffer);
