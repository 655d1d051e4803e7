// session_test.cpp - recordings of simulated sessions through the driver:
// the engine routes the selected context's packets to the recorder's output
// while windowActivity is ACTIVITY_RECORDING, and the files are read back by
// this test's own EDF reader, by EDFlib (edfcheck) and by biosig (save2gdf).
// Every sample is compared with what the simulated device generated, in
// physical units; every channel function appears with its unit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "API/driver/frame/lifecycle.h"
#include "API/driver/protocol/protocol.h"
#include "API/driver/ui/recording.h"
#include "API/driver/ui/window_hooks.h"
#include "os/os.h"
#include "sim/ftsim.h"
#include "sim/sim_device.h"
#include "tests/recording/recording_helpers.h"
#include "tests/support/driver_sandbox.h"
#include "tests/support/testenv.h"

namespace {

// Channel settings by option code.
struct ChannelSetup {
    int function = -1;      // "Channel function" code; -1: channel off
    int range = -1;         // "Measurement range" code, -1: the function's default
    int rate = -1;          // "Sample rate" code
    int lower = -1;         // "Lower limit frequency" code
    const char *label = "";
    const char *sensor = "";
};

struct SessionSetup {
    const char *name;
    const char *model;
    ChannelSetup channel[5];
    // Expected unit text of each enabled channel, in order.
    std::vector<std::string> units;
};
void PrintTo(const SessionSetup &s, std::ostream *os) { *os << s.name; }

// Voltage channels record without the high-pass filter (lower limit 0 Hz),
// so that the file holds exactly the device's values.
const SessionSetup kSessions[] = {
    {"Halvex4MixedRates",
     "Quorvane Halvex-4 USB",
     {{0, 3, 8, 3, "EEG FpzCz", "AgAgCl electrode"},
      {0, 5, 6, 3, "EOG", ""},
      {1, 2, 4, -1, "", "Skin resistance"},
      {3, 5, 4, -1, "Temp", "Thermistor"}},
     {"uV", "uV", "kOhm", "`C"}},
    {"HalvexPlusNirHeg",
     "Quorvane Halvex+ 4 USB",
     {{4, -1, -1, -1, "HEG", "nIR"}, {2, 5, 4, -1, "GSR", ""}, {0, 3, 7, 3, "EEG", ""}, {}, {7, -1, 6, -1, "", ""}},
     {"%", "uS", "uV", ""}},
    {"HalvexPlusPirHeg",
     "Quorvane Halvex+ 4 USB",
     {{5, -1, -1, -1, "pIR", ""}, {1, 5, 4, -1, "", ""}, {}, {3, 2, 4, -1, "", ""}, {}},
     {"`C", "kOhm", "`C"}},
    {"HalvexPlusCurrent",
     "Quorvane Halvex+ 4 USB",
     {{6, 3, -1, -1, "I", ""}, {0, 5, 9, 3, "", ""}, {}, {}, {}},
     {"nA", "uV"}},
};

// A signal that stays inside the channel's digital range [digitalMin,
// 32767] (readers clip values outside it): channels that take the whole
// 16-bit range get ramps that wrap through all of it, the others sines
// over most of their range.
SimSignal signalFor(int channel, int32_t digitalMin) {
    SimSignal s;
    std::memset(&s, 0, sizeof s);
    if (digitalMin == -32768) {
        s.kind = SIM_SIGNAL_RAMP;
        s.amplitude = (int16_t)(257 + 1000 * channel);
        s.offset = (int16_t)(-32768 + 4096 * channel);
    } else {
        s.kind = SIM_SIGNAL_SINE;
        s.offset = (int16_t)((digitalMin + 32767) / 2);
        s.amplitude = (int16_t)((32767 - digitalMin) / 2 - 2);
        s.frequency = 1.5f + (float)channel;
    }
    return s;
}

struct Expected {
    int channel;
    double range;             // R
    std::vector<int16_t> values;   // what the device generated, in order
};

class Session : public testing::TestWithParam<SessionSetup> {
protected:
    void SetUp() override {
        sandbox.attach();
        ftsimReset();
        osClockSetManual(true, 100000);
        windowActivity = ACTIVITY_IDLE;
        dir = testenvNewDir("session");
    }
    void TearDown() override {
        windowActivity = ACTIVITY_IDLE;
        if (ctx >= 0) {
            protoForceIdle((uint16_t)ctx);
            QdCloseDevContext((uint16_t)ctx);
        }
        if (slot >= 0) ftsimAttachPeer(slot, nullptr);
        ftsimReset();
        if (dev != nullptr) simDeviceDestroy(dev);
        osClockSetManual(false, 0);
        sandbox.detach();
    }

