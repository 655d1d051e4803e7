// lifecycle.cpp - attach and detach of the driver library.
//
// Attach: clear the host callbacks, free all context slots, open the log,
// create the engine lock. Detach: shut the contexts down, close a running
// device search, stop the engine thread, release the link library (BLE
// library and socket layer), unregister the window class, then write the
// last log line, close the log and destroy the engine lock. At the end of
// the process the same, without waiting for threads and without releasing
// the link library.
#include "API/driver/frame/lifecycle.h"

#include <atomic>

#include "API/driver/frame/hooks.h"
#include "API/driver/frame/log.h"
#include "link/link.h"

static OsLock g_engineLock;
static std::atomic<bool> g_engineLockLive{false};
static std::atomic<bool> g_attached{false};
static std::atomic<bool> g_processEnding{false};

void driverAttach() {
    if (g_attached.load(std::memory_order_acquire)) return;
    CancelLinkOpens(false);
    engineOnAttach();
    contextsOnAttach();
    logOpen();
    // The link library writes its lines into the driver log.
    linkSetLogHook(qdLogV);
    osLockInit(&g_engineLock);
    g_engineLockLive.store(true, std::memory_order_release);
    g_attached.store(true, std::memory_order_release);
}

// The steps of detach. At the end of the process the waits for the
// library's threads are left out (the system has ended them; the hooks ask
// driverProcessEnding) and so is the release of the link library, whose
// Bluetooth LE library and socket layer belong to other DLLs.
static void detach(bool processEnding) {
    if (!g_attached.load(std::memory_order_acquire)) return;
    g_processEnding.store(processEnding, std::memory_order_release);
    // Opens in progress on the connection and search threads give up, so
    // that the waits below for those threads end soon.
    CancelLinkOpens(true);
    contextsOnDetach();
    discoveryOnDetach();
    engineThreadOnDetach();
    if (!processEnding) ReleaseLinkLibrary();
    uiOnDetach();
    qdLog("Quorvane Driver detached\n");
    logClose();
    g_engineLockLive.store(false, std::memory_order_release);
    osLockDestroy(&g_engineLock);
    g_processEnding.store(false, std::memory_order_release);
    g_attached.store(false, std::memory_order_release);
}

void driverDetach() { detach(false); }
void driverDetachAtProcessEnd() { detach(true); }
bool driverProcessEnding() { return g_processEnding.load(std::memory_order_acquire); }

// The library's entry glue (os/<platform>/entry/).
void osLibraryAttach() { driverAttach(); }

void osLibraryDetach(bool processEnding) {
    if (processEnding) {
        driverDetachAtProcessEnd();
    } else {
        driverDetach();
    }
}

bool driverAttached() { return g_attached.load(std::memory_order_acquire); }

OsLock *engineLock() { return g_engineLockLive.load(std::memory_order_acquire) ? &g_engineLock : nullptr; }
