// contexts.cpp - device models and contexts.
//
// Not built yet: every function logs its entry and exit and returns its
// documented error value.
#include "QuorvaneDrv.h"
#include "API/driver/frame/log.h"
#include "API/driver/frame/hooks.h"

extern "C" int QDCALL QdEnumDevices(const char *const **names) {
    qdLog("{QdEnumDevices(...)");
    qdLog("\n");
    (void)names;
    qdLog("!}QdEnumDevices: %i", 0);
    qdLog("\n");
    return 0;
}

extern "C" int16_t QDCALL QdOpenDevContext(const char *name) {
    qdLog("{QdOpenDevContext(...)");
    qdLog("\n");
    (void)name;
    qdLog("!%s\n", "}QdOpenDevContext: Device not found");
    return -2;
}

extern "C" int16_t QDCALL QdSelectDevContext(uint16_t context) {
    qdLog("{QdSelectDevContext(%i)", context);
    qdLog("\n");
    qdLog("!%s\n", "}QdSelectDevContext: Invalid context");
    return -2;
}

extern "C" int16_t QDCALL QdGetSelectedDevContext(void) {
    qdLog("{QdGetSelectedDevContext()");
    qdLog("\n");
    qdLog("!%s\n", "}QdGetSelectedDevContext: not available");
    return -1;
}

extern "C" void QDCALL QdCloseDevContext(uint16_t context) {
    qdLog("{QdCloseDevContext(%i)", context);
    qdLog("\n");
    qdLog("!%s\n", "}QdCloseDevContext: void");
}

extern "C" const char * QDCALL QdGetDevName(void) {
    qdLog("{QdGetDevName()");
    qdLog("\n");
    qdLog("!%s\n", "}QdGetDevName: not available");
    return nullptr;
}

extern "C" QdCapConfig * QDCALL QdGetCapConfig(void) {
    qdLog("{QdGetCapConfig()");
    qdLog("\n");
    qdLog("!%s\n", "}QdGetCapConfig: not available");
    return nullptr;
}
void contextsOnAttach() {}
void contextsOnDetach() {}