    void step(uint32_t ms) {
        for (uint32_t i = 0; i < ms; i++) {
            QdProtocolEngine();
            osClockAdvance(1);
        }
    }

    void set(uint16_t id, uint16_t ch, uint32_t code) {
        QdValue v;
        std::memset(&v, 0, sizeof v);
        v.code = code;
        ASSERT_EQ(QdSetParam(id, ch, &v), 0) << "parameter " << id << " channel " << ch << " code " << code;
    }
    void setText(uint16_t id, uint16_t ch, const char *text) {
        QdValue v;
        std::memset(&v, 0, sizeof v);
        v.s = text;
        ASSERT_EQ(QdSetParam(id, ch, &v), 0);
    }

    // A context with the session's channel settings and a device of the
    // model behind a simulated transceiver.
    void prepare(const SessionSetup &s) {
        ctx = QdOpenDevContext(s.model);
        ASSERT_GE(ctx, 0);
        QdParamValue count;
        ASSERT_EQ(QdGetParam(QD_PAR_CHANNEL_COUNT, 0, &count), 0);
        for (int c = 0; c < count.value.i && c < 5; c++) {
            const ChannelSetup &ch = s.channel[c];
            set(QD_PAR_CHANNEL_ENABLE, (uint16_t)c, ch.function >= 0 ? 1 : 0);
            if (ch.function < 0) continue;
            if (ch.function != 7) set(QD_PAR_CHANNEL_FUNCTION, (uint16_t)c, (uint32_t)ch.function);
            if (ch.range >= 0) set(QD_PAR_MEASUREMENT_RANGE, (uint16_t)c, (uint32_t)ch.range);
            if (ch.rate >= 0) set(QD_PAR_SAMPLE_RATE, (uint16_t)c, (uint32_t)ch.rate);
            if (ch.lower >= 0) set(QD_PAR_LOWER_LIMIT, (uint16_t)c, (uint32_t)ch.lower);
            if (*ch.label) setText(QD_PAR_CHANNEL_LABEL, (uint16_t)c, ch.label);
            if (*ch.sensor) setText(QD_PAR_SENSOR_INFO, (uint16_t)c, ch.sensor);
        }
        SimDeviceConfig cfg;
        simDeviceDefaults(&cfg, s.model);
        for (int c = 0; c < count.value.i; c++) {
            QdParamValue range, minimum;
            ASSERT_EQ(QdGetParam(QD_PAR_MEASUREMENT_RANGE, (uint16_t)c, &range), 0);
            ASSERT_EQ(QdGetParam(QD_PAR_RANGE_MINIMUM, (uint16_t)c, &minimum), 0);
            float digitalMin = minimum.value.f * 32768.0f / range.value.f;
            cfg.signal[c] = signalFor(c, (int32_t)digitalMin + 1);
            if (digitalMin == -32768.0f) cfg.signal[c] = signalFor(c, -32768);
        }
        dev = simDeviceCreate(&cfg);
        ASSERT_NE(dev, nullptr);
        slot = ftsimAdd("QVREC001", nullptr);
        ASSERT_GE(slot, 0);
        ASSERT_EQ(ftsimAttachDevice(slot, dev), slot);
        for (int c = 0; c < 6; c++) {
            if (c < count.value.i) simDeviceRecordSamples(dev, c, record[c], kRecordCapacity);
        }
    }

