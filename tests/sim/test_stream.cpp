// Command sequence and data stream of the simulated device, at the byte level.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "tests/sim/sim_host.h"

namespace {

double rateHz(int code) { return 15.625 * std::pow(2.0, code - 4); }

SimSignal signalOf(const char *model, int ch) {
    SimDeviceConfig cfg;
    simDeviceDefaults(&cfg, model);
    return cfg.signal[ch];
}

// Splits a data body into per-channel samples using the device's rules, so
// the order of samples on the wire is checked against the rate masks.
struct Decoded {
    std::vector<int16_t> ch[6];
    uint32_t ticks = 0;
};
// mask[c] < 0: channel c is off.
Decoded decode(const Bytes &b, const int *mask, int channels) {
    Decoded d;
    size_t k = (b.size() - 5) / 2, i = 0;
    uint32_t t = u16(b, 1);
    while (i < k) {
        for (int c = 0; c < channels && i < k; ++c)
            if (mask[c] >= 0 && ((t + 1) & static_cast<uint32_t>(mask[c])) == 0)
                d.ch[c].push_back(s16(b, 5 + 2 * i++));
        ++t;
        ++d.ticks;
    }
    return d;
}

TEST(SimStream, FullSequenceFromIdentityToClearedNotifications) {
    const char *model = "Quorvane Halvex-4 USB";
    SimHost h(model);
    ASSERT_NE(h.dev, nullptr);

    Bytes info = h.command({0x00});
    ASSERT_EQ(info.size(), 81u);
    EXPECT_EQ(info[0], 0x80);
    EXPECT_EQ(info[1], 0);
    EXPECT_STREQ(reinterpret_cast<const char *>(&info[2]), "Quorvane Systems");
    EXPECT_STREQ(reinterpret_cast<const char *>(&info[35]), model);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&info[68]), 8), "QV070001");
    EXPECT_EQ(h.command({0x03}), (Bytes{0x83, 0, 1}));

    Bytes firm = h.command({0x01});
    ASSERT_GE(firm.size(), 32u);
    EXPECT_EQ(firm[1], 0);

    Image img(4, 6);
    img.on(0, 0, 0, 8).on(2, 1, 2, 4);
    EXPECT_EQ(h.command(img.writeCmd()), (Bytes{0x87, 0}));
    Bytes read = h.command({0x06});
    ASSERT_EQ(read.size(), 2 + img.bytes.size());
    EXPECT_TRUE(std::equal(img.bytes.begin(), img.bytes.end(), read.begin() + 2));

    EXPECT_EQ(h.command({0x04, 0x40}), (Bytes{0x84, 0}));
    EXPECT_EQ(h.command({0x08}), (Bytes{0x88, 0}));
    EXPECT_EQ(h.command({0x03}), (Bytes{0x83, 0, 5}));

    // Channel A at 250 sps (mask 0), C at 15.625 sps (mask 15): one second
    // is 250 ticks, A gets every tick and C every 16th; messages of 16 ticks
    // are complete up to tick 239.
    h.run(1000);
    const int mask[4] = {0, -1, 15, -1};
    uint32_t expectPhase = 0;
    std::vector<int16_t> a, c;
    for (auto &f : h.take()) {
        ASSERT_EQ(f[0], 0xC1);
        EXPECT_EQ(u16(f, 1), expectPhase);
        EXPECT_LE(f.size(), 255u);
        Decoded d = decode(f, mask, 4);
        EXPECT_LE(d.ch[0].size(), 16u);
        expectPhase += d.ticks;
        a.insert(a.end(), d.ch[0].begin(), d.ch[0].end());
        c.insert(c.end(), d.ch[2].begin(), d.ch[2].end());
    }
    EXPECT_EQ(expectPhase, 240u);
    ASSERT_EQ(a.size(), 240u);
    ASSERT_EQ(c.size(), 15u);   // ticks 15, 31, ..., 239
    SimSignal sa = signalOf(model, 0), sc = signalOf(model, 2);
    for (uint32_t n = 0; n < a.size(); ++n)
        ASSERT_EQ(a[n], simSignalValue(&sa, n, rateHz(8))) << n;
    for (uint32_t n = 0; n < c.size(); ++n)
        ASSERT_EQ(c[n], simSignalValue(&sc, n, rateHz(4))) << n;

    // Stop: the part of a message already sampled comes before the reply.
    h.run(10);
    h.send({0x0A});
    auto frames = h.take();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back(), (Bytes{0x8A, 0}));
    for (size_t i = 0; i + 1 < frames.size(); ++i)
        EXPECT_EQ(frames[i][0], 0xC1);
    EXPECT_EQ(h.command({0x04, 0xE0}), (Bytes{0x84, 0}));
    EXPECT_EQ(h.command({0x03}), (Bytes{0x83, 0, 1}));
    h.run(500);
    EXPECT_TRUE(h.take().empty());
}

