// lifecycle.cpp - attach and detach of the driver library. (Placeholder.)
#include "API/driver/frame/lifecycle.h"

#include "API/driver/frame/log.h"

static bool g_attached = false;

void driverAttach() {
    logOpen();
    g_attached = true;
}

void driverDetach() {
    qdLog("Quorvane Driver detached\n");
    logClose();
    g_attached = false;
}

bool driverAttached() { return g_attached; }

OsLock *engineLock() { return nullptr; }