    // Records for ms of device time into path, then stops and completes.
    void recordFor(const std::string &path, uint16_t format, uint32_t ms) {
        RecordingOutput *out = recorderOutput();
        ASSERT_TRUE(recordingOpen(out, path.c_str(), format, "Client X", "Session Y"));
        windowActivity = ACTIVITY_RECORDING;
        ASSERT_EQ(QdStartMeasurement((uint16_t)ctx, 0), 0);
        step(ms);
        EXPECT_EQ(protocolState[ctx].state, 9) << "not measuring";
        ASSERT_EQ(QdStopMeasurement((uint16_t)ctx), 1);
        for (int i = 0; i < 3000 && QdComState((uint16_t)ctx) != 0; i++) step(1);
        EXPECT_EQ(QdComState((uint16_t)ctx), 0);
        windowActivity = ACTIVITY_IDLE;
        EXPECT_EQ(out->writeFailure, 0);
        EXPECT_TRUE(completeEdfHeader(out, nullptr));
    }

    // What each enabled channel's device generated, in channel order.
    std::vector<Expected> expected() {
        std::vector<Expected> all;
        QdParamValue count;
        QdGetParam(QD_PAR_CHANNEL_COUNT, 0, &count);
        for (int c = 0; c < count.value.i; c++) {
            QdParamValue on, range;
            if (count.value.i > 1 && (QdGetParam(QD_PAR_CHANNEL_ENABLE, (uint16_t)c, &on) != 0 || !on.value.bytes[0]))
                continue;
            EXPECT_EQ(QdGetParam(QD_PAR_MEASUREMENT_RANGE, (uint16_t)c, &range), 0);
            Expected e;
            e.channel = c;
            e.range = range.value.f;
            // The samples the device put on the wire, in order (the last
            // ones may have stayed behind at the stop).
            uint32_t n = simDeviceRecordCount(dev, c);
            for (uint32_t i = 0; i < n && i < kRecordCapacity && record[c][i].fate == SIM_FATE_SENT; i++) {
                EXPECT_EQ(record[c][i].index, i);
                e.values.push_back(record[c][i].value);
            }
            all.push_back(e);
        }
        return all;
    }

    static const uint32_t kRecordCapacity = 20000;
    DriverSandbox sandbox;
    std::string dir;
    SimDevice *dev = nullptr;
    int slot = -1;
    int16_t ctx = -1;
    SimSampleRecord record[6][kRecordCapacity];
};

// A reader's physical value against the device's value: one step of the
// 16-bit scale (R / 32768) apart at most (the digital minimum is truncated).
void expectPhysical(const std::vector<double> &read, const Expected &e, size_t count, const char *reader) {
    ASSERT_EQ(read.size(), count) << reader << " channel " << e.channel;
    double step = e.range / 32768.0;
    for (size_t i = 0; i < count; i++) {
        double want = e.values[i] * step;
        ASSERT_NEAR(read[i], want, step * 1.01) << reader << " channel " << e.channel << " sample " << i;
    }
}

}  // namespace

