// window_hooks.cpp - the window port that the driver's windows give the
// protocol engine: the platform's window calls, and the sample sink of a
// measurement the window runs on the selected context, which is the test
// view while the settings window tests and the recorder while it records.
#include "API/driver/ui/window_hooks.h"

#include "API/driver/protocol/protocol.h"

namespace {

void takePacket(uint16_t context, uint16_t phase, uint16_t flags, ChannelSamples *channels) {
    if (windowActivity.load() == ACTIVITY_TESTING) {
        windowTestPacket(context, phase, flags, channels);
    } else {
        recorderTakePacket(context, phase, flags, channels);
    }
}

const WindowPort kWindowPort = {
    windowIsOpen,
    windowShowIndicator,
    windowCloseProgress,
    windowMessageBox,
    windowMeasurementStarted,
    windowMeasurementStopped,
    takePacket,
    recorderIndicator,
    recorderMessage,
};

}  // namespace

void uiOnAttach() { engineSetWindowPort(&kWindowPort); }
