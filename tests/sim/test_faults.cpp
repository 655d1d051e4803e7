// Fault injection, events, signal states, test mode and the sample record of
// the simulated device; a robustness loop over random input.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tests/sim/sim_host.h"

namespace {

// A Halvex-2 USB measuring channel A at 250 sps: 16 ticks (64 ms) a message.
void startMeasuring(SimHost &h) {
    Image img(2, 6);
    img.on(0, 0, 0, 8);
    ASSERT_EQ(h.result(img.writeCmd()), 0);
    ASSERT_EQ(h.result({0x04, 0x40}), 0);
    ASSERT_EQ(h.result({0x08}), 0);
}

std::vector<uint16_t> phases(const std::vector<Bytes> &frames) {
    std::vector<uint16_t> p;
    for (auto &f : frames)
        if (f[0] == 0xC1)
            p.push_back(u16(f, 1));
    return p;
}

TEST(SimFaults, WithheldIgnoredAndDelayedReplies) {
    SimHost h("Quorvane Halvex-2 USB");
    ASSERT_TRUE(simDeviceSetFault(h.dev, 0x03, SIM_FAULT_WITHHOLD, 0, 2));
    EXPECT_TRUE(h.command({0x03}).empty());
    EXPECT_TRUE(h.command({0x03}).empty());
    EXPECT_EQ(h.command({0x03}).size(), 3u);

    // Withheld: executed; ignored: not executed.
    Image img(2, 6);
    img.on(0, 0, 0, 8);
    ASSERT_EQ(h.result(img.writeCmd()), 0);
    ASSERT_TRUE(simDeviceSetFault(h.dev, 0x08, SIM_FAULT_IGNORE, 0, 1));
    EXPECT_TRUE(h.command({0x08}).empty());
    EXPECT_EQ(simDeviceState(h.dev), SIM_STATE_REST);
    ASSERT_TRUE(simDeviceSetFault(h.dev, 0x08, SIM_FAULT_WITHHOLD, 0, SIM_ALWAYS));
    EXPECT_TRUE(h.command({0x08}).empty());
    EXPECT_EQ(simDeviceState(h.dev), SIM_STATE_MEASURE);
    ASSERT_EQ(h.result({0x0A}), 0);
    EXPECT_TRUE(h.command({0x08}).empty());     // still armed
    ASSERT_EQ(h.result({0x0A}), 0);
    ASSERT_TRUE(simDeviceSetFault(h.dev, 0x08, SIM_FAULT_NONE, 0, 0));
    EXPECT_EQ(h.result({0x08}), 0);

    // Delayed by 300 ms: nothing at 299 ms, the reply at 300 ms.
    ASSERT_TRUE(simDeviceSetFault(h.dev, 0x00, SIM_FAULT_DELAY, 300, 1));
    h.send({0x00});
    h.run(299);
    for (auto &f : h.take())
        EXPECT_NE(f[0], 0x80);
    h.run(1);
    bool seen = false;
    for (auto &f : h.take())
        seen = seen || (f[0] == 0x80 && f.size() == 81);
    EXPECT_TRUE(seen);
}

TEST(SimFaults, ResultCodesAndTheAnyCommandFault) {
    SimHost h("Quorvane Halvex-2 USB");
    Image img(2, 6);
    img.on(0, 0, 0, 8);
    ASSERT_EQ(h.result(img.writeCmd()), 0);
    for (uint8_t r = 1; r <= 5; ++r) {
        ASSERT_TRUE(simDeviceSetFault(h.dev, 0x08, SIM_FAULT_RESULT, r, 1));
        EXPECT_EQ(h.command({0x08}), (Bytes{0x88, r}));
        EXPECT_EQ(simDeviceState(h.dev), SIM_STATE_REST);   // refused, not executed
    }
    ASSERT_TRUE(simDeviceSetFault(h.dev, SIM_ANY_COMMAND, SIM_FAULT_RESULT, 4, SIM_ALWAYS));
    ASSERT_TRUE(simDeviceSetFault(h.dev, 0x03, SIM_FAULT_RESULT, 2, 1));
    EXPECT_EQ(h.command({0x03}), (Bytes{0x83, 2}));   // its own fault first
    EXPECT_EQ(h.command({0x03}), (Bytes{0x83, 4}));
    EXPECT_EQ(h.command({0x00}), (Bytes{0x80, 4}));
    simDeviceClearFaults(h.dev);
    EXPECT_EQ(h.command({0x03}).size(), 3u);

    EXPECT_FALSE(simDeviceSetFault(h.dev, 0x40, SIM_FAULT_WITHHOLD, 0, 1));
    EXPECT_FALSE(simDeviceSetFault(h.dev, -2, SIM_FAULT_WITHHOLD, 0, 1));
    EXPECT_FALSE(simDeviceSetFault(h.dev, 0x03, SIM_FAULT_RESULT, 0, 1));
    EXPECT_FALSE(simDeviceSetFault(h.dev, 0x03, SIM_FAULT_WITHHOLD, 0, 0));
    EXPECT_FALSE(simDeviceSetFault(h.dev, 0x03, static_cast<SimFaultAction>(9), 0, 1));
}

TEST(SimFaults, InjectedBytesAndFrames) {
    SimHost h("Quorvane Halvex-2 USB");
    // An over-long frame, then frames that no device should send.
    ASSERT_TRUE(simDeviceInjectFrame(h.dev, 0x81, nullptr, 257, h.now));
    const uint8_t pay[2] = {1, 2};
    ASSERT_TRUE(simDeviceInjectFrame(h.dev, 0x05, pay, 2, h.now));
    ASSERT_TRUE(simDeviceInjectFrame(h.dev, 0x45, nullptr, 0, h.now));
    ASSERT_TRUE(simDeviceInjectFrame(h.dev, 0xC2, pay, 2, h.now));
    EXPECT_FALSE(simDeviceInjectFrame(h.dev, 0xC2, nullptr, 1024, h.now));
    const uint8_t garbage[3] = {0x00, 0x02, 0x83};
    simDeviceInjectBytes(h.dev, garbage, 3, h.now);   // 0x83 with no result byte yet
    h.send({0x03});
    auto frames = h.take();
    EXPECT_EQ(h.overlong, 1u);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0], (Bytes{0x05, 1, 2}));
    EXPECT_EQ(frames[1], (Bytes{0x45}));
    EXPECT_EQ(frames[2], (Bytes{0xC2, 1, 2}));
    // The injected 0x83 swallows the first byte of the real reply's frame.
    EXPECT_EQ(frames[3][0], 0x83);
}

