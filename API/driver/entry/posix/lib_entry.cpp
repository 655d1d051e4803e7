// lib_entry.cpp - attach and detach of a shared library built from this tree
// (libQuorvaneDrv.so): the loader runs the constructor when the library is
// loaded and the destructor when it is unloaded (dlclose or process exit).
// At exit the process's other threads still run, so the detach is the same
// in both cases.
#include "API/driver/driver.h"
#include "os/os.h"

// How long the destructor waits for the library's own threads to leave its
// code before the loader unmaps it. Detach has asked them to end already.
static const uint32_t THREADS_EXIT_WAIT_MS = 2000;

__attribute__((constructor)) static void quorvaneLibraryLoad() { driverAttach(); }

__attribute__((destructor)) static void quorvaneLibraryUnload() {
    driverDetach();
    osThreadsAwaitExit(THREADS_EXIT_WAIT_MS);
}
