// lifecycle.h - what happens when the driver library is loaded into a
// process (attach) and unloaded from it (detach).
#pragma once

#include "os/os.h"

// Called by the platform entry glue (DllMain on Windows, the shared-library
// constructor and destructor on Linux) through osLibraryAttach and
// osLibraryDetach, and by tests that link the driver statically. A second attach without a detach in between, or a detach
// without an attach, does nothing.
void driverAttach();
void driverDetach();
bool driverAttached();

// The engine lock, created at attach and destroyed at detach; null while the
// driver is not attached (a statically linked test that never attached).
OsLock *engineLock();
