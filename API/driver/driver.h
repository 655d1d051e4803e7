// driver.h - the driver library as a whole: attach when it is loaded into a
// process, detach when it is unloaded. The parts (contexts, engine, device
// search, link library, windows, log) each bring their own attach and detach
// steps; driver.cpp lists them in one table and wires the parts that call
// up into the ones above them.
#pragma once

// Called by the library's entry glue (API/driver/entry/: DllMain on Windows,
// the shared-library constructor and destructor on Linux) and by tests that
// link the driver statically. A second attach without a detach in between,
// or a detach without an attach, does nothing.
void driverAttach();
void driverDetach();
// Detach at the end of the process (Windows: the system has ended every
// other thread and holds the loader lock): the same steps without waiting
// for the library's threads and without releasing the link library.
void driverDetachAtProcessEnd();
