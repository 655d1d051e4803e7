// link_posix.cpp - the link library's Bluetooth LE services on Linux:
// there is no GATT client here, so LINK_BLE stays unusable. (The sockets
// are the table of sockets_posix.cpp.)
#include "link/link_internal.h"

static bool g_bleNoteLogged = false;

void linkBleLoad() {
    if (!g_bleNoteLogged) {
        linkLog("#Bluetooth LE links are not available on this system\n");
        g_bleNoteLogged = true;
    }
}

void linkBleUnload() {}

bool linkBleLoaded() { return false; }
