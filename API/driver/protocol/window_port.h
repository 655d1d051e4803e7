// window_port.h - what the protocol engine asks of the driver's own windows
// (the device settings window and the recorder): whether one is open on a
// context, indicator and message display, the start and stop of a host's
// measurement that the window watches, and the sample packets and events of
// a measurement that the window runs itself. The window code installs its
// calls at attach (engineSetWindowPort); without them no window exists and
// every packet, indicator and message goes to the host.
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

struct WindowPort {
    // True while a driver window (settings window or recorder) exists.
    bool (*isOpen)();
    // Shows an indicator on the window's live indicator page.
    void (*showIndicator)(uint16_t type, uint16_t value);
    // Closes the window's progress ("Please wait") window if one is shown.
    void (*closeProgress)();
    // A message box owned by the window; error selects caption "Error" and
    // the error icon, else caption "Info" and the information icon.
    void (*messageBox)(const char *text, bool error);
    // The host started or stopped a measurement on the selected context
    // while the window is open and idle (stopping also resets the indicator
    // colours).
    void (*measurementStarted)();
    void (*measurementStopped)();
    // The sink of the measurement the window runs on the selected context:
    // one sample packet (flags: the packet's state flags, the SUM signal
    // state), for the test view or the recorder as the activity tells.
    void (*takePacket)(uint16_t context, uint16_t phase, uint16_t flags, ChannelSamples *channels);
    // An indicator report and a user message of the context the recorder
    // records (a format with annotations keeps them).
    void (*recorderIndicator)(uint16_t type, uint16_t value);
    void (*recorderMessage)(const char *text);
};

// Installs the window's calls (null: no windows), and the calls installed.
void engineSetWindowPort(const WindowPort *port);
const WindowPort *protoWindowPort();
