// test_ble.cpp - the Bluetooth LE link against simulated BLE devices through
// the GATT seam: refused opens that leave nothing behind, credit, value
// sizes, the receive ring, freed-space reports, device choice by name and
// address, and input that must be ignored.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "link/ble_gatt.h"
#include "link/link_internal.h"
#include "sim/blesim.h"
#include "tests/link/link_fixture.h"
#include "tests/support/log_lines.h"

namespace {

class BleTest : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        ftsimBleAutoPump(0);
        linkBleUseGatt(ftsimBleGattApi());
    }
    void TearDown() override {
        linkBleUseGatt(nullptr);
        ftsimBleAutoPump(1);
        LinkTest::TearDown();
    }
    // A device that announces nothing and reports nothing by itself.
    static int quietDevice(const char *name = "Halvex BLE", const char *address = nullptr) {
        int slot = ftsimAddBle(name, address);
        EXPECT_EQ(ftsimBleSetDeviceBuffer(slot, 0, 0), 0);
        return slot;
    }
    static FtSimBleState bleState(int slot) {
        FtSimBleState st = {};
        EXPECT_EQ(ftsimBleGetState(slot, &st), 0);
        return st;
    }
    static int open(const char *id, LinkHandle *link, char *ident = nullptr, uint32_t size = 0) {
        link->handle = LINK_INVALID_HANDLE;
        return OpenLink(LINK_BLE, id, link, ident, size);
    }
    // A value-changed event as the stack hands it over.
    static void event(LinkHandle *link, uint16_t handle, std::vector<uint8_t> bytes) {
        BleGattValueBuffer value;
        value.dataSize = (uint32_t)bytes.size();
        if (!bytes.empty()) std::memcpy(value.data, bytes.data(), bytes.size());
        BleGattValueChangedEvent e = {handle, sizeof(uint32_t) + bytes.size(), reinterpret_cast<BleGattValue *>(&value)};
        OnBleEvent(BLE_EVENT_VALUE_CHANGED, &e, reinterpret_cast<void *>(link->handle));
    }
};

// One value written to characteristic 0 of the first listed device
// straight through a GATT table, with the write flags given.
BleResult writeDirectly(const BleGattApi *api, uint32_t flags) {
    char path[BLE_PATH_SIZE] = "";
    void *list = api->listBegin(nullptr);
    if (!list || api->listPath(list, 0, path, sizeof path) != BLE_LIST_OK) path[0] = '\0';
    if (list) api->listEnd(list);
    uint32_t error = 0;
    void *device = path[0] ? api->openDevice(path, &error) : BLE_INVALID_DEVICE;
    if (device == BLE_INVALID_DEVICE) return BLE_E_NOT_FOUND;
    BleGattService service = {};
    BleGattCharacteristic ch[BLE_CHARACTERISTICS] = {};
    uint16_t n = 0;
    BleGattValueBuffer value;
    value.dataSize = 1;
    value.data[0] = 0x55;
    BleResult r = api->getServices(device, 1, &service, &n, BLE_FLAG_NONE);
    if (r == BLE_OK) r = api->getCharacteristics(device, &service, BLE_CHARACTERISTICS, ch, &n, BLE_FLAG_NONE);
    if (r == BLE_OK) r = api->setCharacteristicValue(device, &ch[0], reinterpret_cast<BleGattValue *>(&value), 0, flags);
    api->closeDevice(device);
    return r;
}

// A host that leaves characteristic 0 out of its event registration, or
// out of the notifications (the link does neither).
BleGattApi g_partial;
BleResult BLE_CALL registerDataOnly(void *device, int32_t type, void *parameter, BleEventCallback callback,
                                    void *context, void **handle, uint32_t flags) {
    BleGattEventRegistration one = *static_cast<BleGattEventRegistration *>(parameter);
    one.numCharacteristics = 1;  // characteristic 1 comes first
    return ftsimBleGattApi()->registerEvent(device, type, &one, callback, context, handle, flags);
}
BleResult BLE_CALL subscribeDataOnly(void *device, BleGattDescriptor *descriptor, BleGattDescriptorValue *value,
                                     uint32_t flags) {
    if (descriptor->characteristicHandle == 0x0B) return BLE_OK;  // characteristic 0 of the simulated layout
    return ftsimBleGattApi()->setDescriptorValue(device, descriptor, value, flags);
}