TEST(SimFaults, DroppedAndSilencedDataLeavePhaseGaps) {
    SimHost h("Quorvane Halvex-2 USB");
    startMeasuring(h);
    h.run(128);
    EXPECT_EQ(phases(h.take()), (std::vector<uint16_t>{0, 16}));
    simDeviceDropData(h.dev, 2);
    h.run(256);
    EXPECT_EQ(phases(h.take()), (std::vector<uint16_t>{64, 80}));

    simDeviceSilence(h.dev, 300, h.now);
    h.run(300);
    EXPECT_TRUE(h.take().empty());
    EXPECT_EQ(h.command({0x03}), (Bytes{0x83, 0, 5}));     // still answers
    h.run(64);
    auto p = phases(h.take());
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0], 160u);  // the first one to close after the silence (704 ms)

    SimDeviceStats st;
    simDeviceGetStats(h.dev, &st);
    EXPECT_EQ(st.dataMessages, 2u + 4u + 5u);
    EXPECT_EQ(st.dataSent, 2u + 2u + 1u);
}

TEST(SimFaults, LinkDownLosesEverythingAndMeasurementRunsOn) {
    SimHost h("Quorvane Halvex-2 USB");
    startMeasuring(h);
    h.run(64);
    EXPECT_EQ(phases(h.take()), (std::vector<uint16_t>{0}));
    h.now += 64;
    EXPECT_GT(simDevicePending(h.dev, h.now), 0u);
    simDeviceSetLinkUp(h.dev, false, h.now);     // the waiting message is lost
    EXPECT_FALSE(simDeviceLinkUp(h.dev));
    EXPECT_EQ(simDevicePending(h.dev, h.now), 0u);
    h.send({0x0A});                              // never arrives
    h.run(500);
    EXPECT_TRUE(h.take().empty());
    simDeviceSetLinkUp(h.dev, true, h.now);
    EXPECT_EQ(h.command({0x03}), (Bytes{0x83, 0, 5}));
    h.run(64);
    auto p = phases(h.take());
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0], 144u);  // 692 ms after the start: ticks 16..143 lost
}

TEST(SimFaults, WrongIdentityIsReported) {
    SimHost h("Quorvane Halvex-4 USB");
    simDeviceSetIdentity(h.dev, "Other Maker", "Quorvane Halvex-2 USB", nullptr);
    Bytes info = h.command({0x00});
    ASSERT_EQ(info.size(), 81u);
    EXPECT_STREQ(reinterpret_cast<const char *>(&info[2]), "Other Maker");
    EXPECT_STREQ(reinterpret_cast<const char *>(&info[35]), "Quorvane Halvex-2 USB");
    EXPECT_EQ(std::memcmp(&info[68], "QV070001", 9), 0);
    EXPECT_EQ(simDeviceChannels(h.dev), 4);     // still what it is
}

