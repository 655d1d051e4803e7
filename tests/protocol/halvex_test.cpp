// halvex_test.cpp - the Halvex state machine against the simulated device:
// the normal road there and back, identity check, configuration refusal,
// error replies, the stop from each state, time-outs and the data watch,
// device events, invalid messages, and the operating-system check of BLE.
#include <cmath>
#include <cstring>
#include <string>

#include "API/driver/frame/contexts.h"
#include "tests/protocol/bench.h"
#include "tests/support/log_lines.h"

namespace {

const double kPi = 3.14159265358979323846;

const char *const HALVEX4_USB = "Quorvane Halvex-4 USB";
const char *const HALVEX2_USB = "Quorvane Halvex-2 USB";

// Channel A on at 250 sps with the 0.01 Hz high-pass, channel B on at
// 125 sps without high-pass (range 6000 uV allows 0 Hz).
void twoChannels(Bench &b) {
    b.enableChannel(0);
    b.setParam(QD_PAR_SAMPLE_RATE, 0, 8);
    b.setParam(QD_PAR_LOWER_LIMIT, 0, 2);
    b.enableChannel(1);
    b.setParam(QD_PAR_MEASUREMENT_RANGE, 1, 3);
    b.setParam(QD_PAR_SAMPLE_RATE, 1, 7);
    b.setParam(QD_PAR_LOWER_LIMIT, 1, 3);
}

bool hasMessage(uint16_t ctx, const std::string &text) {
    for (const MessageCall &m : g_recorder.messagesCopy()) {
        if (m.context == ctx && m.text == text) return true;
    }
    return false;
}

size_t messageCount() { return g_recorder.messagesCopy().size(); }

Bytes frame(std::initializer_list<uint8_t> b) { return Bytes(b); }

}  // namespace

class Halvex : public DeviceTest {};

TEST_F(Halvex, MeasurementRunsThroughEveryStateAndBack) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    LogWatch log;
    b.written();
    ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0);
    EXPECT_EQ(b.state(), S_GET_DEV_INFO);
    EXPECT_TRUE(g_recorder.hasIndicator((uint16_t)b.ctx, QD_IND_LINK, 1));
    ASSERT_TRUE(b.runToState(S_MEASURE));
    EXPECT_EQ(QdComState((uint16_t)b.ctx), 1);
    EXPECT_EQ(QdComState(QD_ALL_CONTEXTS), 1);

    std::vector<Bytes> sent = b.written();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0], frame({0x00}));
    ASSERT_EQ(sent[1].size(), 1u + 16 + 4 * 6) << "general bytes and four channel records";
    EXPECT_EQ(sent[1][0], 0x07);
    EXPECT_EQ(0, memcmp(sent[1].data() + 1, contextImage((uint16_t)b.ctx), 40));
    EXPECT_EQ(sent[2], frame({0x04, 0x40}));
    EXPECT_EQ(sent[3], frame({0x08}));
    ASSERT_NE(QdGetDevSN((uint16_t)b.ctx), nullptr);
    SimDeviceConfig cfg;
    simDeviceDefaults(&cfg, HALVEX4_USB);
    EXPECT_STREQ(QdGetDevSN((uint16_t)b.ctx), cfg.serial);

    // State trace and message traces of the way up.
    std::string text = log.text();
    size_t at = 0;
    for (const char *line : {"< CMD_GET_DEV_INFO \n", "# APP_IDLE -> APP_GET_DEV_INFO\n", "> REP_GET_DEV_INFO 00 ",
                             "< CMD_WRITE_CFG ", "# APP_GET_DEV_INFO -> APP_WRITE_CFG\n",
                             "< CMD_SET_NOTIF 40 \n", "< CMD_START_MES \n", "# APP_START_MES -> APP_MEASURE\n"}) {
        size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << line;
        at = found;
    }
    if (b.ctx == 0) {
        EXPECT_NE(text.find("# Timer INT_T1 started\n"), std::string::npos);
    }

    b.run(1000);
    EXPECT_FALSE(g_recorder.packetsCopy().empty());
    EXPECT_EQ(QdGetUserInd((uint16_t)b.ctx, QD_IND_LINK, 0), 1);
    EXPECT_EQ(QdGetUserInd((uint16_t)b.ctx, QD_IND_BATTERY, 0), 3);

    EXPECT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), -1) << "already measuring";
    EXPECT_EQ(b.state(), S_MEASURE);

    b.written();
    ASSERT_EQ(QdStopMeasurement((uint16_t)b.ctx), 1);
    EXPECT_EQ(b.state(), S_STOP_MES);
    ASSERT_TRUE(b.runToState(S_IDLE, 200));
    sent = b.written();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], frame({0x0A}));
    EXPECT_EQ(sent[1], frame({0x04, 0xE0}));
    EXPECT_FALSE(b.transceiverOpen());
    EXPECT_EQ(QdGetDevSN((uint16_t)b.ctx), nullptr);
    EXPECT_EQ(g_recorder.indicatorsCopy().back(), (IndicatorCall{(uint16_t)b.ctx, QD_IND_LINK, 0}));
    EXPECT_EQ(QdProtocolEngine(), 0u);
    EXPECT_EQ(QdComState(QD_ALL_CONTEXTS), 0);
    EXPECT_EQ(QdStopMeasurement((uint16_t)b.ctx), 0);
}

