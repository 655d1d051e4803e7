// devwindow_posix.cpp - the device settings window on systems without one
// (Linux): QdCreateDevWindow says so in the log and returns null, and the
// engine's window hooks answer "no window". A Linux host edits a context's
// parameters through the parameter functions and keeps them in settings
// files (QdGetDevConfig / QdSetDevConfig; the qdparams tool reads and
// writes the same files).
#include "QuorvaneDrv.h"
#include "API/driver/frame/log.h"
#include "API/driver/ui/window_hooks.h"

extern "C" void *QDCALL QdCreateDevWindow(void *, void *, const char *) {
    logFail("QdCreateDevWindow", "NULL (no settings window on this system; use settings files)");
    return nullptr;
}

// The recorder window neither; "qdacq --edf FILE --view" records and shows
// the growing file in EDFbrowser.
extern "C" int QDCALL QdCreateRecWindow(void *, void *, const char *) {
    logEnter("QdCreateRecWindow", "...");
    logFail("QdCreateRecWindow", "false (no recorder window on this system; use qdacq --edf FILE --view)");
    return 0;
}

void uiOnDetach() {}
void uiCloseForSelectionChange() {}

bool windowIsOpen() { return false; }
void windowShowIndicator(uint16_t, uint16_t) {}
void windowCloseProgress() {}
void windowMessageBox(const char *, bool) {}
void windowMeasurementStarted() {}
void windowMeasurementStopped() {}
void windowTestPacket(uint16_t, uint16_t, uint16_t, ChannelSamples *) {}
