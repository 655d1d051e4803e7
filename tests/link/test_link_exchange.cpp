// A device-information exchange over a USB link: open, send
// CMD_GET_DEV_INFO as raw bytes, read the reply byte by byte, close.
#include <cstring>
#include <string>
#include <vector>

#include "sim/sim_device.h"
#include "tests/link/link_fixture.h"

namespace {

typedef std::vector<uint8_t> Bytes;

class LinkExchange : public LinkTest {
protected:
    // Reads one frame (length byte(s) and body) byte by byte; empty when
    // nothing complete arrives within the time given.
    static Bytes readFrame(LinkHandle *link, uint32_t waitMs) {
        Bytes frame;
        uint32_t length = 0, body = 0;
        int shift = 0;
        bool inLength = true;
        uint32_t deadline = osClockMs() + waitMs;
        while ((int32_t)(osClockMs() - deadline) < 0) {
            uint8_t b;
            int32_t rc = RecvLink(link, &b);
            if (rc < 0) return Bytes();
            if (rc == 0) {
                osSleep(1);
                continue;
            }
            frame.push_back(b);
            if (inLength) {
                length |= (uint32_t)(b & 0x7F) << shift;
                shift += 7;
                inLength = (b & 0x80) != 0;
            } else if (++body == length) {
                return frame;
            }
        }
        return Bytes();
    }
    static std::string text(const Bytes &f, size_t at, size_t max) {
        std::string s;
        for (size_t i = at; i < f.size() && i < at + max && f[i]; ++i) s += (char)f[i];
        return s;
    }
};

TEST_F(LinkExchange, DeviceInformationFromTheSimulatedDevice) {
    int tx = ftsimAdd("QV4USB01", nullptr);
    ASSERT_EQ(ftsimAttachNewDevice(tx, "Quorvane Halvex-4 USB", "QV4-0042"), tx);
    ASSERT_NE(ftsimDevice(tx), nullptr);

    LinkHandle link;
    char id[22];
    ASSERT_EQ(openUsb("Quorvane Halvex*", &link, id, sizeof id), 1);
    EXPECT_STREQ(id, "QV4USB01");
    const uint8_t getDevInfo[2] = {0x01, 0x00};
    ASSERT_EQ(SendLink(&link, 2, getDevInfo), 2);
    Bytes reply = readFrame(&link, 2000);
    CloseLink(&link);

    // length, code 0x80, result 0, maker, model, serial
    ASSERT_GE(reply.size(), 70u);
    EXPECT_EQ(reply[0], reply.size() - 1);
    EXPECT_EQ(reply[1], 0x80);
    EXPECT_EQ(reply[2], 0x00);
    EXPECT_EQ(text(reply, 3, 33), "Quorvane Systems");
    EXPECT_EQ(text(reply, 36, 33), "Quorvane Halvex-4 USB");
    EXPECT_EQ(text(reply, 69, 13), "QV4-0042");
    EXPECT_EQ(brokenReports(), 0u);
}

TEST_F(LinkExchange, ScriptedReplyInTheTransceiver) {
    int tx = ftsimAdd("QVSIM001", nullptr);
    const uint8_t request[2] = {0x01, 0x00};
    const uint8_t answer[4] = {0x03, 0x80, 0x00, 0x41};
    ASSERT_EQ(ftsimAddReply(tx, request, 2, answer, 4), 0);
    LinkHandle link;
    ASSERT_EQ(openUsb("QVSIM001", &link), 1);
    ASSERT_EQ(SendLink(&link, 2, request), 2);
    EXPECT_EQ(readFrame(&link, 500), Bytes(answer, answer + 4));
    CloseLink(&link);
}

TEST_F(LinkExchange, DeviceUnpluggedDuringTheExchange) {
    int tx = ftsimAdd("QV4USB01", nullptr);
    ASSERT_EQ(ftsimAttachNewDevice(tx, "Quorvane Halvex-4 USB", nullptr), tx);
    LinkHandle link;
    ASSERT_EQ(openUsb("QV4USB01", &link), 1);
    const uint8_t getDevInfo[2] = {0x01, 0x00};
    ASSERT_EQ(SendLink(&link, 2, getDevInfo), 2);
    ftsimUnplug(tx);
    EXPECT_FALSE(simDeviceLinkUp(ftsimDevice(tx)));
    // The reply is lost; polling stays quiet and never blocks, the next send
    // reports the broken link.
    EXPECT_TRUE(readFrame(&link, 50).empty());
    EXPECT_EQ(SendLink(&link, 2, getDevInfo), -1);
    EXPECT_EQ(brokenReports(), 1u);
    CloseLink(&link);

    ftsimReplug(tx);
    EXPECT_TRUE(simDeviceLinkUp(ftsimDevice(tx)));
    ASSERT_EQ(openUsb("QV4USB01", &link), 1);
    ASSERT_EQ(SendLink(&link, 2, getDevInfo), 2);
    Bytes reply = readFrame(&link, 2000);
    ASSERT_GE(reply.size(), 2u);
    EXPECT_EQ(reply[1], 0x80);
    CloseLink(&link);
}

TEST_F(LinkExchange, DrivenClockMakesTheExchangeDeterministic) {
    osClockSetManual(true, 10000);
    int tx = ftsimAdd("QV4USB01", nullptr);
    ASSERT_EQ(ftsimAttachNewDevice(tx, "Quorvane Halvex-2 USB", nullptr), tx);
    LinkHandle link;
    ASSERT_EQ(openUsb("QV4USB01", &link), 1);
    const uint8_t getDevInfo[2] = {0x01, 0x00};
    ASSERT_EQ(SendLink(&link, 2, getDevInfo), 2);
    int32_t waiting = QueueStatusLink(&link);
    EXPECT_GE(waiting, 70);
    uint8_t b;
    for (int32_t i = 0; i < waiting; ++i) ASSERT_EQ(RecvLink(&link, &b), 1);
    EXPECT_EQ(RecvLink(&link, &b), 0);
    CloseLink(&link);
}

}  // namespace
