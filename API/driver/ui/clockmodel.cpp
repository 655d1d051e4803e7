// clockmodel.cpp - the lower envelope of packet arrivals, and the unwrapped
// sample counter (see clockmodel.h).
#include "API/driver/ui/clockmodel.h"

#include <cmath>
#include <cstring>

namespace {

const double PHASE_TURN = 65536.0;
// A fitted period further than this from the nominal one is no device's
// clock (too few points, or a host clock that jumped): the nominal one holds.
const double PERIOD_TOLERANCE = 0.01;
// A device whose phase the driver counts: after an interruption, a packet
// later than half its own length (and at least 50 ms) beyond the fit
// follows samples the device did not send.
const double COUNTED_GAP_MIN_S = 0.05;
// Without an interruption: later than 2.5 packets and 250 ms.
const double UNANNOUNCED_GAP_PACKETS = 2.5, UNANNOUNCED_GAP_MIN_S = 0.25;
// After a reconnection the phase is taken when it agrees with the host's
// clock within this (a device that went on counting).
const double REBASE_AGREEMENT_S = 0.25;

// Whether b lies on or above the line from a to c (b is then no vertex of
// the lower hull).
bool notBelow(const ClockPoint &a, const ClockPoint &b, const ClockPoint &c) {
    return (b.tick - a.tick) * (c.host - a.host) - (b.host - a.host) * (c.tick - a.tick) <= 0;
}

void useNominal(ClockFit *fit) {
    fit->period = fit->nominalPeriod;
    double best = fit->hull[0].host - fit->hull[0].tick * fit->period;
    for (int i = 1; i < fit->count; i++) {
        double v = fit->hull[i].host - fit->hull[i].tick * fit->period;
        if (v < best) best = v;
    }
    fit->offset = best;
}

// The hull edge above the mean tick: the line below every point with the
// least summed distance to them.
void refit(ClockFit *fit) {
    const ClockPoint *h = fit->hull;
    int n = fit->count;
    if (n < 2 || (h[n - 1].tick - h[0].tick) * fit->nominalPeriod < CLOCK_MIN_SPAN_S) {
        useNominal(fit);
        return;
    }
    double mean = fit->sumTick / (double)fit->points;
    int lo = 0, hi = n - 1;   // the edge [lo, lo + 1] that holds the mean
    while (hi - lo > 1) {
        int mid = (lo + hi) / 2;
        if (h[mid].tick <= mean) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    double period = (h[lo + 1].host - h[lo].host) / (h[lo + 1].tick - h[lo].tick);
    if (!(std::fabs(period / fit->nominalPeriod - 1.0) <= PERIOD_TOLERANCE)) {
        useNominal(fit);
        return;
    }
    fit->period = period;
    fit->offset = h[lo].host - h[lo].tick * period;
}

}  // namespace

void clockFitReset(ClockFit *fit, double ticksPerSecond) {
    fit->nominalPeriod = ticksPerSecond > 0 ? 1.0 / ticksPerSecond : 1.0;
    fit->any = false;
    fit->count = 0;
    fit->sumTick = 0;
    fit->points = 0;
    fit->offset = 0;
    fit->period = fit->nominalPeriod;
}

void clockFitAdd(ClockFit *fit, double tick, double host) {
    if (!fit->any) {
        fit->any = true;
        fit->tick0 = tick;
        fit->host0 = host;
    }
    ClockPoint p = {tick - fit->tick0, host - fit->host0};
    fit->sumTick += p.tick;
    fit->points++;
    // Ticks never go back; a point at the same tick counts by its lower time.
    if (fit->count > 0 && p.tick <= fit->hull[fit->count - 1].tick) {
        if (p.host >= fit->hull[fit->count - 1].host) return;
        p.tick = fit->hull[fit->count - 1].tick;
        fit->count--;
    }
    while (fit->count >= 2 && notBelow(fit->hull[fit->count - 2], fit->hull[fit->count - 1], p)) fit->count--;
    if (fit->count == CLOCK_HULL_POINTS) {
        // Full: the older half goes; the fit then rests on the recent points.
        int keep = CLOCK_HULL_POINTS / 2;
        std::memmove(fit->hull, fit->hull + (fit->count - keep), (size_t)keep * sizeof fit->hull[0]);
        fit->count = keep;
    }
    fit->hull[fit->count++] = p;
    refit(fit);
}

double clockFitTime(const ClockFit *fit, double tick) {
    return fit->host0 + fit->offset + (tick - fit->tick0) * fit->period;
}

double clockFitTick(const ClockFit *fit, double host) {
    return fit->tick0 + (host - fit->host0 - fit->offset) / fit->period;
}

double clockFitPpm(const ClockFit *fit) {
    // A device clock that runs fast makes its ticks shorter on the host's clock.
    return fit->period > 0 ? (fit->nominalPeriod / fit->period - 1.0) * 1e6 : 0.0;
}

void sampleClockStart(SampleClock *clock, double ticksPerSecond, bool counted, uint32_t align) {
    clockFitReset(&clock->fit, ticksPerSecond);
    clock->align = align > 0 && align <= 65536 && (align & (align - 1)) == 0 ? align : 1;
    clock->ticksPerSecond = ticksPerSecond;
    clock->counted = counted;
    clock->started = true;
    clock->rebase = false;
    clock->next = 0;
    clock->nextPhase = 0;
}

namespace {

// Ticks lost before a packet by what the phase and the host's clock say:
// jump is the phase's jump, excess the ticks the fit puts between the end
// the packet would have without a loss and its arrival.
double lostTicks(const SampleClock *clock, double jump, double excess, uint16_t ticks) {
    if (clock->counted) {
        // After an interruption the driver reported (a pause, a link error)
        // half a packet is a gap; without one only what no latency of the
        // link reaches is (lost messages).
        double rate = clock->ticksPerSecond;
        double least = clock->interrupted ? std::fmax(0.5 * ticks, COUNTED_GAP_MIN_S * rate)
                                          : std::fmax(UNANNOUNCED_GAP_PACKETS * ticks, UNANNOUNCED_GAP_MIN_S * rate);
        return excess > least ? std::floor(excess + 0.5) : 0;
    }

    // Whole turns of the phase that the jump cannot show.
    double turns = std::floor((excess - jump) / PHASE_TURN + 0.5);
    return jump + (turns > 0 ? turns : 0) * PHASE_TURN;
}

// The first packet after a reconnection. A device that went on counting
// (its phase agrees with the host's clock) keeps its fit; otherwise the
// host's clock places the packet and *reset asks for a new fit.
double rebaseTicks(const SampleClock *clock, double jump, double excess, bool *reset) {
    double measured = excess > 0 ? std::floor(excess + 0.5) : 0;
    *reset = true;
    if (clock->counted) return measured;
    double byPhase = lostTicks(clock, jump, excess, 0);
    if (std::fabs(byPhase - excess) > REBASE_AGREEMENT_S * clock->ticksPerSecond) return measured;
    *reset = false;
    return byPhase;
}

}  // namespace

ClockStep sampleClockPacket(SampleClock *clock, uint16_t phase, uint16_t ticks, double arrival) {
    double jump = clock->counted ? 0 : (double)(uint16_t)(phase - clock->nextPhase);
    double lost = jump;
    bool reset = false;
    if (clock->fit.any) {
        double excess = clockFitTick(&clock->fit, arrival) - (double)(clock->next + ticks);
        lost = clock->rebase ? rebaseTicks(clock, jump, excess, &reset) : lostTicks(clock, jump, excess, ticks);
        // A gap measured on the host's clock is known to a tick only: the
        // points after it would bend the old fit.
        if (clock->counted && lost > 0) reset = true;
    }
    uint64_t tick = clock->next + (uint64_t)lost;
    // Every channel keeps its place among the ticks: (tick - phase) stays a
    // multiple of the slowest channel's period.
    uint32_t off = (uint32_t)(uint16_t)(tick - phase) % clock->align;
    if (off != 0) tick += clock->align - off;
    ClockStep step = {tick, tick - clock->next};
    clock->next = tick + ticks;
    clock->nextPhase = (uint16_t)(phase + ticks);
    clock->rebase = false;
    clock->interrupted = false;
    if (reset) clockFitReset(&clock->fit, clock->ticksPerSecond);
    clockFitAdd(&clock->fit, (double)clock->next, arrival);
    return step;
}

void sampleClockReconnect(SampleClock *clock) {
    if (clock->fit.any) clock->rebase = true;
}

void sampleClockInterrupted(SampleClock *clock) { clock->interrupted = true; }

double sampleClockTime(const SampleClock *clock, double tick) {
    return clock->fit.any ? clockFitTime(&clock->fit, tick) : 0.0;
}

double sampleClockTick(const SampleClock *clock, double host) {
    return clock->fit.any ? clockFitTick(&clock->fit, host) : 0.0;
}
