// devwindow.cpp - device settings window.
//
// Not built yet: every function logs its entry and exit and returns its
// documented error value.
#include "QuorvaneDrv.h"
#include "API/driver/frame/log.h"
#include "API/driver/frame/hooks.h"

extern "C" void * QDCALL QdCreateDevWindow(void *instance, void *parent, const char *directory) {
    logEnter("QdCreateDevWindow", "...");
    (void)instance;
    (void)parent;
    (void)directory;
    logFail("QdCreateDevWindow", "NULL");
    return nullptr;
}
void uiOnDetach() {}
void uiCloseForSelectionChange() {}
