// Commands, configuration checks, device states and the frame receiver of
// the simulated device.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/sim/sim_host.h"

namespace {

struct CfgCase {
    const char *what;
    const char *model;
    int channels, rs;
    int ch;
    uint8_t rec[6];     // record of channel ch (others off)
    uint8_t extraOn;    // 1: also channel 0 as plain voltage (for button cases)
    uint8_t expect;
};

const CfgCase kCfgCases[] = {
    {"voltage 800 uV 2000 sps", "Quorvane Halvex-4 USB", 4, 6, 1, {0x80, 0, 0, 11, 0, 0}, 0, 0},
    {"voltage 24000 uV, 0 Hz", "Quorvane Halvex-4 USB", 4, 6, 0, {0x80, 0, 5, 6, 3, 0}, 0, 0},
    {"voltage 800 uV has no 0 Hz", "Quorvane Halvex-4 USB", 4, 6, 0, {0x80, 0, 0, 6, 3, 0}, 0, 2},
    {"voltage range code 1", "Quorvane Halvex-4 USB", 4, 6, 0, {0x80, 0, 1, 7, 0, 0}, 0, 2},
    {"voltage at 15.625 sps", "Quorvane Halvex-4 USB", 4, 6, 0, {0x80, 0, 0, 4, 0, 0}, 0, 2},
    {"rate code 12", "Quorvane Halvex-4 USB", 4, 6, 0, {0x80, 0, 0, 12, 0, 0}, 0, 2},
    {"mild characteristic, external reference", "Quorvane Halvex-4 USB", 4, 6, 0, {0x80 | 0x10 | 1, 0, 3, 7, 2, 0}, 0, 0},
    {"characteristic 2", "Quorvane Halvex-4 USB", 4, 6, 0, {0x80 | 2, 0, 0, 7, 0, 0}, 0, 2},
    {"reference 3", "Quorvane Halvex-4 USB", 4, 6, 0, {0x80 | 0x18, 0, 0, 7, 0, 0}, 0, 2},
    {"resistance 125 kOhm", "Quorvane Halvex-4 USB", 4, 6, 3, {0x80, 1, 2, 4, 0, 0}, 0, 0},
    {"resistance at 62.5 sps", "Quorvane Halvex-4 USB", 4, 6, 3, {0x80, 1, 2, 6, 0, 0}, 0, 2},
    {"resistance with a reference", "Quorvane Halvex-4 USB", 4, 6, 3, {0x88, 1, 2, 4, 0, 0}, 0, 2},
    {"temperature range 0", "Quorvane Halvex-4 USB", 4, 6, 0, {0xA0, 3, 0, 4, 0, 0}, 0, 2},
    {"HEG on a plain channel", "Quorvane Halvex-4 USB", 4, 6, 0, {0x80 | 1, 4, 5, 6, 0, 0}, 0, 2},
    {"kind 9", "Quorvane Halvex-4 USB", 4, 6, 0, {0x80, 9, 0, 7, 0, 0}, 0, 2},
    {"nIR HEG on the Halvex+ signal channel", "Quorvane Halvex+ 2 USB", 3, 6, 0, {0x80 | 0x20 | 1, 4, 5, 6, 0, 0}, 0, 0},
    {"pIR HEG needs 0 Hz", "Quorvane Halvex+ 2 USB", 3, 6, 0, {0x80 | 1, 5, 3, 6, 0, 0}, 0, 2},
    {"current 25000 nA, 0 Hz", "Quorvane Halvex+ 2 USB", 3, 6, 0, {0x80, 6, 3, 6, 3, 0}, 0, 0},
    {"current 400 nA, 0 Hz", "Quorvane Halvex+ 2 USB", 3, 6, 0, {0x80, 6, 1, 6, 3, 0}, 0, 2},
    {"HEG on the second Halvex+ channel", "Quorvane Halvex+ 2 USB", 3, 6, 1, {0x81, 4, 5, 6, 0, 0}, 0, 2},
    {"button at 250 sps", "Quorvane Halvex+ 2 USB", 3, 6, 2, {0x80, 7, 0, 8, 0, 0}, 1, 0},
    {"button at 500 sps", "Quorvane Halvex+ 2 USB", 3, 6, 2, {0x80, 7, 0, 9, 0, 0}, 1, 2},
    {"voltage on the button channel", "Quorvane Halvex+ 2 USB", 3, 6, 2, {0x80, 0, 0, 7, 0, 0}, 1, 2},
    {"button alone", "Quorvane Halvex+ 2 USB", 3, 6, 2, {0x80, 7, 0, 6, 0, 0}, 0, 2},
    {"cap site 15", "Quorvane Halvex+ 4 USB", 5, 6, 3, {0x80, 0, 0, 7, 0, 15}, 0, 0},
    {"cap site 16", "Quorvane Halvex+ 4 USB", 5, 6, 3, {0x80, 0, 0, 7, 0, 16}, 0, 2},
    {"first generation 1000 uV", "Quorvane Halvex 2", 2, 4, 1, {0x80, 0, 1, 8}, 0, 0},
    {"first generation range 0", "Quorvane Halvex 2", 2, 4, 1, {0x80, 0, 0, 8}, 0, 2},
    {"first generation GSR", "Quorvane Halvex 4", 4, 4, 3, {0x80, 2, 4, 4}, 0, 0},
};

TEST(SimCommands, ConfigurationIsCheckedLikeTheDevice) {
    for (const CfgCase &c : kCfgCases) {
        SimHost h(c.model);
        ASSERT_NE(h.dev, nullptr) << c.model;
        Image img(c.channels, c.rs);
        std::memcpy(img.rec(c.ch), c.rec, c.rs);
        if (c.extraOn)
            img.on(0, 0, 0, 7);
        EXPECT_EQ(h.result(img.writeCmd()), c.expect) << c.what;
        // A refused configuration leaves the previous one in place.
        uint8_t now[64];
        size_t n = simDeviceConfigImage(h.dev, now, sizeof now);
        ASSERT_EQ(n, img.bytes.size());
        EXPECT_EQ(std::memcmp(now, img.bytes.data(), n) == 0, c.expect == 0) << c.what;
    }
}

TEST(SimCommands, ConfigurationLengthAndNoAnalogChannel) {
    SimHost h("Quorvane Halvex-2 USB");
    Image img(2, 6);
    EXPECT_EQ(h.result(img.writeCmd()), 2);  // every channel off
    img.on(0, 0, 0, 7);
    Bytes longer = img.writeCmd();
    longer.push_back(0);
    EXPECT_EQ(h.result(longer), 5);
    Bytes shorter = img.writeCmd();
    shorter.pop_back();
    EXPECT_EQ(h.result(shorter), 5);
    // A first-generation image (4-byte records) does not fit this model.
    Image gen1(2, 4);
    gen1.on(0, 0, 1, 7);
    EXPECT_EQ(h.result(gen1.writeCmd()), 5);
    // A 128-byte payload takes two length bytes and is still only too long.
    Bytes big(129, 0);
    big[0] = 0x07;
    EXPECT_EQ(h.result(big), 5);
    EXPECT_EQ(h.result(img.writeCmd()), 0);
}

TEST(SimCommands, StateRulesAndUnknownOrMalformedCommands) {
    SimHost h("Quorvane Halvex-2 BT");
    // Nothing is configured after power-on: no measurement.
    EXPECT_EQ(h.result({0x08}), 3);
    EXPECT_EQ(h.result({0x0B}), 3);
    EXPECT_EQ(h.result({0x0A}), 3);
    EXPECT_EQ(h.result({0x0C}), 3);

    Image img(2, 6);
    img.on(0, 0, 0, 7);
    ASSERT_EQ(h.result(img.writeCmd()), 0);
    EXPECT_EQ(h.result({0x08}), 0);
    EXPECT_EQ(h.result({0x08}), 3);
    EXPECT_EQ(h.result({0x0B}), 3);
    EXPECT_EQ(h.result({0x0C}), 3);
    Image other(2, 6);
    other.on(1, 0, 0, 9);
    EXPECT_EQ(h.result(other.writeCmd()), 3);   // not while measuring
    EXPECT_EQ(h.command({0x00}).size(), 81u);     // identity in any state
    EXPECT_EQ(h.result({0x0A}), 0);
    EXPECT_EQ(h.result({0x0B}), 0);
    EXPECT_EQ(h.command({0x03}), (Bytes{0x83, 0, 2}));
    EXPECT_EQ(h.result({0x0A}), 3);
    EXPECT_EQ(h.result({0x0C}), 0);
    EXPECT_EQ(h.command({0x03}), (Bytes{0x83, 0, 1}));

    for (uint8_t code : {0x05, 0x09, 0x0E, 0x15, 0x3F})
        EXPECT_EQ(h.command({code}), (Bytes{static_cast<uint8_t>(0x80 | code), 1})) << int(code);
    for (uint8_t code : {0x12, 0x14})   // boot-loader commands, refused while the application runs
        EXPECT_EQ(h.result({code}), 3) << int(code);
    // Codes that are no commands: answered as unknown in the reply class.
    h.send({0x45, 1, 2});
    EXPECT_EQ(h.take(), (std::vector<Bytes>{{0x85, 1}}));
    h.send({0xC1, 0, 0, 0, 0});
    EXPECT_EQ(h.take(), (std::vector<Bytes>{{0x81, 1}}));

    EXPECT_EQ(h.result({0x00, 0}), 5);
    EXPECT_EQ(h.result({0x03, 1, 2}), 5);
    EXPECT_EQ(h.result({0x04}), 5);
    EXPECT_EQ(h.result({0x04, 0x40, 0}), 5);
    EXPECT_EQ(h.result({0x08, 0}), 5);
    EXPECT_EQ(simDeviceState(h.dev), SIM_STATE_REST);
}

TEST(SimCommands, NotificationMaskAndRestart) {
    SimHost h("Quorvane Halvex-2 USB");
    EXPECT_EQ(h.result({0x04, 0x40}), 0);
    EXPECT_EQ(simDeviceNotifMask(h.dev), 0x40);
    EXPECT_EQ(h.result({0x04, 0xE0}), 0);
    EXPECT_EQ(simDeviceNotifMask(h.dev), 0);

    Image img(2, 6);
    img.on(0, 0, 0, 10);
    ASSERT_EQ(h.result(img.writeCmd()), 0);
    ASSERT_EQ(h.result({0x04, 0x40}), 0);
    ASSERT_EQ(h.result({0x08}), 0);
    h.run(100);
    EXPECT_FALSE(h.take().empty());
    // Restart answers first, then the device is back at rest with its
    // power-on configuration and no notifications.
    EXPECT_EQ(h.command({0x0D}), (Bytes{0x8D, 0}));
    h.run(100);
    EXPECT_TRUE(h.take().empty());
    EXPECT_EQ(h.command({0x03}), (Bytes{0x83, 0, 1}));
    Bytes cfg = h.command({0x06});
    ASSERT_EQ(cfg.size(), 2u + 28u);
    EXPECT_EQ(cfg[2 + 16], 0);
    EXPECT_EQ(h.result({0x08}), 3);
}

TEST(SimCommands, ReceiverSkipsFillerOverlongFramesAndStalePartialFrames) {
    SimHost h("Quorvane Halvex-2 USB");
    // Zero bytes between frames are skipped; a frame may arrive in pieces.
    h.raw({0x00, 0x00, 0x01});
    h.raw({0x03, 0x00});
    EXPECT_EQ(h.take(), (std::vector<Bytes>{{0x83, 0, 1}}));

    // 0x82 0x02 announces 258 bytes: skipped whole, then the next command.
    Bytes overlong{0x82, 0x02};
    overlong.resize(2 + 258, 0x01);
    h.raw(overlong);
    h.send({0x03});
    EXPECT_EQ(h.take(), (std::vector<Bytes>{{0x83, 0, 1}}));

    // Endless continuation bytes cannot push the length out of range; the
    // device is deaf until a pause drops the absurd frame.
    Bytes cont(40, 0x80);
    cont.push_back(0x01);
    h.raw(cont);
    h.send({0x03});
    EXPECT_TRUE(h.take().empty());
    h.now += 200;
    h.send({0x03});
    EXPECT_EQ(h.take(), (std::vector<Bytes>{{0x83, 0, 1}}));

    // Half a frame, then a pause: the fragment is dropped.
    h.raw({0x02, 0x04});
    h.now += 150;
    h.send({0x00});
    auto frames = h.take();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][0], 0x80);
    SimDeviceStats st;
    simDeviceGetStats(h.dev, &st);
    EXPECT_EQ(st.overlongFrames, 2u);
    EXPECT_EQ(st.frameTimeouts, 2u);
}

TEST(SimCommands, UnknownModelsAreRefused) {
    SimDeviceConfig cfg;
    simDeviceDefaults(&cfg, "Quorvane Halvex-9 USB");
    EXPECT_EQ(simDeviceCreate(&cfg), nullptr);
    simDeviceDefaults(&cfg, "Quorvane Brev 200");
    EXPECT_EQ(simDeviceCreate(&cfg), nullptr);
    EXPECT_EQ(simDeviceCreate(nullptr), nullptr);
    simDeviceDefaults(&cfg, "Quorvane Halvex+ 4 BLE");
    SimDevice *d = simDeviceCreate(&cfg);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(simDeviceChannels(d), 5);
    EXPECT_EQ(simDeviceRecordSize(d), 6);
    simDeviceDestroy(d);
}

}  // namespace
