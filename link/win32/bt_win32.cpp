// bt_win32.cpp - the Bluetooth link (RFCOMM socket to the Serial Port
// service).
//
// Not built yet: the open fails with one log line.
#include "link/link_internal.h"

uintptr_t OpenBtDevice(const char *, char *, uint32_t, uintptr_t *socket) {
    if (socket) *socket = LINK_INVALID_HANDLE;
    linkLog("!%s\n", "OpenBtDevice: Bluetooth link not available");
    return LINK_INVALID_HANDLE;
}