TEST_P(Session, EdfFileReadBackByIndependentReaders) {
    const SessionSetup &s = GetParam();
    prepare(s);
    if (HasFatalFailure()) return;
    std::string path = dir + "session.edf";
    recordFor(path, RECORDING_EDF, 5000);
    if (HasFatalFailure()) return;
    std::vector<Expected> want = expected();
    ASSERT_EQ(want.size(), s.units.size());

    // This test's own reading: whole records only, the count in its field.
    std::string bytes = testenvReadFile(path);
    EdfImage e = parseEdf(bytes);
    ASSERT_TRUE(e.ok) << e.error;
    ASSERT_EQ(e.signal.size(), want.size());
    size_t records = (size_t)std::atoi(e.records.c_str());
    EXPECT_GE(records, 3u);
    EXPECT_EQ(e.recordCount, records);
    EXPECT_EQ(e.trailing, 0u);
    for (size_t k = 0; k < want.size(); k++) {
        EXPECT_EQ(trimmed(e.signal[k].dimension), s.units[k]) << k;
        size_t spr = (size_t)std::atoi(e.signal[k].samples.c_str());
        ASSERT_EQ(e.data[k].size(), records * spr);
        ASSERT_GE(want[k].values.size(), e.data[k].size());
        for (size_t i = 0; i < e.data[k].size(); i++) {
            ASSERT_EQ(e.data[k][i], want[k].values[i]) << "signal " << k << " sample " << i;
        }
    }
    for (unsigned char c : bytes.substr(0, 256 * (want.size() + 1))) ASSERT_TRUE(c >= 32 && c <= 126);

    ReaderResult lib = readWithEdflib(path);
    if (lib.ran) {
        ASSERT_TRUE(lib.accepted) << lib.output.substr(0, 400);
        EXPECT_EQ(lib.field["filetype"], "0");
        EXPECT_EQ(lib.field["records"], std::to_string(records));
        EXPECT_EQ(trimmed(lib.field["patient"]), "Client X");
        EXPECT_EQ(trimmed(lib.field["recording"]), std::string("Session Y / Recorded with ") + s.model);
        ASSERT_EQ(lib.signal.size(), want.size());
        for (size_t k = 0; k < want.size(); k++) {
            EXPECT_EQ(trimmed(lib.signal[k].field["dimension"]), s.units[k]);
            EXPECT_EQ(lib.signal[k].field["digmax"], "32767");
            size_t spr = (size_t)std::atoi(e.signal[k].samples.c_str());
            expectPhysical(lib.signal[k].values, want[k], records * spr, "EDFlib");
        }
    }
    ReaderResult bio = readWithBiosig(path, (int)want.size());
    if (bio.ran) {
        ASSERT_TRUE(bio.accepted) << bio.output.substr(0, 400);
        for (size_t k = 0; k < want.size(); k++) {
            size_t spr = (size_t)std::atoi(e.signal[k].samples.c_str());
            expectPhysical(bio.signal[k].values, want[k], records * spr, "biosig");
        }
    }
    if (!lib.ran || !bio.ran) {
        std::printf("(independent EDF readers not on this build: EDFlib %s, biosig %s)\n", lib.ran ? "ran" : "skipped",
                    bio.ran ? "ran" : "skipped");
    }
}

