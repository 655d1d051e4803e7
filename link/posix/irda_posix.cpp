// irda_posix.cpp - the IrDA link on Linux. Current kernels carry no IrDA
// stack, so the open always fails with one log line.
#include "link/link_internal.h"

uintptr_t OpenIrda() {
    linkLog("!%s\n", "OpenIrda: IrDA is not supported on this system");
    return LINK_INVALID_HANDLE;
}
