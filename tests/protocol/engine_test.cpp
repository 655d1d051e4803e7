// engine_test.cpp - the exported measurement API and the engine around the
// family: results of start, stop and the queries, the engine thread, two
// callers at once, callbacks that call back into the API, background
// connection, reconnection after a link failure, shut-down of a context.
#include <atomic>
#include <cstring>
#include <string>

#include "API/driver/driver.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/ui/window_hooks.h"
#include "os/os.h"
#include "tests/protocol/bench.h"
#include "tests/support/log_lines.h"

namespace {

const char *const HALVEX4_USB = "Quorvane Halvex-4 USB";

void oneChannel(Bench &b) { b.enableChannel(0); }

bool hasMessage(uint16_t ctx, const std::string &text) {
    for (const MessageCall &m : g_recorder.messagesCopy()) {
        if (m.context == ctx && m.text == text) return true;
    }
    return false;
}

}  // namespace

class Engine : public DeviceTest {};

TEST_F(Engine, StartAndQueriesOnBadOrIdleContexts) {
    EXPECT_EQ(QdStartMeasurement(10, 0), -1);
    EXPECT_EQ(QdStartMeasurement(3, 0), -1) << "closed context";
    EXPECT_EQ(QdStopMeasurement(10), -1);
    EXPECT_EQ(QdGetUserInd(10, 0, 0), -1);
    EXPECT_EQ(QdComState(10), 0);
    EXPECT_EQ(QdGetDevSN(10), nullptr);

    Bench b(HALVEX4_USB);
    uint16_t ctx = (uint16_t)b.ctx;
    EXPECT_EQ(QdGetUserInd(ctx, QD_IND_BATTERY, 0), -1);
    EXPECT_EQ(QdGetUserInd(ctx, QD_IND_LINK, 0), 0);
    EXPECT_EQ(QdComState(ctx), 0);
    EXPECT_EQ(QdStopMeasurement(ctx), 0);

    // Modes other than a measurement and a test measurement are refused.
    for (uint16_t mode : {0x0002, 0x0100, 0x8003}) {
        LogWatch log;
        EXPECT_EQ(QdStartMeasurement(ctx, mode), -2) << std::hex << mode;
        EXPECT_EQ(b.state(), S_IDLE);
        EXPECT_FALSE(b.transceiverOpen() || protoThreadBusy(&b.ps()));
        EXPECT_TRUE(log.contains("!}QdStartMeasurement: -2\n"));
    }

    // No transceiver: the link does not open.
    ftsimRemove(b.slot);
    LogWatch log;
    EXPECT_EQ(QdStartMeasurement(ctx, 0), 1);
    EXPECT_EQ(b.state(), S_IDLE);
    EXPECT_TRUE(log.contains("!}QdStartMeasurement: 1\n"));
}

TEST_F(Engine, IndicatorQueryWhileMeasuring) {
    Bench b(HALVEX4_USB);
    oneChannel(b);
    b.startMeasuring();
    uint16_t ctx = (uint16_t)b.ctx;
    b.run(300);
    EXPECT_EQ(QdGetUserInd(ctx, QD_IND_PAUSE, 0), 0);
    EXPECT_EQ(QdGetUserInd(ctx, QD_IND_SIGNAL, 0), 0);
    EXPECT_EQ(QdGetUserInd(ctx, QD_IND_SIGNAL, 4), 0);
    EXPECT_EQ(QdGetUserInd(ctx, QD_IND_SIGNAL, 5), -1);
    EXPECT_EQ(QdGetUserInd(ctx, 9, 0), -1);
    simDeviceSetSignalState(b.dev, 0, 3, b.now());
    simDeviceSetSignalState(b.dev, -1, 2, b.now());
    b.run(300);
    EXPECT_EQ(QdGetUserInd(ctx, QD_IND_SIGNAL, 1), 3);
    EXPECT_EQ(QdGetUserInd(ctx, QD_IND_SIGNAL, 0), 2);
    EXPECT_TRUE(g_recorder.hasIndicator(ctx, QD_IND_SIGNAL, 256 + 3));
    EXPECT_TRUE(g_recorder.hasIndicator(ctx, QD_IND_SIGNAL, 2));
}

