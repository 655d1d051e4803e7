// recorder.cpp - the recorder's portable decisions (see recorder.h).
#include "API/driver/ui/recorder.h"

#include <cstdio>
#include <cstring>

#include "API/driver/ui/pages.h"
#include "API/driver/ui/recording.h"
#include "API/driver/ui/testview.h"

namespace {

constexpr int TIME_FIELDS = 3;
constexpr uint64_t MAX_LIMIT = 0xFFFFFFFFu;

bool blank(const char *text) {
    for (; *text; ++text) {
        if (*text != ' ' && *text != '\t') return false;
    }
    return true;
}

}  // namespace

bool parseTimeLimit(const char *text, uint32_t *seconds) {
    if (!text || blank(text)) {
        *seconds = 0;
        return true;
    }
    uint64_t field[TIME_FIELDS] = {};
    int fields = 0;
    for (const char *p = text;; ++p) {
        if (fields == TIME_FIELDS) return false;
        const char *start = p;
        uint64_t value = 0;
        for (; *p >= '0' && *p <= '9'; ++p) {
            value = value * 10 + (uint64_t)(*p - '0');
            if (value > MAX_LIMIT) return false;
        }
        if (p == start || (*p != ':' && *p != '\0')) return false;
        field[fields++] = value;
        if (*p == '\0') break;
    }
    uint64_t total = 0;
    for (int k = 0; k < fields; ++k) {
        if (k > 0 && field[k] >= 60) return false;
        total = total * 60 + field[k];
    }
    if (total > MAX_LIMIT) return false;
    *seconds = (uint32_t)total;
    return true;
}

OutputName outputPath(const char *text, uint16_t format, char *out, size_t room) {
    if (!text || !*text) return OUTPUT_EMPTY;
    const OutputFormat *kind = outputFormat(format);
    if (!kind) return OUTPUT_UNKNOWN_FORMAT;
    const char *name = text;
    for (const char *p = text; *p; ++p) {
        if (*p == '\\' || *p == '/') name = p + 1;
    }
    const char *extension = std::strchr(name, '.') ? "" : kind->extension;
    int n = std::snprintf(out, room, "%s%s", text, extension);
    if (n < 0 || (size_t)n >= room || n > 255) return OUTPUT_TOO_LONG;
    return OUTPUT_OK;
}

void elapsedText(uint32_t seconds, char *out, size_t room) {
    std::snprintf(out, room, "Elapsed time: %02u:%02u:%02u", (unsigned)(seconds / 3600 % 24),
                  (unsigned)(seconds / 60 % 60), (unsigned)(seconds % 60));
}

void recorderStart(Recorder *r, uint32_t now, uint32_t limit, bool viewer) {
    r->phase = RECORDER_RECORDING;
    r->limit = limit;
    r->startTick = now;
    r->shown = 0;
    r->viewer = viewer;
}

uint32_t recorderStop(Recorder *r, bool closing) {
    RecorderPhase was = r->phase;
    if (was == RECORDER_IDLE) return 0;
    if (closing) r->phase = RECORDER_CLOSING;
    if (was != RECORDER_RECORDING) return 0;
    if (!closing) r->phase = RECORDER_FINISHING;
    return REC_STOP;
}

uint32_t recorderStep(Recorder *r, uint32_t now, bool communicating, uint16_t *writeFailure, uint32_t *elapsed) {
    *elapsed = (now - r->startTick) / 1000;
    if (r->phase == RECORDER_IDLE) return 0;
    if (!communicating) {
        r->phase = RECORDER_IDLE;
        return REC_FINISH;
    }
    if (*writeFailure == 1) {
        *writeFailure = 2;
        return REC_REPORT_WRITE_FAILURE | recorderStop(r, false);
    }
    if (*writeFailure != 0 || *elapsed == r->shown) return 0;
    // A loop held up for over a second passes a whole second: the viewer
    // still starts, at the first step past its delay.
    bool viewerDue = r->viewer && r->shown < RECORDER_VIEWER_DELAY_S && *elapsed >= RECORDER_VIEWER_DELAY_S;
    r->shown = *elapsed;
    uint32_t actions = REC_SHOW_ELAPSED;
    if (viewerDue) actions |= REC_START_VIEWER;
    if (r->limit != 0 && *elapsed >= r->limit) actions |= recorderStop(r, false);
    return actions;
}

// ---------------------------------------------------------------------------
// Pages
// ---------------------------------------------------------------------------

