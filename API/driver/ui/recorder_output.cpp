// recorder_output.cpp - the recorder's output inside the driver: the one
// RecordingOutput of the process, fed by the protocol engine with the sample
// packets of the selected context while the recorder records.
#include "API/driver/frame/log.h"
#include "API/driver/protocol/samples.h"
#include "API/driver/ui/recording.h"
#include "API/driver/ui/window_hooks.h"

namespace {

const RecordingParams kDriverParams = {QdGetParam, QdParamInfo, QdGetDevName};

// Messages go to the log, except while the recorder window shows them.
void logMessage(void *, const char *text, const char *) { qdLog("!%s\n", text); }

RecordingOutput g_output;
bool g_outputReady = false;

}  // namespace

RecordingOutput *recorderOutput() {
    if (!g_outputReady) {
        g_output.params = &kDriverParams;
        g_output.showMessage = logMessage;
        g_outputReady = true;
    }
    return &g_output;
}

void recorderTakePacket(uint16_t, uint16_t phase, uint16_t, ChannelSamples *channels) {
    recordPacket(recorderOutput(), phase, channels, STAGING_CHANNELS);
}

void recorderIndicator(uint16_t type, uint16_t value) {
    recordIndicator(recorderOutput(), type, value, (double)osClockUs() * 1e-6);
}

void recorderMessage(const char *text) { recordText(recorderOutput(), text, (double)osClockUs() * 1e-6); }
