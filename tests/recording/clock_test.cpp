// clock_test.cpp - the sample clock model on simulated arrivals: the drift
// is fitted, gaps are measured (beyond a turn of the phase on the host's
// clock, and for a device whose phase the driver counts), a reconnection
// places the packets anew.
#include <gtest/gtest.h>

#include <cmath>

#include "API/driver/ui/clockmodel.h"

namespace {

struct ClockRun {
    const char *name;
    double rate;            // nominal ticks per second
    uint16_t ticks;         // per packet
    bool counted;           // the driver counts the phase (it does not jump)
    double gapAt, gapS;     // no packet arrives in this span
    bool paused;            // the device's counter stops in the gap
    bool restart;           // a reconnection after the gap; the phase starts at 0 again
};

// 150 ppm fast, arrivals up to 4 ms late (a fixed pseudo-random walk).
const double FAST = 150e-6, DELAY = 0.004;

TEST(SampleClock, FitsTheDriftAndMeasuresGaps) {
    const ClockRun runs[] = {
        {"short gap", 2000, 16, false, 20, 2, false, false},
        {"gap longer than a turn", 2000, 16, false, 20, 40, false, false},
        {"counted, lost messages", 128, 16, true, 20, 0.5, false, false},
        {"counted, pause", 128, 16, true, 20, 3, true, false},
        {"reconnection, the counter restarts", 500, 16, false, 20, 3, false, true},
    };
    for (const ClockRun &r : runs) {
        SampleClock clock;
        sampleClockStart(&clock, r.rate, r.counted || r.paused, 1);
        double period = 1.0 / (r.rate * (1 + FAST));
        uint32_t x = 12345;
        uint64_t deviceTick = 0, lost = 0, trueLost = 0;
        uint16_t phase = 0;
        double worst = 0, pauseS = 0;
        for (double sent = 0; sent < 80;) {
            deviceTick += r.ticks;
            sent = (double)deviceTick * period + pauseS;
            if (sent >= r.gapAt && sent < r.gapAt + r.gapS) {
                if (r.paused) {
                    pauseS = r.gapS;
                    trueLost = (uint64_t)std::llround(r.gapS / period);
                    deviceTick -= r.ticks;
                    continue;
                }
                trueLost += r.ticks;
                if (!r.counted) phase = (uint16_t)(phase + r.ticks);
                continue;
            }
            if (r.restart && sent >= r.gapAt + r.gapS && !clock.rebase && lost == 0) {
                sampleClockReconnect(&clock);
                phase = 0;
            }
            if (r.counted && sent >= r.gapAt + r.gapS && lost == 0) sampleClockInterrupted(&clock);
            x = x * 1103515245u + 12345u;
            double arrival = sent + DELAY * (double)(x >> 16 & 0x7FFF) / 32768.0;
            ClockStep step = sampleClockPacket(&clock, phase, r.ticks, arrival);
            lost += step.lost;
            phase = (uint16_t)(phase + r.ticks);
            if (sent > 10) {
                worst = std::fmax(worst, std::fabs(sampleClockTime(&clock, (double)step.tick) -
                                                   (double)(deviceTick - r.ticks) * period - pauseS));
            }
        }
        // Measured on the host's clock: within a tick and the delays.
        double within = r.counted || r.restart ? 1 + DELAY * r.rate : 0;
        EXPECT_NEAR((double)lost, (double)trueLost, within) << r.name;
        EXPECT_LT(worst, r.counted || r.restart ? 1.5 / r.rate : 0.001) << r.name;
        EXPECT_NEAR(clockFitPpm(&clock.fit), FAST * 1e6, 2.0) << r.name;
    }
}

}  // namespace
