// ble.cpp - the Bluetooth LE transport (GATT characteristics of one service,
// with credit-based flow control), the same on every system for now.
//
// Not built yet: no device is ever found, so OpenLink logs that no matching
// device was found and the link stays closed. On Windows the GATT library
// may load (link/win32/link_win32.cpp); on Linux it never does, so the link
// layer does not even ask.
#include "link/link_internal.h"

int FindBleDevices(const char *, char (*)[BLE_PATH_SIZE]) { return 0; }

int OpenBle(const char *, LinkHandle *link) {
    if (link) link->handle = LINK_INVALID_HANDLE;
    return -1;
}

int CloseBle(LinkHandle *) { return -1; }
int32_t sendBle(LinkHandle *, int32_t, const void *) { return -1; }
int32_t queueStatusBle(LinkHandle *) { return -1; }
int32_t recvBle(LinkHandle *, void *) { return -1; }