// The samples the host gets are the device's samples, scaled, and for the
// filtered channel passed through the high-pass computed here from the
// coefficient rule.
TEST_F(Halvex, DeliveredSamplesAreTheDevicesSamplesScaledAndFiltered) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    std::vector<SimSampleRecord> recA(4000), recB(4000);
    simDeviceRecordSamples(b.dev, 0, recA.data(), (uint32_t)recA.size());
    simDeviceRecordSamples(b.dev, 1, recB.data(), (uint32_t)recB.size());
    b.startMeasuring();
    b.run(3000);

    std::vector<int32_t> gotA, gotB;
    uint16_t expectedPhase = 0;
    for (const SamplePacket &p : g_recorder.packetsCopy()) {
        EXPECT_EQ(p.phase, expectedPhase);
        gotA.insert(gotA.end(), p.channels[0].begin(), p.channels[0].end());
        gotB.insert(gotB.end(), p.channels[1].begin(), p.channels[1].end());
        EXPECT_EQ(p.rateMasks[0], 0);
        EXPECT_EQ(p.rateMasks[1], 1);
        EXPECT_FALSE(p.delivered[2]);
        expectedPhase = (uint16_t)(p.phase + p.channels[0].size());
    }
    ASSERT_GT(gotA.size(), 500u);
    ASSERT_EQ(gotB.size() * 2, gotA.size());

    double w = std::pow(2.0, 11 - 8) * 0.01 * 0.6 * kPi / 2000.0;
    double a = 1 - w, bb = 2 * w - 1, y = 0;
    int64_t xPrev = 0;
    for (size_t i = 0; i < gotA.size(); i++) {
        ASSERT_EQ(recA[i].fate, SIM_FATE_SENT);
        int16_t s = recA[i].value;
        int64_t x = (int64_t)s * 65536;
        int32_t want;
        if (i == 0) {
            xPrev = x;
            want = (int32_t)x;
        } else if (s == 32767 || s == -32768) {
            want = (int32_t)x;
        } else {
            y = (double)(x - xPrev) * a - bb * y;
            xPrev = x;
            want = (int32_t)std::trunc(y);
        }
        ASSERT_EQ(gotA[i], want) << "sample " << i;
    }
    for (size_t i = 0; i < gotB.size(); i++) {
        ASSERT_EQ(gotB[i], (int32_t)recB[i].value * 65536) << "sample " << i;
    }
}

TEST_F(Halvex, TestMeasurementTakesEveryTickUnfiltered) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    std::vector<SimSampleRecord> recA(2000);
    simDeviceRecordSamples(b.dev, 0, recA.data(), (uint32_t)recA.size());
    b.written();
    b.startMeasuring(QD_START_TEST);
    std::vector<Bytes> sent = b.written();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[3], frame({0x0B}));
    b.run(1000);
    std::vector<int32_t> gotA, gotB;
    for (const SamplePacket &p : g_recorder.packetsCopy()) {
        EXPECT_EQ(p.rateMasks[0], 0);
        EXPECT_EQ(p.rateMasks[1], 0);
        EXPECT_EQ(p.channels[0].size(), p.channels[1].size()) << "both channels at every tick";
        gotA.insert(gotA.end(), p.channels[0].begin(), p.channels[0].end());
    }
    ASSERT_FALSE(gotA.empty());
    for (size_t i = 0; i < gotA.size(); i++) ASSERT_EQ(gotA[i], (int32_t)recA[i].value * 65536);

    b.written();
    ASSERT_EQ(QdStopMeasurement((uint16_t)b.ctx), 1);
    EXPECT_EQ(b.state(), S_STOP_TEST);
    ASSERT_TRUE(b.runToState(S_IDLE, 200));
    sent = b.written();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], frame({0x0C}));
    EXPECT_EQ(sent[1], frame({0x04, 0xE0}));
}