TEST_P(Session, TsvFileHoldsEveryValueOnItsPhase) {
    const SessionSetup &s = GetParam();
    prepare(s);
    if (HasFatalFailure()) return;
    std::string path = dir + "session.txt";
    recordFor(path, RECORDING_TSV, 2000);
    if (HasFatalFailure()) return;
    std::vector<Expected> want = expected();
    std::string text = testenvReadFile(path);
    std::istringstream in(text);
    std::string line;
    std::vector<std::string> head;
    for (int i = 0; i < 13 && std::getline(in, line); i++) head.push_back(line);
    ASSERT_EQ(head.size(), 13u);
    EXPECT_EQ(head[2], "Client: Client X");
    EXPECT_EQ(head[4], std::string("Device: ") + s.model);
    EXPECT_EQ(head[5], "Signals: " + std::to_string(want.size()));
    std::string units = "Unit";
    for (const std::string &u : s.units) units += "\t" + u;
    EXPECT_EQ(head[9], units);
    // Data lines: a column per channel entry that delivers; a value where
    // the channel is due, a lone tab elsewhere.
    std::vector<size_t> taken(want.size(), 0);
    size_t lines = 0;
    while (std::getline(in, line)) {
        ASSERT_EQ(line[0], '\t');
        std::vector<std::string> cells;
        size_t at = 1;
        for (;;) {
            size_t tab = line.find('\t', at);
            cells.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
            if (tab == std::string::npos) break;
            at = tab + 1;
        }
        ASSERT_EQ(cells.size(), want.size()) << "line " << lines;
        for (size_t k = 0; k < want.size(); k++) {
            if (trimmed(cells[k]).empty()) continue;
            ASSERT_LT(taken[k], want[k].values.size());
            double want16 = want[k].values[taken[k]++] * want[k].range / 32768.0;
            ASSERT_NEAR(std::atof(cells[k].c_str()), want16, std::fabs(want16) * 1e-5 + 1e-9)
                << "line " << lines << " channel " << k;
        }
        lines++;
    }
    // Everything the device sent is in the file but for the last message,
    // which may come after the engine left the measuring state.
    size_t most = 0;
    for (size_t k = 0; k < want.size(); k++) {
        EXPECT_LE(want[k].values.size() - taken[k], 16u) << "channel " << k;
        EXPECT_GT(taken[k], 0u);
        most = taken[k] > most ? taken[k] : most;
    }
    EXPECT_EQ(lines, most);
}

INSTANTIATE_TEST_SUITE_P(Recording, Session, testing::ValuesIn(kSessions),
                         [](const testing::TestParamInfo<SessionSetup> &i) { return std::string(i.param.name); });

// A break in the sample stream (a lost data message) during a recording:
// the line on standard output, writeFailure for the recorder to stop on, and
// the records written up to the stop stay readable.
class SessionBreak : public Session {};

TEST_P(SessionBreak, LostMessageIsReportedAndTheFileStaysValid) {
    prepare(GetParam());
    if (HasFatalFailure()) return;
    std::string path = dir + "break.edf";
    RecordingOutput *out = recorderOutput();
    ASSERT_TRUE(recordingOpen(out, path.c_str(), RECORDING_EDF, "", ""));
    windowActivity = ACTIVITY_RECORDING;
    ASSERT_EQ(QdStartMeasurement((uint16_t)ctx, 0), 0);
    step(2500);
    EXPECT_EQ(out->writeFailure, 0);
    simDeviceDropData(dev, 1);
    testing::internal::CaptureStdout();
    step(300);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("!Sample stream is not continuous (phase="), std::string::npos) << printed;
    EXPECT_EQ(out->writeFailure, 1);
    // The recorder stops on it.
    ASSERT_EQ(QdStopMeasurement((uint16_t)ctx), 1);
    for (int i = 0; i < 3000 && QdComState((uint16_t)ctx) != 0; i++) step(1);
    windowActivity = ACTIVITY_IDLE;
    EXPECT_TRUE(completeEdfHeader(out, nullptr));
    EdfImage e = parseEdf(testenvReadFile(path));
    ASSERT_TRUE(e.ok);
    size_t records = (size_t)std::atoi(e.records.c_str());
    EXPECT_GE(records, 2u);
    EXPECT_EQ(e.recordCount, records);
    EXPECT_EQ(e.trailing, 0u);
    std::vector<Expected> want = expected();
    // The records before the break hold the device's values.
    for (size_t i = 0; i < 2 * (size_t)std::atoi(e.signal[0].samples.c_str()); i++) {
        ASSERT_EQ(e.data[0][i], want[0].values[i]) << i;
    }
    ReaderResult lib = readWithEdflib(path);
    if (lib.ran) {
        EXPECT_TRUE(lib.accepted) << lib.output.substr(0, 300);
    }
}

INSTANTIATE_TEST_SUITE_P(Recording, SessionBreak, testing::Values(kSessions[0]),
                         [](const testing::TestParamInfo<SessionSetup> &i) { return std::string(i.param.name); });
