// bluez_none.cpp - Windows has no BlueZ: the stand-in BlueZ service of the
// simulator exists on Linux only.
#include "sim/ftsim.h"

extern "C" {

int ftsimBluezStart(const char *, int) { return -1; }
int ftsimBluezForge(int, const uint8_t *, size_t) { return -1; }
void ftsimBluezStop(void) {}

}  // extern "C"
