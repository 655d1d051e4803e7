// soak.cpp - the long run: the fleet measures while the simulator's faults
// strike at seeded random moments, measurements a fault ended are started
// again, and once an interval a line tells samples, losses and resources.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tools/common/host.h"
#include "tools/qdsoak/fleet.h"
#include "tools/qdsoak/soak.h"

namespace {

// After a fault's own duration, gaps are still put down to it for this long:
// the reconnection, the data watch and the reply timers of the way back.
const double kExplainMargin = 5.0;
// A start that failed (a device still out of reach) is tried again after this.
const double kRetrySeconds = 1.0;
// RSS may grow this much after the warm-up intervals, no more.
const int64_t kRssSlack = 1 << 20;
const int kWarmUpIntervals = 5;

// Bluetooth LE flow-control message types of the device.
const int kFlowInitial = 0;
const int kFlowFreed = 1;
const uint32_t kBleFlood = 1u << 4;   // FTSIM_BLE_FLOOD

enum Extra { NONE, BLE_FLOOD, BLE_FLOW };

// One member's faults and restarts.
struct Watch {
    std::vector<SimFault> faults;
    double nextFault = 0;
    double retryAt = 0;
    double floodUntil = -1;
    uint64_t injected = 0, restarts = 0, startsFailed = 0, powerCycles = 0;
};

// The process's resources at one moment.
struct Usage {
    int64_t rss = -1;
    int handles = -1;
    int threads = -1;
    double cpu = 0;
};

Usage usageNow() {
    return Usage{osProcessResidentBytes(), osProcessHandleCount(), osProcessThreadCount(), osProcessCpuSeconds()};
}

bool g_verbose = false;

void say(const std::string &line) {
    if (g_verbose) printf("  %s\n", line.c_str());
}

double uniform(std::mt19937 &rng, double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
}

// A fault for a member of the given link at run second t; its window length
// in *length. Bluetooth LE devices also get credit faults (extra).
SimFault pickFault(std::mt19937 &rng, const Member &m, double t, double *length, Extra *extra) {
    SimFault f;
    f.at = t;
    *extra = NONE;
    int kinds = simNeedsBleStandIn(m.plan.link) ? 8 : 6;
    switch (std::uniform_int_distribution<int>(0, kinds - 1)(rng)) {
    case 0: f.kind = SimFault::LINK_LOSS; f.ms = (uint32_t)uniform(rng, 200, 1500); break;
    case 1: f.kind = SimFault::UNPLUG; f.ms = (uint32_t)uniform(rng, 300, 3000); break;
    case 2: f.kind = SimFault::PHASE_GAP; f.count = (uint32_t)uniform(rng, 1, 6); break;
    case 3: f.kind = SimFault::SILENCE; f.ms = (uint32_t)uniform(rng, 200, 4000); break;
    case 4: f.kind = SimFault::GARBAGE; f.count = (uint32_t)uniform(rng, 4, 64); break;
    case 5: f.kind = SimFault::LOST_REPLY; f.code = fleetStopCommand(m); break;
    case 6: *extra = BLE_FLOOD; f.ms = (uint32_t)uniform(rng, 100, 1000); break;
    default: *extra = BLE_FLOW; break;
    }
    *length = f.ms / 1000.0 + kExplainMargin;
    return f;
}

const char *faultName(const SimFault &f, Extra extra) {
    static const char *const names[] = {"lost reply", "link loss", "unplug", "phase gap", "silence", "garbage"};
    if (extra == BLE_FLOOD) return "credit ignored";
    if (extra == BLE_FLOW) return "bogus flow control";
    return f.kind <= SimFault::GARBAGE ? names[f.kind] : "fault";
}

// Injects the next fault of a member when it is due.
void injectDue(std::mt19937 &rng, const SoakOptions &o, Member &m, Watch &w, double t) {
    Fleet &fl = fleet();
    if (w.floodUntil >= 0 && t >= w.floodUntil) {
        fl.sim.BleSetFaults(m.slot, 0, 0);
        w.floodUntil = -1;
    }
    simFaultsRun(fl.sim, m.slot, &w.faults, t, say);
    // Faults that are over are forgotten: the run's own bookkeeping must not
    // grow with its length.
    w.faults.erase(std::remove_if(w.faults.begin(), w.faults.end(), [](const SimFault &f) { return f.stage == 2; }),
                   w.faults.end());
    if (t < w.nextFault) return;
    w.nextFault = t + uniform(rng, 0.5, 1.5) * o.faultEvery;
    double length = 0;
    Extra extra = NONE;
    SimFault f = pickFault(rng, m, t, &length, &extra);
    fleetExplain(&m, t + length);
    ++w.injected;
    if (g_verbose) printf("  [%7.1f s] (%d) %s\n", t, m.context, faultName(f, extra));
    if (extra == BLE_FLOOD) {
        fl.sim.BleSetFaults(m.slot, kBleFlood, 0);
        w.floodUntil = t + f.ms / 1000.0;
    } else if (extra == BLE_FLOW) {
        bool freed = rng() % 2 == 0;
        fl.sim.BleSendFlow(m.slot, freed ? kFlowFreed : kFlowInitial, (uint32_t)uniform(rng, 16, 2047));
    } else if (f.kind == SimFault::LOST_REPLY) {
        // The reply to the stop is lost: the reply timer ends the measurement.
        fl.sim.DeviceSetFault(m.slot, f.code, 1, 0, 1);
        fl.api.StopMeasurement((uint16_t)m.context);
    } else {
        w.faults.push_back(f);
        simFaultsRun(fl.sim, m.slot, &w.faults, t, say);
    }
}

// Starts a member again that a fault left idle.
void keepMeasuring(Member &m, Watch &w, double t, bool first) {
    Fleet &fl = fleet();
    if (fl.api.ComState((uint16_t)m.context) != QD_COM_IDLE || t < w.retryAt) return;
    if (fleetRestDevice(&m)) ++w.powerCycles;
    int32_t r = fleetStart(&m, 0);
    if (r == QD_MEAS_STARTED || r == QD_MEAS_CONNECTING) {
        if (!first) ++w.restarts;
    } else {
        ++w.startsFailed;
        w.retryAt = t + kRetrySeconds;
    }
}

// Once an interval the sample callback of one context blocks for 200 ms,
// as a slow host's would: no other context may lose a sample for it (their
// transports hold far more than 200 ms), nor the blocked one.
const int kBlockMs = 200;

void blockOneCallback(std::mt19937 &rng) {
    Fleet &fl = fleet();
    const Member &m = fl.members[rng() % FLEET_PLANS_ACTIVE];
    fl.blockMs.store(kBlockMs);
    fl.blockContext.store(m.context);
}

// What one interval saw.
struct Interval {
    int number = 0;
    Usage first, last;
    int minHandles = -1, minThreads = -1;
    uint64_t samples[FLEET_SIZE] = {};
};

void noteUsage(Interval *iv) {
    Usage u = usageNow();
    if (u.handles >= 0 && (iv->minHandles < 0 || u.handles < iv->minHandles)) iv->minHandles = u.handles;
    if (u.threads >= 0 && (iv->minThreads < 0 || u.threads < iv->minThreads)) iv->minThreads = u.threads;
    iv->last = u;
}

std::string label(const SoakOptions &o, int number) {
    char text[32];
    if (o.interval == 60) {
        snprintf(text, sizeof text, "[%3d min]", number);
    } else {
        snprintf(text, sizeof text, "[%5.0f s]", number * o.interval);
    }
    return text;
}

// Totals over the fleet.
struct Totals {
    uint64_t samples = 0, explained = 0, unexplained = 0, injected = 0, restarts = 0;
};

Totals totals(const std::vector<Watch> &watch) {
    Fleet &fl = fleet();
    Totals t;
    for (int i = 0; i < fl.count; ++i) {
        TallyView v = fleetTally(&fl.members[i]);
        t.samples += v.samples;
        t.explained += v.explained;
        t.unexplained += v.unexplained;
        t.injected += watch[i].injected;
        t.restarts += watch[i].restarts;
    }
    return t;
}

// Prints the interval's line.
void report(const SoakOptions &o, const Interval &iv, const std::vector<Watch> &watch) {
    Fleet &fl = fleet();
    std::string line = label(o, iv.number) + " samples";
    char part[96];
    for (int i = 0; i < fl.count; ++i) {
        if (!memberActive(fl.members[i])) continue;
        snprintf(part, sizeof part, " %d:%" PRIu64, fl.members[i].context,
                 fleetTally(&fl.members[i]).samples - iv.samples[i]);
        line += part;
    }
    Totals t = totals(watch);
    double wall = o.interval > 0 ? o.interval : 1;
    snprintf(part, sizeof part, " | lost: explained %" PRIu64 ", unexplained %" PRIu64, t.explained, t.unexplained);
    line += part;
    snprintf(part, sizeof part, " | faults %" PRIu64 ", restarts %" PRIu64, t.injected, t.restarts);
    line += part;
    snprintf(part, sizeof part, " | rss %.1f MiB, %s %d, threads %d, cpu %.1f%%", iv.last.rss / 1048576.0,
             QD_HANDLE_WORD, iv.minHandles, iv.minThreads, 100.0 * (iv.last.cpu - iv.first.cpu) / wall);
    line += part;
    printf("%s\n", line.c_str());
    fflush(stdout);
}

// The interval whose handle and thread counts the later ones may not
// exceed: the first that ends after every context has had its first fault
// (within 1.5 fault periods) and an interval to recover from it. A first
// fault may load what is loaded once (under Wine the reconnection's and the
// sockets' handles); a leak shows as growth after that.
int baselineInterval(const SoakOptions &o) {
    if (o.faultEvery <= 0 || o.interval <= 0) return 1;
    return (int)std::ceil(1.5 * o.faultEvery / o.interval) + 1;
}

// The checks of an interval against the baseline interval and the
// warm-up's end; prints what failed and returns false.
bool checkInterval(const Interval &iv, const Interval &base, int64_t warmRss, const std::vector<Watch> &watch) {
    bool ok = true;
    static uint64_t s_reported = 0;
    uint64_t unexplained = totals(watch).unexplained;
    if (unexplained > s_reported) {
        printf("qdsoak: FAIL: %" PRIu64 " samples were lost that no injected fault explains\n",
               unexplained - s_reported);
        s_reported = unexplained;
        ok = false;
    }
    if (iv.number > base.number && iv.minHandles > base.minHandles) {
        printf("qdsoak: FAIL: %s %d, above the %d of interval %d\n", QD_HANDLE_WORD, iv.minHandles, base.minHandles,
               base.number);
        ok = false;
    }
    if (iv.number > base.number && iv.minThreads > base.minThreads) {
        printf("qdsoak: FAIL: threads %d, above the %d of interval %d\n", iv.minThreads, base.minThreads,
               base.number);
        ok = false;
    }
    if (warmRss > 0 && iv.last.rss > warmRss + kRssSlack) {
        printf("qdsoak: FAIL: RSS %.2f MiB, more than 1 MiB above the %.2f MiB after interval %d\n",
               iv.last.rss / 1048576.0, warmRss / 1048576.0, kWarmUpIntervals);
        ok = false;
    }
    return ok;
}

// Stops the fleet at the end and prints the totals per context.
void finish(const std::vector<Watch> &watch) {
    Fleet &fl = fleet();
    for (int i = 0; i < fl.count; ++i) {
        if (memberActive(fl.members[i])) fl.api.StopMeasurement((uint16_t)fl.members[i].context);
    }
    bool idle = fleetWaitIdle(5.0);
    for (int i = 0; i < fl.count; ++i) {
        const Member &m = fl.members[i];
        if (!memberActive(m)) continue;
        TallyView v = fleetTally(&fl.members[i]);
        printf("  (%d) %s: %" PRIu64 " samples, %" PRIu64 " gaps (%" PRIu64 " samples explained, %" PRIu64
               " not), %" PRIu64 " faults, %" PRIu64 " restarts, %" PRIu64 " failed starts, %" PRIu64
               " power cycles\n",
               m.context, m.plan.model, v.samples, v.gaps, v.explained, v.unexplained, watch[i].injected,
               watch[i].restarts, watch[i].startsFailed, watch[i].powerCycles);
    }
    printf("qdsoak: every context idle after the stop: %s\n", idle ? "yes" : "NO");
}

}  // namespace