TEST_F(BleTest, RefusedOpensSayWhyAndLeaveNothingOpen) {
    struct Case {
        uint32_t faults;
        uint32_t param;
        const char *lines;
    } cases[] = {
        {FTSIM_BLE_WRONG_ORDER, 0,
         "!Unexpected order in characteristic array or missing characteristic(s). \t\t\tSource code may require "
         "adjustment.\n"},
        {FTSIM_BLE_TWO_CHARACTERISTICS, 0, "!Too few service characteristics\n"},
        {FTSIM_BLE_NO_CHARACTERISTICS, 0, "!No characteristics found\n"},
        {FTSIM_BLE_FAIL_OPEN, 0, "!CreateFile: 5\n"},
        {FTSIM_BLE_FAIL_SERVICES, 0, "!BluetoothGATTGetServices: 0x4005\n"},
        {FTSIM_BLE_FAIL_SERVICES_READ, 0, "!BluetoothGATTGetServices: 0x4005\n"},
        {FTSIM_BLE_FAIL_SERVICE_READ_EMPTY, 0, "!BluetoothGATTGetServices: 0x490\n"},
        {FTSIM_BLE_FAIL_CHARACTERISTICS, 0, "!BluetoothGATTGetCharacteristics: 0x4005\n"},
        {FTSIM_BLE_FAIL_CHARACTERISTICS_READ, 0, "!BluetoothGATTGetCharacteristics: 0x4005\n"},
        {FTSIM_BLE_FAIL_REGISTER, 0, "!BluetoothGATTRegisterEvent: 0x4005\n"},
        {FTSIM_BLE_FAIL_DESCRIPTORS, 0, "!Setting descriptor values failed: 0x4005\n"},
        {FTSIM_BLE_DESCRIPTOR_TIMEOUT, 2500,
         "!BluetoothGATTSetDescriptorValue TIMEOUT after 2500 ms\n!Setting descriptor values failed: 0x79\n"},
        {FTSIM_BLE_FAIL_WRITE, 0, "!sendFlowControlMsg(.., INITIAL_BUF_SIZE_MSG, ..): 0x4005\n"},
    };
    osClockSetManual(true, 1000);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.lines);
        ftsimReset();
        int slot = quietDevice();
        ftsimBleSetFaults(slot, c.faults, c.param);
        size_t mark = newLog().size();
        LinkHandle link;
        EXPECT_EQ(open("Halvex BLE", &link), 0);
        EXPECT_EQ(link.handle, LINK_INVALID_HANDLE);
        EXPECT_NE(newLog().find(c.lines, mark), std::string::npos) << newLog().substr(mark);
        FtSimBleState st = bleState(slot);
        EXPECT_FALSE(st.open || st.registered);
        // The device is free again: a clean device of the same slot opens.
        ftsimBleSetFaults(slot, 0, 0);
        ASSERT_EQ(open("Halvex BLE", &link), 1);
        CloseLink(&link);
    }
}

// An aborted switch is written once more; a time-out under 2000 ms is
// logged, waited out for 10 s, and the open goes on.
TEST_F(BleTest, SwitchesThatAbortOrTimeOutQuickly) {
    const struct {
        uint32_t faults, param;
        bool notifying;
        const char *line;
    } cases[] = {
        {FTSIM_BLE_DESCRIPTOR_ABORT, 0, true, ""},
        {FTSIM_BLE_DESCRIPTOR_TIMEOUT, 1999, false, "!BluetoothGATTSetDescriptorValue TIMEOUT after 1999 ms\n"},
    };
    osClockSetManual(true, 1000);
    for (const auto &c : cases) {
        ftsimReset();
        int slot = quietDevice();
        ftsimBleSetFaults(slot, c.faults, c.param);
        size_t mark = newLog().size();
        uint32_t before = osClockMs();
        LinkHandle link;
        ASSERT_EQ(open("Halvex BLE", &link), 1) << c.line;
        EXPECT_EQ(bleState(slot).notifying[0] && bleState(slot).notifying[1], c.notifying);
        EXPECT_NE(newLog().find(c.line, mark), std::string::npos) << newLog().substr(mark);
        EXPECT_EQ(osClockMs() - before, c.notifying ? 0u : 2 * (c.param + 10000)) << "each characteristic";
        CloseLink(&link);
    }
}

