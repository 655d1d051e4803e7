// brev_test.cpp - the Brev state machine against the simulated Brev device
// on the IrDA link: the road there and back with its samples, the start
// modes, the device's pause and artifacts, the reconnection inside the
// engine step, missing replies, bad input, and the messages of a host
// measurement that ends on the device.
#include <cstring>
#include <string>

#include "API/driver/frame/contexts.h"
#include "API/driver/ui/window_hooks.h"
#include "tests/protocol/bench.h"

namespace {

const char *const BREV = "Quorvane Brev 100";
enum : uint16_t { B_IDLE = 0, B_GET_DEV_INFO = 1, B_MEASURE = 5, B_MES_PAUSE = 6, B_ARTIFACT = 7, B_STOP_MES = 9 };
const char *const STOPPED = "Measurements stopped with device's button";
const char *const LINK_LOST = "!Link lost. Please check, if the device is on and in the infrared range.";

bool hasMessage(uint16_t ctx, const std::string &text) {
    for (const MessageCall &m : g_recorder.messagesCopy()) {
        if (m.context == ctx && m.text == text) return true;
    }
    return false;
}

class Brev : public DeviceTest {
protected:
    void measure(Bench &b) {
        ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0);
        ASSERT_TRUE(b.runToState(B_MEASURE, 100)) << "state " << b.state();
        b.run(300);
        g_recorder.clear();
    }
    uint16_t ctx(const Bench &b) const { return (uint16_t)b.ctx; }
};

}  // namespace

TEST_F(Brev, MeasuresAndStopsWithTheDevicesSamples) {
    Bench b(BREV);
    std::vector<SimSampleRecord> rec(2000);
    simDeviceRecordSamples(b.dev, 0, rec.data(), (uint32_t)rec.size());
    ASSERT_EQ(QdStartMeasurement(ctx(b), 0), 0);
    ASSERT_TRUE(b.runToState(B_MEASURE, 100));
    Bytes start = {0x0A};
    start.insert(start.end(), contextImage(ctx(b)), contextImage(ctx(b)) + 4);
    EXPECT_EQ(b.written(), (std::vector<Bytes>{{0x00}, {0x07, 0x31, 0x00}, start}));
    EXPECT_STREQ(QdGetDevSN(ctx(b)), "QV000001");

    b.run(5100);   // past the first device state poll
    EXPECT_EQ(b.written(), (std::vector<Bytes>{{0x03}}));
    size_t n = 0;
    for (const SamplePacket &p : g_recorder.packetsCopy()) {
        ASSERT_EQ(p.phase, (uint16_t)n) << "the phase counts the samples";
        for (int32_t v : p.channels[0]) ASSERT_EQ(v, (int32_t)rec[n++].value * 1048576) << "sample " << n;
    }
    EXPECT_GE(n, 600u);

    ASSERT_EQ(QdStopMeasurement(ctx(b)), 1);
    ASSERT_TRUE(b.runToState(B_IDLE, 100));
    EXPECT_EQ(b.written(), (std::vector<Bytes>{{0x07, 0x00, 0x00}, {0x0B}}));
    EXPECT_FALSE(b.transceiverOpen());
    EXPECT_EQ(g_recorder.indicatorsCopy().back(), (IndicatorCall{ctx(b), QD_IND_LINK, 0}));
    EXPECT_EQ(ftsimOpenSockets(), 0);
}

TEST_F(Brev, StartModes) {
    const struct {
        uint16_t flags;
        int32_t result;
    } cases[] = {{0x8000, 0}, {0x0001, -2}, {0x0100, -2}};
    for (const auto &c : cases) {
        Bench b(BREV);
        EXPECT_EQ(QdStartMeasurement(ctx(b), c.flags), c.result) << std::hex << c.flags;
        EXPECT_EQ(b.state(), c.result == 0 ? B_GET_DEV_INFO : B_IDLE) << "connected at once, as with mode 0";
        if (c.result == 0) {
            EXPECT_EQ(QdStartMeasurement(ctx(b), 0), -1) << "not idle";
        }
    }
}