// The serial number a host has read stays as it was when the engine clears
// the context's own text at the disconnection.
TEST_F(Engine, SerialNumberTextStaysWithTheHost) {
    Bench b(HALVEX4_USB);
    oneChannel(b);
    b.startMeasuring();
    const char *serial = QdGetDevSN((uint16_t)b.ctx);
    ASSERT_NE(serial, nullptr);
    std::string read = serial;
    EXPECT_FALSE(read.empty());
    EXPECT_EQ(QdStopMeasurement((uint16_t)b.ctx), 1);
    ASSERT_TRUE(b.runToState(S_IDLE));
    EXPECT_EQ(QdGetDevSN((uint16_t)b.ctx), nullptr);
    EXPECT_EQ(std::string(serial), read);
}

TEST_F(Engine, UserMessageBecomesAnIndicatorWithoutMessageCallback) {
    installCallbacks(true, true, false);
    Bench b(HALVEX4_USB, "Quorvane Halvex-2 USB");
    oneChannel(b);
    ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0);
    ASSERT_TRUE(b.runToState(S_IDLE, 100));
    EXPECT_TRUE(g_recorder.hasIndicator((uint16_t)b.ctx, QD_IND_MESSAGE, 1));
    EXPECT_TRUE(g_recorder.messagesCopy().empty());
}

TEST_F(Engine, EngineThreadRunsTheMeasurementAndEndsItself) {
    Bench b(HALVEX4_USB);
    oneChannel(b);
    // The engine logs its result only when it changes, and the last result
    // is process-wide: an idle step first, so that a result an earlier test
    // left behind cannot hide the thread's first line.
    EXPECT_EQ(QdProtocolEngine(), 0u);
    LogWatch log;
    ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, QD_START_ENGINE_THREAD), 0);
    EXPECT_EQ(engineThreadState(), 2);
    ASSERT_TRUE(waitReal([&] { return b.state() == S_MEASURE; }));
    EXPECT_EQ(QdStopMeasurement((uint16_t)b.ctx), 1);
    ASSERT_TRUE(waitReal([&] { return b.state() == S_IDLE; }));
    ASSERT_TRUE(waitReal([] { return engineThreadState() == 0; }));
    EXPECT_TRUE(log.contains("{QdProtocolEngine(): 1}\n")) << log.text();
    EXPECT_TRUE(log.contains("{QdProtocolEngine(): 0}\n"));
    // A new start brings the thread back.
    ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, QD_START_ENGINE_THREAD), 0);
    EXPECT_EQ(engineThreadState(), 2);
    ASSERT_TRUE(waitReal([&] { return b.state() == S_MEASURE; }));
    protoForceIdle((uint16_t)b.ctx);
    ASSERT_TRUE(waitReal([] { return engineThreadState() == 0; }));
}

namespace {

std::atomic<int> g_inside{0};
std::atomic<bool> g_release{false};

int QDCALL blockingSamples(uint16_t, uint16_t, uint16_t, ChannelSamples *) {
    g_inside.store(1);
    while (!g_release.load()) osSleep(1);
    return 0;
}

void engineOnce(void *) { QdProtocolEngine(); }

}  // namespace

// A second caller while an engine step runs gets the last result at once.
TEST_F(Engine, SecondCallerGetsTheLastResult) {
    Bench b(HALVEX4_USB);
    oneChannel(b);
    b.startMeasuring();
    b.run(200);
    QdSetCallbacks(blockingSamples, nullptr, nullptr);
    g_inside.store(0);
    g_release.store(false);
    osClockAdvance(300);   // data waits
    OsThread t = osThreadStart(engineOnce, nullptr, 0, OS_PRIORITY_NORMAL);
    ASSERT_NE(t, nullptr);
    ASSERT_TRUE(waitReal([] { return g_inside.load() == 1; }));
    EXPECT_EQ(QdProtocolEngine(), 1u);
    g_release.store(true);
    osThreadJoin(t);
    installCallbacks();
}

namespace {

int16_t g_stopContext = -1;
std::atomic<int> g_stopResult{99};
std::atomic<uint32_t> g_engineResult{99};

int QDCALL stoppingSamples(uint16_t ctx, uint16_t, uint16_t, ChannelSamples *) {
    if (g_stopContext >= 0 && ctx == (uint16_t)g_stopContext) {
        g_stopContext = -1;
        g_engineResult.store(QdProtocolEngine());
        g_stopResult.store(QdStopMeasurement(ctx));
    }
    return 0;
}

}  // namespace

