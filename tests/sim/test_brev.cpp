// The simulated Brev device: its commands and refusals, raw data at each
// rate, the button's pause of the sample clock, artifacts and the
// notification mask.
#include <gtest/gtest.h>

#include "tests/sim/sim_host.h"

namespace {

const char *const BREV = "Quorvane Brev 100";

std::vector<Bytes> framesOf(const std::vector<Bytes> &frames, uint8_t code) {
    std::vector<Bytes> out;
    for (const Bytes &f : frames) {
        if (f[0] == code) out.push_back(f);
    }
    return out;
}

TEST(SimBrev, CommandsAndRawDataAtEachRate) {
    for (uint8_t rate : {0, 1, 2}) {
        SimHost h(BREV);
        SimSampleRecord rec[600];
        simDeviceRecordSamples(h.dev, 0, rec, 600);
        EXPECT_EQ(h.command({0x03}), (Bytes{0x83, 0, 1}));
        EXPECT_EQ(h.result({0x07, 0x31, 0x00}), 0);
        EXPECT_EQ(h.result({0x0A, 0x01, rate, 0xFF, 0x00}), 0);
        EXPECT_EQ(h.result({0x0A, 0x01, rate, 0xFF, 0x00}), 3) << "already measuring";
        h.run(1000);
        std::vector<Bytes> data = framesOf(h.take(), 0xC4);
        ASSERT_EQ(data.size(), 8u) << "an eighth of a second each, rate " << (int)rate;
        size_t n = 0;
        for (const Bytes &f : data) {
            ASSERT_EQ(f.size(), 1u + 2u * (16u << rate));
            for (size_t at = 1; at < f.size(); at += 2) EXPECT_EQ(s16(f, at), rec[n++].value);
        }
        SimDeviceConfig cfg;
        simDeviceDefaults(&cfg, BREV);
        EXPECT_EQ(rec[5].value, simSignalValue(&cfg.signal[0], 5, 128.0 * (1 << rate)));
        EXPECT_EQ(h.result({0x0B}), 0);
        EXPECT_EQ(simDeviceState(h.dev), SIM_STATE_REST);
    }
    SimHost h(BREV);
    const struct {
        Bytes command;
        uint8_t result;
    } refusals[] = {{{0x0A, 0x01, 0x03, 0xFF, 0x00}, 2}, {{0x0A, 0x01}, 5}, {{0x07, 0x31}, 5}, {{0x0B}, 3}, {{0x08}, 1}};
    for (const auto &r : refusals) EXPECT_EQ(h.result(r.command), r.result) << (int)r.command[0];
}

TEST(SimBrev, ButtonPausesTheSampleClockArtifactsFollowTheMask) {
    SimHost h(BREV);
    SimSampleRecord rec[400];
    simDeviceRecordSamples(h.dev, 0, rec, 400);
    ASSERT_EQ(h.result({0x07, 0x31, 0x00}), 0);
    ASSERT_EQ(h.result({0x0A, 0x01, 0x00, 0xFF, 0x00}), 0);
    h.run(200);
    ASSERT_TRUE(simDeviceButton(h.dev, h.now));
    EXPECT_EQ(framesOf(h.take(), 0xC0), (std::vector<Bytes>{{0xC0, 5}}));
    uint32_t before = simDeviceRecordCount(h.dev, 0);
    h.run(500);
    EXPECT_TRUE(framesOf(h.take(), 0xC4).empty()) << "no data while paused";
    EXPECT_EQ(simDeviceState(h.dev), 5);
    ASSERT_TRUE(simDeviceButton(h.dev, h.now));
    h.run(300);
    EXPECT_EQ(framesOf(h.take(), 0xC0), (std::vector<Bytes>{{0xC0, 3}}));
    uint32_t after = simDeviceRecordCount(h.dev, 0);
    EXPECT_GE(after - before, 32u);
    for (uint32_t i = 0; i < after; ++i) EXPECT_EQ(rec[i].index, i) << "the sample clock went on where it stopped";

    ASSERT_TRUE(simDeviceArtifact(h.dev, 4, 1, h.now));
    EXPECT_EQ(framesOf(h.take(), 0xC5), (std::vector<Bytes>{{0xC5, 4, 1}}));
    ASSERT_EQ(h.result({0x07, 0x00, 0x00}), 0);
    ASSERT_TRUE(simDeviceArtifact(h.dev, 4, 1, h.now));
    ASSERT_TRUE(simDeviceSetState(h.dev, 1, h.now));
    EXPECT_TRUE(h.take().empty()) << "notifications off";
    EXPECT_FALSE(simDeviceButton(h.dev, h.now)) << "at rest";
}

}  // namespace
