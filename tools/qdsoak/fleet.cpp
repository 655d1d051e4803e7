// fleet.cpp - the ten contexts of a long run over the simulator library:
// devices, contexts at their heaviest configuration, the callbacks and the
// per-context tallies.
#include "tools/qdsoak/fleet.h"

#include <cstdio>
#include <cstring>

#include "link/link_kinds.h"
#include "tools/common/host.h"
#include "tools/qdacq/settings.h"

namespace {

Fleet g_fleet;
// The member of each context, for the callbacks (which run on the engine
// thread while the run's thread opens and closes contexts).
std::atomic<Member *> g_byContext[QD_MAX_CONTEXTS];

const char kHalvexPlus4Usb[] = "Quorvane Halvex+ 4 USB";
const char kHalvexPlus4Bt[] = "Quorvane Halvex+ 4 BT";
const char kHalvexPlus4Ble[] = "Quorvane Halvex+ 4 BLE";
const char kBrev[] = "Quorvane Brev 100";
const char kIdleModel[] = "Quorvane Halvex-2 USB";

// The device state byte of a device at rest (both families).
const int kDeviceAtRest = 1;

// Stop commands of the two device families, and the device state byte of
// a measuring device.
const int kHalvexStop = 0x0A;
const int kBrevStop = 0x0B;
const int kHalvexMeasuring = 5;
const int kBrevMeasuring = 3;

// The heaviest configuration of a Halvex+ 4: four voltage channels at
// 2000 sps with the 0.5 Hz high-pass filter, the button channel at 250 sps
// (8,250 samples a second); of the Brev, its one channel at 512 sps.
const char *const kHalvexPlus4Settings[] = {
    "Mains power frequency=50",      "Channel enable=1",
    "Channel function:0=Voltage",    "Channel function:1=Voltage",
    "Channel function:2=Voltage",    "Channel function:3=Voltage",
    "Measurement range:0=6000",      "Measurement range:1=6000",
    "Measurement range:2=6000",      "Measurement range:3=6000",
    "Lower limit frequency:0=0.5",   "Lower limit frequency:1=0.5",
    "Lower limit frequency:2=0.5",   "Lower limit frequency:3=0.5",
    "Sample rate:0=2000",            "Sample rate:1=2000",
    "Sample rate:2=2000",            "Sample rate:3=2000",
    "Sample rate:4=250",
};
const char *const kBrevSettings[] = {"Sample rate:0=512"};

const FamilyPlan kHalvexPlus4Plan = {kHalvexPlus4Settings, sizeof kHalvexPlus4Settings / sizeof *kHalvexPlus4Settings,
                                     kHalvexStop, kHalvexMeasuring, true};
const FamilyPlan kBrevPlan = {kBrevSettings, sizeof kBrevSettings / sizeof *kBrevSettings, kBrevStop,
                              kBrevMeasuring, false};

// The device names the Bluetooth LE devices announce.
const char kBleName[] = "Quorvane Halvex+ 4 BLE";

int QDCALL onSamples(uint16_t context, uint16_t phase, uint16_t, ChannelSamples *blocks) {
    Member *m = memberOf(context);
    if (!m || !blocks) return 0;
    int wait = g_fleet.blockContext.load() == (int)context ? g_fleet.blockMs.exchange(0) : 0;
    if (wait > 0) host::sleepMs((unsigned)wait);
    uint32_t ticks = 0;
    uint64_t samples = 0;
    double perTick = 0;
    for (int c = 0; c < m->channels; ++c) {
        const ChannelSamples &b = blocks[c];
        if (!b.samples) continue;
        uint32_t period = (uint32_t)b.rateMask + 1;
        samples += b.count;
        perTick += 1.0 / period;
        if (b.count * period > ticks) ticks = b.count * period;
    }
    double now = fleetNow();
    Tally &t = m->tally;
    std::lock_guard<std::mutex> guard(t.lock);
    ++t.packets;
    t.samples += samples;
    if (ticks == 0) return 0;
    uint16_t gap = (uint16_t)(phase - t.expected);
    if (gap != 0) {
        uint64_t lost = (uint64_t)(gap * perTick + 0.5);
        ++t.gaps;
        (now <= t.explainUntil ? t.explained : t.unexplained) += lost;
    }
    t.started = true;
    t.expected = (uint16_t)(phase + ticks);
    return 0;
}

void QDCALL onIndicator(uint16_t, uint16_t, uint16_t) {}

void QDCALL onMessage(uint16_t context, const char *text) {
    Member *m = memberOf(context);
    if (!m) return;
    std::lock_guard<std::mutex> guard(m->tally.lock);
    ++m->tally.messages;
    m->tally.lastMessage = text ? text : "";
}

// The simulator's slot for a plan's device, with the device behind it.
int placeDevice(const MemberPlan &plan) {
    const SimApi &sim = g_fleet.sim;
    int slot = simAddPort(sim, plan.link, plan.where, simNeedsBleStandIn(plan.link) ? kBleName : nullptr);
    if (slot < 0 || sim.AttachNewDeviceEx(slot, plan.model, nullptr, nullptr, 0) != slot) return -1;
    return slot;
}

bool applyAll(const char *const *settings, size_t count, std::string *why) {
    for (size_t i = 0; i < count; ++i) {
        if (!applySetting(g_fleet.api, g_fleet.logPath, settings[i], why)) return false;
    }
    return true;
}

}  // namespace