// Callbacks run inside the engine step; the API they call must not wait on
// that step.
TEST_F(Engine, CallbackMayStopTheMeasurement) {
    Bench b(HALVEX4_USB);
    oneChannel(b);
    b.startMeasuring();
    g_stopContext = b.ctx;
    g_stopResult.store(99);
    QdSetCallbacks(stoppingSamples, nullptr, nullptr);
    ASSERT_TRUE(b.runUntil([] { return g_stopResult.load() != 99; }, 1000));
    EXPECT_EQ(g_stopResult.load(), 1);
    EXPECT_EQ(g_engineResult.load(), 1u) << "re-entry returns the last result";
    ASSERT_TRUE(b.runToState(S_IDLE, 200));
    installCallbacks();
}

TEST_F(Engine, BackgroundConnection) {
    Bench b(HALVEX4_USB);
    oneChannel(b);
    uint16_t ctx = (uint16_t)b.ctx;
    ASSERT_EQ(QdStartMeasurement(ctx, QD_START_BACKGROUND), 3);
    EXPECT_EQ(QdComState(ctx), 1);
    ASSERT_TRUE(waitReal([&] { return !protoThreadBusy(&b.ps()); }));
    // The thread's report reaches the host from the engine step's thread.
    EXPECT_FALSE(g_recorder.hasIndicator(ctx, QD_IND_LINK, 1));
    EXPECT_EQ(b.state(), S_GET_DEV_INFO);
    b.step();
    EXPECT_TRUE(g_recorder.hasIndicator(ctx, QD_IND_LINK, 1));
    ASSERT_TRUE(b.runToState(S_MEASURE));
    // Data waiting shows, except on a context whose connection thread may
    // be replacing its link.
    osClockAdvance(300);
    EXPECT_EQ(QdAwaitingMessages(), 1);
    protoSetThreadBusy(&b.ps(), true);
    EXPECT_EQ(QdAwaitingMessages(), 0);
    protoSetThreadBusy(&b.ps(), false);

    // No device to connect to: IND_LINK 0 and the context stays idle.
    protoForceIdle(ctx);
    ftsimRemove(b.slot);
    g_recorder.clear();
    LogWatch log;
    ASSERT_EQ(QdStartMeasurement(ctx, QD_START_BACKGROUND), 3);
    ASSERT_TRUE(waitReal([&] { return !protoThreadBusy(&b.ps()); }));
    EXPECT_EQ(b.state(), S_IDLE);
    EXPECT_TRUE(g_recorder.indicatorsCopy().empty());
    b.step();
    EXPECT_TRUE(g_recorder.hasIndicator(ctx, QD_IND_LINK, 0));
    EXPECT_TRUE(log.contains("{ConThreadFunc(..)\n"));
    EXPECT_TRUE(log.contains("}ConThreadFunc: 0\n"));
}

TEST_F(Engine, ReconnectionAfterALinkFailure) {
    Bench b(HALVEX4_USB);
    oneChannel(b);
    uint16_t ctx = (uint16_t)b.ctx;
    b.startMeasuring();
    b.run(300);
    LogWatch log;
    g_recorder.clear();
    // The transceiver fails on the next read: the driver closes the link
    // and reopens it on the reconnection thread.
    ftsimSetFaults(b.slot, FTSIM_FAULT_READ);
    ASSERT_TRUE(b.runUntil([&] { return b.ps().connected == 0; }, 500));
    ftsimSetFaults(b.slot, 0);
    EXPECT_TRUE(g_recorder.hasIndicator(ctx, QD_IND_LINK, 2));
    EXPECT_EQ(b.state(), S_MEASURE);
    ASSERT_TRUE(waitReal([&] { return !protoThreadBusy(&b.ps()); }));
    g_recorder.clear();
    b.run(1000);
    EXPECT_TRUE(g_recorder.hasIndicator(ctx, QD_IND_LINK, 1));
    EXPECT_EQ(b.state(), S_MEASURE);
    EXPECT_FALSE(g_recorder.packetsCopy().empty()) << "data resumes";
    std::string text = log.text();
    EXPECT_NE(text.find(kLogReceivingError + std::string("\n")), std::string::npos);
    EXPECT_NE(text.find("QH_LinkDisc(" + std::to_string(ctx) + ", disc=1)\n"), std::string::npos);
    EXPECT_NE(text.find("{ReconThreadFunc(..)\n"), std::string::npos);
    EXPECT_NE(text.find(") Reconnection socket/handle: "), std::string::npos);
    EXPECT_NE(text.find("INT_CON\n"), std::string::npos);

    // This time the device is gone for good: link lost.
    g_recorder.clear();
    ftsimSetFaults(b.slot, FTSIM_FAULT_READ | FTSIM_FAULT_OPEN);
    ASSERT_TRUE(b.runUntil([&] { return b.ps().connected == 0; }, 500));
    ASSERT_TRUE(waitReal([&] { return !protoThreadBusy(&b.ps()); }));
    EXPECT_TRUE(log.contains(") Reconnection failed\n"));
    ASSERT_TRUE(b.runToState(S_IDLE, 10));
    EXPECT_TRUE(hasMessage(ctx, "!Link lost. Please check, if the device is on and connected with USB cable."));
}

