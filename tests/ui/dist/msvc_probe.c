/* msvc_probe.c - an object built for the Microsoft toolchain's conventions
 * (clang, target *-windows-msvc) that calls a function and uses two
 * callback variables of the driver: lld-link, which follows Microsoft's
 * linker, must resolve them from the SDK's .lib alone. */
#include "QuorvaneDrv.h"

int probe(void) {
    const char *const *names = 0;
    QdProcSamples = 0;
    return QdEnumDevices(&names) + (QdUserMsg == 0);
}