TEST_F(Brev, ButtonPausesAndResumesArtifactsSetSignalStates) {
    Bench b(BREV);
    measure(b);
    ASSERT_EQ(ftsimDeviceButton(b.slot), 0);
    b.run(20);
    EXPECT_EQ(g_recorder.indicatorsCopy(), (std::vector<IndicatorCall>{{ctx(b), 2, 1}}));
    EXPECT_EQ(b.state(), B_MES_PAUSE);
    EXPECT_EQ(QdGetUserInd(ctx(b), QD_IND_PAUSE, 0), 1);
    ASSERT_EQ(ftsimDeviceButton(b.slot), 0);
    b.run(20);
    EXPECT_TRUE(g_recorder.hasIndicator(ctx(b), 2, 0));
    EXPECT_EQ(b.state(), B_MEASURE);

    // Artifact codes b and channels k: state value + 256 k, until b = 255.
    const struct {
        int b, k;
        uint16_t value;
    } artifacts[] = {{4, 1, 257}, {0, 0, 2}, {2, 1, 258}, {9, 0, 0}};
    for (const auto &a : artifacts) {
        g_recorder.clear();
        ASSERT_EQ(ftsimDeviceArtifact(b.slot, a.b, a.k), 0);
        b.run(20);
        EXPECT_EQ(g_recorder.indicatorsCopy(), (std::vector<IndicatorCall>{{ctx(b), 3, a.value}})) << a.b;
        EXPECT_EQ(b.state(), B_ARTIFACT);
        EXPECT_EQ(QdGetUserInd(ctx(b), QD_IND_SIGNAL, (uint16_t)a.k), a.value & 0xFF);
    }
    g_recorder.clear();
    ASSERT_EQ(ftsimDeviceArtifact(b.slot, 255, 1), 0);
    b.run(20);
    EXPECT_EQ(g_recorder.indicatorsCopy(), (std::vector<IndicatorCall>{{ctx(b), 3, 0}, {ctx(b), 3, 256}}));
    EXPECT_EQ(b.state(), B_MEASURE);
    b.run(200);
    EXPECT_FALSE(g_recorder.packetsCopy().empty()) << "samples go on after artifacts";
}

// The link breaks while the device goes on; the driver reopens it in the
// same step and asks the device's state before anything else.
TEST_F(Brev, ReconnectionAsksTheDeviceStateFirst) {
    const struct {
        int deviceState;       // what the device does while the link is down
        uint16_t state;        // the context's state afterwards
        bool stopped;          // user message 13
    } cases[] = {{3, B_MEASURE, false}, {5, B_MES_PAUSE, false}, {1, B_IDLE, true}, {7, B_IDLE, true}};
    for (const auto &c : cases) {
        g_recorder.clear();
        Bench b(BREV);
        measure(b);
        LogWatch log;
        ASSERT_EQ(ftsimDropConnection(b.slot), 0);
        if (c.deviceState != 3) {
            ASSERT_EQ(ftsimDeviceSetState(b.slot, c.deviceState), 0);
        }
        b.written();
        b.step();
        EXPECT_TRUE(log.contains(") Reconnection socket: ")) << log.text();
        EXPECT_TRUE(g_recorder.hasIndicator(ctx(b), QD_IND_LINK, 2));
        b.step();
        std::vector<Bytes> sent = b.written();
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent[0], (Bytes{0x03})) << "the next message expected is REP_GET_DEV_STATE";
        b.run(50);
        EXPECT_EQ(b.state(), c.state) << c.deviceState;
        EXPECT_EQ(hasMessage(ctx(b), STOPPED), c.stopped) << c.deviceState;
        EXPECT_EQ(g_recorder.hasIndicator(ctx(b), QD_IND_PAUSE, 1), c.deviceState == 5);
    }
}

TEST_F(Brev, ReconnectionThatFailsEndsWithLinkLost) {
    Bench b(BREV);
    measure(b);
    LogWatch log;
    ASSERT_EQ(ftsimUnplug(b.slot), 0);
    b.run(5);
    EXPECT_EQ(b.state(), B_IDLE);
    EXPECT_TRUE(log.contains(") Reconnection failed\n")) << log.text();
    EXPECT_TRUE(hasMessage(ctx(b), LINK_LOST));
    EXPECT_EQ(ftsimOpenSockets(), 0);
}

