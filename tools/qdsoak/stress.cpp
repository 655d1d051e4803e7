// stress.cpp - the concurrency run: the whole fleet measures on the engine
// thread while two host threads query every context, the run's own thread
// stops and starts every context (some starts in the background and stopped
// while they connect, some stops while a link loss is being recovered),
// another thread starts and stops one context at the very moment the run's
// thread does the opposite, a sample callback blocks for 200 ms, and one
// context is closed while the others measure.
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/common/host.h"
#include "tools/qdsoak/fleet.h"
#include "tools/qdsoak/soak.h"

namespace {

// What a host sees of a slow callback of its own.
const int kBlockMs = 200;
// A stopped context is idle within this; a started one delivers within this.
const double kIdleSeconds = 5.0;
const double kDataSeconds = 5.0;
// Every so many cycles: a background start stopped while it connects, a
// stop during a link loss's recovery, a blocking callback, a racing start
// and stop.
const int kConnectEvery = 4;
const int kLinkLossEvery = 5;
const int kBlockEvery = 10;
const int kRaceEvery = 3;

std::atomic<bool> g_readersRun{false};
// The readers hold while the run opens a context: the parameters it sets go
// to the selected context, which the readers change.
std::atomic<bool> g_readersHold{false};
std::atomic<int> g_readersBusy{0};
std::atomic<uint64_t> g_reads{0};
std::atomic<uint64_t> g_badResults{0};
std::atomic<uint64_t> g_powerCycles{0};
std::atomic<uint64_t> g_startsEnded{0};

void bad(const char *what, long value, int context) {
    if (g_badResults.fetch_add(1) < 10) printf("qdsoak: %s gave %ld on context %d\n", what, value, context);
}

// One round of the queries over every context slot (open or not).
void queryAll(const DriverApi &api) {
    char text[256];
    for (uint16_t ctx = 0; ctx < QD_MAX_CONTEXTS; ++ctx) {
        int32_t com = api.ComState(ctx);
        if (com != QD_COM_IDLE && com != QD_COM_ACTIVE) bad("QdComState", com, ctx);
        for (uint16_t type = QD_IND_LINK; type <= QD_IND_SIGNAL; ++type) {
            int32_t ind = api.GetUserInd(ctx, type, 0);
            if (ind < -1 || ind > 0xFFFF) bad("QdGetUserInd", ind, ctx);
        }
        const char *serial = api.GetDevSN(ctx);
        if (serial && strlen(serial) > 13) bad("QdGetDevSN (length)", (long)strlen(serial), ctx);
        int16_t selected = api.SelectDevContext(ctx);
        if (selected != (int16_t)ctx && selected != -2) bad("QdSelectDevContext", selected, ctx);
        QdParamValue value;
        int got = api.GetParam(QD_PAR_CHANNEL_COUNT, 0, &value);
        if (got < 0) bad("QdGetParam", got, ctx);
        api.Param2Str(QD_PAR_SAMPLE_RATE, 0, text);
        text[sizeof text - 1] = '\0';
    }
    g_reads.fetch_add(1);
}

void readerThread(void *arg) {
    const DriverApi *api = static_cast<const DriverApi *>(arg);
    while (g_readersRun.load()) {
        g_readersBusy.fetch_add(1);
        if (!g_readersHold.load()) queryAll(*api);
        g_readersBusy.fetch_sub(1);
        host::sleepMs(1);
    }
}

// The racing thread: on a signal, starts (or stops) a context at the moment
// the run's thread does the opposite. It waits for the signal asleep, then
// says it is ready and spins for the last moment only.
struct Race {
    std::atomic<int> armed{0};   // 1 start, 2 stop, 3 end
    std::atomic<bool> ready{false};
    std::atomic<bool> go{false};
    std::atomic<bool> done{false};
    int16_t context = -1;
    int32_t result = 0;
};
Race g_race;

void racerThread(void *) {
    const DriverApi &api = fleet().api;
    for (;;) {
        int what;
        while ((what = g_race.armed.load()) == 0) host::sleepMs(1);
        if (what == 3) return;
        g_race.ready.store(true);
        while (!g_race.go.load()) {
        }
        g_race.result = what == 1 ? fleetStart(memberOf(g_race.context), 0) : api.StopMeasurement(g_race.context);
        g_race.armed.store(0);
        g_race.done.store(true);
    }
}

bool startResultDocumented(int32_t r) {
    return r == QD_MEAS_STARTED || r == QD_MEAS_LINK_NOT_OPENED || r == QD_MEAS_LINK_LIBRARY_FAILED ||
           r == QD_MEAS_CONNECTING || r == QD_MEAS_INVALID_CONTEXT;
}

bool stopResultDocumented(int32_t r) {
    return r == QD_MEAS_WAS_IDLE || r == QD_MEAS_STOPPING || r == QD_MEAS_INVALID_CONTEXT;
}

// Start on the racer, stop here (or the other way round), at once; then the
// member is brought to rest and started the plain way.
void race(Member *m, bool racerStarts) {
    g_race.context = m->context;
    g_race.ready.store(false);
    g_race.go.store(false);
    g_race.done.store(false);
    g_race.armed.store(racerStarts ? 1 : 2);
    while (!g_race.ready.load()) host::sleepMs(0);
    g_race.go.store(true);
    int32_t mine = racerStarts ? fleet().api.StopMeasurement((uint16_t)m->context) : fleetStart(m, 0);
    while (!g_race.done.load()) host::sleepMs(0);
    int32_t start = racerStarts ? g_race.result : mine, stop = racerStarts ? mine : g_race.result;
    if (!startResultDocumented(start)) bad("QdStartMeasurement (racing a stop)", start, m->context);
    if (!stopResultDocumented(stop)) bad("QdStopMeasurement (racing a start)", stop, m->context);
    fleet().api.StopMeasurement((uint16_t)m->context);
    if (!fleetWaitIdleOne(m, kIdleSeconds)) bad("idle after a racing start and stop", 0, m->context);
    int32_t r = fleetStart(m, 0);
    if (!startResultDocumented(r)) bad("QdStartMeasurement", r, m->context);
}

// The link loss of a member's device, recovered by the driver while the run
// stops the context.
void linkLoss(Member *m) {
    const SimApi &sim = fleet().sim;
    fleetExplain(m, fleetNow() + 5.0);
    if (sim.DropConnection(m->slot) == 0) return;
    sim.DeviceSetLinkUp(m->slot, 0);
    host::sleepMs(20);
    sim.DeviceSetLinkUp(m->slot, 1);
    sim.DeviceSendEvent(m->slot, 0x61, -1);
}

// Starts a member; a background start is stopped at once (while its
// connection thread runs) and started again.
void startMember(Member *m, int cycle) {
    bool background = cycle % kConnectEvery == 1;
    int32_t r = fleetStart(m, background ? QD_START_BACKGROUND : 0);
    if (!startResultDocumented(r)) bad("QdStartMeasurement", r, m->context);
    if (background) {
        int32_t s = fleet().api.StopMeasurement((uint16_t)m->context);
        if (!stopResultDocumented(s)) bad("QdStopMeasurement (while connecting)", s, m->context);
        if (!fleetWaitIdleOne(m, kIdleSeconds)) bad("idle after a stop while connecting", 0, m->context);
        r = fleetStart(m, 0);
        if (!startResultDocumented(r)) bad("QdStartMeasurement", r, m->context);
    }
}

// A start that the driver ended (the context idle again without data) is a
// documented outcome: after an injected link loss the device may have been
// left measuring, or the wire may still carry the rest of a message the
// fault cut, and the driver gives the start up on the first reply that
// makes no sense. The host does what its user would: the device is switched
// off and on, and the context started once more, which must deliver. A
// context that stays busy without data is never excused.
bool startAgain(Member *m) {
    if (fleet().api.ComState((uint16_t)m->context) != QD_COM_IDLE) return false;
    fleet().sim.DevicePowerCycle(m->slot);
    g_startsEnded.fetch_add(1);
    uint64_t before = fleetTally(m).samples;
    int32_t r = fleetStart(m, 0);
    if (!startResultDocumented(r)) bad("QdStartMeasurement", r, m->context);
    return fleetWaitSamples(m, before, kDataSeconds);
}

// One cycle over the fleet: stop every context (some during a link loss),
// wait for rest, start again, wait for data.
void cycle(int n) {
    Fleet &fl = fleet();
    for (int i = 0; i < fl.count; ++i) {
        Member *m = &fl.members[i];
        if (!memberActive(*m)) continue;
        if (n % kLinkLossEvery == 2) linkLoss(m);
        int32_t r = fl.api.StopMeasurement((uint16_t)m->context);
        if (!stopResultDocumented(r)) bad("QdStopMeasurement", r, m->context);
    }
    if (!fleetWaitIdle(kIdleSeconds)) bad("idle after the stops", n, -1);
    for (int i = 0; i < fl.count; ++i) {
        if (memberActive(fl.members[i]) && fleetRestDevice(&fl.members[i])) g_powerCycles.fetch_add(1);
    }
    uint64_t before[FLEET_SIZE];
    for (int i = 0; i < fl.count; ++i) {
        Member *m = &fl.members[i];
        if (!memberActive(*m)) continue;
        before[i] = fleetTally(m).samples;
        if (n % kRaceEvery == 0 && i == 0) {
            race(m, n % 2 == 0);
        } else {
            startMember(m, n);
        }
    }
    if (n % kBlockEvery == 0) {
        fl.blockMs.store(kBlockMs);
        fl.blockContext.store(fl.members[0].context);
    }
    for (int i = 0; i < fl.count; ++i) {
        Member *m = &fl.members[i];
        if (memberActive(*m) && !fleetWaitSamples(m, before[i], kDataSeconds) && !startAgain(m)) {
            bad("no data after the start", n, m->context);
        }
    }
}

// Closes a member's context while every other context measures, and opens
// it again with the readers held.
void closeAndReopen(Member *m) {
    fleetClose(m);
    host::sleepMs(50);
    g_readersHold.store(true);
    while (g_readersBusy.load() > 0) host::sleepMs(0);
    std::string why;
    if (!fleetOpen(m, m->plan, &why)) {
        printf("qdsoak: the closed context could not be opened again: %s\n", why.c_str());
        g_badResults.fetch_add(1);
    }
    g_readersHold.store(false);
}

}  // namespace

