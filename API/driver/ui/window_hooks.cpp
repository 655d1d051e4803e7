// window_hooks.cpp - the window side of the protocol engine's hooks while no
// driver window is built: no window is ever open, so nothing is shown and no
// packet is diverted.
#include "API/driver/ui/window_hooks.h"

std::atomic<uint16_t> windowActivity{ACTIVITY_IDLE};

bool windowIsOpen() { return false; }
void windowShowIndicator(uint16_t, uint16_t) {}
void windowCloseProgress() {}
void windowMessageBox(const char *, bool) {}
void windowMeasurementStarted() {}
void windowMeasurementStopped() {}
void windowTestPacket(uint16_t, uint16_t, uint16_t, ChannelSamples *) {}
