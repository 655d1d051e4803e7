// The driver windows' model without a window: descriptors, enabling,
// commits, the automatic label, readings, the EEG cap page, settings files
// and the recorder's time limit, output name and course, on the selected
// context.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "API/driver/ui/eegcap.h"
#include "API/driver/ui/pages.h"
#include "API/driver/ui/recorder.h"
#include "API/driver/ui/recording.h"
#include "API/driver/ui/settingsfile.h"
#include "API/driver/ui/testview.h"
#include "tests/params/param_helpers.h"

using namespace qdtest;

namespace {

const int HALVEX_PLUS_4_BLE = 14, HALVEX_PLUS_2_USB = 10, BREV = 0;

uint32_t letters(const char *text, void *) { return (uint32_t)std::strlen(text); }
const TextMeasure kMeasure = {letters, nullptr};

std::string value(uint16_t id, uint16_t channel) {
    char text[UI_TEXT_MAX];
    paramText(id, channel, text, sizeof text);
    return text;
}

// Enabled flags of a channel page's controls by parameter id.
std::vector<std::pair<uint16_t, bool>> walk(int16_t channel) {
    std::vector<std::pair<uint16_t, bool>> out;
    PageWalk w;
    pageWalkBegin(&w, channel, true);
    uint16_t id;
    bool enabled;
    while (pageWalkNext(&w, &id, &enabled)) out.push_back({id, enabled});
    return out;
}
bool enabledIn(const std::vector<std::pair<uint16_t, bool>> &page, uint16_t id) {
    for (auto &p : page) {
        if (p.first == id) return p.second;
    }
    return false;
}

class UiModel : public DriverTest {};

}  // namespace

TEST_F(UiModel, DescriptorsFollowDefinitionValueAndLock) {
    open(HALVEX_PLUS_4_BLE);
    ASSERT_EQ(QdStr2Param("Resistance", QD_PAR_CHANNEL_FUNCTION, 1), 0);
    ASSERT_EQ(QdLockParam(QD_PAR_SAMPLE_RATE, 2, 1), 0);
    struct Case {
        uint16_t id, channel;
        ControlKind kind;
        const char *label, *text;
        uint32_t width;
        bool enabled, visible;
    } cases[] = {
        {QD_PAR_MEASUREMENT_RANGE, 0, CTL_DROPDOWN, "Measurement range [uV]", "800", 10, true, true},
        {QD_PAR_CHANNEL_ENABLE, 0, CTL_CHECK, "Channel enable", "0", 2, true, true},
        {QD_PAR_CHANNEL_LABEL, 0, CTL_EDIT, "Channel label", "", 20, true, true},
        {QD_PAR_SENSOR_INFO, 0, CTL_EDIT, "Sensor info", "", 47, true, true},
        {QD_PAR_CHANNEL_PROFILE, 0, CTL_DROPDOWN, "Channel profile", "User defined", 20, true, true},
        {QD_PAR_RANGE_MINIMUM, 0, CTL_EDIT, "Range minimum [uV]", "-800", 10, false, true},
        {QD_PAR_LINK_TYPE, 0, CTL_DROPDOWN, "Link type", "Bluetooth LE", 20, false, true},
        {QD_PAR_FREQ_CHARACTERISTIC, 1, CTL_DROPDOWN, "Frequency characteristic", "Linear phase sharp", 30, false, false},
        {QD_PAR_SAMPLE_RATE, 2, CTL_DROPDOWN, "Sample rate [sps]", "125", 10, false, true},
    };
    for (const Case &c : cases) {
        ControlDescriptor d;
        ASSERT_TRUE(paramDescriptor(c.id, c.channel, &kMeasure, &d)) << c.label;
        EXPECT_EQ(d.id, paramControlId(c.id, c.channel));
        EXPECT_EQ(d.kind, c.kind) << c.label;
        EXPECT_STREQ(d.label, c.label);
        EXPECT_STREQ(d.text, c.text) << c.label;
        EXPECT_EQ(d.width, c.width) << c.label;
        EXPECT_EQ(d.enabled, c.enabled) << c.label;
        EXPECT_EQ(d.visible, c.visible) << c.label;
    }
    ControlDescriptor d;
    ASSERT_TRUE(paramDescriptor(QD_PAR_MEASUREMENT_RANGE, 1, &kMeasure, &d));
    EXPECT_STREQ(d.list[0], "31.25");
    EXPECT_STREQ(d.list[2], "1000");
    EXPECT_EQ(d.list[3], nullptr);
    for (uint16_t none : {QD_PAR_CHANNEL_NAME, QD_PAR_CHANNEL_COUNT, QD_PAR_CONTINUITY_RANGE}) {
        EXPECT_FALSE(paramDescriptor(none, 0, &kMeasure, &d)) << none;
    }
    EXPECT_EQ(controlWidth(CTL_EDIT, 3), 10u);
    EXPECT_EQ(controlWidth(CTL_EDIT, 25), 30u);
    EXPECT_EQ(controlWidth(CTL_DROPDOWN, 48), 47u);
}