const MemberPlan FLEET_PLANS[FLEET_SIZE] = {
    {kHalvexPlus4Usb, QD_LINK_USB, "QVSOAK01", &kHalvexPlus4Plan},
    {kHalvexPlus4Usb, QD_LINK_USB, "QVSOAK02", &kHalvexPlus4Plan},
    {kHalvexPlus4Usb, QD_LINK_USB, "QVSOAK03", &kHalvexPlus4Plan},
    {kHalvexPlus4Usb, QD_LINK_USB, "QVSOAK04", &kHalvexPlus4Plan},
    {kHalvexPlus4Bt, QD_LINK_BT, "00:80:98:51:56:11", &kHalvexPlus4Plan},
    {kHalvexPlus4Bt, QD_LINK_BT, "00:80:98:51:56:12", &kHalvexPlus4Plan},
    {kHalvexPlus4Ble, QD_LINK_BLE, "00:80:98:51:57:11", &kHalvexPlus4Plan},
    {kHalvexPlus4Ble, QD_LINK_BLE, "00:80:98:51:57:12", &kHalvexPlus4Plan},
    {kBrev, QD_LINK_IRDA, "", &kBrevPlan},
    {kIdleModel, -1, "", nullptr},
};

Fleet &fleet() { return g_fleet; }

double fleetNow() { return host::seconds() - g_fleet.t0; }

bool memberActive(const Member &m) { return m.context >= 0 && m.plan.link >= 0; }

Member *memberOf(int context) {
    return context >= 0 && context < QD_MAX_CONTEXTS ? g_byContext[context].load() : nullptr;
}

bool fleetLoad(const FleetOptions &o, std::string *why) {
    std::string shared = o.sharedDir;
    if (shared.empty()) {
        char temp[512];
        shared = (osTempDir(temp, sizeof temp) > 0 ? std::string(temp) : std::string()) + "qdsoak-" +
                 std::to_string(osProcessId());
    }
    if (!host::setSharedDir(shared)) {
        *why = "cannot make the folder " + shared + " for the driver log";
        return false;
    }
    if (!simLoad(&g_fleet.sim, o.sim, why) || !simLoadBle(&g_fleet.sim, why)) return false;
    if (!driverLoad(&g_fleet.api, o.driver, QDACQ_HINTS, why)) return false;
    g_fleet.sim.Reset();
    g_fleet.logPath = host::driverLogPath();
    g_fleet.api.SetCallbacks(onSamples, onIndicator, onMessage);
    g_fleet.t0 = host::seconds();
    return true;
}

void fleetUnload() {
    for (int i = 0; i < g_fleet.count; ++i) fleetClose(&g_fleet.members[i]);
    g_fleet.api.SetCallbacks(nullptr, nullptr, nullptr);
    driverUnload(&g_fleet.api);
    g_fleet.sim.Reset();
    simUnload(&g_fleet.sim);
    g_fleet.count = 0;
}

