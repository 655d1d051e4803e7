// discovery.cpp - connection, reconnection and discovery.
//
// Not built yet: every function logs its entry and exit and returns its
// documented error value.
#include "QuorvaneDrv.h"
#include "API/driver/frame/log.h"
#include "API/driver/frame/hooks.h"

extern "C" int32_t QDCALL QdFindFirstAvailDev(const char *deviceId, uint16_t flags, DiscoveryResult *result) {
    qdLog("{QdFindFirstAvailDev(...)");
    qdLog("\n");
    (void)deviceId;
    (void)flags;
    (void)result;
    qdLog("!%s\n", "}QdFindFirstAvailDev: 1");
    return 1;
}
void discoveryOnDetach() {}