TEST_F(Halvex, WrongModelAndWrongMakerAreRefused) {
    {
        Bench b(HALVEX4_USB, HALVEX2_USB);
        twoChannels(b);
        ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0);
        ASSERT_TRUE(b.runToState(S_IDLE, 100));
        EXPECT_TRUE(hasMessage((uint16_t)b.ctx,
                               "!Please check device selection. Unselected device model has been detected: "
                               "Quorvane Halvex-2 USB"));
        EXPECT_FALSE(b.transceiverOpen());
        EXPECT_EQ(QdGetDevSN((uint16_t)b.ctx), nullptr);
    }
    g_recorder.clear();
    {
        Bench b(HALVEX4_USB);
        twoChannels(b);
        simDeviceSetIdentity(b.dev, "Other Systems", nullptr, nullptr);
        ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0);
        ASSERT_TRUE(b.runToState(S_IDLE, 100));
        EXPECT_TRUE(hasMessage((uint16_t)b.ctx, "!Unsupported device model Quorvane Halvex-4 USB"));
    }
}

TEST_F(Halvex, RefusedConfigurationTellsWhetherAnyAnalogChannelIsOn) {
    {
        Bench b(HALVEX4_USB);   // every channel off
        simDeviceSetFault(b.dev, 0x07, SIM_FAULT_RESULT, 2, 1);
        ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0);
        ASSERT_TRUE(b.runToState(S_IDLE, 100));
        EXPECT_TRUE(hasMessage((uint16_t)b.ctx,
                               "!Invalid device configuration. At least one analog channel should be on."));
    }
    g_recorder.clear();
    {
        Bench b(HALVEX4_USB);
        b.enableChannel(2);
        simDeviceSetFault(b.dev, 0x07, SIM_FAULT_RESULT, 2, 1);
        LogWatch log;
        ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0);
        ASSERT_TRUE(b.runToState(S_IDLE, 100));
        EXPECT_TRUE(hasMessage((uint16_t)b.ctx,
                               "!Unsupported device configuration. Try to update device firmware."));
        // The result's text, without its error mark.
        EXPECT_TRUE(log.contains(msgResultText(2) + 1 + std::string("\n")));
    }
}

TEST_F(Halvex, ErrorReplyWhileMeasuringTakesTheDeviceBackAndCloses) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    b.startMeasuring();
    b.written();
    g_recorder.clear();
    b.inject(0x83, {0x04});   // REP_GET_DEV_STATE, device resources unavailable
    ASSERT_TRUE(b.runToState(S_IDLE, 10));
    std::vector<Bytes> sent = b.written();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], frame({0x04, 0xE0}));
    EXPECT_EQ(sent[1], frame({0x0A}));
    EXPECT_EQ(sent[2], frame({0x04, 0xE0}));
    EXPECT_FALSE(b.transceiverOpen());
    EXPECT_TRUE(hasMessage((uint16_t)b.ctx, "!Device reported message error"));
    EXPECT_TRUE(g_recorder.hasIndicator((uint16_t)b.ctx, QD_IND_LINK, 0));
}

TEST_F(Halvex, ResultThreeIsAnIncompatibleDeviceState) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    simDeviceSetFault(b.dev, 0x08, SIM_FAULT_RESULT, 3, 1);
    LogWatch log;
    ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0);
    ASSERT_TRUE(b.runToState(S_IDLE, 100));
    EXPECT_TRUE(hasMessage((uint16_t)b.ctx, "!Incompatible device state. Try to turn on device again."));
    EXPECT_TRUE(log.contains(msgResultText(3) + 1 + std::string("\n")));
}

