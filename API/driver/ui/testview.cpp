// testview.cpp - indicator colours, the "Test" and "Status" pages, and the
// readings of the electrode test.
#include "API/driver/ui/testview.h"

#include <cstdio>
#include <cstring>

#include "API/driver/params/paramdefs.h"
#include "API/driver/ui/pages.h"

namespace {

constexpr int CHANNEL_LABEL_NAME = 11;    // characters of the name in "Channel X"
constexpr uint32_t BOX_SIZE = 2;          // w and half-lines
constexpr uint32_t ROW_STEP = 5;          // half-lines between the rows of a page
constexpr int32_t TEST_TOP_COLUMNS[4] = {-8, 12, 32, 52};
constexpr const char *TOP_LABELS[4] = {"Link", "Battery", "Pause", "Common voltage"};
constexpr uint32_t TOP_SUPPORT[4] = {SUPPORTS_LINK, SUPPORTS_BATTERY, SUPPORTS_PAUSE, SUPPORTS_SIGNAL};
constexpr int32_t TEST_BUTTON_COLUMN = 14;
constexpr uint32_t TEST_BUTTON_ROW = 77;
constexpr int32_t STATUS_CHANNEL_COLUMN = 36;
constexpr int TEST_ROW_CONTROLS = 5;      // box, "+" bar and reading, "-" bar and reading
constexpr int8_t INPUT_LABEL_COLUMN = 1;

// Impedance readings above these values (in the range's unit) are poor.
constexpr float IMPEDANCE_RED_ABOVE = 30.0f;
constexpr float IMPEDANCE_YELLOW_ABOVE = 10.0f;
// Continuity readings of a small range get a decimal place.
constexpr float CONTINUITY_FINE_RANGE = 125.0f;
constexpr float CONTINUITY_FINE_BELOW = 100.0f;
constexpr int SIGNAL_OVERFLOW = 2;
constexpr int FUNCTION_VOLTAGE = 0;
constexpr int FUNCTION_TEMPERATURE = 3;

int channelFunction(uint16_t channel) {
    QdParamValue v{};
    if (QdGetParam(QD_PAR_CHANNEL_FUNCTION, channel, &v) != 0) return -1;
    return (int)v.code;
}

void channelLabel(uint16_t channel, char *out, int room) {
    char name[16];
    channelName(channel, CHANNEL_LABEL_NAME, name, sizeof name);
    std::snprintf(out, (size_t)room, "Channel %s", name);
}

void box(ControlDescriptor *out, uint32_t id, int32_t column, uint32_t row, const char *label, bool enabled) {
    fixedControl(out, id, CTL_BOX, column, row, BOX_SIZE, BOX_SIZE, label, nullptr);
    out->enabled = enabled;
}

}  // namespace

uint32_t indicatorSupport() {
    QdParamValue v{};
    return QdGetParam(QD_PAR_INDICATOR_SUPPORT, 0, &v) == 0 ? (uint32_t)v.value.i : 0;
}

bool channelEnabled(uint16_t channel) {
    QdParamValue v{};
    return QdGetParam(QD_PAR_CHANNEL_ENABLE, channel, &v) == 0 && v.value.i != 0;
}

UiColour indicatorColour(uint16_t type, uint16_t value) {
    switch (type) {
    case QD_IND_LINK:
        return value == QD_LINK_STATE_DISCONNECTED ? COLOUR_RED
               : value == QD_LINK_STATE_CONNECTED  ? COLOUR_GREEN
               : value == QD_LINK_STATE_ERROR      ? COLOUR_YELLOW
                                                   : COLOUR_MENU;
    case QD_IND_BATTERY:
        return value == 0 ? COLOUR_RED : value == 1 ? COLOUR_YELLOW : value <= 3 ? COLOUR_GREEN : COLOUR_MENU;
    case QD_IND_PAUSE:
        return value == 1 ? COLOUR_YELLOW : COLOUR_MENU;
    case QD_IND_SIGNAL: {
        static const UiColour byState[4] = {COLOUR_GREEN, COLOUR_YELLOW, COLOUR_RED, COLOUR_PURPLE};
        uint16_t state = value & 0xFF;
        return state < 4 ? byState[state] : COLOUR_MENU;
    }
    default:
        return COLOUR_MENU;
    }
}

