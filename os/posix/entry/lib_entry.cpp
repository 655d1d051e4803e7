// lib_entry.cpp - attach and detach of libQuorvaneDrv.so: the loader runs the
// constructor when the library is loaded and the destructor when it is
// unloaded (dlclose or process exit).
#include "API/driver/frame/lifecycle.h"

__attribute__((constructor)) static void quorvaneLibraryLoad() { driverAttach(); }
__attribute__((destructor)) static void quorvaneLibraryUnload() { driverDetach(); }