TEST_F(Halvex, StopDuringSetNotifWaitsForBothReplies) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    simDeviceSetFault(b.dev, 0x04, SIM_FAULT_DELAY, 50, 1);
    ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0);
    ASSERT_TRUE(b.runToState(S_SET_NOTIF, 100));
    b.written();
    ASSERT_EQ(QdStopMeasurement((uint16_t)b.ctx), 1);
    EXPECT_EQ(b.state(), S_RESET_NOTIF);
    std::vector<Bytes> sent = b.written();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], frame({0x04, 0xE0}));
    // The reply to the clearing request comes first (no delay), then the
    // delayed reply to the enabling one: one reply each step of the way.
    ASSERT_TRUE(b.runUntil([&] { return b.state() != S_RESET_NOTIF; }, 100));
    EXPECT_EQ(b.state(), S_CLEAR_NOTIF);
    EXPECT_TRUE(b.transceiverOpen());
    ASSERT_TRUE(b.runToState(S_IDLE, 100));
    EXPECT_FALSE(b.transceiverOpen());
}

// A stop whose last reply never comes ends after the stop wait: here the
// reply to the enabling request stops the reply timer, and the reply to the
// clearing request is lost.
TEST_F(Halvex, StopWithoutFinalReplyEndsAfterOneSecond) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    simDeviceSetFault(b.dev, 0x04, SIM_FAULT_DELAY, 50, 1);
    ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0);
    ASSERT_TRUE(b.runToState(S_SET_NOTIF, 100));
    simDeviceSetFault(b.dev, 0x04, SIM_FAULT_IGNORE, 0, 1);
    ASSERT_EQ(QdStopMeasurement((uint16_t)b.ctx), 1);
    ASSERT_TRUE(b.runToState(S_CLEAR_NOTIF, 100));
    EXPECT_FALSE(protoTimerRunning(&b.ps(), INT_T1 - INT_T1));
    uint32_t start = b.now();
    ASSERT_TRUE(b.runToState(S_IDLE, 2000));
    EXPECT_LE(b.now() - start, 1001u);
    EXPECT_FALSE(b.transceiverOpen());
}

TEST_F(Halvex, MissingReplyEndsTheConnection) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    simDeviceSetFault(b.dev, 0x00, SIM_FAULT_IGNORE, 0, 1);
    LogWatch log;
    ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0);
    b.run(899);
    EXPECT_EQ(b.state(), S_GET_DEV_INFO);
    ASSERT_TRUE(b.runToState(S_IDLE, 5));
    EXPECT_TRUE(g_recorder.hasIndicator((uint16_t)b.ctx, QD_IND_LINK, 2));
    EXPECT_TRUE(hasMessage((uint16_t)b.ctx,
                           "!Device is not responding. Please check, if it's on and connected with USB cable."));
    EXPECT_TRUE(log.contains("INT_T1\n"));
    EXPECT_TRUE(log.contains(kLogLinkError + std::string("\n")));
}

// A reply the state does not wait for leaves the reply timer running.
TEST_F(Halvex, StrayReplyDoesNotCancelTheReplyWait) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    simDeviceSetFault(b.dev, 0x07, SIM_FAULT_WITHHOLD, 0, 1);
    ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0);
    ASSERT_TRUE(b.runToState(S_WRITE_CFG, 100));
    b.run(100);
    b.inject(0x83, {0x00, 0x01});   // device state "at rest", as expected
    b.inject(0x8A, {0x00});         // a REP_STOP_MES nobody asked for
    ASSERT_TRUE(b.runToState(S_IDLE, 900));
    EXPECT_TRUE(hasMessage((uint16_t)b.ctx,
                           "!Device is not responding. Please check, if it's on and connected with USB cable."));
}

TEST_F(Halvex, UsbDataWatchdog) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    b.startMeasuring();
    b.run(500);
    // Silence long enough: link error after 2 s without data, link lost 1 s later.
    LogWatch log;
    g_recorder.clear();
    simDeviceSilence(b.dev, 10000, b.now());
    ASSERT_TRUE(b.runUntil([&] { return g_recorder.hasIndicator((uint16_t)b.ctx, QD_IND_LINK, 2); }, 2500));
    EXPECT_EQ(QdGetUserInd((uint16_t)b.ctx, QD_IND_LINK, 0), 2);
    EXPECT_TRUE(log.contains("Timer INT_T2 started\n"));
    uint32_t linkError = b.now();
    ASSERT_TRUE(b.runToState(S_IDLE, 1500));
    EXPECT_NEAR((double)(b.now() - linkError), 1000.0, 5.0);
    EXPECT_TRUE(hasMessage((uint16_t)b.ctx,
                           "!Link lost. Please check, if the device is on and connected with USB cable."));
}