TEST_F(UiModel, IdsPagesAndLayout) {
    uint16_t p = 0, c = 0;
    for (auto id : {std::make_pair(QD_PAR_DEVICE_ID, 0), std::make_pair(QD_PAR_SAMPLE_RATE, 4)}) {
        ASSERT_TRUE(paramFromControlId(paramControlId(id.first, (uint16_t)id.second), &p, &c));
        EXPECT_EQ(p, id.first);
        EXPECT_EQ(c, id.second);
    }
    EXPECT_EQ(paramControlId(QD_PAR_MEASUREMENT_RANGE, 2), 18u * 128 + 135);
    EXPECT_FALSE(paramFromControlId(ID_HELP, &p, &c));

    open(HALVEX_PLUS_4_BLE);
    PageEntry pages[UI_MAX_PAGES];
    std::string titles;
    for (int k = 0, n = settingsWindowPages(false, pages, UI_MAX_PAGES); k < n; ++k) titles += pages[k].title + std::string("|");
    EXPECT_EQ(titles, "General|Chan A|Chan B|Chan C|Chan D|Chan E|EEG Cap|Test|About|");
    EXPECT_EQ(pages[8].kind, PAGE_ABOUT);
    titles.clear();
    for (int k = 0, n = settingsWindowPages(true, pages, UI_MAX_PAGES); k < n; ++k) titles += pages[k].title + std::string("|");
    EXPECT_EQ(titles, "General|Chan A|Chan B|Chan C|Chan D|Chan E|EEG Cap|Status|About|");
    open(BREV);
    EXPECT_EQ(settingsWindowPages(false, pages, UI_MAX_PAGES), 3);

    LayoutUnits u = layoutUnits(6 * 69, 13);
    EXPECT_EQ(u.w, 7);
    EXPECT_EQ(u.u, 14);
    EXPECT_EQ(layoutUnits(6 * 69, 20).u, 19);
    layoutSetHeader(&u, 20);
    EXPECT_EQ(u.firstRow, 6);
    ControlDescriptor box;
    fixedControl(&box, ID_TEST_CHANNEL_BOX, CTL_BOX, -8, 0, 2, 2, "Channel A", nullptr);
    Rect label, control;
    controlRects(&box, LABEL_COLUMN_TEST, 10, &u, &label, &control);
    EXPECT_EQ(label.x, u.w);
    EXPECT_EQ(label.width, 9 * u.w + 1);
    EXPECT_EQ(control.x, 11 * u.w);
    EXPECT_EQ(control.y, 10 * u.u / 2);
    EXPECT_EQ(nextRow(&box, 10), 15u);

    // The Session page's controls stand one below the other.
    const char *const *models = nullptr;
    int count = QdEnumDevices(&models);
    uint32_t row = u.firstRow;
    int below = 0;
    for (int k = 0; sessionPageControl(k, models, count, "", &box); ++k) {
        controlRects(&box, LABEL_COLUMN_RECORDER, row, &u, &label, &control);
        EXPECT_GE(control.y, below) << box.label << box.text;
        below = control.y + control.height;
        if (box.kind == CTL_DROPDOWN) below = control.y + (int)box.height * u.u / 2;
        row = nextRow(&box, row);
    }
}