TEST_F(Engine, LinkFailureEventOutsideAMeasurementEndsTheConnection) {
    Bench b(HALVEX4_USB);
    oneChannel(b);
    simDeviceSetFault(b.dev, 0x07, SIM_FAULT_WITHHOLD, 0, 1);
    ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0);
    ASSERT_TRUE(b.runToState(S_WRITE_CFG, 100));
    simDeviceSendEvent(b.dev, SIM_EVENT_LINK_FAILURE, -1, b.now());
    ASSERT_TRUE(b.runToState(S_IDLE, 10));
    EXPECT_TRUE(hasMessage((uint16_t)b.ctx,
                           "!Link lost. Please check, if the device is on and connected with USB cable."));
}

TEST_F(Engine, ClosingAMeasuringContextShutsItDown) {
    Bench b(HALVEX4_USB);
    oneChannel(b);
    b.startMeasuring();
    LogWatch log;
    g_recorder.clear();
    int16_t ctx = b.ctx;
    QdCloseDevContext((uint16_t)ctx);   // stop, wait 200 ms, force idle
    b.ctx = -1;
    EXPECT_EQ(protocolState[ctx].state, S_IDLE);
    EXPECT_FALSE(b.transceiverOpen());
    EXPECT_TRUE(log.contains("# (" + std::to_string(ctx) + ") ->APP_IDLE\n"));
    EXPECT_TRUE(g_recorder.hasIndicator((uint16_t)ctx, QD_IND_LINK, 0));
}

TEST_F(Engine, DetachStopsMeasurementAndEngineThread) {
    Bench b(HALVEX4_USB);
    oneChannel(b);
    ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, QD_START_ENGINE_THREAD), 0);
    ASSERT_TRUE(waitReal([&] { return b.state() == S_MEASURE; }));
    driverDetach();
    EXPECT_EQ(engineThreadState(), 0);
    EXPECT_EQ(b.state(), S_IDLE);
    EXPECT_FALSE(b.transceiverOpen());
    driverAttach();
    installCallbacks();
}

TEST_F(Engine, BrevWithoutADeviceInRangeStaysIdle) {
    int16_t ctx = QdOpenDevContext("Quorvane Brev 100");
    ASSERT_GE(ctx, 0);
    EXPECT_EQ(QdStartMeasurement((uint16_t)ctx, 0), 1);
    EXPECT_EQ(protocolState[ctx].state, S_IDLE);
    EXPECT_EQ(QdStopMeasurement((uint16_t)ctx), 0);
    EXPECT_EQ(QdGetUserInd((uint16_t)ctx, QD_IND_LINK, 0), 0);
    EXPECT_EQ(QdComState((uint16_t)ctx), 0);
    EXPECT_EQ(QdProtocolEngine(), 0u);
    QdCloseDevContext((uint16_t)ctx);
}

// While the driver's own window records or tests on the selected context,
// the samples go to the window, not to the host; a user message goes to the
// window when one is open to show it (here none is), else to the host.
TEST_F(Engine, OwnWindowMeasurementKeepsPacketsFromTheHost) {
    Bench b(HALVEX4_USB);
    oneChannel(b);
    ASSERT_EQ(QdGetSelectedDevContext(), b.ctx);
    windowActivity = ACTIVITY_RECORDING;
    b.startMeasuring();
    b.run(500);
    EXPECT_TRUE(g_recorder.packetsCopy().empty());
    simDeviceSendEvent(b.dev, SIM_EVENT_HARDWARE, -1, b.now());
    b.run(2);
    EXPECT_EQ(g_recorder.messagesCopy().size(), 1u);
    windowActivity = ACTIVITY_IDLE;
    b.run(500);
    EXPECT_FALSE(g_recorder.packetsCopy().empty());
}

