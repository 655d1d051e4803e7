// The plain-C controls of the simulated device behind a transceiver, used by
// programs that load the simulator library (qdacq, the end-to-end host).
#include <gtest/gtest.h>

#include <vector>

#include "link/d2xx.h"
#include "os/os.h"
#include "sim/ftsim.h"
#include "sim/sim_device.h"
#include "sim/sim_frame.h"

namespace {

typedef std::vector<uint8_t> Bytes;

class FtsimDevice : public ::testing::Test {
protected:
    int tx = -1;
    FT_HANDLE h = nullptr;
    std::vector<FtSimSample> record = std::vector<FtSimSample>(4096);

    void SetUp() override {
        osClockSetManual(true, 5000);
        ftsimReset();
    }
    void TearDown() override {
        if (h) FT_Close(h);
        ftsimReset();
        osClockSetManual(false, 0);
    }

    // A "Quorvane Halvex-2 USB" with channel 0 given a ramp, opened.
    void attach() {
        tx = ftsimAdd("QVTEST01", nullptr);
        FtSimSignal signals[2] = {{1, 3, -100, 0.0f}, {0, 500, 0, 2.0f}};
        ASSERT_EQ(ftsimAttachNewDeviceEx(tx, "Quorvane Halvex-2 USB", "SN-1", signals, 2), tx);
        ASSERT_EQ(FT_OpenEx(const_cast<char *>("QVTEST01"), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OK);
    }
    void command(const Bytes &body) {
        uint8_t f[300];
        size_t n = simFrameWrite(body.data(), body.size(), f, sizeof f);
        uint32_t written = 0;
        ASSERT_EQ(FT_Write(h, f, (uint32_t)n, &written), FT_OK);
    }
    // Bodies the device sent up to now.
    std::vector<Bytes> drain() {
        std::vector<Bytes> bodies;
        SimRx rx;
        simRxReset(&rx, SIM_MAX_BODY);
        uint32_t waiting = 0;
        FT_GetQueueStatus(h, &waiting);
        std::vector<uint8_t> bytes(waiting);
        uint32_t got = 0;
        if (waiting) FT_Read(h, bytes.data(), waiting, &got);
        for (uint32_t i = 0; i < got; ++i) {
            uint32_t length = 0;
            if (simRxFeed(&rx, bytes[i], &length) == SIM_RX_BODY) bodies.emplace_back(rx.body, rx.body + length);
        }
        return bodies;
    }
    // Channel 0 on at 250 sps, notifications, measurement.
    void measure() {
        Bytes cfg(1 + 16 + 2 * 6, 0);
        cfg[0] = 0x07;
        cfg[1] = 0x02;
        cfg[1 + 16] = 0xC0;
        cfg[1 + 16 + 3] = 8;
        command(cfg);
        command({0x04, 0x40});
        command({0x08});
        drain();
    }
};

TEST_F(FtsimDevice, SignalsRecordsAndStateReachTheAttachedDevice) {
    attach();
    ASSERT_EQ(ftsimDeviceRecordSamples(tx, 0, record.data(), (uint32_t)record.size()), 0);
    measure();
    EXPECT_EQ(ftsimDeviceState(tx), SIM_STATE_MEASURE);
    osClockAdvance(1000);
    drain();
    // 250 ticks: fifteen whole messages of 16 samples are out.
    ASSERT_EQ(ftsimDeviceRecordCount(tx, 0), 240);
    FtSimSignal ramp = {1, 3, -100, 0.0f};
    for (uint32_t n = 0; n < 240; ++n) {
        EXPECT_EQ(record[n].index, n);
        EXPECT_EQ(record[n].value, ftsimSignalValue(&ramp, n, 250.0)) << "sample " << n;
        EXPECT_EQ(record[n].value, (int16_t)(-100 + 3 * (int)n));
        EXPECT_EQ(record[n].fate, SIM_FATE_SENT);
    }
    // The record stops being written once it is taken away.
    ASSERT_EQ(ftsimDeviceRecordSamples(tx, 0, nullptr, 0), 0);
    osClockAdvance(500);
    drain();
    EXPECT_EQ(ftsimDeviceRecordCount(tx, 0), 0);
}

TEST_F(FtsimDevice, FaultsLoseRepliesDataAndTheRadioLink) {
    attach();
    ASSERT_EQ(ftsimDeviceRecordSamples(tx, 0, record.data(), (uint32_t)record.size()), 0);
    // The start is carried out, its reply withheld once.
    ASSERT_EQ(ftsimDeviceSetFault(tx, 0x08, SIM_FAULT_WITHHOLD, 0, 1), 0);
    Bytes cfg(1 + 16 + 2 * 6, 0);
    cfg[0] = 0x07;
    cfg[1] = 0x02;
    cfg[1 + 16] = 0x80;
    cfg[1 + 16 + 3] = 8;
    command(cfg);
    command({0x04, 0x40});
    command({0x08});
    std::vector<Bytes> replies = drain();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1][0], 0x84);
    EXPECT_EQ(ftsimDeviceState(tx), SIM_STATE_MEASURE);

