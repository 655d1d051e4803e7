// clock_bench.cpp - how close the sample clock model comes to the device's
// true sample instants.
//
// Simulated time, no waiting: a device at 2000 sps whose clock runs 200 ppm
// fast sends a packet of 16 ticks once its last tick has passed; each packet
// reaches the host after a random delay of up to 5 ms (in order, as a serial
// link delivers them), and the packets of 2 s are lost at 30 s. Every
// sample's time is taken as the host would take it, when its packet
// arrives. Printed: the maximum and the 99th percentile of the distance to
// the true instants over windows of the run, the fitted clock ratio, and
// what a gap longer than a turn of the 16-bit phase is measured as.
//
//   bench_clock [--seconds N] [--seed N]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "API/driver/ui/clockmodel.h"

namespace {

const double RATE = 2000.0;          // nominal ticks per second
const double FAST_PPM = 200.0;       // the device's clock runs fast by this
const double MAX_DELAY_S = 0.005;    // random arrival delay, uniform from 0
const uint16_t PACKET_TICKS = 16;
const double GAP_AT_S = 30.0, GAP_S = 2.0;

struct Window {
    const char *name;
    double from, to;                 // seconds of arrival
    std::vector<double> errors;      // |time - true instant|, seconds
};

uint64_t g_random = 0x9E3779B97F4A7C15ull;
double uniform() {
    g_random ^= g_random << 13;
    g_random ^= g_random >> 7;
    g_random ^= g_random << 17;
    return (double)(g_random >> 11) / 9007199254740992.0;
}

double percentile(std::vector<double> &v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = (size_t)std::ceil(p * (double)v.size()) - 1;
    return v[std::min(i, v.size() - 1)];
}

// Runs the device for `seconds` with a gap of gapS from gapAt; fills the
// windows and returns the clock after the run. *lostTicks: what the clock
// took the gap for; *trueLost: what it was.
SampleClock run(double seconds, double gapAt, double gapS, std::vector<Window> *windows, uint64_t *lostTicks,
                uint64_t *trueLost) {
    SampleClock clock;
    sampleClockStart(&clock, RATE, false, 1);
    double period = 1.0 / (RATE * (1.0 + FAST_PPM * 1e-6));
    double arrival = 0;
    *lostTicks = *trueLost = 0;
    for (uint64_t tick = 0; (double)tick * period < seconds; tick += PACKET_TICKS) {
        double sent = (double)(tick + PACKET_TICKS) * period;
        if (sent >= gapAt && sent < gapAt + gapS) {
            *trueLost += PACKET_TICKS;
            continue;
        }
        arrival = std::max(arrival, sent + uniform() * MAX_DELAY_S);
        ClockStep step = sampleClockPacket(&clock, (uint16_t)tick, PACKET_TICKS, arrival);
        *lostTicks += step.lost;
        for (Window &w : *windows) {
            if (arrival < w.from || arrival >= w.to) continue;
            for (uint16_t k = 0; k < PACKET_TICKS; k++) {
                double t = sampleClockTime(&clock, (double)(step.tick + k));
                w.errors.push_back(std::fabs(t - (double)(tick + k) * period));
            }
        }
    }
    return clock;
}

}  // namespace

int main(int argc, char **argv) {
    double seconds = 600;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
        if (std::strcmp(argv[i], "--seed") == 0) g_random = std::strtoull(argv[i + 1], nullptr, 10) | 1;
    }
    if (!(seconds >= 11)) seconds = 11;
    std::vector<Window> windows = {{"first second", 0, 1, {}},
                                   {"10 s (9 to 10 s)", 9, 10, {}},
                                   {"after the gap (32 to 33 s)", GAP_AT_S + GAP_S, GAP_AT_S + GAP_S + 1, {}},
                                   {"10 s on", 10, seconds, {}},
                                   {"the last second", seconds - 1, seconds, {}}};
    uint64_t lost, trueLost;
    SampleClock clock = run(seconds, GAP_AT_S, GAP_S, &windows, &lost, &trueLost);
    std::printf("clock model: %.0f sps, device clock %+.0f ppm, delays up to %.0f ms, a %.0f s gap at %.0f s, "
                "%.0f s of simulated time\n",
                RATE, FAST_PPM, MAX_DELAY_S * 1e3, GAP_S, GAP_AT_S, seconds);
    for (Window &w : windows) {
        if (w.errors.empty()) continue;
        double p99 = percentile(w.errors, 0.99);
        std::printf("  %-28s max %8.1f us   p99 %8.1f us   (%zu samples)\n", w.name, w.errors.back() * 1e6,
                    p99 * 1e6, w.errors.size());
    }
    std::printf("  fitted clock: %+.2f ppm (true %+.0f); gap of %llu ticks taken as %llu\n", clockFitPpm(&clock.fit),
                FAST_PPM, (unsigned long long)trueLost, (unsigned long long)lost);
    // A gap longer than a turn of the phase (65536 ticks, 32.8 s here).
    std::vector<Window> none;
    run(seconds < 100 ? seconds : 100, 20, 40, &none, &lost, &trueLost);
    std::printf("  a 40 s gap (%llu ticks, %.2f turns of the phase) taken as %llu ticks\n",
                (unsigned long long)trueLost, (double)trueLost / 65536.0, (unsigned long long)lost);
    std::printf("figure: clock_p99_us %.1f\n", percentile(windows[3].errors, 0.99) * 1e6);
    return 0;
}