namespace {

std::atomic<int16_t> g_stopOnLink{-1};
std::atomic<int> g_stopOnLinkResult{99};

void QDCALL stopOnLinkUp(uint16_t ctx, uint16_t type, uint16_t value) {
    if (type == QD_IND_LINK && value == 1 && ctx == (uint16_t)g_stopOnLink.load()) {
        g_stopOnLink.store(-1);
        g_stopOnLinkResult.store(QdStopMeasurement(ctx));
    }
}

}  // namespace

// A stop that comes after the connection thread put its Bluetooth link into
// the record, while the thread still runs (here: from the indicator the
// thread reports), stops the device over that link: it must not take the
// link for an open in progress and close it under the device.
TEST_F(Engine, StopAfterTheThreadConnectedUsesTheLink) {
    Bench b("Quorvane Halvex-4 BT");
    oneChannel(b);
    uint16_t ctx = (uint16_t)b.ctx;
    g_stopOnLink.store((int16_t)ctx);
    g_stopOnLinkResult.store(99);
    QdSetCallbacks(nullptr, stopOnLinkUp, nullptr);
    LogWatch log;
    ASSERT_EQ(QdStartMeasurement(ctx, QD_START_BACKGROUND), 3);
    ASSERT_TRUE(waitReal([&] { return !protoThreadBusy(&b.ps()); }));
    b.step();
    EXPECT_NE(g_stopOnLinkResult.load(), 99);
    ASSERT_TRUE(b.runToState(S_IDLE, 3000));
    EXPECT_FALSE(log.contains("Sending error")) << log.text();
    EXPECT_FALSE(log.contains("Link error")) << log.text();
    installCallbacks();
    b.startMeasuring();
}

// A stop that gives up waiting for the connection thread (held here at the
// engine lock, which this thread holds as a host callback would) returns at
// once; the link the thread opened is closed again and no measurement starts.
TEST_F(Engine, StopWhileConnectingInTheBackground) {
    Bench b(HALVEX4_USB);
    oneChannel(b);
    uint16_t ctx = (uint16_t)b.ctx;
    ASSERT_NE(engineLock(), nullptr);
    ASSERT_FALSE(engineLockHeldHere());
    engineLockAcquire();
    ASSERT_EQ(QdStartMeasurement(ctx, QD_START_BACKGROUND), 3);
    ASSERT_TRUE(waitReal([&] { return b.transceiverOpen(); }));
    EXPECT_EQ(QdGetUserInd(ctx, QD_IND_LINK, 0), 3) << "connecting";
    EXPECT_EQ(QdStopMeasurement(ctx), 0);
    EXPECT_TRUE(protoThreadBusy(&b.ps()));
    b.written();
    engineLockRelease();
    ASSERT_TRUE(waitReal([&] { return !protoThreadBusy(&b.ps()); }));
    EXPECT_EQ(b.state(), S_IDLE);
    EXPECT_FALSE(b.transceiverOpen());
    EXPECT_TRUE(b.written().empty()) << "no device information requested";
    b.step();
    EXPECT_TRUE(g_recorder.hasIndicator(ctx, QD_IND_LINK, 0));
    b.run(1000);
    EXPECT_EQ(b.state(), S_IDLE);
    // The context starts normally afterwards.
    b.startMeasuring();
}

