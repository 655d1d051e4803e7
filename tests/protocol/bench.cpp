// bench.cpp - driver contexts on simulated devices for the protocol tests.
#include "tests/protocol/bench.h"

#include <cstring>

#include "link/sockets.h"
#include "os/os.h"
#include "sim/sim_models.h"

static void peerReceive(void *c, const uint8_t *data, size_t size, uint32_t now) {
    simDeviceReceive((SimDevice *)c, data, size, now);
}
static size_t peerPending(void *c, uint32_t now) { return simDevicePending((SimDevice *)c, now); }
static size_t peerTake(void *c, uint8_t *buffer, size_t max) { return simDeviceTake((SimDevice *)c, buffer, max); }
static void peerLinkUp(void *c, int up, uint32_t now) { simDeviceSetLinkUp((SimDevice *)c, up != 0, now); }

Bench::Bench(const char *model, const char *device, void (*tweak)(SimDeviceConfig *)) {
    SimDeviceConfig cfg;
    simDeviceDefaults(&cfg, device != nullptr ? device : model);
    if (tweak != nullptr) tweak(&cfg);
    dev = simDeviceCreate(&cfg);
    EXPECT_NE(dev, nullptr);
    // The device sits where its model's link puts it.
    const SimModel *m = simModelFind(cfg.model);
    int link = m != nullptr ? m->linkType : QD_LINK_USB;
    if (link == QD_LINK_IRDA) {
        slot = ftsimAddIrda("Quorvane Brev");
        ftsimAttachDevice(slot, dev);
    } else if (link == QD_LINK_BT) {
        slot = ftsimAddBluetooth(BENCH_BT_ADDRESS, "Quorvane Halvex*");
        ftsimAttachDevice(slot, dev);
    } else {
        slot = ftsimAdd(serial, nullptr);
        FtSimPeer peer = {dev, peerReceive, peerPending, peerTake, peerLinkUp};
        ftsimAttachPeer(slot, &peer);
    }
    EXPECT_GE(slot, 0);
    ctx = QdOpenDevContext(model);
    EXPECT_GE(ctx, 0);
}

Bench::~Bench() {
    if (ctx >= 0) {
        protoForceIdle((uint16_t)ctx);
        waitReal([this] { return !protoThreadBusy(&protocolState[ctx]); });
        QdCloseDevContext((uint16_t)ctx);
    }
    ftsimReset();
    simDeviceDestroy(dev);
}

uint32_t Bench::now() const { return osClockMs(); }

void Bench::setParam(uint16_t id, uint16_t channel, uint32_t code) {
    QdValue v;
    memset(&v, 0, sizeof v);
    v.code = code;
    ASSERT_EQ(QdSetParam(id, channel, &v), 0) << "parameter " << id << " channel " << channel;
}

void Bench::enableChannel(uint16_t channel, bool on) { setParam(QD_PAR_CHANNEL_ENABLE, channel, on ? 1 : 0); }

void Bench::step(uint32_t ms) {
    QdProtocolEngine();
    osClockAdvance(ms);
}

void Bench::run(uint32_t ms) {
    for (uint32_t i = 0; i < ms; i++) step(1);
}

bool Bench::runUntil(const std::function<bool()> &pred, uint32_t maxMs) {
    for (uint32_t i = 0; i <= maxMs; i++) {
        if (pred()) return true;
        step(1);
    }
    return pred();
}

bool Bench::runToState(uint16_t s, uint32_t maxMs) {
    return runUntil([this, s] { return state() == s; }, maxMs);
}

void Bench::startMeasuring(uint16_t flags) {
    ASSERT_EQ(QdStartMeasurement((uint16_t)ctx, flags), 0);
    ASSERT_TRUE(runToState((flags & 1) ? S_TEST : S_MEASURE)) << "state " << state();
}

std::vector<Bytes> Bench::written() {
    uint8_t buffer[4096];
    int n = ftsimTakeWritten(slot, buffer, sizeof buffer);
    std::vector<Bytes> frames;
    Receiver rx;
    rxReset(&rx);
    for (int i = 0; i < n; i++) {
        uint32_t len = 0;
        if (rxFeed(&rx, buffer[i], 0, &len) == RX_FRAME) frames.emplace_back(rx.body, rx.body + len);
    }
    return frames;
}

void Bench::inject(uint8_t code, const Bytes &payload) {
    simDeviceInjectFrame(dev, code, payload.empty() ? nullptr : payload.data(), payload.size(), now());
}

void Bench::injectRaw(const Bytes &bytes) { simDeviceInjectBytes(dev, bytes.data(), bytes.size(), now()); }

bool Bench::transceiverOpen() const {
    FtSimState s;
    ftsimGetState(slot, &s);
    return s.open != 0;
}

bool waitReal(const std::function<bool()> &pred, uint32_t maxMs) {
    for (uint32_t i = 0; i < maxMs; i += 2) {
        if (pred()) return true;
        osSleep(2);
    }
    return pred();
}

void DeviceTest::SetUp() {
    ProtocolTest::SetUp();
    ftsimReset();
    linkUseSockets(ftsimSocketApi());
    osClockSetManual(true, 100000);
    protoSetOsVersionOverride(-1);
}

void DeviceTest::TearDown() {
    ASSERT_TRUE(waitReal([] { return engineThreadState() == 0; })) << "engine thread still running";
    osClockSetManual(false, 0);
    linkUseSockets(nullptr);
    ProtocolTest::TearDown();
}
