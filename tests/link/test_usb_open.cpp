// Opening a USB link: choice of the transceiver, CTS wait, reset, line
// configuration and every failure path, against simulated transceivers.
#include <cstring>

#include "tests/link/link_fixture.h"
#include "tests/support/log_lines.h"

namespace {

class UsbOpen : public LinkTest {};

TEST_F(UsbOpen, EightCharactersAreASerialNumber) {
    int tx = ftsimAdd("QVSIM001", "Some Adapter");
    LinkHandle link;
    char id[22] = "?";
    ASSERT_EQ(openUsb("QVSIM001", &link, id, sizeof id), 1);
    EXPECT_NE(link.handle, LINK_INVALID_HANDLE);
    EXPECT_STREQ(id, "QVSIM001");
    EXPECT_EQ(ftsimCallCount(FTSIM_CALL_CREATE_DEVICE_INFO_LIST), 0u);

    // The line every device of the family uses, DTR raised last.
    FtSimState st = state(tx);
    EXPECT_TRUE(st.open);
    EXPECT_EQ(st.baudRate, 921600u);
    EXPECT_EQ(st.wordLength, 8);
    EXPECT_EQ(st.stopBits, 0);
    EXPECT_EQ(st.parity, 0);
    EXPECT_EQ(st.flowControl, 0x100);
    EXPECT_EQ(st.xon, 0);
    EXPECT_EQ(st.xoff, 0);
    EXPECT_TRUE(st.dtr);

    CloseLink(&link);
    st = state(tx);
    EXPECT_FALSE(st.open);
    EXPECT_FALSE(st.dtr);
    EXPECT_FALSE(st.rts);
    EXPECT_EQ(link.handle, LINK_INVALID_HANDLE);
    EXPECT_EQ(newLog(), "");

    // An 8-character description is still read as a serial number.
    ftsimAdd("S0000002", "ABCDEFGH");
    EXPECT_EQ(openUsb("ABCDEFGH", &link), 0);
    EXPECT_EQ(link.handle, LINK_INVALID_HANDLE);
    EXPECT_EQ(newLog(), "!FT_OpenEx: 2\n");
    EXPECT_EQ(ftsimCallCount(FTSIM_CALL_CREATE_DEVICE_INFO_LIST), 0u);
}

TEST_F(UsbOpen, DescriptionTakesTheFirstTransceiverNotOpen) {
    int busy = ftsimAdd("QVSIM000", nullptr);
    int first = ftsimAdd("QVSIM001", nullptr);
    int second = ftsimAdd("QVSIM002", nullptr);
    ftsimSetOpenedElsewhere(busy, 1);

    LinkHandle a, b;
    char id[22];
    ASSERT_EQ(openUsb("Quorvane Halvex*", &a, id, sizeof id), 1);
    EXPECT_STREQ(id, "QVSIM001");
    EXPECT_TRUE(state(first).open);
    EXPECT_FALSE(state(second).open);
    // The search stops at the match.
    EXPECT_EQ(newLog(),
              "FTDI USB devices checked (index: flags type id locId handle serNum desc):\n"
              "0: 0x1 0x5 0x4036001 0x1001 0x0 QVSIM000 \"Quorvane Halvex*\"\n"
              "1: 0x0 0x5 0x4036001 0x1002 0x0 QVSIM001 \"Quorvane Halvex*\"\n"
              "FT_GetModemStatus: 0x10\n");

    // With the first one held by this process the next is chosen.
    ASSERT_EQ(openUsb("Quorvane Halvex*", &b, id, sizeof id), 1);
    EXPECT_STREQ(id, "QVSIM002");
    EXPECT_TRUE(state(second).open);
    char held[80];
    std::snprintf(held, sizeof held, "1: 0x1 0x5 0x4036001 0x1002 0x%x QVSIM001", (unsigned)a.handle);
    EXPECT_TRUE(logHas(held)) << newLog();
    CloseLink(&a);
    CloseLink(&b);
}

TEST_F(UsbOpen, NoMatchingTransceiver) {
    LinkHandle link;
    EXPECT_EQ(openUsb("Quorvane Halvex*", &link), 0);
    EXPECT_EQ(newLog(), "!FT_OpenEx: 2\n");

    // Descriptions compare exactly, case included.
    ftsimAdd("QVSIM001", nullptr);
    EXPECT_EQ(openUsb("quorvane halvex*", &link), 0);
    EXPECT_EQ(link.handle, LINK_INVALID_HANDLE);
    EXPECT_TRUE(logHas("0: 0x0 0x5 0x4036001 0x1001 0x0 QVSIM001 \"Quorvane Halvex*\"\n"));
    EXPECT_TRUE(logHas("!" + std::string(kLinkUsbOpenFailed) + " 2\n"));

    EXPECT_EQ(openUsb(nullptr, &link), 0);
    EXPECT_EQ(link.handle, LINK_INVALID_HANDLE);
}

TEST_F(UsbOpen, UnpluggedOrHeldElsewhere) {
    int tx = ftsimAdd("QVSIM001", nullptr);
    ftsimUnplug(tx);
    LinkHandle link;
    EXPECT_EQ(openUsb("QVSIM001", &link), 0);
    EXPECT_EQ(openUsb("Quorvane Halvex*", &link), 0);
    EXPECT_EQ(newLog(), "!FT_OpenEx: 2\n!FT_OpenEx: 2\n");

    ftsimReplug(tx);
    ftsimSetOpenedElsewhere(tx, 1);
    EXPECT_EQ(openUsb("QVSIM001", &link), 0);  // by serial number the library refuses
    EXPECT_TRUE(logHas("!" + std::string(kLinkUsbOpenFailed) + " 3\n"));
    ftsimSetOpenedElsewhere(tx, 0);
    ASSERT_EQ(openUsb("QVSIM001", &link), 1);
    CloseLink(&link);
}

TEST_F(UsbOpen, TransceiverAskingForResetIsResetOnce) {
    int plain = ftsimAdd("QVSIM001", nullptr);
    int asking = ftsimAdd("QVSIM002", "Dongle");
    ftsimSetModemStatus(asking, FTSIM_CTS | FTSIM_DSR);

    LinkHandle link;
    ASSERT_EQ(openUsb("QVSIM001", &link), 1);
    CloseLink(&link);
    EXPECT_EQ(state(plain).resets, 0u);
    EXPECT_FALSE(logHas(kLinkUsbReset));

    uint64_t start = osClockUs();
    ASSERT_EQ(openUsb("Dongle", &link), 1);
    EXPECT_GE(osClockUs() - start, 20000u);  // the transceiver gets time to settle
    CloseLink(&link);
    EXPECT_EQ(state(asking).resets, 1u);
    std::string log = newLog();
    size_t reset = log.find(kLinkUsbReset + std::string("\n"));
    ASSERT_NE(reset, std::string::npos);
    EXPECT_EQ(log.find(kLinkUsbReset + std::string("\n"), reset + 1), std::string::npos);
}

TEST_F(UsbOpen, CtsWaitIsShortAndNotRequired) {
    int tx = ftsimAdd("QVSIM001", nullptr);
    ftsimSetModemStatus(tx, 0);
    LinkHandle link;
    uint64_t start = osClockUs();
    ASSERT_EQ(openUsb("Quorvane Halvex*", &link), 1);
    uint64_t took = osClockUs() - start;
    EXPECT_GE(took, 2000u);
    EXPECT_LT(took, 1000000u);  // a wait in the wrong unit would take 2 s
    EXPECT_FALSE(logHas(kLinkModemStatus + std::string(" 0x")));
    CloseLink(&link);

    // CTS that comes within the wait is seen and logged.
    ftsimSetModemStatus(tx, FTSIM_CTS);
    ftsimSetCtsDelayUs(tx, 500);
    ASSERT_EQ(openUsb("Quorvane Halvex*", &link), 1);
    EXPECT_TRUE(logHas(kLinkModemStatus + std::string(" 0x10\n")));
    CloseLink(&link);

    // A stopped clock cannot hold the open.
    osClockSetManual(true, 5000);
    ftsimSetModemStatus(tx, 0);
    ftsimSetCtsDelayUs(tx, 0);
    ASSERT_EQ(openUsb("Quorvane Halvex*", &link), 1);
    CloseLink(&link);
}

struct FaultCase {
    const char *id;
    uint32_t fault;
    uint32_t modem;
    const char *line;
};

TEST_F(UsbOpen, EveryFailingStepClosesAndLogsOnce) {
    const FaultCase cases[] = {
        {"QVSIM001", FTSIM_FAULT_MODEM_STATUS, FTSIM_CTS, "!FT_GetModemStatus: 4\n"},
        {"Quorvane Halvex*", FTSIM_FAULT_MODEM_STATUS, FTSIM_CTS, "!FT_GetModemStatus: 4\n"},
        {"QVSIM001", FTSIM_FAULT_RESET, FTSIM_CTS | FTSIM_DSR, "!FT_ResetPort: 4\n"},
        {"QVSIM001", FTSIM_FAULT_BAUD_RATE, FTSIM_CTS, "!FT_SetBaudRate: 4\n"},
        {"QVSIM001", FTSIM_FAULT_DATA_CHARS, FTSIM_CTS, "!FT_SetDataCharacteristics: 4\n"},
        {"Quorvane Halvex*", FTSIM_FAULT_FLOW_CONTROL, FTSIM_CTS, "!FT_SetFlowControl: 4\n"},
        {"QVSIM001", FTSIM_FAULT_DEVICE_INFO, FTSIM_CTS, "!FT_GetDeviceInfo: 4\n"},
    };
    for (const FaultCase &c : cases) {
        SCOPED_TRACE(c.line);
        ftsimReset();
        int tx = ftsimAdd("QVSIM001", nullptr);
        ftsimSetModemStatus(tx, c.modem);
        ftsimSetFaults(tx, c.fault);
        std::string before = newLog();
        LinkHandle link;
        char id[22];
        EXPECT_EQ(openUsb(c.id, &link, id, sizeof id), 0);
        EXPECT_EQ(link.handle, LINK_INVALID_HANDLE);
        FtSimState st = state(tx);
        EXPECT_EQ(st.opens, 1u);
        EXPECT_EQ(st.closes, 1u);
        std::string added = newLog().substr(before.size());
        size_t errors = 0;
        for (size_t at = 0; (at = added.find('!', at)) != std::string::npos; ++at) ++errors;
        EXPECT_EQ(errors, 1u) << added;
        EXPECT_NE(added.find(c.line), std::string::npos) << added;
    }
}

TEST_F(UsbOpen, FailuresBeforeTheOpen) {
    int tx = ftsimAdd("QVSIM001", nullptr);
    ftsimSetFaults(tx, FTSIM_FAULT_OPEN);
    LinkHandle link;
    EXPECT_EQ(openUsb("QVSIM001", &link), 0);
    EXPECT_EQ(openUsb("Quorvane Halvex*", &link), 0);
    EXPECT_EQ(state(tx).opens, 0u);

    ftsimSetFaults(tx, FTSIM_FAULT_DETAIL);
    EXPECT_EQ(openUsb("Quorvane Halvex*", &link), 0);
    ftsimSetFaults(tx, 0);
    ftsimSetListFault(4);
    EXPECT_EQ(openUsb("Quorvane Halvex*", &link), 0);
    EXPECT_EQ(newLog(),
              "!FT_OpenEx: 3\n"
              "FTDI USB devices checked (index: flags type id locId handle serNum desc):\n"
              "0: 0x0 0x5 0x4036001 0x1001 0x0 QVSIM001 \"Quorvane Halvex*\"\n"
              "!FT_OpenEx: 3\n"
              "!FT_GetDeviceInfoDetail: 4\n"
              "!FT_CreateDeviceInfoList: 4\n");
}

TEST_F(UsbOpen, IdentifierBufferKeepsItsSize) {
    ftsimAdd("QVSIM001", nullptr);
    LinkHandle link;
    char id[8];
    std::memset(id, 'x', sizeof id);
    ASSERT_EQ(openUsb("QVSIM001", &link, id, 5), 1);
    EXPECT_STREQ(id, "QVSI");
    EXPECT_EQ(id[5], 'x');
    CloseLink(&link);

    // Without a buffer the serial number is not asked for.
    ftsimSetFaults(0, FTSIM_FAULT_DEVICE_INFO);
    ASSERT_EQ(openUsb("QVSIM001", &link), 1);
    CloseLink(&link);
}

}  // namespace