namespace {

// The callback acts once on its indicator, then records the state the host
// left the record in.
struct CallbackAct {
    std::atomic<int16_t> ctx{-1};
    uint16_t type = 0, value = 0;
    bool close = false;
    std::atomic<bool> done{false};
    uint16_t stateAfter = 0;
};
CallbackAct g_act;

void QDCALL actOnIndicator(uint16_t ctx, uint16_t type, uint16_t value) {
    g_recorder.indicators.push_back({ctx, type, value});
    if (ctx != (uint16_t)g_act.ctx.load() || type != g_act.type || value != g_act.value) return;
    g_act.ctx.store(-1);
    if (g_act.close) {
        QdCloseDevContext(ctx);
    } else {
        QdStopMeasurement(ctx);
    }
    g_act.stateAfter = protocolState[ctx].state;
    g_act.done.store(true);
}

void QDCALL countMessage(uint16_t ctx, const char *text) { g_recorder.messages.push_back({ctx, text}); }

void measureBrev(Bench &b) {
    ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0);
    ASSERT_TRUE(b.runToState(5, 100));
    b.run(300);
}
void artifactBrev(Bench &b) {
    measureBrev(b);
    ASSERT_EQ(ftsimDeviceArtifact(b.slot, 4, 1), 0);
    b.run(20);
}
void pauseBrev(Bench &b) {
    measureBrev(b);
    ASSERT_EQ(ftsimDeviceButton(b.slot), 0);
    b.run(20);
}
void measureHalvex(Bench &b) {
    oneChannel(b);
    b.startMeasuring();
    b.run(300);
}

}  // namespace

// A stop or a close that a host callback makes holds in every handler that
// calls the host: the handler leaves the state as the stop or close left it,
// the device is not configured, started or reconnected, the context ends
// without a time-out's message and the link is closed.
TEST_F(Engine, StopOrCloseFromAnyCallbackHolds) {
    const struct {
        const char *what, *model;
        void (*prepare)(Bench &);
        void (*provoke)(Bench &);
        uint16_t type, value;
    } cases[] = {
        {"battery at the connection", "Quorvane Halvex-4 BT", oneChannel,
         [](Bench &b) { ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0); }, QD_IND_BATTERY, 3},
        {"link up", HALVEX4_USB, oneChannel,
         [](Bench &b) { ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, 0), 0); }, QD_IND_LINK, 1},
        {"battery event", "Quorvane Halvex-4 BT", measureHalvex,
         [](Bench &b) { simDeviceSendEvent(b.dev, SIM_EVENT_BATTERY, 2, b.now()); }, QD_IND_BATTERY, 2},
        {"link error event", "Quorvane Halvex-4 BT", measureHalvex,
         [](Bench &b) { simDeviceSendEvent(b.dev, SIM_EVENT_LINK_ERROR, -1, b.now()); }, QD_IND_LINK, 2},
        {"link failure event", "Quorvane Halvex-4 BT", measureHalvex,
         [](Bench &b) { simDeviceSendEvent(b.dev, SIM_EVENT_LINK_FAILURE, -1, b.now()); }, QD_IND_LINK, 2},
        {"signal state", HALVEX4_USB, measureHalvex,
         [](Bench &b) { simDeviceSetSignalState(b.dev, 0, 3, b.now()); }, QD_IND_SIGNAL, 256 + 3},
        {"brev device running", "Quorvane Brev 100", measureBrev,
         [](Bench &b) {
             ASSERT_EQ(ftsimDropConnection(b.slot), 0);
             ASSERT_EQ(ftsimDeviceSetState(b.slot, 5), 0);
         },
         QD_IND_PAUSE, 1},
        {"brev pause", "Quorvane Brev 100", measureBrev, [](Bench &b) { ASSERT_EQ(ftsimDeviceButton(b.slot), 0); },
         QD_IND_PAUSE, 1},
        {"brev resume", "Quorvane Brev 100", pauseBrev, [](Bench &b) { ASSERT_EQ(ftsimDeviceButton(b.slot), 0); },
         QD_IND_PAUSE, 0},
        {"brev artifact", "Quorvane Brev 100", measureBrev,
         [](Bench &b) { ASSERT_EQ(ftsimDeviceArtifact(b.slot, 4, 1), 0); }, QD_IND_SIGNAL, 257},
        {"brev artifact end", "Quorvane Brev 100", artifactBrev,
         [](Bench &b) { ASSERT_EQ(ftsimDeviceArtifact(b.slot, 255, 1), 0); }, QD_IND_SIGNAL, 0},
    };
    for (const auto &c : cases) {
        for (bool close : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (close ? ", close" : ", stop"));
            Bench b(c.model);
            uint16_t ctx = (uint16_t)b.ctx;
            c.prepare(b);
            LogWatch log;
            QdSetCallbacks(nullptr, actOnIndicator, countMessage);
            g_recorder.clear();
            g_act.type = c.type;
            g_act.value = c.value;
            g_act.close = close;
            g_act.done.store(false);
            g_act.ctx.store((int16_t)ctx);
            c.provoke(b);
            ASSERT_TRUE(b.runUntil([] { return g_act.done.load(); }, 1000));
            uint16_t state = protocolState[ctx].state;
            EXPECT_TRUE(state == g_act.stateAfter || state == S_IDLE) << "the handler went on: " << state;
            if (close) b.ctx = -1;
            b.run(3000);
            EXPECT_EQ(protocolState[ctx].state, S_IDLE);
            EXPECT_FALSE(b.transceiverOpen());
            EXPECT_FALSE(protoThreadBusy(&protocolState[ctx]));
            EXPECT_TRUE(g_recorder.messagesCopy().empty()) << g_recorder.messagesCopy()[0].text;
            EXPECT_FALSE(log.contains("ReconThreadFunc")) << "no reconnection after the stop";
            installCallbacks();
        }
    }
}

