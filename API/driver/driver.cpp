// driver.cpp - attach and detach of the driver library: one row per part,
// walked in table order both ways.
//
// Attach: stop cancelling link opens, free all context slots (and install
// the hooks through which the contexts reach the engine and the windows),
// clear the host callbacks, route the link library's lines into the log,
// open the log; then the engine lock is created. Detach: cancel the opens
// in progress (so that the waits below end soon), shut the contexts down,
// close a running device search, stop the engine thread, release the link
// library (BLE library and socket layer), unregister the window classes,
// then write the last log line and close the log; the engine lock goes
// last. At the end of the process the same, without waiting for threads
// (the parts ask driverProcessEnding) and without releasing the link
// library, whose Bluetooth LE library and socket layer belong to other DLLs.
#include "API/driver/driver.h"

#include "API/driver/frame/contexts.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/frame/log.h"
#include "API/driver/protocol/protocol.h"
#include "API/driver/ui/window_hooks.h"
#include "link/link.h"

namespace {

// One part of the driver: its step at attach and at detach (either may be
// null); processEnding tells a detach at the end of the process.
struct DriverPart {
    void (*attach)();
    void (*detach)(bool processEnding);
};

void linkOpensAttach() { CancelLinkOpens(false); }
void linkOpensDetach(bool) { CancelLinkOpens(true); }

void contextsAttach() {
    contextsSetHooks({engineShutdownContext, engineResetContext, uiCloseForSelectionChange});
    contextsOnAttach();
}
void contextsDetach(bool) { contextsOnDetach(); }
void discoveryDetach(bool) { discoveryOnDetach(); }
void engineDetach(bool) { engineThreadOnDetach(); }
// The link library writes its lines into the driver log.
void linkLibraryAttach() { linkSetLogHook(qdLogV); }
void linkLibraryDetach(bool processEnding) {
    if (!processEnding) ReleaseLinkLibrary();
}
void uiDetach(bool) {
    uiOnDetach();
    engineSetWindowPort(nullptr);
}
void logDetach(bool) {
    qdLog("Quorvane Driver detached\n");
    logClose();
}

const DriverPart kDriverParts[] = {
    {linkOpensAttach, linkOpensDetach},      // opens in progress
    {contextsAttach, contextsDetach},        // context slots
    {nullptr, discoveryDetach},              // device search
    {engineOnAttach, engineDetach},          // protocol engine
    {linkLibraryAttach, linkLibraryDetach},  // link library
    {uiOnAttach, uiDetach},                  // windows
    {logOpen, logDetach},                    // driver log
};

void detach(bool processEnding) {
    if (!driverAttached()) return;
    lifecycleSetProcessEnding(processEnding);
    for (const DriverPart &part : kDriverParts) {
        if (part.detach) part.detach(processEnding);
    }
    engineLockDestroy();
    lifecycleSetProcessEnding(false);
    lifecycleSetAttached(false);
}

}  // namespace

void driverAttach() {
    if (driverAttached()) return;
    for (const DriverPart &part : kDriverParts) {
        if (part.attach) part.attach();
    }
    engineLockCreate();
    lifecycleSetAttached(true);
}

void driverDetach() { detach(false); }
void driverDetachAtProcessEnd() { detach(true); }