namespace {

constexpr uint32_t CONTROL_HEIGHT = 2;   // half-lines
constexpr int RECORD_TOP = 4;            // link, battery, pause, common voltage
constexpr int32_t RECORD_TOP_COLUMNS[RECORD_TOP] = {-8, 12, 32, 52};
constexpr const char *RECORD_TOP_LABELS[RECORD_TOP] = {"Link", "Battery", "Pause", "Common voltage"};
constexpr uint32_t RECORD_TOP_SUPPORT[RECORD_TOP] = {0, SUPPORTS_BATTERY, SUPPORTS_PAUSE, SUPPORTS_SIGNAL};
constexpr uint32_t RECORD_ROW_STEP = 5;   // half-lines per channel row
constexpr int CHANNEL_LABEL_NAME = 11;

struct SessionRow {
    uint32_t id;
    ControlKind kind;
    const char *label;
    const char *text;
    uint32_t width;
};
const SessionRow kSessionRows[] = {
    {ID_REC_SESSION, CTL_EDIT, "Session info", nullptr, 52},
    {ID_REC_CLIENT, CTL_EDIT, "Client info", nullptr, 52},
    {ID_REC_LIMIT, CTL_EDIT, "Time limit [hh:mm:ss]", nullptr, 10},
    {ID_REC_DEVICE, CTL_DROPDOWN, "Device name", nullptr, 30},
    {ID_REC_FORMAT, CTL_DROPDOWN, "Output format", kFormatEdf, 30},
    {ID_REC_OUTPUT, CTL_EDIT, "Output file", "record", 30},
    {ID_REC_BROWSE, CTL_BUTTON, nullptr, "&Browse forders", 15},
    {ID_REC_VIEWER, CTL_CHECK, "Realtime signal view", "0", 2},
};
constexpr int SESSION_ROWS = (int)(sizeof kSessionRows / sizeof kSessionRows[0]);

}  // namespace

bool sessionPageControl(int k, const char *const *models, int modelCount, const char *current,
                        ControlDescriptor *out) {
    if (k < 0 || k >= SESSION_ROWS) return false;
    const SessionRow &row = kSessionRows[k];
    // Running rows: a fixed row would not move the rows after it on, and
    // "Client info" stood on top of "Session info".
    fixedControl(out, row.id, row.kind, 0, 0, row.width, CONTROL_HEIGHT, row.label, row.text);
    if (row.id == ID_REC_FORMAT) {
        for (const OutputFormat &format : kOutputFormats) addListEntry(out, format.caption);
    }
    if (row.id == ID_REC_DEVICE) {
        for (int m = 0; models && m < modelCount; ++m) addListEntry(out, models[m]);
        std::snprintf(out->text, sizeof out->text, "%s", current ? current : "");
    }
    return true;
}

bool sessionControlEnabled(uint32_t id, uint16_t format) {
    if (id >= ID_LABEL_OFFSET + ID_REC_SESSION) id -= ID_LABEL_OFFSET;
    const OutputFormat *kind = outputFormat(format);
    return id != ID_REC_VIEWER || (kind && kind->liveView);
}

bool recordPageControl(int k, uint32_t r0, ControlDescriptor *out) {
    uint32_t support = indicatorSupport();
    if (k < RECORD_TOP) {
        fixedControl(out, ID_RECORD_BOX_FIRST + (uint32_t)k, CTL_BOX, RECORD_TOP_COLUMNS[k], r0, 2, 2,
                     RECORD_TOP_LABELS[k], nullptr);
        out->enabled = RECORD_TOP_SUPPORT[k] == 0 || (support & RECORD_TOP_SUPPORT[k]) != 0;
        return true;
    }
    k -= RECORD_TOP;
    int channels = selectedChannelCount();
    if (channels > UI_INDICATOR_BOXES - BOX_FIRST_CHANNEL) channels = UI_INDICATOR_BOXES - BOX_FIRST_CHANNEL;
    uint32_t below = r0 + RECORD_ROW_STEP * (uint32_t)(channels + 1);
    if (k == channels) {
        fixedControl(out, ID_RECORD, CTL_BUTTON, -8, below, 12, 4, nullptr, "&Record");
        out->enabled = recordButtonEnabled(true);
        return true;
    }
    if (k == channels + 1) {
        fixedControl(out, ID_REC_ELAPSED, CTL_TEXT, 0, below + RECORD_ROW_STEP + 1, 30, 2, "Record in progress.",
                     nullptr);
        out->visible = false;
        return true;
    }
    if (k > channels + 1) return false;
    char name[16], label[32];
    channelName((uint16_t)k, CHANNEL_LABEL_NAME, name, sizeof name);
    std::snprintf(label, sizeof label, "Channel %s", name);
    fixedControl(out, ID_RECORD_BOX_FIRST + BOX_FIRST_CHANNEL + (uint32_t)k, CTL_BOX, -8,
                 r0 + RECORD_ROW_STEP * (uint32_t)(k + 1), 2, 2, label, nullptr);
    out->enabled = (support & SUPPORTS_SIGNAL) && channelEnabled((uint16_t)k);
    return true;
}

bool recordButtonEnabled(bool building) {
    if (building && !(indicatorSupport() & SUPPORTS_SIGNAL)) return false;
    for (int c = 0; c < selectedChannelCount(); ++c) {
        if (channelEnabled((uint16_t)c)) return true;
    }
    return false;
}

const char *recorderStartFailure(int32_t result) {
    if (result < 0) return "Invalid device, its state or measurement mode";
    if (result == QD_MEAS_SYSTEM_TOO_OLD) return "Bluetooth Low Energy is not supported below Windows 8.1";
    return "Cannot connect to the device";
}