// The device's characteristics take writes without response only, from
// the link as from anyone.
TEST_F(BleTest, WritesWithoutResponseOnly) {
    quietDevice();
    EXPECT_NE(writeDirectly(ftsimBleGattApi(), BLE_FLAG_NONE), BLE_OK);
    EXPECT_EQ(writeDirectly(ftsimBleGattApi(), BLE_FLAG_WRITE_WITHOUT_RESPONSE), BLE_OK);
}

// The device's flow control reaches the host only on characteristic 0,
// registered and subscribed: without it the credit stays at the first
// 2047 bytes and sends stall.
TEST_F(BleTest, FlowControlNeedsCharacteristicZeroRegisteredAndSubscribed) {
    const struct {
        BleRegisterEventFn registerEvent;
        BleSetDescriptorValueFn subscribe;
        bool flows;
    } cases[] = {{nullptr, nullptr, true}, {registerDataOnly, nullptr, false}, {nullptr, subscribeDataOnly, false}};
    ftsimAddBle("Halvex BLE", nullptr);  // announces 2047 bytes and reports what it took
    std::vector<uint8_t> data(2047, 0x5A);
    for (const auto &c : cases) {
        g_partial = *ftsimBleGattApi();
        if (c.registerEvent) g_partial.registerEvent = c.registerEvent;
        if (c.subscribe) g_partial.setDescriptorValue = c.subscribe;
        linkBleUseGatt(&g_partial);
        LinkHandle link;
        ASSERT_EQ(open("Halvex BLE", &link), 1);
        ftsimBlePump();
        EXPECT_EQ(SendLink(&link, 2047, data.data()), 2047);
        ftsimBlePump();
        EXPECT_EQ(SendLink(&link, 100, data.data()), c.flows ? 100 : -1) << c.flows;
        CloseLink(&link);
    }
}

// A freed-space report that fails is logged, and sent with the next byte.
TEST_F(BleTest, AFailedFreedReportIsSentAgainWithTheNextByte) {
    int slot = quietDevice();
    LinkHandle link;
    ASSERT_EQ(open("Halvex BLE", &link), 1);
    std::vector<uint8_t> sent(BLE_FREED_STEP + 1, 0x33);
    ASSERT_EQ(ftsimBleNotify(slot, sent.data(), sent.size(), 0), (int)sent.size());
    uint8_t b = 0;
    for (uint32_t i = 0; i + 1 < BLE_FREED_STEP; ++i) ASSERT_EQ(RecvLink(&link, &b), 1);
    ftsimBleSetFaults(slot, FTSIM_BLE_FAIL_WRITE, 0);
    ASSERT_EQ(RecvLink(&link, &b), 1);
    EXPECT_TRUE(logHas("!sendFlowControlMsg(.., BUF_BYTES_FREED_MSG, ..): 0x4005\n"));
    EXPECT_EQ(bleState(slot).flowMessages, 1u) << "only the buffer size";
    ftsimBleSetFaults(slot, 0, 0);
    ASSERT_EQ(RecvLink(&link, &b), 1);
    EXPECT_EQ(bleState(slot).flowMessages, 2u);
    EXPECT_EQ(bleState(slot).lastFreed, BLE_FREED_STEP + 1);
    CloseLink(&link);
}

