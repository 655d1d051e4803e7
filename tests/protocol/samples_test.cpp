// samples_test.cpp - decoding of the data notifications: interleaving by
// rate, phase watch, signal states, the high-pass filter (checked against
// the coefficient rule computed here), test mode, and staging limits.
#include <cmath>
#include <cstring>
#include <vector>

#include "API/driver/protocol/protocol.h"
#include "tests/protocol/harness.h"
#include "tests/support/log_lines.h"

namespace {

const double kPi = 3.14159265358979323846;

const uint16_t CTX = 7;

struct ChannelSetup {
    bool on;
    uint8_t kind;
    uint8_t rate;
    uint8_t highPass;
};

class Samples : public ProtocolTest {
protected:
    ProtocolState *ps = &protocolState[CTX];

    void prepare(std::vector<ChannelSetup> channels, uint16_t mode = 0, uint16_t model = 4) {
        memset(ps, 0, sizeof *ps);
        ps->context = CTX;
        ps->channels = (uint16_t)channels.size();
        ps->mode = mode;
        ps->state = 9;
        for (size_t i = 0; i < channels.size(); i++) {
            uint8_t *rec = ps->image + 16 + 6 * i;
            rec[0] = channels[i].on ? 0x80 : 0;
            rec[1] = channels[i].kind;
            rec[3] = channels[i].rate;
            rec[4] = channels[i].highPass;
        }
        samplesPrepare(ps, model, 6);
    }

    static std::vector<uint8_t> data(uint16_t phase, uint16_t status, const std::vector<int16_t> &samples) {
        std::vector<uint8_t> m = {0xC1, (uint8_t)phase, (uint8_t)(phase >> 8), (uint8_t)status,
                                  (uint8_t)(status >> 8)};
        for (int16_t s : samples) {
            m.push_back((uint8_t)(uint16_t)s);
            m.push_back((uint8_t)((uint16_t)s >> 8));
        }
        return m;
    }

    void handle(const std::vector<uint8_t> &m) { samplesHandleData(ps, m.data(), (uint32_t)m.size()); }

    SamplePacket last() {
        auto packets = g_recorder.packetsCopy();
        EXPECT_FALSE(packets.empty());
        return packets.empty() ? SamplePacket() : packets.back();
    }
};

// High-pass output computed from the coefficient rule, independently of the
// driver: w = 2^(11 - rate) * F * 0.6 pi / 2000.
struct ReferenceFilter {
    double a, b, y = 0;
    int64_t xPrev = 0;
    bool primed = false;
    ReferenceFilter(int rate, double f) {
        double w = std::pow(2.0, 11 - rate) * f * 0.6 * kPi / 2000.0;
        a = 1 - w;
        b = 2 * w - 1;
    }
    int32_t step(int16_t s) {
        int64_t x = (int64_t)s * 65536;
        if (!primed) {
            primed = true;
            xPrev = x;
            return (int32_t)x;
        }
        if (s == 32767 || s == -32768) return (int32_t)x;
        y = (double)(x - xPrev) * a - b * y;
        xPrev = x;
        double out = std::trunc(y);
        if (out > 2147483647.0) out = 2147483647.0;
        if (out < -2147483648.0) out = -2147483648.0;
        return (int32_t)out;
    }
};

}  // namespace

TEST_F(Samples, ChannelsInterleaveByRate) {
    prepare({{true, 0, 8, 3}, {true, 0, 7, 3}});
    EXPECT_EQ(ps->staging.blocks[0].rateMask, 0);
    EXPECT_EQ(ps->staging.blocks[1].rateMask, 1);
    handle(data(0, 0, {1, 2, 3, 4, 5, 6}));
    SamplePacket p = last();
    EXPECT_EQ(p.context, CTX);
    EXPECT_EQ(p.phase, 0);
    // Ticks 0..3 deliver A, A B, A, A B.
    EXPECT_EQ(p.channels[0], (std::vector<int32_t>{1 << 16, 2 << 16, 4 << 16, 5 << 16}));
    EXPECT_EQ(p.channels[1], (std::vector<int32_t>{3 << 16, 6 << 16}));
    EXPECT_FALSE(p.delivered[2]);
    EXPECT_EQ(ps->staging.expectedPhase, 4);
    EXPECT_TRUE(protoTimerRunning(ps, INT_T3 - INT_T1));
}

