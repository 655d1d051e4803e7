// ble_stress_test.cpp - the Bluetooth LE link's ring and credit with two
// threads: a simulated device notifies from its own thread, within the
// credit it was given, while this thread receives. Every byte must arrive
// once and in order, and the credit must add up at the end. The tsan preset
// runs it under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "link/ble_gatt.h"
#include "link/link.h"
#include "sim/blesim.h"
#include "sim/ftsim.h"

namespace {

uint8_t pattern(uint32_t i) { return (uint8_t)(i * 7 + i / 251); }

TEST(BleStress, NotificationsAndReceivesOnTwoThreads) {
    const uint32_t total = 300000;
    ftsimReset();
    ftsimBleAutoPump(0);
    linkBleUseGatt(ftsimBleGattApi());
    ASSERT_EQ(InitLinkLibrary(), 1);
    int slot = ftsimAddBle("Stress", nullptr);
    ftsimBleSetDeviceBuffer(slot, 0, 0);
    LinkHandle link = {LINK_BLE, LINK_INVALID_HANDLE};
    ASSERT_EQ(OpenLink(LINK_BLE, "Stress", &link, nullptr, 0), 1);

    std::thread device([&] {
        std::vector<uint8_t> chunk(600);
        for (uint32_t sent = 0, round = 0; sent < total;) {
            FtSimBleState st = {};
            ftsimBleGetState(slot, &st);
            uint32_t want = std::min({total - sent, 1 + (round++ * 37) % 600, st.hostCredit});
            if (want == 0) {
                std::this_thread::yield();
                continue;
            }
            for (uint32_t i = 0; i < want; ++i) chunk[i] = pattern(sent + i);
            sent += (uint32_t)ftsimBleNotify(slot, chunk.data(), want, 0);
        }
    });
    uint32_t got = 0, wrong = 0, most = 0;
    while (got < total) {
        int32_t waiting = QueueStatusLink(&link);
        most = std::max(most, (uint32_t)waiting);
        uint8_t b = 0;
        int32_t r = RecvLink(&link, &b);
        if (r < 0) break;
        if (r == 0) {
            std::this_thread::yield();
            continue;
        }
        wrong += b != pattern(got);
        ++got;
    }
    device.join();
    EXPECT_EQ(got, total);
    EXPECT_EQ(wrong, 0u);
    EXPECT_LE(most, BLE_RING_CAPACITY);
    // What the host has not reported yet is all the device lacks.
    FtSimBleState st = {};
    ftsimBleGetState(slot, &st);
    EXPECT_EQ(st.hostCredit, BLE_RING_CAPACITY - total % BLE_FREED_STEP);
    CloseLink(&link);
    linkBleUseGatt(nullptr);
    ftsimBleAutoPump(1);
    ftsimReset();
}

}  // namespace