TEST_F(BleTest, SendsStayWithinTheCreditInValuesOf243) {
    int slot = quietDevice();
    LinkHandle link;
    ASSERT_EQ(open("Halvex BLE", &link), 1);
    std::vector<uint8_t> data(2100, 0xA5);
    // 2047 bytes before the device tells its buffer.
    EXPECT_EQ(SendLink(&link, 2048, data.data()), -1);
    EXPECT_EQ(bleState(slot).valuesWritten, 0u);
    EXPECT_EQ(SendLink(&link, 2047, data.data()), 2047);
    ftsimBleSendFlow(slot, INITIAL_BUF_SIZE_MSG, 500);
    ftsimBlePump();
    EXPECT_EQ(SendLink(&link, 501, data.data()), -1);
    ftsimBleSendFlow(slot, BUF_BYTES_FREED_MSG, 100);
    ftsimBlePump();
    EXPECT_EQ(SendLink(&link, 600, data.data()), 600);
    FtSimBleState st = bleState(slot);
    // 2047 = 8 x 243 + 103; 600 = 243 + 243 + 114.
    EXPECT_EQ(st.valuesWritten, 9u + 3u);
    EXPECT_EQ(st.bytesWritten, 2647u);
    EXPECT_EQ(st.largestValue, BLE_MAX_VALUE);
    EXPECT_EQ(SendLink(&link, 1, data.data()), -1);
    CloseLink(&link);
}

TEST_F(BleTest, TheRingHolds2499BytesAndReportsFreedSpaceIn210s) {
    int slot = quietDevice();
    LinkHandle link;
    ASSERT_EQ(open("Halvex BLE", &link), 1);
    std::vector<uint8_t> sent(2600);
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = (uint8_t)(i * 7 + i / 256);
    // The host announced its buffer: 2499 bytes.
    EXPECT_EQ(bleState(slot).hostCredit, BLE_RING_CAPACITY);
    EXPECT_EQ(ftsimBleNotify(slot, sent.data(), 2499, 0), 2499);
    EXPECT_EQ(ftsimBleNotify(slot, sent.data() + 2499, 1, 1), 1);  // beyond the credit: dropped
    EXPECT_EQ(QueueStatusLink(&link), 2499);
    uint8_t b = 0;
    for (int i = 0; i < 2499; ++i) {
        ASSERT_EQ(RecvLink(&link, &b), 1);
        ASSERT_EQ(b, sent[i]) << i;
        FtSimBleState st = bleState(slot);
        // One report per 210 bytes taken, with their count.
        ASSERT_EQ(st.flowMessages, 1u + (uint32_t)(i + 1) / BLE_FREED_STEP) << i;
        if (i + 1 >= (int)BLE_FREED_STEP) {
            ASSERT_EQ(st.lastFreed, BLE_FREED_STEP);
        }
    }
    EXPECT_EQ(RecvLink(&link, &b), 0);
    // A device that notifies faster than the host drains: the overflow is dropped.
    ftsimBleSetFaults(slot, FTSIM_BLE_FLOOD, 0);
    ftsimPushBytes(slot, sent.data(), sent.size());
    EXPECT_EQ(ftsimBlePump(), 2600);
    EXPECT_EQ(QueueStatusLink(&link), 2499);
    CloseLink(&link);
    EXPECT_TRUE(logHas("CloseBle warning: 2499 bytes remained in rec buf\n"));
}