int runStress(const SoakOptions &o) {
    Fleet &fl = fleet();
    for (int i = 0; i < fl.count; ++i) {
        if (memberActive(fl.members[i])) startMember(&fl.members[i], 0);
    }
    g_readersRun.store(true);
    OsThread readers[2] = {osThreadStart(readerThread, &fl.api, 0, OS_PRIORITY_NORMAL),
                           osThreadStart(readerThread, &fl.api, 0, OS_PRIORITY_NORMAL)};
    OsThread racer = osThreadStart(racerThread, nullptr, 0, OS_PRIORITY_NORMAL);
    int closeAt = o.cycles / 2;
    Member *closing = &fl.members[3];
    for (int n = 1; n <= o.cycles; ++n) {
        cycle(n);
        if (n == closeAt) closeAndReopen(closing);
    }
    g_race.armed.store(3);
    osThreadJoin(racer);
    g_readersRun.store(false);
    for (OsThread t : readers) osThreadJoin(t);
    for (int i = 0; i < fl.count; ++i) {
        if (memberActive(fl.members[i])) fl.api.StopMeasurement((uint16_t)fl.members[i].context);
    }
    bool idle = fleetWaitIdle(kIdleSeconds);
    uint64_t samples = 0, unexplained = 0, explained = 0;
    for (int i = 0; i < fl.count; ++i) {
        TallyView v = fleetTally(&fl.members[i]);
        samples += v.samples;
        explained += v.explained;
        unexplained += v.unexplained;
    }
    printf("qdsoak: %d cycles over %d contexts, %" PRIu64 " query rounds, %" PRIu64 " samples, lost %" PRIu64
           " explained, %" PRIu64 " unexplained, %" PRIu64 " devices switched off and on, %" PRIu64
           " starts the driver gave up (started again), %" PRIu64
           " undocumented results; idle at the end: %s\n",
           o.cycles, fl.count, g_reads.load(), samples, explained, unexplained, g_powerCycles.load(),
           g_startsEnded.load(), g_badResults.load(), idle ? "yes" : "NO");
    bool ok = idle && unexplained == 0 && g_badResults.load() == 0 && fl.api.ComState(QD_ALL_CONTEXTS) == 0;
    printf("qdsoak: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