int indicatorBox(uint16_t type, uint16_t value) {
    if (type < QD_IND_SIGNAL) return type;
    if (type != QD_IND_SIGNAL) return -1;
    int at = BOX_COMMON + (value >> 8);
    return at < UI_INDICATOR_BOXES ? at : -1;
}

void indicatorStartColours(UiColour colours[UI_INDICATOR_BOXES]) {
    uint32_t support = indicatorSupport();
    colours[BOX_BATTERY] = (support & SUPPORTS_BATTERY) ? COLOUR_GREEN : COLOUR_MENU;
    colours[BOX_PAUSE] = COLOUR_MENU;
    colours[BOX_COMMON] = (support & SUPPORTS_SIGNAL) ? COLOUR_GREEN : COLOUR_MENU;
    int channels = selectedChannelCount();
    for (int b = BOX_FIRST_CHANNEL; b < UI_INDICATOR_BOXES; ++b) {
        int c = b - BOX_FIRST_CHANNEL;
        colours[b] = c < channels && channelEnabled((uint16_t)c) ? COLOUR_GREEN : COLOUR_MENU;
    }
}

// ---------------------------------------------------------------------------
// Pages
// ---------------------------------------------------------------------------

int testChannelCount() {
    int channels = selectedChannelCount();
    return channels < UI_TEST_CHANNELS ? channels : UI_TEST_CHANNELS;
}

int testRowInputs(uint16_t channel) {
    int function = channelFunction(channel);
    if (function == FUNCTION_VOLTAGE) return 2;
    return function > FUNCTION_VOLTAGE && function <= FUNCTION_TEMPERATURE ? 1 : 0;
}

bool testRowEnabled(uint16_t channel) {
    return (indicatorSupport() & SUPPORTS_SIGNAL) && channelEnabled(channel);
}

bool testPageControl(int k, uint32_t r0, ControlDescriptor *out) {
    uint32_t support = indicatorSupport();
    if (k < 4) {
        box(out, ID_TEST_BOX_FIRST + (uint32_t)k, TEST_TOP_COLUMNS[k], r0, TOP_LABELS[k], (support & TOP_SUPPORT[k]) != 0);
        return true;
    }
    k -= 4;
    int channels = testChannelCount();
    if (k == TEST_ROW_CONTROLS * channels) {
        fixedControl(out, ID_TEST, CTL_BUTTON, TEST_BUTTON_COLUMN, TEST_BUTTON_ROW, 10, 4, nullptr, "&Test");
        out->enabled = false;
        return true;
    }
    if (k > TEST_ROW_CONTROLS * channels) return false;
    uint16_t c = (uint16_t)(k / TEST_ROW_CONTROLS);
    uint32_t row = r0 + ROW_STEP * (c + 1);
    char label[32];
    switch (k % TEST_ROW_CONTROLS) {
    case 0:
        channelLabel(c, label, sizeof label);
        box(out, ID_TEST_CHANNEL_BOX + c, -8, row, label, true);
        break;
    case 1: fixedControl(out, ID_TEST_PLUS_BAR + c, CTL_BAR, 12, row, 16, 2, "+", nullptr); break;
    case 2: fixedControl(out, ID_TEST_PLUS_READING + c, CTL_READING, 31, row, 9, 2, nullptr, nullptr); break;
    case 3: fixedControl(out, ID_TEST_MINUS_BAR + c, CTL_BAR, 42, row, 16, 2, "-", nullptr); break;
    default: fixedControl(out, ID_TEST_MINUS_READING + c, CTL_READING, 61, row, 9, 2, nullptr, nullptr); break;
    }
    if (k % TEST_ROW_CONTROLS != 0) out->labelColumn = INPUT_LABEL_COLUMN;
    out->enabled = testRowEnabled(c);
    return true;
}

bool statusPageControl(int k, uint32_t r0, ControlDescriptor *out) {
    uint32_t support = indicatorSupport();
    if (k < 4) {
        box(out, ID_STATUS_BOX_FIRST + (uint32_t)k, 0, 0, TOP_LABELS[k], k == 0 || (support & TOP_SUPPORT[k]) != 0);
        return true;
    }
    uint16_t c = (uint16_t)(k - 4);
    if (c >= UI_INDICATOR_BOXES - BOX_FIRST_CHANNEL || c >= selectedChannelCount()) return false;
    char label[32];
    channelLabel(c, label, sizeof label);
    box(out, ID_STATUS_BOX_FIRST + BOX_FIRST_CHANNEL + c, STATUS_CHANNEL_COLUMN, r0 + ROW_STEP * c, label,
        (support & SUPPORTS_SIGNAL) && channelEnabled(c));
    return true;
}