int runSoak(const SoakOptions &o) {
    Fleet &fl = fleet();
    g_verbose = o.verbose;
    std::mt19937 rng(o.seed);
    std::vector<Watch> watch(fl.count);
    for (int i = 0; i < fl.count; ++i) {
        if (memberActive(fl.members[i])) keepMeasuring(fl.members[i], watch[i], 0, true);
        watch[i].nextFault = uniform(rng, 0.5, 1.5) * o.faultEvery;
    }
    int intervals = (int)(o.seconds / o.interval + 0.999);
    Interval iv, base;
    const int baseline = baselineInterval(o);
    base.number = baseline;
    iv.number = 1;
    iv.first = usageNow();
    int64_t warmRss = -1;
    bool ok = true;
    double nextUsage = 0;
    while (iv.number <= intervals) {
        double t = fleetNow();
        for (int i = 0; i < fl.count; ++i) {
            Member &m = fl.members[i];
            if (!memberActive(m)) continue;
            injectDue(rng, o, m, watch[i], t);
            keepMeasuring(m, watch[i], t, false);
        }
        if (t >= nextUsage) {
            noteUsage(&iv);
            nextUsage = t + 1.0;
        }
        if (t >= iv.number * o.interval) {
            blockOneCallback(rng);
            report(o, iv, watch);
            if (iv.number == baseline) base = iv;
            ok = checkInterval(iv, base, warmRss, watch) && ok;
            if (iv.number == kWarmUpIntervals) warmRss = iv.last.rss;
            Interval next;
            next.number = iv.number + 1;
            next.first = iv.last;
            for (int i = 0; i < fl.count; ++i) next.samples[i] = fleetTally(&fl.members[i]).samples;
            iv = next;
        }
        host::sleepMs(20);
    }
    finish(watch);
    printf("qdsoak: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
