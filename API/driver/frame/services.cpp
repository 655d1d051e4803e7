// services.cpp - device services launcher.
//
// Not built yet: every function logs its entry and exit and returns its
// documented error value.
#include "QuorvaneDrv.h"
#include "API/driver/frame/log.h"

extern "C" int QDCALL QdDevServices(const char *folder) {
    qdLog("{QdDevServices(%s)", folder ? folder : "");
    qdLog("\n");
    qdLog("!%s\n", "}QdDevServices: Cannot run device service application");
    return 1;
}