TEST_F(UiModel, EnablingWalkStopsAfterChannelOffOrProfile) {
    open(HALVEX_PLUS_4_BLE);
    auto off = walk(0);
    EXPECT_TRUE(enabledIn(off, QD_PAR_CHANNEL_ENABLE));
    EXPECT_FALSE(enabledIn(off, QD_PAR_CHANNEL_LABEL));
    EXPECT_FALSE(enabledIn(off, QD_PAR_SAMPLE_RATE));
    ASSERT_EQ(QdStr2Param("1", QD_PAR_CHANNEL_ENABLE, 0), 0);
    auto on = walk(0);
    EXPECT_TRUE(enabledIn(on, QD_PAR_CHANNEL_LABEL));
    EXPECT_TRUE(enabledIn(on, QD_PAR_SAMPLE_RATE));
    EXPECT_FALSE(enabledIn(on, QD_PAR_RANGE_MINIMUM)) << "a constant stays disabled";
    ASSERT_EQ(QdStr2Param("EMG", QD_PAR_CHANNEL_PROFILE, 0), 0);
    auto profiled = walk(0);
    EXPECT_TRUE(enabledIn(profiled, QD_PAR_CHANNEL_PROFILE));
    EXPECT_FALSE(enabledIn(profiled, QD_PAR_CHANNEL_FUNCTION));
    EXPECT_FALSE(enabledIn(profiled, QD_PAR_EEG_CAP));
}

TEST_F(UiModel, CommitsRefuseRestoreAndFollowDependants) {
    open(HALVEX_PLUS_4_BLE);
    struct Case {
        uint16_t id;
        const char *text;
        int error;
        const char *message, *shown;
        bool rebuild, reenable;
    } cases[] = {
        {QD_PAR_MEASUREMENT_RANGE, "900", 2, "Data out of range", "800", false, false},
        {QD_PAR_SAMPLE_RATE, "250x", 1, "Invalid data type", "125", false, false},
        {QD_PAR_CHANNEL_LABEL, "sixteen letters!", 2, "Data out of range", "", false, false},
        {QD_PAR_RANGE_MINIMUM, "-800", 3, "Parameter change not allowed", "-800", false, false},
        {QD_PAR_CHANNEL_ENABLE, "1", 0, nullptr, nullptr, false, true},
        {QD_PAR_CHANNEL_FUNCTION, "Resistance", 0, nullptr, nullptr, true, false},
        {QD_PAR_CHANNEL_PROFILE, "EEG 250sps", 0, nullptr, nullptr, true, true},
    };
    for (const Case &c : cases) {
        CommitResult r;
        commitEdit(c.id, 0, c.text, &r);
        EXPECT_EQ(r.error, c.error) << c.text;
        EXPECT_STREQ(r.message, c.message) << c.text;
        EXPECT_STREQ(c.shown ? r.text : nullptr, c.shown) << c.text;
        EXPECT_EQ(r.rebuild, c.rebuild) << c.text;
        EXPECT_EQ(r.reenable, c.reenable) << c.text;
    }
    EXPECT_EQ(value(QD_PAR_CHANNEL_LABEL, 0), "EEG") << "the profile's leading word";
    CommitResult r;
    commitEdit(QD_PAR_DEVICE_ID, 0, "", &r);
    EXPECT_EQ(r.error, 0);
    EXPECT_STREQ(r.text, "Quorvane Halvex*");
}