TEST(SimEvents, RequestedAndPeriodicEvents) {
    SimHost h("Quorvane Halvex-2 BT", [](SimDeviceConfig *c) { c->batteryPeriodMs = 1000; });
    simDeviceSendEvent(h.dev, SIM_EVENT_LINK_ERROR, -1, h.now);
    simDeviceSendEvent(h.dev, SIM_EVENT_LINK_FAILURE, -1, h.now);
    simDeviceSendEvent(h.dev, SIM_EVENT_HARDWARE, -1, h.now);
    simDeviceSetBattery(h.dev, 1, h.now);
    EXPECT_EQ(h.take(), (std::vector<Bytes>{{0xC0, 0x60}, {0xC0, 0x61}, {0xC0, 0x80}, {0xC0, 0x40, 1}}));

    // Periodic battery reports only while notifications are on.
    h.run(2500, 10);
    EXPECT_TRUE(h.take().empty());
    ASSERT_EQ(h.result({0x04, 0x40}), 0);
    h.run(2500, 10);
    EXPECT_EQ(h.take(), (std::vector<Bytes>{{0xC0, 0x40, 1}, {0xC0, 0x40, 1}}));
    ASSERT_EQ(h.result({0x04, 0xE0}), 0);
    h.run(2500, 10);
    EXPECT_TRUE(h.take().empty());
}

TEST(SimEvents, SignalStatesInTheStatusWord) {
    SimHost h("Quorvane Halvex-2 USB");
    startMeasuring(h);
    simDeviceSetSignalState(h.dev, -1, 1, h.now);
    simDeviceSetSignalState(h.dev, 0, 2, h.now);
    h.run(64);
    auto frames = h.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(u16(frames[0], 3), 0x0009);
    simDeviceSetSignalState(h.dev, 0, 0, h.now);
    simDeviceSetSignalState(h.dev, 1, 3, h.now);
    h.run(64);
    frames = h.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(u16(frames[0], 3), 0x0031);
}

TEST(SimStreamModes, TestModeSamplesEveryTickButOnlyBelowKindFour) {
    // Halvex+ 2: A voltage 250 sps, B resistance 15.625 sps, button 62.5 sps.
    const char *model = "Quorvane Halvex+ 2 USB";
    SimHost h(model);
    Image img(3, 6);
    img.on(0, 0, 0, 8).on(1, 1, 2, 4).on(2, 7, 0, 6);
    ASSERT_EQ(h.result(img.writeCmd()), 0);
    ASSERT_EQ(h.result({0x04, 0x40}), 0);
    ASSERT_EQ(h.result({0x0B}), 0);
    h.run(64);
    auto frames = h.take();
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_EQ(frames[0].size(), 5u + 2 * 32);   // A and B at each of 16 ticks
    SimDeviceConfig cfg;
    simDeviceDefaults(&cfg, model);
    for (uint32_t t = 0; t < 16; ++t) {
        EXPECT_EQ(s16(frames[0], 5 + 4 * t), simSignalValue(&cfg.signal[0], t, 250.0));
        EXPECT_EQ(s16(frames[0], 7 + 4 * t), simSignalValue(&cfg.signal[1], t, 250.0));
    }
}

TEST(SimStreamModes, TestModeWithoutTestableChannelSendsStatusOnly) {
    SimHost h("Quorvane Halvex+ 2 USB");
    Image img(3, 6);
    img.on(0, 4, 5, 6);
    img.rec(0)[0] |= 1;     // nIR HEG runs with the mild characteristic
    ASSERT_EQ(h.result(img.writeCmd()), 0);
    ASSERT_EQ(h.result({0x04, 0x40}), 0);
    ASSERT_EQ(h.result({0x0B}), 0);
    h.run(256 * 2);
    auto frames = h.take();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].size(), 5u);
    EXPECT_EQ(u16(frames[1], 1), 16);
}

TEST(SimStreamModes, LatencyBoundAndNotificationsOff) {
    SimHost h("Quorvane Halvex-2 USB", [](SimDeviceConfig *c) { c->maxMessageMs = 100; });
    Image img(2, 6);
    img.on(0, 1, 2, 4);     // 15.625 sps: 64 ms a tick
    ASSERT_EQ(h.result(img.writeCmd()), 0);
    ASSERT_EQ(h.result({0x08}), 0);     // notifications still off
    h.run(512);
    EXPECT_TRUE(h.take().empty());
    ASSERT_EQ(h.result({0x04, 0x40}), 0);
    h.run(512);
    auto p = phases(h.take());
    EXPECT_EQ(p, (std::vector<uint16_t>{8, 10, 12, 14}));   // two ticks a message
}

