// window_hooks.h - what the protocol engine asks of the driver's own windows
// (the device settings window and the recorder): whether one is open and
// runs a measurement itself, indicator and message display, and the sample
// packets of a test or a recording. The platform's window code implements
// them (ui/win32/window_hooks_win32.cpp; ui/posix/devwindow_posix.cpp on
// systems without driver windows answers "no window").
#pragma once

#include <atomic>
#include <cstdint>

#include "QuorvaneDrv.h"

// What the driver window is doing with the selected context.
enum : uint16_t {
    ACTIVITY_IDLE = 0,
    ACTIVITY_RECORDING = 1,   // the recorder records
    ACTIVITY_TESTING = 2,     // the settings window runs its test
};
// Written by the window's thread, read by whichever thread runs the engine.
extern std::atomic<uint16_t> windowActivity;

// True while a driver window (settings window or recorder) exists.
bool windowIsOpen();

// Shows an indicator on the window's live indicator page.
void windowShowIndicator(uint16_t type, uint16_t value);
// Closes the window's progress ("Please wait") window if one is shown.
void windowCloseProgress();
// Shows a message box owned by the window; error selects caption "Error" and
// the error icon, else caption "Info" and the information icon.
void windowMessageBox(const char *text, bool error);

// The host started or stopped a measurement on the selected context while
// the window is open and idle (stopping also resets the indicator colours).
void windowMeasurementStarted();
void windowMeasurementStopped();

// One sample packet of the selected context while the window tests or
// records (flags: the packet's state flags, the SUM signal state).
void windowTestPacket(uint16_t context, uint16_t phase, uint16_t flags, ChannelSamples *channels);
void recordPacket(uint16_t context, uint16_t phase, uint16_t flags, ChannelSamples *channels);
// An indicator report and a user message of the context the recorder
// records (a format with annotations keeps them).
void recorderIndicator(uint16_t type, uint16_t value);
void recorderMessage(const char *text);
