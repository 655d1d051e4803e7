// devwindow.cpp - device settings window.
//
// Not built yet: every function logs its entry and exit and returns its
// documented error value.
#include "QuorvaneDrv.h"
#include "API/driver/frame/log.h"
#include "API/driver/frame/hooks.h"

extern "C" void * QDCALL QdCreateDevWindow(void *instance, void *parent, const char *directory) {
    qdLog("{QdCreateDevWindow(...)");
    qdLog("\n");
    (void)instance;
    (void)parent;
    (void)directory;
    qdLog("!%s\n", "}QdCreateDevWindow: NULL");
    return nullptr;
}
void uiOnDetach() {}
void uiCloseForSelectionChange() {}
