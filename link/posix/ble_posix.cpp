// ble_posix.cpp - the Bluetooth LE link on Linux: not available (the GATT
// library never loads here, so the link layer never calls these).
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
