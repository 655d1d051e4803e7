// The device-free parts of the libftdi-based D2XX library: status mapping,
// the read-ahead ring, unpacking of bulk-in packets, line settings, handle
// values and device matching.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/ftdi/ftdi_core.h"

namespace {

TEST(FtdiCore, StatusMapping) {
    EXPECT_EQ(ftbStatusFromUsb(0), FT_OK);
    EXPECT_EQ(ftbStatusFromUsb(12), FT_OK);       // a transferred count
    EXPECT_EQ(ftbStatusFromUsb(-4), FT_IO_ERROR);  // device gone
    EXPECT_EQ(ftbStatusFromUsb(-1), FT_IO_ERROR);
    EXPECT_EQ(ftbStatusFromUsb(-9), FT_IO_ERROR);  // pipe
    EXPECT_EQ(ftbStatusFromUsb(-7), FT_IO_ERROR);  // time-out
    EXPECT_EQ(ftbStatusFromUsb(-6), FT_DEVICE_NOT_OPENED);  // busy
    EXPECT_EQ(ftbStatusFromUsb(-3), FT_DEVICE_NOT_OPENED);  // access
    EXPECT_EQ(ftbStatusFromUsb(-5), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(ftbStatusFromUsb(-11), FT_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(ftbStatusFromUsb(-2), FT_INVALID_PARAMETER);
    EXPECT_EQ(ftbStatusFromUsb(-99), FT_OTHER_ERROR);

    EXPECT_EQ(ftbStatusFromOpen(0), FT_OK);
    EXPECT_EQ(ftbStatusFromOpen(-5), FT_DEVICE_NOT_OPENED);  // claimed by another program
    EXPECT_EQ(ftbStatusFromOpen(-4), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(ftbStatusFromOpen(-12), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(ftbStatusFromControl(-1), FT_IO_ERROR);
    EXPECT_EQ(ftbStatusFromControl(0), FT_OK);
    EXPECT_EQ(ftbStatusFromFindAll(3), FT_OK);
    EXPECT_EQ(ftbStatusFromFindAll(-3), FT_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(ftbStatusFromFindAll(-5), FT_IO_ERROR);
}

TEST(FtdiCore, RingWrapsAndStopsWhenFull) {
    uint8_t storage[8];
    FtbRing ring;
    ftbRingInit(&ring, storage, sizeof storage);
    const uint8_t a[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(ftbRingPush(&ring, a, 6), 6u);
    uint8_t out[8];
    EXPECT_EQ(ftbRingTake(&ring, out, 4), 4u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    // 2 held; 6 fit, wrapping round the end; the rest is refused.
    const uint8_t b[8] = {7, 8, 9, 10, 11, 12, 13, 14};
    EXPECT_EQ(ftbRingPush(&ring, b, 8), 6u);
    EXPECT_EQ(ftbRingFree(&ring), 0u);
    EXPECT_EQ(ftbRingPush(&ring, b, 1), 0u);
    EXPECT_EQ(ftbRingTake(&ring, out, 8), 8u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(ftbRingTake(&ring, out, 8), 0u);
    ftbRingPush(&ring, a, 3);
    ftbRingClear(&ring);
    EXPECT_EQ(ring.count, 0u);
}

TEST(FtdiCore, UnpackStripsStatusBytesOfEveryPacket) {
    uint8_t storage[64];
    FtbRing ring;
    ftbRingInit(&ring, storage, sizeof storage);
    // Packets of 8 bytes: two full ones and a short last one.
    const uint8_t transfer[] = {0x11, 0x60, 'a', 'b', 'c', 'd', 'e', 'f',
                                0x01, 0x60, 'g', 'h', 'i', 'j', 'k', 'l',
                                0x31, 0x62, 'm'};
    uint8_t modem = 0, line = 0;
    size_t dropped = 99;
    // A transfer of status bytes only carries no data.
    const uint8_t quiet[2] = {0x11, 0x60};
    EXPECT_EQ(ftbUnpack(quiet, 2, 8, &ring, &modem, &line, &dropped), 0u);
    EXPECT_EQ(modem, 0x11);
    EXPECT_EQ(ftbUnpack(transfer, sizeof transfer, 8, &ring, &modem, &line, &dropped), 13u);
    EXPECT_EQ(dropped, 0u);
    EXPECT_EQ(modem, 0x31);
    EXPECT_EQ(line, 0x62);
    uint8_t out[16];
    ASSERT_EQ(ftbRingTake(&ring, out, sizeof out), 13u);
    EXPECT_EQ(std::memcmp(out, "abcdefghijklm", 13), 0);

    // What does not fit is counted, not written past the ring.
    uint8_t small[4];
    ftbRingInit(&ring, small, sizeof small);
    EXPECT_EQ(ftbUnpack(transfer, 16, 8, &ring, nullptr, nullptr, &dropped), 4u);
    EXPECT_EQ(dropped, 8u);
    EXPECT_EQ(ftbUnpack(transfer, 0, 8, &ring, nullptr, nullptr, &dropped), 0u);
}

TEST(FtdiCore, PacketFaultStopsAtCutPacketOrLineError) {
    // Packets of 4 bytes; where the first bad one starts, and why.
    const struct {
        std::vector<uint8_t> transfer;
        size_t at;
        FtbPacketFault fault;
    } cases[] = {
        {{0x11, 0x60, 'a', 'b', 0x11, 0x60, 'c'}, 7, FTB_PACKET_OK},
        {{0x11, 0x60, 'a', 'b', 0x11}, 4, FTB_PACKET_CUT},
        {{0x11, 0x60, 'a', 'b', 0x11, 0x62, 'c', 'd'}, 4, FTB_PACKET_LINE_ERROR},  // overrun
        {{0x11, 0x68, 'a'}, 0, FTB_PACKET_LINE_ERROR},                             // framing error
        {{}, 0, FTB_PACKET_OK},
    };
    for (const auto &c : cases) {
        FtbPacketFault fault = FTB_PACKET_CUT;
        EXPECT_EQ(ftbPacketFault(c.transfer.data(), c.transfer.size(), 4, &fault, nullptr), c.at);
        EXPECT_EQ(fault, c.fault);
    }
}

TEST(FtdiCore, ModemAndLineSettings) {
    EXPECT_EQ(ftbModemStatus(0x6031), 0x6030u);  // CTS and DSR kept, reserved bits cleared
    int bits, stop, par;
    EXPECT_EQ(ftbLineSettings(8, 0, 0, &bits, &stop, &par), FT_OK);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(stop, 0);
    EXPECT_EQ(par, 0);
    EXPECT_EQ(ftbLineSettings(7, 2, 2, &bits, &stop, &par), FT_OK);
    EXPECT_EQ(ftbLineSettings(9, 0, 0, &bits, &stop, &par), FT_INVALID_PARAMETER);
    EXPECT_EQ(ftbLineSettings(8, 3, 0, &bits, &stop, &par), FT_INVALID_PARAMETER);
    EXPECT_EQ(ftbLineSettings(8, 0, 5, &bits, &stop, &par), FT_INVALID_PARAMETER);
    EXPECT_TRUE(ftbFlowControlValid(0x100));
    EXPECT_TRUE(ftbFlowControlValid(0));
    EXPECT_FALSE(ftbFlowControlValid(0x300));
    EXPECT_EQ(ftbChipType(0x0600), 5u);
    EXPECT_EQ(ftbChipType(0x1234), 3u);
}

TEST(FtdiCore, HandlesOfClosedOpensStayInvalid) {
    FT_HANDLE h = ftbHandleMake(3, 0x12345);
    int slot = -1;
    uint32_t gen = 0;
    ASSERT_TRUE(ftbHandleSplit(h, 16, &slot, &gen));
    EXPECT_EQ(slot, 3);
    EXPECT_EQ(gen, 0x2345u);
    EXPECT_NE(ftbHandleMake(3, 7), ftbHandleMake(3, 8));
    EXPECT_FALSE(ftbHandleSplit(ftbHandleMake(20, 1), 16, &slot, &gen));
    EXPECT_FALSE(ftbHandleSplit(nullptr, 16, &slot, &gen));
    EXPECT_FALSE(ftbHandleSplit(reinterpret_cast<FT_HANDLE>(~(uintptr_t)0), 16, &slot, &gen));
    EXPECT_FALSE(ftbHandleSplit(reinterpret_cast<FT_HANDLE>((uintptr_t)0x1234), 16, &slot, &gen));
}

TEST(FtdiCore, DevicesMatchExactly) {
    FtbDevice list[3] = {};
    ftbCopyText(list[0].serial, sizeof list[0].serial, "A1");
    ftbCopyText(list[0].description, sizeof list[0].description, "Quorvane Halvex*");
    ftbCopyText(list[1].serial, sizeof list[1].serial, "B2");
    ftbCopyText(list[1].description, sizeof list[1].description, "Other");
    ftbCopyText(list[2].serial, sizeof list[2].serial, "C3");
    ftbCopyText(list[2].description, sizeof list[2].description, "Quorvane Halvex*");
    EXPECT_EQ(ftbFindDevice(list, 3, FT_OPEN_BY_SERIAL_NUMBER, "B2"), 1);
    EXPECT_EQ(ftbFindDevice(list, 3, FT_OPEN_BY_SERIAL_NUMBER, "b2"), -1);
    EXPECT_EQ(ftbFindDevice(list, 3, FT_OPEN_BY_DESCRIPTION, "Quorvane Halvex*"), 0);
    EXPECT_EQ(ftbFindDevice(list, 3, FT_OPEN_BY_DESCRIPTION, "Quorvane Halvex"), -1);
    EXPECT_EQ(ftbFindDevice(list, 3, 4, "A1"), -1);
    EXPECT_EQ(ftbFindDevice(list, 3, FT_OPEN_BY_SERIAL_NUMBER, nullptr), -1);

    char small[4];
    ftbCopyText(small, sizeof small, "ABCDEFGH");
    EXPECT_STREQ(small, "ABC");
}

}  // namespace