namespace {

std::atomic<int16_t> g_reconnecting{-1};
std::atomic<bool> g_closeReconnecting{false};

// A second context's samples, in the same engine step as the first
// context's link loss: its reconnection thread waits for the engine lock.
int QDCALL stopReconnecting(uint16_t, uint16_t, uint16_t, ChannelSamples *) {
    int16_t target = g_reconnecting.load();
    if (target < 0 || !protoThreadBusy(&protocolState[target])) return 0;
    g_reconnecting.store(-1);
    if (g_closeReconnecting.load()) {
        QdCloseDevContext((uint16_t)target);
    } else {
        QdStopMeasurement((uint16_t)target);
    }
    return 0;
}

}  // namespace

// A stop or close while the reconnection thread opens the link: the thread
// closes what it opened and leaves the record alone; the stop ends the
// context without a time-out's message.
TEST_F(Engine, StopOrCloseDuringAReconnectionClosesItsLink) {
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "stop");
        Bench bt("Quorvane Halvex-4 BT");
        measureHalvex(bt);
        Bench usb(HALVEX4_USB);
        ASSERT_LT(bt.ctx, usb.ctx);   // stepped first
        measureHalvex(usb);
        int16_t ctx = bt.ctx;
        QdSetCallbacks(stopReconnecting, nullptr, countMessage);
        g_recorder.clear();
        g_closeReconnecting.store(close);
        g_reconnecting.store(ctx);
        simDeviceSendEvent(bt.dev, SIM_EVENT_LINK_FAILURE, -1, bt.now());
        osClockAdvance(300);   // the USB context's data waits
        usb.step();
        ASSERT_EQ(g_reconnecting.load(), -1) << "acted in the step of the link loss";
        if (close) bt.ctx = -1;
        ASSERT_TRUE(waitReal([&] { return !protoThreadBusy(&protocolState[ctx]); }));
        EXPECT_FALSE(bt.transceiverOpen()) << "the reconnected link is closed";
        usb.run(3000);
        EXPECT_EQ(protocolState[ctx].state, S_IDLE);
        EXPECT_FALSE(bt.transceiverOpen());
        EXPECT_TRUE(g_recorder.messagesCopy().empty()) << g_recorder.messagesCopy()[0].text;
        installCallbacks();
        // The slot is the bench's again: the slots close in the usual order.
        if (close) bt.ctx = QdOpenDevContext("Quorvane Halvex-4 BT");
    }
}

// Detach during a Bluetooth open that does not end by itself (a slow
// stack): the open is cancelled, and the connection thread has ended when
// detach returns.
TEST_F(Engine, DetachCutsASlowOpenShort) {
    Bench b("Quorvane Halvex-4 BT");
    oneChannel(b);
    ftsimHoldConnects(1);
    ASSERT_EQ(QdStartMeasurement((uint16_t)b.ctx, QD_START_BACKGROUND), 3);
    ASSERT_TRUE(waitReal([] { return ftsimOpenSockets() > 0; })) << "the connect has begun";
    driverDetach();
    EXPECT_FALSE(protoThreadBusy(&b.ps()));
    EXPECT_EQ(ftsimOpenSockets(), 0);
    ftsimHoldConnects(0);
    waitReal([&] { return !protoThreadBusy(&b.ps()); });
    driverAttach();
    installCallbacks();
}