TEST_F(BleTest, FlowMessagesOfTheWrongShapeOrPlaceAreIgnored) {
    struct Case {
        uint16_t handle;  // 0x0B characteristic 0, 0x0E characteristic 1 of the simulated layout
        std::vector<uint8_t> bytes;
        int32_t credit;
        int32_t waiting;
    } cases[] = {
        {0x0B, {BUF_BYTES_FREED_MSG, 0x10, 0x00}, 2047 + 16, 0},
        {0x0B, {INITIAL_BUF_SIZE_MSG, 0x34, 0x12}, 0x1234, 0},
        {0x0B, {BUF_BYTES_FREED_MSG, 0x10}, 2047, 0},
        {0x0B, {BUF_BYTES_FREED_MSG, 0x10, 0x00, 0x00}, 2047, 0},
        {0x0B, {7, 0x10, 0x00}, 2047, 0},
        {0x0B, {}, 2047, 0},
        {0x20, {BUF_BYTES_FREED_MSG, 0x10, 0x00}, 2047, 0},
        {0x0E, {BUF_BYTES_FREED_MSG, 0x10, 0x00}, 2047, 3},
        {0x0B, {BUF_BYTES_FREED_MSG, 0xFF, 0xFF}, 0xFFFF, 0},
    };
    quietDevice();
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "handle " << c.handle << ", " << c.bytes.size() << " bytes");
        LinkHandle link;
        ASSERT_EQ(open("Halvex BLE", &link), 1);
        event(&link, c.handle, c.bytes);
        OnBleEvent(BLE_EVENT_VALUE_CHANGED, nullptr, reinterpret_cast<void *>(link.handle));
        EXPECT_EQ(QueueStatusLink(&link), c.waiting);
        std::vector<uint8_t> data((size_t)c.credit + 1);
        EXPECT_EQ(SendLink(&link, c.credit + 1, data.data()), -1);
        EXPECT_EQ(SendLink(&link, c.credit, data.data()), c.credit);
        CloseLink(&link);
    }
}

TEST_F(BleTest, DevicesAreChosenByNameWithTheLastOneFirstOrByAddress) {
    quietDevice("Twin", "0a1b2c3d4e00");
    quietDevice("Twin", "0a1b2c3d4e01");
    quietDevice("Other", "0a1b2c3d4e02");
    struct Case {
        const char *id;
        const char *opened;  // the address text OpenLink reports, "" when nothing opens
    } cases[] = {
        {"Twin", "0a:1b:2c:3d:4e:00"},
        {"{0a:1b:2c:3d:4e:01}", "0a:1b:2c:3d:4e:01"},
        {"Twin", "0a:1b:2c:3d:4e:01"},  // opened last time: tried first
        {"0A1B2C3D4E02", "0a:1b:2c:3d:4e:02"},
        {"{0a:1b:2c:3d:4e:07}", ""},
        {"twin", ""},
        {nullptr, "0a:1b:2c:3d:4e:00"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.id ? c.id : "(null)");
        LinkHandle link;
        char ident[22] = "?";
        EXPECT_EQ(open(c.id, &link, ident, sizeof ident), c.opened[0] ? 1 : 0);
        EXPECT_STREQ(c.opened[0] ? ident : "", c.opened);
        CloseLink(&link);
    }
    EXPECT_TRUE(logHas(kLinkBleCandidates + std::string("\n0: 0a:1b:2c:3d:4e:01\n")));
}

TEST_F(BleTest, UnreadableNamesAndPathsEndTheSearch) {
    struct Case {
        const char *path;   // null: the device's own
        uint32_t faults;
        const char *id;
    } cases[] = {
        {"\\\\?\\bthledevice#{331a36f5-2459-45ea-9d95-6142f0c4b307}#0a1b2c3d4e00", 0, "0a1b2c3d4e00"},
        {"\\\\?\\bthledevice#{331a36f5-2459-45ea-9d95-6142f0c4b307}_0a1b2c3d4e00x#1", 0, "0a1b2c3d4e00"},
        {"\\\\?\\x}_0a1b2c3d", 0, "0a1b2c3d4e00"},
        {nullptr, FTSIM_BLE_NO_NAME, "Halvex BLE"},
    };
    for (const Case &c : cases) {
        ftsimReset();
        int first = quietDevice("Halvex BLE", "0a1b2c3d4e00");
        quietDevice("Halvex BLE", "0a1b2c3d4e00");  // a good twin behind it
        ftsimBleSetPath(first, c.path);
        ftsimBleSetFaults(first, c.faults, 0);
        LinkHandle link;
        EXPECT_EQ(open(c.id, &link), 0) << (c.path ? c.path : c.id);
    }
    EXPECT_TRUE(logHas(errorLine(kLinkNoBleMatch)));
}

