// Send, queue status, receive and close of a USB link, and the broken-link
// detection, against simulated transceivers.
#include <cstring>

#include "tests/link/link_fixture.h"

namespace {

class LinkIo : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        tx = ftsimAdd("QVSIM001", nullptr);
        ASSERT_EQ(openUsb("QVSIM001", &link), 1);
    }
    void TearDown() override {
        CloseLink(&link);
        LinkTest::TearDown();
    }
    int tx = -1;
    LinkHandle link = {LINK_USB, LINK_INVALID_HANDLE};
};

TEST_F(LinkIo, SendHandsTheWholeFrameOver) {
    const uint8_t frame[3] = {0x02, 0x04, 0x40};
    EXPECT_EQ(SendLink(&link, 3, frame), 3);
    uint8_t seen[8];
    ASSERT_EQ(ftsimTakeWritten(tx, seen, sizeof seen), 3);
    EXPECT_EQ(std::memcmp(seen, frame, 3), 0);

    EXPECT_EQ(SendLink(&link, 0, frame), 0);
    EXPECT_EQ(SendLink(&link, 0, nullptr), 0);
    // Caller mistakes are refused before the transport.
    uint32_t writes = ftsimCallCount(FTSIM_CALL_WRITE);
    EXPECT_EQ(SendLink(&link, -1, frame), -1);
    EXPECT_EQ(SendLink(&link, 2, nullptr), -1);
    EXPECT_EQ(SendLink(nullptr, 2, frame), -1);
    EXPECT_EQ(ftsimCallCount(FTSIM_CALL_WRITE), writes);
    EXPECT_EQ(newLog(), "");
    EXPECT_EQ(brokenReports(), 0u);
}

TEST_F(LinkIo, ShortWriteFailsWithoutBrokenLink) {
    ftsimSetWriteLimit(tx, 1);
    const uint8_t frame[2] = {0x01, 0x00};
    EXPECT_EQ(SendLink(&link, 2, frame), -1);
    EXPECT_EQ(newLog(), "!FT_Write: Too few bytes sent: 1\n");
    EXPECT_EQ(brokenReports(), 0u);
}

TEST_F(LinkIo, FailingWriteReportsBrokenLink) {
    ftsimSetFaults(tx, FTSIM_FAULT_WRITE);
    const uint8_t frame[2] = {0x01, 0x00};
    EXPECT_EQ(SendLink(&link, 2, frame), -1);
    EXPECT_EQ(newLog(), "!FT_Write: 4\n");
    EXPECT_EQ(lastFtStatus, 4u);
    EXPECT_EQ(brokenReports(), 1u);
}

TEST_F(LinkIo, BytesComeOneAtATime) {
    uint8_t data[300];
    for (int i = 0; i < 300; ++i) data[i] = (uint8_t)(i * 7);
    ASSERT_EQ(ftsimPushBytes(tx, data, sizeof data), 300);
    EXPECT_EQ(QueueStatusLink(&link), 300);
    ftsimResetCallCounts();
    uint8_t buffer[16];
    for (int i = 0; i < 300; ++i) {
        std::memset(buffer, 0xEE, sizeof buffer);
        ASSERT_EQ(RecvLink(&link, buffer), 1) << i;
        ASSERT_EQ(buffer[0], data[i]) << i;
        ASSERT_EQ(buffer[1], 0xEE);
    }
    EXPECT_EQ(RecvLink(&link, buffer), 0);
    // One queue-status and one read per byte; nothing read when nothing waits.
    EXPECT_EQ(ftsimCallCount(FTSIM_CALL_GET_QUEUE_STATUS), 301u);
    EXPECT_EQ(ftsimCallCount(FTSIM_CALL_READ), 300u);
    EXPECT_EQ(RecvLink(&link, nullptr), -1);
    EXPECT_EQ(newLog(), "");
}