TEST_F(UiModel, AutomaticLabelKeepsAUserTextThatBeginsWithIt) {
    open(HALVEX_PLUS_4_BLE);
    ASSERT_EQ(QdStr2Param("EEG FpzCz", QD_PAR_CHANNEL_LABEL, 1), 0);
    ASSERT_EQ(QdStr2Param("EEG", QD_PAR_CHANNEL_PROFILE, 1), 0);
    EXPECT_FALSE(autoChannelLabel(1, false));
    EXPECT_EQ(value(QD_PAR_CHANNEL_LABEL, 1), "EEG FpzCz");
    ASSERT_EQ(QdStr2Param("Pz", QD_PAR_EEG_CAP, 1), 0);
    EXPECT_TRUE(autoChannelLabel(1, true));
    EXPECT_EQ(value(QD_PAR_CHANNEL_LABEL, 1), "EEG Pz");
    ASSERT_EQ(QdStr2Param("User defined", QD_PAR_CHANNEL_PROFILE, 1), 0);
    ASSERT_EQ(QdStr2Param("None", QD_PAR_EEG_CAP, 1), 0);
    EXPECT_TRUE(autoChannelLabel(1, true)) << "forced with the first option: the composed text, even empty";
    EXPECT_EQ(value(QD_PAR_CHANNEL_LABEL, 1), "");
}

TEST_F(UiModel, IndicatorsAndReadings) {
    EXPECT_EQ(indicatorColour(QD_IND_LINK, 3), COLOUR_MENU);
    EXPECT_EQ(indicatorColour(QD_IND_BATTERY, 3), COLOUR_GREEN);
    EXPECT_EQ(indicatorColour(QD_IND_SIGNAL, 0x0203), COLOUR_PURPLE);
    EXPECT_EQ(indicatorBox(QD_IND_SIGNAL, 0x0203), BOX_FIRST_CHANNEL + 1);
    EXPECT_EQ(indicatorBox(QD_IND_MESSAGE, 5), -1);
    struct Case {
        int16_t r;
        float range;
        bool impedance, overflow;
        UiColour colour;
        float level;
        const char *text;
    } cases[] = {
        {16384, 100, true, false, COLOUR_RED, 50.0f, "  50 kOhm"},
        {3000, 100, true, false, COLOUR_GREEN, 9.155273f, "   9 kOhm"},
        {3000, 100, false, false, COLOUR_GREEN, 9.155273f, "9.2 kOhm"},
        {6000, 100, true, false, COLOUR_YELLOW, 18.310547f, "  18 kOhm"},
        {16384, 1000, false, false, COLOUR_GREEN, 50.0f, " 500 kOhm"},
        {16384, 100, true, true, COLOUR_RED, 100.0f, ""},
        {-500, 100, true, false, COLOUR_GREEN, 0.0f, "  -2 kOhm"},
    };
    for (const Case &c : cases) {
        TestInput in;
        testReading(&in, c.r, c.range, "kOhm", c.impedance, c.overflow);
        EXPECT_EQ(in.colour, c.colour) << c.r;
        EXPECT_FLOAT_EQ(in.level, c.level) << c.r;
        EXPECT_STREQ(in.text, c.text) << c.r;
    }
}

TEST_F(UiModel, TestPacketsAlternateTheInputsOfAVoltageChannel) {
    open(HALVEX_PLUS_2_USB);
    ASSERT_EQ(QdStr2Param("Resistance", QD_PAR_CHANNEL_FUNCTION, 1), 0);
    TestState state;
    testBegin(&state);
    ASSERT_EQ(state.channels, 3);
    EXPECT_FLOAT_EQ(state.channel[1].range, 125.0f);
    int32_t a[4] = {100 << 16, 200 << 16, 300 << 16, 16000 << 16};
    int32_t b[2] = {0, 1000 << 16};
    ChannelSamples entries[3] = {{4, a, 0, 0}, {2, b, 2, 0}, {0, nullptr, 0, 0}};
    uint32_t changed = testPacket(&state, 6, 0, entries, 3);
    EXPECT_EQ(changed, 0x7u) << "both inputs of channel A, the plus input of channel B";
    EXPECT_STREQ(state.input[0][INPUT_MINUS].text, "  61 kOhm") << "tick 6 + 3: the last sample is the minus input's";
    EXPECT_STREQ(state.input[0][INPUT_PLUS].text, "   1 kOhm");
    EXPECT_STREQ(state.input[1][INPUT_PLUS].text, "") << "overflow";
    EXPECT_EQ(state.input[1][INPUT_PLUS].colour, COLOUR_RED);
    testPacket(&state, 7, 0, entries, 3);
    EXPECT_STREQ(state.input[0][INPUT_PLUS].text, "  61 kOhm");
    EXPECT_EQ(testPacket(&state, 8, 1, entries, 3), 0x3Fu) << "state flags clear every input";
    EXPECT_STREQ(state.input[0][INPUT_MINUS].text, "");
}