// A missing reply during the measurement only shows as a link error, until
// 30 s without any; a missing stop reply ends the stop after 2 s.
TEST_F(Brev, MissingReplies) {
    const struct {
        int command;
        int32_t times;
        bool stop;
        uint32_t runMs;
        uint16_t state;
    } cases[] = {{0x03, 1, false, 12000, B_MEASURE}, {0x03, SIM_ALWAYS, false, 40000, B_IDLE},
                 {0x0B, 1, true, 2100, B_IDLE}};
    for (const auto &c : cases) {
        g_recorder.clear();
        Bench b(BREV);
        measure(b);
        ASSERT_TRUE(simDeviceSetFault(b.dev, c.command, SIM_FAULT_WITHHOLD, 0, c.times));
        if (c.stop) {
            ASSERT_EQ(QdStopMeasurement(ctx(b)), 1);
        }
        b.run(c.runMs);
        EXPECT_EQ(b.state(), c.state) << c.command;
        if (!c.stop) {
            EXPECT_TRUE(g_recorder.hasIndicator(ctx(b), QD_IND_LINK, 2)) << "link error after the missing reply";
            EXPECT_EQ(g_recorder.hasIndicator(ctx(b), QD_IND_LINK, 1), c.state == B_MEASURE) << "cleared by a reply";
        }
        EXPECT_EQ(hasMessage(ctx(b), LINK_LOST), c.state == B_IDLE);
    }
}

// Bad input is refused or dropped with a log line; the measurement goes on
// where it can. An over-long frame breaks the link, which is reopened. A
// state change in an artifact pauses, or ends the measurement.
TEST_F(Brev, BadInput) {
    Bytes longData = {0xC4};
    longData.resize(1 + 2 * 100, 0x01);
    Bytes overLong = {0xC4};
    overLong.resize(300, 0x01);
    const struct {
        Bytes frame;
        const char *logged;
        uint16_t state;
        bool inArtifact;
    } cases[] = {
        {longData, "more samples than a block can take: 35 dropped", B_MEASURE, false},
        {{0xC5, 0x04}, "Artifact notification without a valid channel ignored", B_MEASURE, false},
        {{0xC5, 0x04, 0x07}, "Artifact notification without a valid channel ignored", B_MEASURE, false},
        {{0xC0, 0x07}, "", B_IDLE, false},
        {{0x83, 0x00}, "Message is too short", B_IDLE, false},
        {overLong, ") Reconnection socket: ", B_MEASURE, false},
        {{0xC0, 0x05}, "APP_ARTIFACT -> APP_MES_PAUSE", B_MES_PAUSE, true},
        {{0xC0, 0x03}, "", B_IDLE, true},
    };
    for (const auto &c : cases) {
        g_recorder.clear();
        Bench b(BREV);
        measure(b);
        if (c.inArtifact) {
            ASSERT_EQ(ftsimDeviceArtifact(b.slot, 4, 1), 0);
            ASSERT_TRUE(b.runToState(B_ARTIFACT, 20));
            g_recorder.clear();
        }
        LogWatch log;
        b.inject(c.frame[0], Bytes(c.frame.begin() + 1, c.frame.end()));
        b.run(50);
        EXPECT_EQ(b.state(), c.state) << log.text();
        EXPECT_TRUE(log.contains(c.logged)) << log.text();
        if (c.state == B_MES_PAUSE) {
            const std::vector<IndicatorCall> expected = {{ctx(b), 3, 0}, {ctx(b), 3, 256}, {ctx(b), 2, 1}};
            EXPECT_EQ(g_recorder.indicatorsCopy(), expected);
        }
        if (c.inArtifact) {
            EXPECT_EQ(hasMessage(ctx(b), STOPPED), c.state == B_IDLE);
        }
    }
}

