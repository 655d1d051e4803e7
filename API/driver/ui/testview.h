// testview.h - the indicator boxes and the electrode test: the colours the
// boxes take, the controls of the "Test" and "Status" pages, and the
// readings the test shows for each input.
//
// 13 indicator boxes share one colour each, whichever page is live: link,
// battery, pause, common voltage, then channels 1 to 9 (Status page 800 to
// 812, Test page 310 to 322, the recorder's Record page 910 to 922).
#pragma once

#include <cstdint>

#include "QuorvaneDrv.h"
#include "API/driver/ui/controls.h"

enum UiColour : uint8_t {
    COLOUR_WINDOW = 0,    // the window background (no indicator shown)
    COLOUR_RED,
    COLOUR_GREEN,
    COLOUR_YELLOW,
    COLOUR_PURPLE,        // (204, 0, 204)
    COLOUR_MENU,          // the system's menu face
};

constexpr int UI_INDICATOR_BOXES = 13;
constexpr int BOX_LINK = 0, BOX_BATTERY = 1, BOX_PAUSE = 2, BOX_COMMON = 3, BOX_FIRST_CHANNEL = 4;

// "Support of indicators" bits.
constexpr uint32_t SUPPORTS_LINK = 1, SUPPORTS_BATTERY = 2, SUPPORTS_PAUSE = 4, SUPPORTS_SIGNAL = 8;
uint32_t indicatorSupport();
bool channelEnabled(uint16_t channel);

// Colour of an indicator value (signal: the state in the low byte).
UiColour indicatorColour(uint16_t type, uint16_t value);
// Box (0 to 12) an indicator report goes to, -1 for none (messages).
int indicatorBox(uint16_t type, uint16_t value);
// The colours the boxes take when a measurement (Test or Record) starts;
// the link box keeps its colour.
void indicatorStartColours(UiColour colours[UI_INDICATOR_BOXES]);

// ---------------------------------------------------------------------------
// Pages (r0 = the pages' first row in half-lines)
// ---------------------------------------------------------------------------

// Channels with a test row and with a Status box.
constexpr int UI_TEST_CHANNELS = 8;
int testChannelCount();
// Controls of the "Test" and "Status" pages in order (k from 0); false past
// the last.
bool testPageControl(int k, uint32_t r0, ControlDescriptor *out);
bool statusPageControl(int k, uint32_t r0, ControlDescriptor *out);
// What a channel's test row shows, by its "Channel function": 2 both
// inputs (Voltage), 1 the "+" bar and reading without the "+" label
// (Resistance, Conductance, Temperature), 0 the box alone. Rows and inputs
// that are not shown are disabled too.
int testRowInputs(uint16_t channel);
// A row is enabled when the signal indicator is supported and the channel
// is enabled.
bool testRowEnabled(uint16_t channel);

// ---------------------------------------------------------------------------
// Readings
// ---------------------------------------------------------------------------

struct TestInput {
    UiColour colour;
    float level;        // percent of the range, 0 to 100
    char text[64];
};

struct TestChannel {
    bool voltage;       // two inputs, measured alternately
    bool hasRange;      // a test range could be read
    float range;        // "Input circuit continuity test range"
    char unit[16];
};

enum : int { INPUT_PLUS = 0, INPUT_MINUS = 1 };

struct TestState {
    int channels;
    TestChannel channel[UI_TEST_CHANNELS];
    TestInput input[UI_TEST_CHANNELS][2];
};

// Reads the channels' functions and test ranges and clears every input
// (green, level 0, no text).
void testBegin(TestState *state);
void testClearInputs(TestState *state);
// One reading r (the upper 16 bits of a sample) of an input with test range
// R: impedance mode for the inputs of a "Voltage" channel, continuity mode
// otherwise.
void testReading(TestInput *input, int16_t r, float range, const char *unit, bool impedance, bool overflow);
// A test packet: entries as the sample stream hands them over. Returns a
// bit set of the inputs that changed (bit 2 * channel + input).
uint32_t testPacket(TestState *state, uint16_t phase, uint16_t flags, const ChannelSamples *entries, int count);