TEST_F(BleTest, AddressTexts) {
    struct Case {
        const char *text;
        bool address;
        size_t stop;     // where ParseBtAddr stops
        uint8_t fourth;  // the fourth byte read
    } cases[] = {
        {"{00:11:22:aa:BB:cc}", true, 19, 0xAA}, {"001122aabbcc", true, 12, 0xAA},   {"{001122334455", true, 13, 0x33},
        {"0011223344", false, 0, 0},             {"00:11:22:33:44:5g", false, 15, 0x33},
        {"00:11:22:33:44:55:", false, 17, 0x33},
    };
    for (const Case &c : cases) {
        uint8_t a[6] = {};
        EXPECT_EQ(ParseBtAddr(c.text, a) - c.text, (ptrdiff_t)c.stop) << c.text;
        EXPECT_EQ(bleIsAddress(c.text, a), c.address) << c.text;
        EXPECT_EQ(a[3], c.fourth) << c.text;
    }
    EXPECT_EQ(ParseBtAddr(nullptr, nullptr), nullptr);
}

// Through BlueZ: the link as a client of the stand-in BlueZ service on a bus
// of the test's own (scripts/private-bus.sh sets QD_PRIVATE_BUS=1; with
// QD_PRIVATE_BUS=nobus the bus address leads nowhere). Skipped elsewhere.
class BleBluezTest : public BleTest {
protected:
    void SetUp() override {
        const char *mode = std::getenv("QD_PRIVATE_BUS");
        bool noBus = std::strcmp(testing::UnitTest::GetInstance()->current_test_info()->name(), "NoBus") == 0;
        if (!mode || std::strcmp(mode, noBus ? "nobus" : "1") != 0) {
            GTEST_SKIP() << "runs on a bus of its own";
        }
        LinkTest::SetUp();
        linkBleUseGatt(nullptr);  // the system's: BlueZ
    }
    void TearDown() override {
        ftsimBluezStop();
        LinkTest::TearDown();
    }
    static bool waitFor(const std::function<bool()> &done) {
        for (uint32_t i = 0; i < kTestHangMs && !done(); ++i) osSleep(1);
        return done();
    }
};

TEST_F(BleBluezTest, BytesAndFlowControlGoBothWays) {
    ASSERT_EQ(ftsimBluezStart(nullptr, 1), 0);
    quietDevice("Twin", "0a1b2c3d4e00");
    int slot = quietDevice("Twin", "0a1b2c3d4e01");
    LinkHandle link;
    char ident[22] = "";
    ASSERT_EQ(open("{0A:1B:2C:3D:4E:01}", &link, ident, sizeof ident), 1);
    EXPECT_STREQ(ident, "0a:1b:2c:3d:4e:01");
    EXPECT_TRUE(waitFor([&] { return bleState(slot).hostCreditKnown; }));
    ftsimResetCallCounts();
    std::vector<uint8_t> out(600), in(1000), back(1000);
    for (size_t i = 0; i < in.size(); ++i) in[i] = (uint8_t)(i * 13 + 1);
    // Written without response into the acquired sockets: the device has
    // the values once the stack has passed them on.
    EXPECT_EQ(SendLink(&link, 600, out.data()), 600);
    EXPECT_TRUE(waitFor([&] { return bleState(slot).valuesWritten == 3; }));
    EXPECT_EQ(ftsimTakeWritten(slot, back.data(), back.size()), 600);
    ftsimPushBytes(slot, in.data(), in.size());
    EXPECT_TRUE(waitFor([&] { return QueueStatusLink(&link) == 1000; }));
    for (size_t i = 0; i < back.size(); ++i) ASSERT_EQ(RecvLink(&link, &back[i]), 1);
    EXPECT_EQ(back, in);
    EXPECT_TRUE(waitFor([&] { return bleState(slot).flowMessages == 1 + 1000 / BLE_FREED_STEP; }));
    EXPECT_EQ(ftsimCallCount(FTSIM_CALL_GATT), 1u);  // the AcquireWrite of characteristic 0, no call per value
    // A signal another client of the bus forges for the characteristic puts
    // nothing into the ring; the device's own notifications keep flowing.
    ASSERT_EQ(ftsimBluezForge(slot, out.data(), 50), 0);
    ftsimPushBytes(slot, in.data(), 100);
    EXPECT_TRUE(waitFor([&] { return QueueStatusLink(&link) >= 100; }));
    osSleep(50);
    EXPECT_EQ(QueueStatusLink(&link), 100);
    for (size_t i = 0; i < 100; ++i) ASSERT_EQ(RecvLink(&link, &back[i]), 1);
    EXPECT_TRUE(std::equal(in.begin(), in.begin() + 100, back.begin()));
    CloseLink(&link);
    EXPECT_TRUE(waitFor([&] { return !bleState(slot).open; }));
}

