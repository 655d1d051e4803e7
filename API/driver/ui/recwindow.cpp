// recwindow.cpp - recorder window.
//
// Not built yet: every function logs its entry and exit and returns its
// documented error value.
#include "QuorvaneDrv.h"
#include "API/driver/frame/log.h"

extern "C" int QDCALL QdCreateRecWindow(void *instance, void *parent, const char *directory) {
    qdLog("{QdCreateRecWindow(...)");
    qdLog("\n");
    (void)instance;
    (void)parent;
    (void)directory;
    qdLog("!%s\n", "}QdCreateRecWindow: false");
    return 0;
}
