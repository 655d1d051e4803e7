// irda_win32.cpp - the IrDA link (IrCOMM socket in 9-wire mode).
//
// Not built yet: the open fails with one log line.
#include "link/link_internal.h"

uintptr_t OpenIrda() {
    linkLog("!%s\n", "OpenIrda: IrDA link not available");
    return LINK_INVALID_HANDLE;
}
