// window_hooks.h - the windows' side of the protocol engine's window port
// (protocol/window_port.h): window_hooks.cpp installs these at attach. The
// platform's window code implements the window calls
// (ui/win32/window_hooks_win32.cpp; ui/posix/devwindow_posix.cpp on systems
// without driver windows answers "no window"); the recorder's calls are
// portable (recorder_output.cpp).
#pragma once

#include <cstdint>

#include "QuorvaneDrv.h"
#include "API/driver/protocol/window_port.h"

// Attach installs the window port.
void uiOnAttach();

// Detach unregisters the window classes; a change of the selected context
// first stops the window's test and destroys it.
void uiOnDetach();
void uiCloseForSelectionChange();

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
void recorderTakePacket(uint16_t context, uint16_t phase, uint16_t flags, ChannelSamples *channels);
// An indicator report and a user message of the context the recorder
// records (a format with annotations keeps them).
void recorderIndicator(uint16_t type, uint16_t value);
void recorderMessage(const char *text);
