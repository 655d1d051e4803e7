// recwindow.cpp - recorder window.
//
// Not built yet: every function logs its entry and exit and returns its
// documented error value.
#include "QuorvaneDrv.h"
#include "API/driver/frame/log.h"

extern "C" int QDCALL QdCreateRecWindow(void *instance, void *parent, const char *directory) {
    logEnter("QdCreateRecWindow", "...");
    (void)instance;
    (void)parent;
    (void)directory;
    logFail("QdCreateRecWindow", "false");
    return 0;
}