// Error replies (full length: the Brev takes no short ones): user message
// 11 for result 3, else 12; notifications are switched off above
// APP_GET_FIRM_INFO and the measurement stopped from APP_MEASURE on; then
// the connection ends.
TEST_F(Brev, ErrorRepliesTakeTheDeviceBackAsFarAsItGot) {
    const char *const INCOMPATIBLE = "!Incompatible device state. Try to turn on device again.";
    const char *const DEVICE_ERROR = "!Device reported message error";
    const Bytes off = {0x07, 0x00, 0x00}, stop = {0x0B};
    Bytes infoError(81, 0);
    infoError[0] = 0x80;
    infoError[1] = 3;
    const struct {
        int command;
        uint16_t state;      // the state that sent the command
        Bytes reply;
        std::vector<Bytes> after;
        const char *message;
    } cases[] = {
        {0x00, B_GET_DEV_INFO, infoError, {}, INCOMPATIBLE},
        {0x07, 3, {0x87, 5}, {off}, DEVICE_ERROR},
        {0x0A, 4, {0x8A, 3}, {off}, INCOMPATIBLE},
        {0x03, B_MEASURE, {0x83, 4, 1}, {off, stop}, DEVICE_ERROR},
    };
    for (const auto &c : cases) {
        g_recorder.clear();
        Bench b(BREV);
        ASSERT_TRUE(simDeviceSetFault(b.dev, c.command, SIM_FAULT_IGNORE, 0, 1));
        ASSERT_EQ(QdStartMeasurement(ctx(b), 0), 0);
        ASSERT_TRUE(b.runToState(c.state, 100));
        if (c.state == B_MEASURE) b.run(5100);   // the device state poll goes unanswered
        b.inject(c.reply[0], Bytes(c.reply.begin() + 1, c.reply.end()));
        ASSERT_TRUE(b.runToState(B_IDLE, 100)) << c.command;
        const std::vector<Bytes> sent = b.written();
        ASSERT_GT(sent.size(), c.after.size());
        EXPECT_EQ(std::vector<Bytes>(sent.end() - (long)c.after.size(), sent.end()), c.after) << c.command;
        EXPECT_EQ(sent[sent.size() - c.after.size() - 1][0], c.command);
        EXPECT_TRUE(hasMessage(ctx(b), c.message)) << c.command;
        EXPECT_FALSE(b.transceiverOpen());
    }
}

// Before the measurement runs, with the reply that moves the context on
// held back 100 ms: a stop (also one crossed by the device information,
// with the switch-off's reply then lost), a link broken by an over-long
// frame, and state changes while the start is under way.
TEST_F(Brev, BeforeTheMeasurement) {
    enum Action { STOP, OVER_LONG, MEASURING, PAUSED };
    const struct {
        int held;
        Action action;
        int lost;
        uint16_t state;
        const char *logged;
        const char *message;
    } cases[] = {
        {0x00, STOP, 0x07, B_IDLE, "APP_GET_DEV_INFO -> APP_WAIT_REP_TO_DISC", LINK_LOST},
        {0x07, STOP, -1, B_IDLE, "APP_SET_NOTIF -> APP_RESET_NOTIF", nullptr},
        {0x07, OVER_LONG, -1, B_IDLE, "^ INT_DISC", LINK_LOST},
        {0x0A, MEASURING, -1, B_MEASURE, "> NOT_STATE_CHG", nullptr},
        {0x0A, PAUSED, -1, B_MEASURE, "Message incompatible with current state", nullptr},
    };
    for (const auto &c : cases) {
        g_recorder.clear();
        Bench b(BREV);
        LogWatch log;
        ASSERT_TRUE(simDeviceSetFault(b.dev, c.held, SIM_FAULT_DELAY, 100, 1));
        if (c.lost >= 0) {
            ASSERT_TRUE(simDeviceSetFault(b.dev, c.lost, SIM_FAULT_IGNORE, 0, 1));
        }
        ASSERT_EQ(QdStartMeasurement(ctx(b), 0), 0);
        b.run(50);
        if (c.action == STOP) {
            ASSERT_EQ(QdStopMeasurement(ctx(b)), 1);
        }
        if (c.action == OVER_LONG) b.inject(0xC4, Bytes(300, 1));
        if (c.action >= MEASURING) b.inject(0xC0, {(uint8_t)(c.action == MEASURING ? 3 : 5)});
        // The reply timer ends a stop whose last reply is lost.
        EXPECT_TRUE(b.runToState(c.state, 2100)) << log.text();
        EXPECT_TRUE(log.contains(c.logged)) << c.logged;
        if (c.message) {
            EXPECT_TRUE(hasMessage(ctx(b), c.message)) << c.logged;
        }
        EXPECT_EQ(log.contains("Message incompatible"), c.action == PAUSED) << c.logged;
    }
}

// A message of a measurement the host started reaches the host even when
// a driver window's activity is left over without a window to show it.
TEST_F(Brev, HostGetsTheMessageWithNoWindowOpen) {
    Bench b(BREV);
    measure(b);
    ASSERT_EQ(ftsimDeviceButton(b.slot), 0);
    b.run(20);
    windowActivity.store(ACTIVITY_RECORDING);
    ASSERT_EQ(ftsimDeviceSetState(b.slot, 1), 0);
    b.run(20);
    windowActivity.store(ACTIVITY_IDLE);
    EXPECT_EQ(b.state(), B_IDLE);
    EXPECT_TRUE(hasMessage(ctx(b), STOPPED));
}