TEST_F(UiModel, CapPageOwnsTheSitesAndFindsDuplicates) {
    open(HALVEX_PLUS_4_BLE);
    CapUpdate u;
    capEnable(true, &u);
    EXPECT_EQ(u.rebuiltChannels, 0xFu);
    EXPECT_FALSE(u.duplicate);
    EXPECT_EQ(value(QD_PAR_CHANNEL_PROFILE, 3), "EEG 250sps");
    EXPECT_EQ(value(QD_PAR_CHANNEL_ENABLE, 3), "1");
    ASSERT_TRUE(capPick(0, "Cz", &u));
    EXPECT_FALSE(u.duplicate);
    ASSERT_TRUE(capPick(1, "Cz", &u));
    EXPECT_TRUE(u.duplicate);
    EXPECT_EQ(value(QD_PAR_CHANNEL_LABEL, 1), "EEG Cz");
    capChooseSet(2, &u);
    EXPECT_FALSE(u.duplicate) << "set 3 is still empty";
    EXPECT_EQ(value(QD_PAR_EEG_CAP, 1), "None");
    capChooseSet(0, &u);
    EXPECT_TRUE(u.duplicate) << "set 1 keeps its sites";
    EXPECT_EQ(value(QD_PAR_EEG_CAP, 0), "Cz");
    capLock(true);
    ControlDescriptor d;
    ASSERT_TRUE(paramDescriptor(QD_PAR_EEG_CAP, 0, &kMeasure, &d));
    EXPECT_FALSE(d.enabled) << "the cap page owns the parameter";
    capLock(false);
    capEnable(false, &u);
    for (uint16_t c = 0; c < 4; ++c) EXPECT_EQ(getCode(QD_PAR_EEG_CAP, c), 0u) << c;
    EXPECT_FALSE(capDuplicateSites());
    capEnable(true, &u);
    EXPECT_EQ(value(QD_PAR_EEG_CAP, 1), "Cz") << "the record kept the set";
}