TEST_F(LinkIo, QueueStatusErrors) {
    const uint8_t one = 0x55;
    ftsimPushBytes(tx, &one, 1);
    ftsimSetQueueStatusResult(tx, 4);
    uint8_t b = 0;
    EXPECT_EQ(QueueStatusLink(&link), 0);
    EXPECT_EQ(RecvLink(&link, &b), 0);
    EXPECT_EQ(newLog(), "");
    EXPECT_EQ(brokenReports(), 0u);

    ftsimSetQueueStatusResult(tx, 3);
    EXPECT_EQ(QueueStatusLink(&link), -1);
    EXPECT_EQ(RecvLink(&link, &b), -1);
    EXPECT_EQ(newLog(), "!FT_GetQueueStatus: 3\n!FT_GetQueueStatus: 3\n");
    EXPECT_EQ(brokenReports(), 1u);
}

TEST_F(LinkIo, FailingReadReportsBrokenLink) {
    const uint8_t one = 0x55;
    ftsimPushBytes(tx, &one, 1);
    ftsimSetFaults(tx, FTSIM_FAULT_READ);
    uint8_t b = 0;
    EXPECT_EQ(RecvLink(&link, &b), -1);
    EXPECT_EQ(newLog(), "!FT_Read: 4\n");
    EXPECT_EQ(brokenReports(), 1u);
}

TEST_F(LinkIo, UnpluggedTransceiver) {
    ftsimUnplug(tx);
    const uint8_t frame[2] = {0x01, 0x00};
    uint8_t b = 0;
    EXPECT_EQ(RecvLink(&link, &b), 0);  // an I/O error while polling reads as quiet
    EXPECT_EQ(SendLink(&link, 2, frame), -1);
    EXPECT_EQ(brokenReports(), 1u);
    CloseLink(&link);
    EXPECT_EQ(newLog(), "!FT_Write: 4\n!FT_Close: 4\n");

    // Plugged in again it opens anew.
    ftsimReplug(tx);
    ASSERT_EQ(openUsb("QVSIM001", &link), 1);
    EXPECT_EQ(SendLink(&link, 2, frame), 2);
}

TEST_F(LinkIo, CloseDropsTheModemLines) {
    ftsimResetCallCounts();
    CloseLink(&link);
    EXPECT_EQ(ftsimCallCount(FTSIM_CALL_CLR_DTR), 1u);
    EXPECT_EQ(ftsimCallCount(FTSIM_CALL_CLR_RTS), 1u);
    EXPECT_EQ(ftsimCallCount(FTSIM_CALL_CLOSE), 1u);
    EXPECT_EQ(link.handle, LINK_INVALID_HANDLE);
    CloseLink(&link);  // nothing left to close
    EXPECT_EQ(ftsimCallCount(FTSIM_CALL_CLOSE), 1u);

    ASSERT_EQ(openUsb("QVSIM001", &link), 1);
    ftsimSetFaults(tx, FTSIM_FAULT_CLOSE);
    CloseLink(&link);
    EXPECT_EQ(newLog(), "!FT_Close: 4\n");
    EXPECT_FALSE(state(tx).open);
}

TEST_F(LinkIo, UnknownLinkType) {
    LinkHandle other = {LINK_USB, 0x1234};
    char id[8] = "keep";
    EXPECT_EQ(OpenLink(7, "QVSIM001", &other, id, sizeof id), 0);
    EXPECT_EQ(other.type, 7);
    EXPECT_EQ(other.handle, (uintptr_t)0x1234);
    EXPECT_STREQ(id, "keep");
    const uint8_t b = 0;
    uint8_t r = 0;
    EXPECT_EQ(SendLink(&other, 1, &b), -1);
    EXPECT_EQ(QueueStatusLink(&other), -1);
    EXPECT_EQ(RecvLink(&other, &r), -1);
    EXPECT_EQ(brokenReports(), 0u);
    EXPECT_EQ(newLog(), "");
}

}  // namespace
