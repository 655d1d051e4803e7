// recording_sink.cpp - qdacq's recordings through the driver's writer.
#include "tools/qdacq/recording_sink.h"

#include <cstdio>
#include <mutex>

#include "API/driver/ui/recording.h"

namespace {

std::mutex g_lock;
RecordingOutput g_out;
RecordingParams g_params;
std::string g_path;
bool g_active = false;
bool g_completionFailed = false;

void printMessage(void *, const char *text, const char *caption) {
    std::fprintf(stderr, "qdacq: %s: %s\n", caption, text);
    g_completionFailed = true;
}

}  // namespace

bool recordingStart(const DriverApi &api, const std::string &path, uint16_t format, const std::string &client,
                    const std::string &session, std::string *why) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_params.getParam = api.GetParam;
    g_params.paramInfo = api.ParamInfo;
    g_params.devName = api.GetDevName;
    g_out.params = &g_params;
    g_out.showMessage = printMessage;
    if (!outputFormat(format)) {
        *why = "no such output format";
        return false;
    }
    if (!recordingOpen(&g_out, path.c_str(), format, client.c_str(), session.c_str())) {
        *why = "cannot create the output file " + path;
        return false;
    }
    g_path = path;
    g_active = true;
    g_completionFailed = false;
    return true;
}

bool recordingActive() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_active;
}

void recordingPacket(uint16_t phase, const ChannelSamples *blocks, double arrival) {
    std::lock_guard<std::mutex> guard(g_lock);
    // The driver hands an array of 6 blocks, the first channel-count ones used.
    if (g_active) recordPacketAt(&g_out, phase, blocks, 6, arrival);
}

void recordingIndicator(uint16_t type, uint16_t value, double when) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_active) recordIndicator(&g_out, type, value, when);
}

bool recordingText(const char *text, double when) {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_active && recordText(&g_out, text, when);
}

bool recordingKeepsEvents() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_active && outputFormat(g_out.format)->annotations;
}

bool recordingFailed(std::string *why) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_active || g_out.writeFailure != 1) return false;
    g_out.writeFailure = 2;
    if (g_out.channels == 0) {
        *why = "the file header could not be written (a parameter could not be read or the file could not be "
               "written)";
    } else if (g_out.dataStopped) {
        *why = "writing " + g_path + " failed (is the disk full?); the data written before stay readable";
    } else {
        *why = "the sample stream is not continuous (data were lost); the data written before stay readable";
    }
    return true;
}

bool recordingFinish(std::string *summary) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_active) return true;
    const OutputFormat *format = outputFormat(g_out.format);
    // The first packet wrote the header when it found channels to record.
    bool headerWritten = g_out.channels > 0;
    uint32_t records = g_out.edf.records;
    bool ok = completeEdfHeader(&g_out, nullptr) && !g_completionFailed;
    g_active = false;
    char text[512];
    if (!headerWritten) {
        std::snprintf(text, sizeof text, "recording: %s holds no data (no header was written)", g_path.c_str());
    } else if (format->dataRecords) {
        char events[128] = "";
        if (format->annotations) {
            int n = std::snprintf(events, sizeof events, ", %llu annotations",
                                  (unsigned long long)g_out.plus.annotationsWritten);
            // Refused: they came faster than the annotation signal carries, for too long.
            if (g_out.plus.annotationsRefused > 0 && n > 0) {
                std::snprintf(events + n, sizeof events - (size_t)n, " (%lu refused: the queue was full)",
                              (unsigned long)g_out.plus.annotationsRefused);
            }
        }
        std::snprintf(text, sizeof text, "recording: %s, %s, %lu data record%s%s%s", g_path.c_str(), format->summary,
                      (unsigned long)records, records == 1 ? "" : "s", events,
                      ok ? "" : " (the record count could not be written into the header)");
    } else {
        std::snprintf(text, sizeof text, "recording: %s, %s", g_path.c_str(), format->summary);
    }
    *summary = text;
    return ok;
}