TEST_F(Halvex, AnyMessageClearsTheLinkError) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    b.startMeasuring();
    b.run(500);
    g_recorder.clear();
    simDeviceSilence(b.dev, 2500, b.now());
    ASSERT_TRUE(b.runUntil([&] { return g_recorder.hasIndicator((uint16_t)b.ctx, QD_IND_LINK, 2); }, 2500));
    ASSERT_TRUE(b.runUntil([&] { return g_recorder.hasIndicator((uint16_t)b.ctx, QD_IND_LINK, 1); }, 900));
    EXPECT_FALSE(protoTimerRunning(&b.ps(), INT_T2 - INT_T1));
    b.run(3000);
    EXPECT_EQ(b.state(), S_MEASURE);
    EXPECT_EQ(messageCount(), 0u);

    // Events keep the link alive but not the data watch: without data the
    // link error comes back.
    g_recorder.clear();
    simDeviceSilence(b.dev, 5000, b.now());
    ASSERT_TRUE(b.runUntil([&] { return g_recorder.hasIndicator((uint16_t)b.ctx, QD_IND_LINK, 2); }, 2500));
    simDeviceSetBattery(b.dev, 2, b.now());
    ASSERT_TRUE(b.runUntil([&] { return g_recorder.hasIndicator((uint16_t)b.ctx, QD_IND_BATTERY, 2); }, 10));
    EXPECT_EQ(QdGetUserInd((uint16_t)b.ctx, QD_IND_LINK, 0), 1);
    ASSERT_TRUE(b.runToState(S_IDLE, 4000)) << "the data watch goes on";
}

TEST_F(Halvex, DeviceEvents) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    b.startMeasuring();
    g_recorder.clear();
    uint16_t ctx = (uint16_t)b.ctx;

    simDeviceSetBattery(b.dev, 1, b.now());
    b.run(2);
    EXPECT_TRUE(g_recorder.hasIndicator(ctx, QD_IND_BATTERY, 1));
    EXPECT_EQ(QdGetUserInd(ctx, QD_IND_BATTERY, 0), 1);

    // A battery event without its state byte carries no state.
    g_recorder.clear();
    simDeviceSendEvent(b.dev, SIM_EVENT_BATTERY, -1, b.now());
    b.run(2);
    EXPECT_TRUE(g_recorder.indicatorsCopy().empty());
    EXPECT_EQ(QdGetUserInd(ctx, QD_IND_BATTERY, 0), 1);

    simDeviceSendEvent(b.dev, SIM_EVENT_LINK_ERROR, -1, b.now());
    b.run(2);
    EXPECT_TRUE(g_recorder.hasIndicator(ctx, QD_IND_LINK, 2));
    EXPECT_EQ(QdGetUserInd(ctx, QD_IND_LINK, 0), 2);
    g_recorder.clear();
    b.run(10000);
    EXPECT_TRUE(g_recorder.hasIndicator(ctx, QD_IND_LINK, 1)) << "INT_T4 ends the link error";

    simDeviceSendEvent(b.dev, SIM_EVENT_HARDWARE, -1, b.now());
    b.run(2);
    EXPECT_TRUE(hasMessage(ctx, "!Hardware problem detected in the device. Please contact manufacturer support."));
    EXPECT_EQ(b.state(), S_MEASURE) << "the hardware message does not end the measurement";
}

TEST_F(Halvex, UnexpectedDeviceStateRestartsTheDevice) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    b.startMeasuring();
    b.inject(0x83, {0x00, 0x05});   // measuring, as expected
    b.run(5);
    EXPECT_EQ(b.state(), S_MEASURE);
    b.written();
    b.inject(0x83, {0x00, 0x01});   // at rest: not what a measurement expects
    ASSERT_TRUE(b.runToState(S_IDLE, 10));
    std::vector<Bytes> sent = b.written();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), frame({0x0D}));
    EXPECT_TRUE(hasMessage((uint16_t)b.ctx, "!Incompatible device state. Try to turn on device again."));
}