TEST_F(BleBluezTest, WritesWithoutResponseOnly) {
    ASSERT_EQ(ftsimBluezStart(nullptr, 1), 0);
    quietDevice("Solo", "0a1b2c3d4e00");
    EXPECT_NE(writeDirectly(linkBleGatt(), BLE_FLAG_NONE), BLE_OK);
    EXPECT_EQ(writeDirectly(linkBleGatt(), BLE_FLAG_WRITE_WITHOUT_RESPONSE), BLE_OK);
}

TEST_F(BleBluezTest, RefusalsAndChoices) {
    struct Case {
        uint32_t faults;
        const char *id;
        bool opens;
        const char *line;
    } cases[] = {
        {FTSIM_BLE_WRONG_ORDER, "Solo", false, "!Unexpected order in characteristic array"},
        {FTSIM_BLE_TWO_CHARACTERISTICS, "Solo", false, "!Too few service characteristics\n"},
        {FTSIM_BLE_FAIL_OPEN, "Solo", false, "!BLE: Connect /org/bluez/hci0/dev_0A_1B_2C_3D_4E_00: "},
        {FTSIM_BLE_DESCRIPTOR_ABORT, "Solo", true, "0: 0a:1b:2c:3d:4e:00\n"},
        {FTSIM_BLE_MISSED_SCAN, "Solo", true, "0: 0a:1b:2c:3d:4e:00\n"},
        {0, "0a:1b:2c:3d:4e:00", true, "0: 0a:1b:2c:3d:4e:00\n"},
    };
    ASSERT_EQ(ftsimBluezStart(nullptr, 1), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        ftsimReset();
        int slot = quietDevice("Solo", "0a1b2c3d4e00");
        ftsimBleSetFaults(slot, c.faults, 0);
        size_t mark = newLog().size();
        LinkHandle link;
        EXPECT_EQ(open(c.id, &link), c.opens ? 1 : 0);
        EXPECT_NE(newLog().find(c.line, mark), std::string::npos) << newLog().substr(mark);
        CloseLink(&link);
        EXPECT_TRUE(waitFor([&] { return !bleState(slot).open; }));
    }
}

// The cause, then the line of an open that found no device.
TEST_F(BleBluezTest, NoAdapterOrNoServiceIsNamed) {
    struct Case {
        int adapters;  // -1: no service on the bus
        const char *line;
    } cases[] = {
        {0, "!BLE: no Bluetooth adapter (org.bluez.Adapter1) on the system bus\n"},
        {-1, "!BLE: no Bluetooth service (org.bluez) on the system bus: "},
    };
    for (const Case &c : cases) {
        if (c.adapters >= 0) {
            ASSERT_EQ(ftsimBluezStart(nullptr, c.adapters), 0);
        }
        quietDevice("Solo");
        size_t mark = newLog().size();
        LinkHandle link;
        EXPECT_EQ(open("Solo", &link), 0);
        std::string lines = newLog().substr(mark);
        EXPECT_EQ(lines.find(c.line), 0u) << lines;
        EXPECT_EQ(lines.substr(lines.find('\n') + 1), "!Matching BLE device has not been found\n");
        ftsimBluezStop();
        ftsimReset();
    }
}

TEST_F(BleBluezTest, NoBus) {
    LinkHandle link;
    EXPECT_EQ(open("Solo", &link), 0);
    EXPECT_EQ(newLog().find("!BLE: no D-Bus system bus: "), 0u) << newLog();
    EXPECT_NE(newLog().find("\n!Matching BLE device has not been found\n"), std::string::npos) << newLog();
}

}  // namespace
