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
// Detach at the end of the process (Windows: the system has ended every
// other thread and holds the loader lock): the same steps without waiting
// for the library's threads and without releasing the link library.
void driverDetachAtProcessEnd();
// True while a detach at the end of the process runs: the detach steps of
// the other parts then do not wait for threads.
bool driverProcessEnding();
bool driverAttached();

// The engine lock, created at attach and destroyed at detach; null while the
// driver is not attached (a statically linked test that never attached).
OsLock *engineLock();
