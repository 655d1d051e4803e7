// cycles.cpp - open, measure and close, over and over: one context per link
// kind (or the one kind asked for), each cycle opening the contexts,
// starting them on the engine thread, waiting until every device measures
// (and the Halvex devices have delivered samples), stopping them, waiting
// for rest and closing them. The process's handles and threads must come
// back to their count after the warm-up, its memory within 256 KiB of it.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/link_kinds.h"
#include "tools/common/host.h"
#include "tools/qdsoak/fleet.h"
#include "tools/qdsoak/soak.h"

namespace {

// The first cycles load what the driver and the system load once (the
// link library, the Bluetooth LE functions, the log): the counts are taken
// after them.
const int kWarmUpCycles = 10;
const int64_t kRssSlack = 256 * 1024;
// Handles the system may create once, late, and keep (seen under Wine: one,
// after the warm-up, in one run of seven); a handle left behind by every
// cycle would leave hundreds.
const int kHandleSlack = 2;
const double kStepSeconds = 5.0;

// The first plan of the fleet on a link, or null.
const MemberPlan *planOf(int link) {
    for (const MemberPlan &p : FLEET_PLANS) {
        if (p.link == link) return &p;
    }
    return nullptr;
}

bool waitMeasuring(std::vector<Member *> &members, const std::vector<uint64_t> &before) {
    double until = host::seconds() + kStepSeconds;
    for (size_t i = 0; i < members.size(); ++i) {
        while (!fleetMeasuring(members[i], before[i])) {
            if (host::seconds() > until) return false;
            host::sleepMs(1);
        }
    }
    return true;
}

// One cycle; false (with a line) when a step failed.
bool oneCycle(std::vector<Member *> &members, int n) {
    std::string why;
    std::vector<uint64_t> before;
    for (Member *m : members) {
        before.push_back(fleetTally(m).samples);
        if (!fleetOpen(m, m->plan, &why)) {
            printf("qdsoak: cycle %d: %s\n", n, why.c_str());
            return false;
        }
        int32_t r = fleetStart(m, 0);
        if (r != QD_MEAS_STARTED) {
            printf("qdsoak: cycle %d: (%d) %s: QdStartMeasurement %d\n", n, m->context, m->plan.model, (int)r);
            return false;
        }
    }
    bool ok = waitMeasuring(members, before);
    if (!ok) printf("qdsoak: cycle %d: not every device measured within %.0f s\n", n, kStepSeconds);
    for (Member *m : members) fleet().api.StopMeasurement((uint16_t)m->context);
    for (Member *m : members) {
        if (!fleetWaitIdleOne(m, kStepSeconds)) {
            printf("qdsoak: cycle %d: (%d) not idle after the stop\n", n, m->context);
            ok = false;
        }
    }
    for (Member *m : members) fleetClose(m);
    return ok;
}

struct Counts {
    int handles, threads;
    int64_t rss;
};

Counts countsNow() { return Counts{osProcessHandleCount(), osProcessThreadCount(), osProcessResidentBytes()}; }

// After the last cycle the engine thread ends by itself: the counts are
// given a moment to come back.
Counts settledCounts(const Counts &base) {
    double until = host::seconds() + 3.0;
    Counts now = countsNow();
    while ((now.threads > base.threads || now.handles > base.handles) && host::seconds() < until) {
        host::sleepMs(20);
        now = countsNow();
    }
    return now;
}

}  // namespace

int runCycles(const SoakOptions &o) {
    Fleet &fl = fleet();
    std::vector<Member *> members;
    const LinkKind *asked = o.link == "all" ? nullptr : linkKindByName(o.link.c_str());
    for (const LinkKind &k : kLinkKinds) {
        const MemberPlan *plan = planOf(k.key);
        if ((asked && asked != &k) || !plan) continue;
        Member *m = &fl.members[fl.count++];
        m->plan = *plan;
        members.push_back(m);
    }
    if (members.empty() || (!asked && o.link != "all")) {
        std::string kinds;
        for (const LinkKind &k : kLinkKinds) {
            kinds += k.name;
            kinds += k.altName ? std::string(" (") + k.altName + "), " : std::string(", ");
        }
        printf("qdsoak: unknown link kind %s (%sor all)\n", o.link.c_str(), kinds.c_str());
        return 2;
    }
    Counts base = {};
    bool ok = true;
    double t0 = host::seconds();
    for (int n = 1; n <= o.cycles && ok; ++n) {
        if (n == kWarmUpCycles + 1) base = settledCounts(countsNow());
        ok = oneCycle(members, n);
    }
    Counts end = settledCounts(base);
    double took = host::seconds() - t0;
    printf("qdsoak: %d cycles of %zu link kind(s) in %.1f s (%.1f ms a cycle)\n", o.cycles, members.size(), took,
           1000.0 * took / (o.cycles > 0 ? o.cycles : 1));
    printf("qdsoak: after cycle %d: %s %d, threads %d, rss %.1f KiB; at the end: %d, %d, %.1f KiB\n",
           kWarmUpCycles, QD_HANDLE_WORD, base.handles, base.threads, base.rss / 1024.0, end.handles, end.threads,
           end.rss / 1024.0);
    if (ok && o.cycles > kWarmUpCycles) {
        if (end.handles > base.handles + kHandleSlack || end.threads > base.threads) {
            printf("qdsoak: FAIL: %s or threads left behind\n", QD_HANDLE_WORD);
            ok = false;
        }
        if (end.rss > base.rss + kRssSlack) {
            printf("qdsoak: FAIL: memory grew by %.1f KiB (at most 256 KiB)\n", (end.rss - base.rss) / 1024.0);
            ok = false;
        }
    }
    printf("qdsoak: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