struct TapLog {
    std::vector<SimDataInfo> infos;
    static void tap(void *user, const SimDataInfo *i) { static_cast<TapLog *>(user)->infos.push_back(*i); }
};

TEST(SimStreamModes, TapAndRecordAccountForEverySample) {
    SimHost h("Quorvane Halvex-2 USB");
    TapLog log;
    simDeviceSetDataTap(h.dev, &TapLog::tap, &log);
    std::vector<SimSampleRecord> rec(100);
    simDeviceRecordSamples(h.dev, 0, rec.data(), static_cast<uint32_t>(rec.size()));
    startMeasuring(h);
    simDeviceDropData(h.dev, 1);
    h.run(64 * 8);
    ASSERT_EQ(log.infos.size(), 8u);
    EXPECT_EQ(log.infos[0].fate, SIM_FATE_DROPPED);
    EXPECT_EQ(log.infos[1].fate, SIM_FATE_SENT);
    EXPECT_EQ(log.infos[1].firstIndex[0], 16u);
    EXPECT_EQ(log.infos[1].count[0], 16u);
    EXPECT_EQ(simDeviceRecordCount(h.dev, 0), 128u);
    SimDeviceConfig cfg;
    simDeviceDefaults(&cfg, "Quorvane Halvex-2 USB");
    for (uint32_t i = 0; i < rec.size(); ++i) {
        EXPECT_EQ(rec[i].index, i);
        EXPECT_EQ(rec[i].tick, i);
        EXPECT_EQ(rec[i].value, simSignalValue(&cfg.signal[0], i, 250.0));
        EXPECT_EQ(rec[i].fate, i < 16 ? SIM_FATE_DROPPED : SIM_FATE_SENT);
    }
}

TEST(SimStreamModes, PowerCycleStopsAndForgets) {
    SimHost h("Quorvane Halvex-2 USB");
    startMeasuring(h);
    h.run(100);
    h.take();
    h.now += 100;
    simDevicePowerCycle(h.dev, h.now);
    EXPECT_EQ(simDevicePending(h.dev, h.now), 0u);
    EXPECT_EQ(simDeviceState(h.dev), SIM_STATE_REST);
    EXPECT_EQ(simDeviceNotifMask(h.dev), 0);
    h.run(200);
    EXPECT_TRUE(h.take().empty());
    EXPECT_EQ(h.result({0x08}), 3);
}

// Random bytes and random command frames: the device answers with well
// formed replies only and never misbehaves (run under the sanitizers).
TEST(SimRobustness, RandomInputGetsOnlyWellFormedReplies) {
    const char *models[] = {"Quorvane Halvex 2", "Quorvane Halvex-4 USB", "Quorvane Halvex+ 4 BT"};
    for (uint32_t seed = 1; seed <= 30; ++seed) {
        std::mt19937 rng(seed);
        SimHost h(models[seed % 3]);
        for (int round = 0; round < 200; ++round) {
            Bytes b;
            if (rng() % 2) {
                const size_t n = rng() % 64;
                for (size_t i = 0; i < n; ++i)
                    b.push_back(static_cast<uint8_t>(rng()));
                h.raw(b);
            } else {
                b.push_back(static_cast<uint8_t>(rng() % 0x10));
                const size_t n = rng() % 50;
                for (size_t i = 0; i < n; ++i)
                    b.push_back(static_cast<uint8_t>(rng() % 4 ? rng() % 12 : rng()));
                if (b[0] == 0x07 && b.size() > 3 && (rng() % 2))
                    b[1 + (rng() % 3)] |= 0x80;
                h.send(b);
            }
            h.now += rng() % 40;
            for (auto &f : h.take()) {
                ASSERT_GE(f[0], 0x80);
                ASSERT_LE(f.size(), 255u);
                if (f[0] < 0xC0) {
                    ASSERT_GE(f.size(), 2u);
                    ASSERT_LE(f[1], 5);
                }
            }
        }
        EXPECT_EQ(h.overlong, 0u);
        // After a pause the device is back in step.
        h.now += 500;
        h.send({0x04, 0xE0});
        h.send({0x03});
        bool answered = false;
        for (auto &f : h.take())
            answered = answered || (f.size() == 3 && f[0] == 0x83 && f[1] == 0);
        EXPECT_TRUE(answered) << seed;
    }
}

}  // namespace