TEST_F(Samples, PhaseGapIsReportedAndDecodingFollowsTheReceivedPhase) {
    prepare({{true, 0, 8, 3}, {true, 0, 7, 3}});
    handle(data(0, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    ASSERT_EQ(ps->staging.expectedPhase, 8);
    g_recorder.clear();
    LogWatch log;
    handle(data(10, 0, {1, 2, 3}));
    EXPECT_TRUE(log.contains(errorLine("(7) " + std::string(kLogLinkErrorLoss))));
    EXPECT_TRUE(log.contains("# Sample data loss (cur.ph. 10, exp.ph. 8)\n"));
    EXPECT_TRUE(g_recorder.hasIndicator(CTX, QD_IND_LINK, 2));
    EXPECT_TRUE(protoTimerRunning(ps, INT_T4 - INT_T1));
    SamplePacket p = last();
    EXPECT_EQ(p.phase, 10);
    // Tick 10: A; tick 11: A B.
    EXPECT_EQ(p.channels[0], (std::vector<int32_t>{1 << 16, 2 << 16}));
    EXPECT_EQ(p.channels[1], (std::vector<int32_t>{3 << 16}));
    EXPECT_EQ(ps->staging.expectedPhase, 12);
}

TEST_F(Samples, MessageWithoutSamplesUpdatesStatesOnly) {
    prepare({{true, 0, 7, 3}, {true, 0, 7, 3}});
    handle(data(0, 0, {5, 6}));
    ASSERT_EQ(ps->staging.expectedPhase, 1);
    g_recorder.clear();
    handle(data(33, 0x0009, {}));
    SamplePacket p = last();
    EXPECT_EQ(p.channels[0].size(), 0u);
    EXPECT_TRUE(p.delivered[0]);
    EXPECT_FALSE(g_recorder.hasIndicator(CTX, QD_IND_LINK, 2)) << "no samples, no loss";
    // SUM state 1, channel A state 2, channel B state 0.
    auto ind = g_recorder.indicatorsCopy();
    ASSERT_EQ(ind.size(), 2u);
    EXPECT_EQ(ind[0], (IndicatorCall{CTX, QD_IND_SIGNAL, 1}));
    EXPECT_EQ(ind[1], (IndicatorCall{CTX, QD_IND_SIGNAL, 258}));
    EXPECT_EQ(p.sumState, 1);
    EXPECT_EQ(p.signalStates[0], 2);
    EXPECT_EQ(ps->staging.expectedPhase, 33);
    // Unchanged states are not reported again.
    g_recorder.clear();
    handle(data(33, 0x0009, {}));
    EXPECT_TRUE(g_recorder.indicatorsCopy().empty());
}

TEST_F(Samples, HighPassFilterFollowsTheCoefficientRule) {
    prepare({{true, 0, 7, 0}, {true, 0, 9, 1}, {true, 0, 9, 2}, {true, 0, 9, 3}});
    ReferenceFilter fa(7, 0.5), fb(9, 0.05), fc(9, 0.01);
    std::vector<int16_t> in;
    std::vector<int32_t> wantA, wantB, wantC, wantD;
    // Rates 7 and 9: m = 9, A every 4th tick, B C D at every tick.
    uint16_t t = 0;
    int16_t value = 100;
    for (int tick = 0; tick < 5; tick++, t++) {
        if (((t + 1) & 3) == 0) {
            in.push_back(value);
            wantA.push_back(fa.step(value));
            value = (int16_t)(value * 3 - 77);
        }
        for (ReferenceFilter *f : {&fb, &fc}) {
            in.push_back(value);
            (f == &fb ? wantB : wantC).push_back(f->step(value));
            value = (int16_t)(value * 5 + 1234);
        }
        in.push_back(value);
        wantD.push_back((int32_t)value * 65536);
        value = (int16_t)(value - 999);
    }
    handle(data(0, 0, in));
    SamplePacket p = last();
    EXPECT_EQ(p.channels[0], wantA);
    EXPECT_EQ(p.channels[1], wantB);
    EXPECT_EQ(p.channels[2], wantC);
    EXPECT_EQ(p.channels[3], wantD) << "high-pass choice 3 is unfiltered";
}

TEST_F(Samples, SaturatedSamplesPassTheFilterUnchanged) {
    prepare({{true, 0, 7, 0}});
    ReferenceFilter ref(7, 0.5);
    std::vector<int16_t> in = {1000, 2000, 32767, 3000, -32768, -32768, 2500};
    std::vector<int32_t> want;
    for (int16_t s : in) want.push_back(ref.step(s));
    handle(data(0, 0, in));
    SamplePacket p = last();
    EXPECT_EQ(p.channels[0], want);
    EXPECT_EQ(p.channels[0][2], 32767 * 65536);
    EXPECT_EQ(p.channels[0][4], -32768 * 65536);
}

// A full-scale step doubles the 32-bit range in the filter output: it
// saturates instead of overflowing the conversion.
TEST_F(Samples, FilterOutputSaturatesOnFullScaleSteps) {
    prepare({{true, 0, 11, 2}});
    handle(data(0, 0, {-32767, 32766}));
    SamplePacket p = last();
    ASSERT_EQ(p.channels[0].size(), 2u);
    EXPECT_EQ(p.channels[0][1], 2147483647);
    prepare({{true, 0, 11, 2}});
    handle(data(0, 0, {32766, -32767}));
    p = last();
    ASSERT_EQ(p.channels[0].size(), 2u);
    EXPECT_EQ(p.channels[0][1], (int32_t)-2147483647 - 1);
}

TEST_F(Samples, FirstGenerationAndTestModeAreUnfiltered) {
    prepare({{true, 0, 7, 0}}, 0, 2);
    handle(data(0, 0, {100, 200}));
    EXPECT_EQ(last().channels[0], (std::vector<int32_t>{100 << 16, 200 << 16}));

    // Test mode: no masks, no filter, channels of kind 4 and above take nothing.
    g_recorder.clear();
    prepare({{true, 0, 7, 0}, {true, 4, 6, 3}, {true, 1, 4, 3}}, 1);
    EXPECT_EQ(ps->staging.blocks[2].rateMask, 0);
    handle(data(0, 0, {1, 2, 3, 4, 5}));
    SamplePacket p = last();
    EXPECT_EQ(p.channels[0], (std::vector<int32_t>{1 << 16, 3 << 16, 5 << 16}));
    EXPECT_TRUE(p.channels[1].empty());
    EXPECT_EQ(p.channels[2], (std::vector<int32_t>{2 << 16, 4 << 16}));
    EXPECT_EQ(ps->staging.expectedPhase, 3);
}

TEST_F(Samples, ChannelsThatAreOffGetNoBlock) {
    prepare({{false, 0, 7, 3}, {true, 0, 7, 3}});
    handle(data(0, 0x000C, {9}));
    SamplePacket p = last();
    EXPECT_FALSE(p.delivered[0]);
    EXPECT_EQ(p.channels[1], std::vector<int32_t>{9 << 16});
    EXPECT_FALSE(g_recorder.hasIndicator(CTX, QD_IND_SIGNAL, 256 + 3)) << "channel A is off";
}

// A message with more samples for a channel than its staging area holds
// keeps 16 and drops the rest; the phase still counts every tick.
TEST_F(Samples, ExcessSamplesAreDroppedNotWrittenPastTheStaging) {
    prepare({{true, 0, 7, 3}});
    LogWatch log;
    std::vector<int16_t> in;
    for (int i = 0; i < 40; i++) in.push_back((int16_t)i);
    handle(data(0, 0, in));
    SamplePacket p = last();
    ASSERT_EQ(p.channels[0].size(), 16u);
    EXPECT_EQ(p.channels[0][15], 15 << 16);
    EXPECT_EQ(ps->staging.expectedPhase, 40);
    EXPECT_TRUE(log.contains("!(7) Data message holds more samples than a block can take: 24 dropped\n"));
}

TEST_F(Samples, BrevRawDataIsScaledAndCounted) {
    memset(ps, 0, sizeof *ps);
    g_recorder.channelCount = 1;
    ps->context = CTX;
    ps->brev.phase = 100;
    ps->brev.channelState = 2;
    std::vector<uint8_t> m = {0xC4, 0x01, 0x00, 0xFF, 0xFF, 0x00, 0x08};
    samplesHandleRawData(ps, m.data(), (uint32_t)m.size());
    SamplePacket p = last();
    EXPECT_EQ(p.phase, 100);
    EXPECT_EQ(p.channels[0], (std::vector<int32_t>{1 << 20, -(1 << 20), 2047 * (1 << 20)}));
    EXPECT_EQ(p.signalStates[0], 2);
    EXPECT_EQ(ps->brev.phase, 103);

    // 127 samples: 65 fit, the phase counts all of them.
    std::vector<uint8_t> big(1 + 2 * 127, 0);
    big[0] = 0xC4;
    g_recorder.clear();
    samplesHandleRawData(ps, big.data(), (uint32_t)big.size());
    EXPECT_EQ(last().channels[0].size(), 65u);
    EXPECT_EQ(ps->brev.phase, 230);
}