TEST_F(Halvex, InvalidMessagesEndTheConnection) {
    struct Case {
        uint8_t code;
        const char *reason;
    } cases[] = {{0x93, "Unimplemented message."}, {0x96, "Unknown message."}, {0x45, "Invalid message direction."}};
    for (const Case &c : cases) {
        Bench b(HALVEX4_USB);
        twoChannels(b);
        b.startMeasuring();
        LogWatch log;
        b.inject(c.code, {0x00});
        ASSERT_TRUE(b.runToState(S_IDLE, 10)) << c.reason;
        EXPECT_TRUE(log.contains(std::string(c.reason) + "\n"));
        EXPECT_TRUE(log.contains(kLogIncorrectFormat + std::string("\n")));
        EXPECT_FALSE(b.transceiverOpen());
    }
}

TEST_F(Halvex, FramingOddsAreSurvived) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    b.startMeasuring();
    LogWatch log;
    // An over-long frame is skipped whole, zero bytes between frames are
    // dropped, and the stream goes on.
    Bytes big(257, 0x11);
    b.inject(0x84, big);
    b.injectRaw({0x00, 0x00, 0x00});
    simDeviceSetBattery(b.dev, 2, b.now());
    b.run(200);
    EXPECT_EQ(b.state(), S_MEASURE);
    EXPECT_TRUE(log.contains(kLogMessageTooLong + std::string("\n")));
    EXPECT_TRUE(g_recorder.hasIndicator((uint16_t)b.ctx, QD_IND_BATTERY, 2));
    size_t before = g_recorder.packetsCopy().size();
    b.run(500);
    EXPECT_GT(g_recorder.packetsCopy().size(), before);
}

TEST_F(Halvex, DataGapIsReportedAndTheMeasurementGoesOn) {
    Bench b(HALVEX4_USB);
    twoChannels(b);
    b.startMeasuring();
    b.run(300);
    LogWatch log;
    simDeviceDropData(b.dev, 2);
    b.run(600);
    EXPECT_TRUE(g_recorder.hasIndicator((uint16_t)b.ctx, QD_IND_LINK, 2));
    EXPECT_TRUE(log.contains("# Sample data loss (cur.ph. "));
    EXPECT_EQ(b.state(), S_MEASURE);
    g_recorder.clear();
    b.run(10000);
    EXPECT_TRUE(g_recorder.hasIndicator((uint16_t)b.ctx, QD_IND_LINK, 1));
}

TEST_F(Halvex, BluetoothLeNeedsARecentSystem) {
    int16_t ctx = QdOpenDevContext("Quorvane Halvex-4 BLE");
    ASSERT_GE(ctx, 0);
    protoSetOsVersionOverride(11);
    EXPECT_EQ(QdStartMeasurement((uint16_t)ctx, 0), 4);
    EXPECT_EQ(protocolState[ctx].state, S_IDLE);
    protoSetOsVersionOverride(12);
    // Past the check the open is tried (no Bluetooth LE device here).
    EXPECT_EQ(QdStartMeasurement((uint16_t)ctx, 0), 1);
    protoSetOsVersionOverride(-1);
    QdCloseDevContext((uint16_t)ctx);
}

TEST_F(Halvex, SecondContextLogsWithItsIndex) {
    int16_t first = QdOpenDevContext(HALVEX2_USB);
    ASSERT_EQ(first, 0);
    {
        Bench b(HALVEX4_USB);
        ASSERT_EQ(b.ctx, 1);
        twoChannels(b);
        LogWatch log;
        b.startMeasuring();
        EXPECT_TRUE(log.contains("< (1) CMD_GET_DEV_INFO \n"));
        EXPECT_TRUE(log.contains("# (1) APP_IDLE -> APP_GET_DEV_INFO\n"));
        EXPECT_TRUE(log.contains("# (1) Timer INT_T1 started\n"));
        EXPECT_TRUE(log.contains("# (1) Timer INT_T3 started\n"));
    }
    QdCloseDevContext((uint16_t)first);
}
