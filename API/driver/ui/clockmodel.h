// clockmodel.h - the time of every sample: the device's sample counter
// mapped onto the host's monotonic clock.
//
// The device counts its sample instants (ticks of the fastest channel) in a
// 16-bit phase that wraps; SampleClock unwraps it into a 64-bit tick count
// and fits the arrival times of the packets against it. A packet leaves the
// device once its last tick has passed and arrives after a delay that is
// never negative, so the arrival times lie on or above the line
//     host seconds = offset + tick * period
// of the device's true sample instants (plus the link's least latency). The
// fit is the lower envelope of the points (tick after the packet, arrival):
// the edge of their lower convex hull above the points' mean tick, which
// minimises the summed delays of all points. Its slope is the device's tick
// period on the host's clock: a device clock that runs fast or slow gives
// times that are regular on the device's ticks and free of drift against the
// host. Until one second of ticks is covered, the nominal period is used.
//
// Lost ticks: the phase jump of a packet, plus as many whole turns of the
// 16-bit phase as the host's clock says have passed (a gap longer than one
// turn). A device whose phase is counted by the driver (it pauses, and its
// counter stops with it) has no jump to see: after an interruption the
// driver reported (a pause, a link error), a packet half its length late on
// the fit follows a gap, measured on the host's clock; without one it must
// be 2.5 packets and 250 ms late (less is the link's latency). A gap the phase shows keeps the fit; a gap measured on
// the host's clock (known to a tick) and a reconnection start a new one, the
// tick count going on from where the host's clock puts the first packet.
//
// Plain records, fixed arrays, no allocation; one thread at a time.
#pragma once

#include <cstdint>

const int CLOCK_HULL_POINTS = 512;        // vertices of the lower envelope kept
const double CLOCK_MIN_SPAN_S = 1.0;      // ticks covered before the slope is fitted

struct ClockPoint {
    double tick;     // ticks since the fit's first point
    double host;     // seconds since the fit's first point
};

// The online fit of host time against ticks.
struct ClockFit {
    double nominalPeriod = 0;   // seconds per tick as the device's rate says
    bool any = false;
    double tick0 = 0, host0 = 0;          // the first point (the origin of the others)
    ClockPoint hull[CLOCK_HULL_POINTS];   // lower convex hull, ticks increasing
    int count = 0;
    double sumTick = 0;                   // of every point (for their mean)
    uint64_t points = 0;
    // The line: host = host0 + offset + (tick - tick0) * period.
    double offset = 0, period = 0;
};

void clockFitReset(ClockFit *fit, double ticksPerSecond);
// One point: the tick after a packet's last tick, and its arrival time.
void clockFitAdd(ClockFit *fit, double tick, double host);
// Host seconds of a tick, and the tick at host seconds (the fit must have a
// point).
double clockFitTime(const ClockFit *fit, double tick);
double clockFitTick(const ClockFit *fit, double host);
// How far the device's clock runs fast against the host's, in parts per
// million (0 while the nominal period is used).
double clockFitPpm(const ClockFit *fit);

// The sample counter of one measurement: unwrapped ticks and the fit.
struct SampleClock {
    ClockFit fit;
    double ticksPerSecond = 0;
    bool counted = false;       // the driver counts the phase (no jumps to see)
    bool started = false;
    bool rebase = false;        // a reconnection: place the next packet by the host's clock
    bool interrupted = false;   // a pause or link error since the last packet
    uint64_t next = 0;          // the tick the next packet begins with when nothing is lost
    uint16_t nextPhase = 0;
    uint32_t align = 1;         // the slowest channel's period in ticks (a power of two)
};

// Where one packet lies: its first tick and the ticks lost before it.
struct ClockStep {
    uint64_t tick;
    uint64_t lost;
};

// A new measurement: ticks per second of the fastest channel; counted: the
// phase is the driver's count of samples (see above); align: the slowest
// channel's period in ticks (a power of two), which every packet's first tick
// keeps against its phase. The first packet is expected at phase 0, tick 0.
void sampleClockStart(SampleClock *clock, double ticksPerSecond, bool counted, uint32_t align);
// A packet of `ticks` ticks from `phase` on, arrived at host seconds `arrival`.
ClockStep sampleClockPacket(SampleClock *clock, uint16_t phase, uint16_t ticks, double arrival);
// The link was reconnected: the next packet is placed by the host's clock and
// starts a new fit, unless its phase agrees with that clock (the device went
// on counting).
void sampleClockReconnect(SampleClock *clock);
// The driver reported a pause or a link error: a device whose phase it
// counts may have stopped sending, and the next packet is measured.
void sampleClockInterrupted(SampleClock *clock);
// Host seconds of a tick; the tick (fractional) at host seconds. Before the
// first packet: 0.
double sampleClockTime(const SampleClock *clock, double tick);
double sampleClockTick(const SampleClock *clock, double host);