// ---------------------------------------------------------------------------
// Readings
// ---------------------------------------------------------------------------

void testClearInputs(TestState *state) {
    for (auto &channel : state->input) {
        for (TestInput &in : channel) in = TestInput{COLOUR_GREEN, 0.0f, ""};
    }
}

void testBegin(TestState *state) {
    std::memset(state, 0, sizeof *state);
    state->channels = testChannelCount();
    for (int c = 0; c < state->channels; ++c) {
        TestChannel *t = &state->channel[c];
        t->voltage = channelFunction((uint16_t)c) == FUNCTION_VOLTAGE;
        const QdParamDef *def = QdParamInfo(QD_PAR_CONTINUITY_RANGE, (int16_t)c);
        QdParamValue v{};
        t->hasRange = def && defKind(def) == QD_KIND_FLOAT && !defIsOptionList(def) &&
                      QdGetParam(QD_PAR_CONTINUITY_RANGE, (uint16_t)c, &v) == 0;
        t->range = t->hasRange ? v.value.f : 0.0f;
        std::snprintf(t->unit, sizeof t->unit, "%s", def && def->unit ? def->unit : "");
    }
    testClearInputs(state);
}

void testReading(TestInput *input, int16_t r, float range, const char *unit, bool impedance, bool overflow) {
    if (overflow) {
        *input = TestInput{COLOUR_RED, 100.0f, ""};
        return;
    }
    float value = (float)r * range / 32768.0f;
    float level = (float)r * 100.0f / 32768.0f;
    // A negative reading draws an empty bar.
    input->level = level < 0.0f ? 0.0f : level;
    const char *format = "%4.0f %s";
    if (impedance) {
        input->colour = value > IMPEDANCE_RED_ABOVE ? COLOUR_RED
                        : value > IMPEDANCE_YELLOW_ABOVE ? COLOUR_YELLOW : COLOUR_GREEN;
    } else {
        input->colour = COLOUR_GREEN;
        if (range <= CONTINUITY_FINE_RANGE && value < CONTINUITY_FINE_BELOW) format = "%2.1f %s";
    }
    std::snprintf(input->text, sizeof input->text, format, (double)value, unit ? unit : "");
}

uint32_t testPacket(TestState *state, uint16_t phase, uint16_t flags, const ChannelSamples *entries, int count) {
    uint32_t changed = 0;
    int channels = count < state->channels ? count : state->channels;
    if (flags != 0) {
        testClearInputs(state);
        return (1u << (2 * state->channels)) - 1u;
    }
    for (int c = 0; c < channels; ++c) {
        const ChannelSamples *e = &entries[c];
        const TestChannel *t = &state->channel[c];
        if (!e->samples || e->count == 0 || !t->hasRange) continue;
        bool overflow = e->signalState == SIGNAL_OVERFLOW;
        int16_t last = (int16_t)(e->samples[e->count - 1] >> 16);
        if (!t->voltage) {
            testReading(&state->input[c][INPUT_PLUS], last, t->range, t->unit, false, overflow);
            changed |= 1u << (2 * c);
            continue;
        }
        // The inputs alternate tick by tick: the last sample's input follows
        // from its tick; the sample before it is the other input's.
        uint32_t step = (uint32_t)e->rateMask + 1u;
        int lastInput = (((uint32_t)(e->count - 1) * step + phase) & step) ? INPUT_MINUS : INPUT_PLUS;
        testReading(&state->input[c][lastInput], last, t->range, t->unit, true, overflow);
        changed |= 1u << (2 * c + lastInput);
        if (e->count >= 2) {
            int16_t before = (int16_t)(e->samples[e->count - 2] >> 16);
            testReading(&state->input[c][1 - lastInput], before, t->range, t->unit, true, overflow);
            changed |= 1u << (2 * c + 1 - lastInput);
        }
    }
    return changed;
}