    // Two withheld data messages, then the radio link down for 200 ms.
    ASSERT_EQ(ftsimDeviceDropData(tx, 2), 0);
    osClockAdvance(300);
    drain();
    ASSERT_EQ(ftsimDeviceSetLinkUp(tx, 0), 0);
    osClockAdvance(200);
    EXPECT_TRUE(drain().empty());
    ASSERT_EQ(ftsimDeviceSetLinkUp(tx, 1), 0);
    ASSERT_EQ(ftsimDeviceSendEvent(tx, 0x61, -1), 0);
    std::vector<Bytes> after = drain();
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after[0], (Bytes{0xC0, 0x61}));
    int32_t n = ftsimDeviceRecordCount(tx, 0);
    ASSERT_GT(n, 100);
    int dropped = 0, down = 0;
    for (int32_t i = 0; i < n; ++i) {
        dropped += record[i].fate == SIM_FATE_DROPPED;
        down += record[i].fate == SIM_FATE_LINK_DOWN;
    }
    EXPECT_EQ(dropped, 32);          // two messages of 16 ticks
    EXPECT_GE(down, 40);             // about 200 ms at 250 sps
    EXPECT_EQ(ftsimDeviceClearFaults(tx), 0);
}

TEST_F(FtsimDevice, RefusesSlotsWithoutADeviceAndBadArguments) {
    int bare = ftsimAdd("QVBARE01", nullptr);
    EXPECT_EQ(ftsimDeviceState(bare), -1);
    EXPECT_EQ(ftsimDeviceDropData(bare, 1), -1);
    EXPECT_EQ(ftsimDeviceSetLinkUp(7, 0), -1);
    FtSimSignal bad = {9, 0, 0, 1.0f};
    EXPECT_EQ(ftsimAttachNewDeviceEx(bare, "Quorvane Halvex-2 USB", nullptr, &bad, 1), -1);
    FtSimSignal loud = {0, 40000, 0, 1.0f};
    EXPECT_EQ(ftsimAttachNewDeviceEx(bare, "Quorvane Halvex-2 USB", nullptr, &loud, 1), -1);
    EXPECT_EQ(ftsimAttachNewDeviceEx(bare, "Quorvane Brev 200", nullptr, nullptr, 0), -1);
    EXPECT_EQ(ftsimAttachNewDeviceEx(bare, "Quorvane Halvex-2 USB", nullptr, nullptr, 7), -1);
    ASSERT_EQ(ftsimAttachNewDeviceEx(bare, "Quorvane Halvex-2 USB", nullptr, nullptr, 0), bare);
    EXPECT_EQ(ftsimDeviceSetFault(bare, 0x40, SIM_FAULT_WITHHOLD, 0, 1), -1);
    EXPECT_EQ(ftsimDeviceSetFault(bare, 0x08, 9, 0, 1), -1);
    EXPECT_EQ(ftsimDeviceSetSignalState(bare, 2, 1), -1);   // two channels: 0 and 1
    EXPECT_EQ(ftsimDeviceSetSignalState(bare, -1, 2), 0);
    EXPECT_EQ(ftsimDeviceRecordSamples(bare, 6, nullptr, 0), -1);
    EXPECT_EQ(ftsimDeviceSendEvent(bare, 300, -1), -1);
    // Ten transceivers fit, one for each device context.
    for (int i = 1; i < FTSIM_MAX; ++i) EXPECT_GE(ftsimAdd("QVMORE00", nullptr), 0);
    EXPECT_EQ(ftsimAdd("QVMORE99", nullptr), -1);
}

}  // namespace