TEST(SimStream, MixedRatesInterleaveByMask) {
    // Rates 8 and 7: A every tick, B every second tick: A, A B, A, A B ...
    SimHost h("Quorvane Halvex-2 USB");
    Image img(2, 6);
    img.on(0, 0, 0, 8).on(1, 0, 0, 7);
    ASSERT_EQ(h.result(img.writeCmd()), 0);
    ASSERT_EQ(h.result({0x04, 0x40}), 0);
    ASSERT_EQ(h.result({0x08}), 0);
    h.run(64);   // 16 ticks of 4 ms: exactly one full message
    auto frames = h.take();
    ASSERT_EQ(frames.size(), 1u);
    const Bytes &f = frames[0];
    ASSERT_EQ(f.size(), 5u + 2 * 24);
    EXPECT_EQ(u16(f, 1), 0);
    SimSignal sa = signalOf("Quorvane Halvex-2 USB", 0), sb = signalOf("Quorvane Halvex-2 USB", 1);
    uint32_t na = 0, nb = 0;
    size_t i = 0;
    for (uint32_t t = 0; t < 16; ++t) {
        EXPECT_EQ(s16(f, 5 + 2 * i++), simSignalValue(&sa, na++, 250.0)) << t;
        if (t % 2 == 1) {
            EXPECT_EQ(s16(f, 5 + 2 * i++), simSignalValue(&sb, nb++, 125.0)) << t;
        }
    }
    // The next message starts at tick 16.
    h.run(64);
    frames = h.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(u16(frames[0], 1), 16);
}

TEST(SimStream, HeaviestConfigurationKeepsCountAndPhase) {
    // Halvex+ 4 USB: four analog channels at 2000 sps and the button at
    // 250 sps, 8250 samples per second.
    const char *model = "Quorvane Halvex+ 4 USB";
    SimHost h(model);
    Image img(5, 6);
    for (int c = 0; c < 4; ++c)
        img.on(c, 0, 0, 11);
    img.on(4, 7, 0, 8);
    ASSERT_EQ(h.result(img.writeCmd()), 0);
    ASSERT_EQ(h.result({0x04, 0x40}), 0);
    ASSERT_EQ(h.result({0x08}), 0);

    const int mask[5] = {0, 0, 0, 0, 7};
    uint32_t expectPhase = 0;
    uint32_t n[5] = {};
    SimSignal sig[5];
    for (int c = 0; c < 5; ++c)
        sig[c] = signalOf(model, c);
    for (int second = 1; second <= 3; ++second) {
        h.run(1000);
        uint32_t perChannel[5] = {};
        for (auto &f : h.take()) {
            ASSERT_EQ(f[0], 0xC1);
            ASSERT_LE(f.size(), 255u);
            ASSERT_EQ(u16(f, 1), expectPhase & 0xFFFF);
            Decoded d = decode(f, mask, 5);
            expectPhase += d.ticks;
            for (int c = 0; c < 5; ++c) {
                ASSERT_LE(d.ch[c].size(), 16u);
                perChannel[c] += static_cast<uint32_t>(d.ch[c].size());
                for (int16_t v : d.ch[c]) {
                    ASSERT_EQ(v, simSignalValue(&sig[c], n[c], c < 4 ? 2000.0 : 250.0)) << c;
                    ++n[c];
                }
            }
        }
        EXPECT_EQ(expectPhase, 2000u * second);
        uint32_t total = 0;
        for (int c = 0; c < 5; ++c)
            total += perChannel[c];
        EXPECT_EQ(total, 8250u) << "second " << second;
        EXPECT_EQ(perChannel[4], 250u);
    }
}

}  // namespace