bool fleetOpen(Member *m, const MemberPlan &plan, std::string *why) {
    m->plan = plan;
    if (plan.link >= 0 && m->slot < 0) {
        m->slot = placeDevice(plan);
        if (m->slot < 0) {
            *why = std::string("the simulator has no place for a ") + plan.model;
            return false;
        }
    }
    int16_t ctx = g_fleet.api.OpenDevContext(plan.model);
    if (ctx < 0) {
        *why = std::string("QdOpenDevContext(\"") + plan.model + "\") = " + std::to_string(ctx);
        return false;
    }
    m->channels = contextChannels(g_fleet.api);
    bool ok = true;
    if (plan.family) {
        ok = (!linkTakesDeviceId((uint32_t)plan.link) ||
              applySetting(g_fleet.api, g_fleet.logPath, std::string("Device id=") + plan.where, why)) &&
             applyAll(plan.family->settings, plan.family->settingCount, why);
    }
    if (!ok) {
        g_fleet.api.CloseDevContext((uint16_t)ctx);
        return false;
    }
    m->context = ctx;
    g_byContext[ctx].store(m);
    return true;
}

bool fleetOpenAll(int count, std::string *why) {
    g_fleet.count = count;
    for (int i = 0; i < count; ++i) {
        if (!fleetOpen(&g_fleet.members[i], FLEET_PLANS[i], why)) return false;
    }
    return true;
}

void fleetClose(Member *m) {
    if (m->context < 0) return;
    g_fleet.api.CloseDevContext((uint16_t)m->context);
    g_byContext[m->context].store(nullptr);
    m->context = -1;
}

int32_t fleetStart(Member *m, uint16_t flags) {
    {
        std::lock_guard<std::mutex> guard(m->tally.lock);
        m->tally.started = false;
        m->tally.expected = 0;
    }
    return g_fleet.api.StartMeasurement((uint16_t)m->context, (uint16_t)(QD_START_ENGINE_THREAD | flags));
}

bool fleetRestDevice(Member *m) {
    int state = g_fleet.sim.DeviceState(m->slot);
    if (state < 0 || state == kDeviceAtRest) return false;
    g_fleet.sim.DevicePowerCycle(m->slot);
    return true;
}

bool fleetWaitIdle(double seconds) {
    double until = host::seconds() + seconds;
    for (;;) {
        bool idle = true;
        for (int i = 0; i < g_fleet.count && idle; ++i) {
            const Member &m = g_fleet.members[i];
            idle = !memberActive(m) || g_fleet.api.ComState((uint16_t)m.context) == QD_COM_IDLE;
        }
        if (idle) return true;
        if (host::seconds() > until) return false;
        host::sleepMs(2);
    }
}

bool fleetWaitIdleOne(Member *m, double seconds) {
    double until = host::seconds() + seconds;
    while (g_fleet.api.ComState((uint16_t)m->context) != QD_COM_IDLE) {
        if (host::seconds() > until) return false;
        host::sleepMs(1);
    }
    return true;
}

bool fleetWaitSamples(Member *m, uint64_t samples, double seconds) {
    double until = host::seconds() + seconds;
    while (fleetTally(m).samples <= samples) {
        if (host::seconds() > until) return false;
        host::sleepMs(2);
    }
    return true;
}

void fleetExplain(Member *m, double until) {
    std::lock_guard<std::mutex> guard(m->tally.lock);
    if (until > m->tally.explainUntil) m->tally.explainUntil = until;
}

TallyView fleetTally(Member *m) {
    std::lock_guard<std::mutex> guard(m->tally.lock);
    const Tally &t = m->tally;
    return TallyView{t.samples, t.packets, t.gaps, t.explained, t.unexplained, t.messages, t.lastMessage};
}

int fleetStopCommand(const Member &m) { return m.plan.family ? m.plan.family->stopCommand : -1; }

bool fleetMeasuring(Member *m, uint64_t before) {
    const FamilyPlan *family = m->plan.family;
    if (!family || g_fleet.sim.DeviceState(m->slot) != family->measuringState) return false;
    return !family->samplesProveMeasuring || fleetTally(m).samples > before;
}
