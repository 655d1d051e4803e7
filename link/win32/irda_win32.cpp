// irda_win32.cpp - the IrDA link (IrCOMM socket in 9-wire mode).
//
// Not built yet: the open fails with one log line.
#include "API/driver/frame/log.h"
#include "link/link_internal.h"

uintptr_t OpenIrda() {
    qdLog("!%s\n", "OpenIrda: IrDA link not available");
    return LINK_INVALID_HANDLE;
}
