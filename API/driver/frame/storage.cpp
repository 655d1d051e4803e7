// storage.cpp - device configuration storage.
//
// Not built yet: every function logs its entry and exit and returns its
// documented error value.
#include "QuorvaneDrv.h"
#include "API/driver/frame/log.h"

extern "C" int32_t QDCALL QdGetDevConfig(int16_t context, void *buffer, uint32_t size) {
    qdLog("{QdGetDevConfig(%i...)", context);
    qdLog("\n");
    (void)buffer;
    (void)size;
    qdLog("!%s\n", "}QdGetDevConfig: Invalid context");
    return 0;
}

extern "C" int16_t QDCALL QdSetDevConfig(int16_t context, void *blob, uint32_t size) {
    qdLog("{QdSetDevConfig(%i)", context);
    qdLog("\n");
    (void)blob;
    (void)size;
    qdLog("!%s\n", "}QdSetDevConfig: Invalid context");
    return -1;
}

extern "C" int QDCALL QdChangeDevice(const char *name) {
    qdLog("{QdChangeDevice()");
    qdLog("\n");
    (void)name;
    qdLog("!%s\n", "}QdChangeDevice: not available");
    return 0;
}
