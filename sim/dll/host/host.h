// host.h - what the simulator host needs from the system: loading shared
// libraries and finding out which D2XX module the process uses.
#pragma once

#include <cstdint>

// Loads a shared library by path; global: its symbols serve libraries
// loaded later (POSIX RTLD_GLOBAL; Windows loads by module name anyway).
// Null on failure, with the reason printed.
void *hostLoad(const char *path, bool global);
void *hostSymbol(void *library, const char *name);
void hostUnload(void *library);
// True when the D2XX library the process has loaded (FTD2XX.dll,
// libqvftd2xx.so) is the given library and no other copy is loaded.
bool hostD2xxIs(void *library);
// True when a D2XX library is loaded and it is not one of the simulator's
// (which live in a folder named "sim").
bool hostD2xxIsNotSimulator();
// A monotonic clock in microseconds.
unsigned long long hostMicroseconds();