TEST_F(UiModel, SettingsFilesRefuseBadInputAndKeepWhatWasThere) {
    std::string dir = testenvNewDir("settings");
    std::string good = dir + "good.qvc", other = dir + "other.qvc";
    open(HALVEX_PLUS_4_BLE);
    ASSERT_EQ(QdStr2Param("Cap 1", QD_PAR_CHANNEL_LABEL, 2), 0);
    ASSERT_TRUE(settingsSave(good.c_str()));
    std::string blob = testenvReadFile(good);
    ASSERT_EQ(blob.size(), 842u);
    ASSERT_TRUE(testenvWriteFile(dir + "short.qvc", blob.substr(0, 700)));
    ASSERT_TRUE(testenvWriteFile(dir + "text.qvc", "not a settings file"));
    open(BREV);
    ASSERT_TRUE(settingsSave(other.c_str()));
    QdCloseDevContext((uint16_t)QdGetSelectedDevContext());
    QdSelectDevContext(0);
    ASSERT_EQ(QdStr2Param("Kept", QD_PAR_CHANNEL_LABEL, 2), 0);
    struct Case {
        std::string file;
        int32_t outcome;
        const char *message;
    } cases[] = {
        {dir + "short.qvc", -6, "Cannot read device configuration file"},
        {dir + "text.qvc", -6, "Cannot read device configuration file"},
        {dir + "missing.qvc", -1, "Cannot read device configuration file"},
        {other, -5, "The file includes configuration for inadequate device model"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(settingsImport(c.file.c_str()), c.outcome) << c.file;
        EXPECT_STREQ(settingsImportMessage(c.outcome), c.message);
        EXPECT_EQ(value(QD_PAR_CHANNEL_LABEL, 2), "Kept") << c.file;
    }
    ASSERT_TRUE(osSetReadOnly(good.c_str(), true));
    EXPECT_FALSE(settingsSave(good.c_str()));
    EXPECT_FALSE(settingsSave((dir + "no folder" + osPathSeparator() + "x.qvc").c_str()));
    EXPECT_EQ(testenvReadFile(good), blob) << "the refused save left the file whole";
    EXPECT_EQ(settingsImport(good.c_str()), 842);
    EXPECT_EQ(value(QD_PAR_CHANNEL_LABEL, 2), "Cap 1");
    osSetReadOnly(good.c_str(), false);

    char name[64];
    EXPECT_TRUE(settingsFileName("a.b/settings", true, name, sizeof name));
    EXPECT_STREQ(name, "a.b/settings.qvc");
    EXPECT_TRUE(settingsFileName("settings.cfg", true, name, sizeof name));
    EXPECT_STREQ(name, "settings.cfg");

    LoadOutcome load;
    settingsLoad(other.c_str(), &load);
    EXPECT_EQ(load.result, 1);
    EXPECT_STREQ(QdGetDevName(), modelName(BREV));
    settingsLoad((dir + "text.qvc").c_str(), &load);
    EXPECT_EQ(load.result, 0);
    ASSERT_EQ(load.messageCount, 1);
    EXPECT_STREQ(load.messages[0], "Cannot read device configuration file");
    EXPECT_STREQ(QdGetDevName(), modelName(BREV)) << "the previous settings are back";
}

TEST_F(UiModel, RecorderTimeLimitAndOutputName) {
    const uint32_t KEPT = 7;
    struct Limit {
        const char *text;
        bool valid;
        uint32_t seconds;
    } limits[] = {
        {"", true, 0},      {"  ", true, 0},         {"90", true, 90},      {"1:30", true, 90},
        {"2:00:00", true, 7200}, {"100:59:59", true, 363599}, {"0:60", false, KEPT}, {"1:2:3:4", false, KEPT},
        {"abc", false, KEPT}, {"-5", false, KEPT},   {"1:", false, KEPT},   {":30", false, KEPT},
        {" 5", false, KEPT}, {"1193046:28:15", true, 0xFFFFFFFFu}, {"1193046:28:16", false, KEPT},
        {"99999999999", false, KEPT},
    };
    for (const Limit &c : limits) {
        uint32_t seconds = KEPT;
        EXPECT_EQ(parseTimeLimit(c.text, &seconds), c.valid) << c.text;
        EXPECT_EQ(seconds, c.seconds) << c.text;
    }
    struct Name {
        const char *text;
        uint16_t format;
        OutputName result;
        const char *path;
    } names[] = {
        {"record", RECORDING_TSV, OUTPUT_OK, "record.txt"},
        {"record", RECORDING_EDF, OUTPUT_OK, "record.edf"},
        {"my.dir\\record", RECORDING_EDF, OUTPUT_OK, "my.dir\\record.edf"},
        {"my.dir/record", RECORDING_TSV, OUTPUT_OK, "my.dir/record.txt"},
        {"x.tsv", RECORDING_TSV, OUTPUT_OK, "x.tsv"},
        {"", RECORDING_EDF, OUTPUT_EMPTY, nullptr},
        {nullptr, RECORDING_EDF, OUTPUT_EMPTY, nullptr},
    };
    for (const Name &c : names) {
        char path[256];
        EXPECT_EQ(outputPath(c.text, c.format, path, sizeof path), c.result) << (c.text ? c.text : "null");
        if (c.path) {
            EXPECT_STREQ(path, c.path);
        }
    }
    std::string longName(252, 'a');
    char path[300];
    EXPECT_EQ(outputPath(longName.c_str(), RECORDING_EDF, path, sizeof path), OUTPUT_TOO_LONG) << "256 with .edf";
    elapsedText(25 * 3600 + 61, path, sizeof path);
    EXPECT_STREQ(path, "Elapsed time: 01:01:01") << "hours wrap at 24";
    const struct { int32_t result; const char *text; } failures[] = {
        {-1, "Invalid device, its state or measurement mode"},
        {-3, "Invalid device, its state or measurement mode"},
        {4, "Bluetooth Low Energy is not supported below Windows 8.1"},
        {1, "Cannot connect to the device"},
        {2, "Cannot connect to the device"},
    };
    for (const auto &f : failures) EXPECT_STREQ(recorderStartFailure(f.result), f.text) << f.result;
}

TEST_F(UiModel, RecorderCourseFromStartToFinish) {
    const uint32_t T0 = 0xFFFFF000u;   // the millisecond tick wraps during the recording
    struct Step {
        uint32_t ms;           // after the start
        bool communicating;
        uint16_t failure;      // the output's flag before the step
        uint32_t actions;
        uint16_t failureAfter;
        RecorderPhase phase;
    };
    // Limit 5 s, viewer wanted.
    const Step limited[] = {
        {300, true, 0, 0, 0, RECORDER_RECORDING},
        {1000, true, 0, REC_SHOW_ELAPSED, 0, RECORDER_RECORDING},
        {1500, true, 0, 0, 0, RECORDER_RECORDING},
        {4001, true, 0, REC_SHOW_ELAPSED | REC_START_VIEWER, 0, RECORDER_RECORDING},
        {4500, true, 0, 0, 0, RECORDER_RECORDING},
        {5000, true, 0, REC_SHOW_ELAPSED | REC_STOP, 0, RECORDER_FINISHING},
        {6000, true, 0, REC_SHOW_ELAPSED, 0, RECORDER_FINISHING},
        {6100, false, 0, REC_FINISH, 0, RECORDER_IDLE},
        {7000, false, 0, 0, 0, RECORDER_IDLE},
    };
    // No limit, no viewer; a write failure is reported once and stops.
    const Step failing[] = {
        {4000, true, 0, REC_SHOW_ELAPSED, 0, RECORDER_RECORDING},
        {4100, true, 1, REC_REPORT_WRITE_FAILURE | REC_STOP, 2, RECORDER_FINISHING},
        {5000, true, 2, 0, 2, RECORDER_FINISHING},
        {5100, false, 2, REC_FINISH, 2, RECORDER_IDLE},
    };
    // A step held up past the viewer's second still starts it, once.
    const Step late[] = {
        {2000, true, 0, REC_SHOW_ELAPSED, 0, RECORDER_RECORDING},
        {5200, true, 0, REC_SHOW_ELAPSED | REC_START_VIEWER, 0, RECORDER_RECORDING},
        {6000, true, 0, REC_SHOW_ELAPSED, 0, RECORDER_RECORDING},
    };
    struct Run {
        uint32_t limit;
        bool viewer;
        const Step *steps;
        size_t count;
    } runs[] = {{5, true, limited, sizeof limited / sizeof *limited}, {0, false, failing, 4}, {0, true, late, 3}};
    for (const Run &run : runs) {
        Recorder r;
        recorderStart(&r, T0, run.limit, run.viewer);
        for (size_t k = 0; k < run.count; ++k) {
            const Step &s = run.steps[k];
            uint16_t failure = s.failure;
            uint32_t elapsed = 0;
            EXPECT_EQ(recorderStep(&r, T0 + s.ms, s.communicating, &failure, &elapsed), s.actions) << s.ms;
            EXPECT_EQ(failure, s.failureAfter) << s.ms;
            EXPECT_EQ(r.phase, s.phase) << s.ms;
            EXPECT_EQ(elapsed, s.ms / 1000) << s.ms;
        }
    }
    // A stop asked by the user, then the window closed while it ends.
    Recorder r;
    EXPECT_EQ(recorderStop(&r, false), 0u) << "idle: nothing to stop";
    recorderStart(&r, 0, 0, false);
    EXPECT_EQ(recorderStop(&r, false), (uint32_t)REC_STOP);
    EXPECT_EQ(recorderStop(&r, true), 0u) << "already stopping";
    EXPECT_EQ(r.phase, RECORDER_CLOSING);
    uint16_t failure = 0;
    uint32_t elapsed = 0;
    EXPECT_EQ(recorderStep(&r, 3000, false, &failure, &elapsed), (uint32_t)REC_FINISH);
    EXPECT_EQ(r.phase, RECORDER_IDLE);
}
