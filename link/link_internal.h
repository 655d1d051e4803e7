// link_internal.h - what the link dispatchers (link.cpp) reach: the transport
// opens and paths of each link type, and the platform's socket and Bluetooth
// LE library services. Only the link library includes this header.
//
// Platform files (link/win32, link/posix) implement the socket services, the
// Bluetooth LE library services and the Bluetooth and IrDA transports;
// link/usb.cpp implements the USB transport over the D2XX functions of
// link/d2xx.h, link/ble.cpp the Bluetooth LE transport.
#pragma once

#include <cstdint>

#include "link/link.h"

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

// ---------------------------------------------------------------------------
// Socket layer (platform)
// ---------------------------------------------------------------------------

// Winsock error numbers; on POSIX systems linkSocketLastError maps errno to
// them where an equivalent exists.
enum : int {
    LINK_ERR_WOULDBLOCK = 10035,
    LINK_ERR_NOTSOCK = 10038,
    LINK_ERR_INVALID = 10022,
    LINK_ERR_NETRESET = 10052,
    LINK_ERR_CONNABORTED = 10053,
    LINK_ERR_CONNRESET = 10054,
    LINK_ERR_NOTCONN = 10057,
    LINK_ERR_TIMEDOUT = 10060,
    LINK_ERR_NOTINITIALISED = 10093,
};

// Starts the socket layer: 1, or 0 with the error in *error.
int linkSocketsStart(int *error);
void linkSocketsStop();
// The calling thread's last socket error (WSAGetLastError on Windows).
int linkSocketLastError();
// send of the whole buffer, flags 0: the count sent, or -1.
int32_t linkSocketSend(uintptr_t socket, const void *data, int32_t length);
// Bytes waiting (FIONREAD): 0 with *count set, or -1.
int linkSocketPending(uintptr_t socket, uint32_t *count);
// recv of one byte, flags 0: 1, 0 (connection closed) or -1.
int32_t linkSocketRecvByte(uintptr_t socket, void *buffer);
// closesocket: 0 or -1.
int linkSocketClose(uintptr_t socket);

// ---------------------------------------------------------------------------
// Bluetooth LE library (platform)
// ---------------------------------------------------------------------------

// Loads and binds the Bluetooth LE GATT functions when they are not loaded
// yet; logs why when they cannot be. Not a failure of the library start.
void linkBleLoad();
// Frees the Bluetooth LE library if it is loaded.
void linkBleUnload();
bool linkBleLoaded();

// ---------------------------------------------------------------------------
// Transports (platform; Bluetooth LE: link/ble.cpp)
// ---------------------------------------------------------------------------

// IrDA IrCOMM: the connected socket or LINK_INVALID_HANDLE.
uintptr_t OpenIrda();

// Bluetooth RFCOMM: the open socket (also stored in *socket) or
// LINK_INVALID_HANDLE. addrText (optional, addrTextSize bytes) receives the
// address of the device opened.
uintptr_t OpenBtDevice(const char *deviceId, char *addrText, uint32_t addrTextSize, uintptr_t *socket);

// Bluetooth LE.
const int BLE_MAX_PATHS = 16;
const int BLE_PATH_SIZE = 260;
// Fills paths with the device interface paths matching deviceId (address or
// name; null: every device); returns how many.
int FindBleDevices(const char *deviceId, char (*paths)[BLE_PATH_SIZE]);
// Opens the device at path (null: the last BLE path): 0 with the BleLink in
// link->handle, or -1 with the handle invalid.
int OpenBle(const char *path, LinkHandle *link);
// 0 when closed, -1 when the library is not loaded or the handle invalid.
int CloseBle(LinkHandle *link);
// The BLE branches of SendLink, QueueStatusLink and RecvLink, called only
// with the library loaded and a valid handle.
int32_t sendBle(LinkHandle *link, int32_t length, const void *data);
int32_t queueStatusBle(LinkHandle *link);
int32_t recvBle(LinkHandle *link, void *buffer);
