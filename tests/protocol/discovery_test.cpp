// discovery_test.cpp - the device search: the walk over link types and
// logical ids, a device found, a device that never answers, another maker's
// device, refusals, and the search on the engine thread.
#include <cstring>
#include <string>

#include "os/os.h"
#include "tests/protocol/bench.h"

namespace {

// Steps the engine until the search has ended (its threads are real ones).
bool searchEnds(DiscoveryResult *r, uint32_t advanceMs = 0, uint32_t maxMs = 5000) {
    return waitReal(
        [&] {
            QdProtocolEngine();
            if (advanceMs) osClockAdvance(advanceMs);
            return r->status != QD_DISC_SEARCHING && !discoveryRunning();
        },
        maxMs);
}

void peerReceive(void *c, const uint8_t *d, size_t n, uint32_t now) { simDeviceReceive((SimDevice *)c, d, n, now); }
size_t peerPending(void *c, uint32_t now) { return simDevicePending((SimDevice *)c, now); }
size_t peerTake(void *c, uint8_t *b, size_t max) { return simDeviceTake((SimDevice *)c, b, max); }

// A transceiver with a simulated device behind it.
struct Device {
    SimDevice *dev;
    int slot;
    Device(const char *model, const char *serial, const char *description = nullptr) {
        SimDeviceConfig cfg;
        simDeviceDefaults(&cfg, model);
        dev = simDeviceCreate(&cfg);
        slot = ftsimAdd(serial, description);
        FtSimPeer peer = {dev, peerReceive, peerPending, peerTake, nullptr};
        ftsimAttachPeer(slot, &peer);
    }
    ~Device() {
        ftsimAttachPeer(slot, nullptr);
        simDeviceDestroy(dev);
    }
};

}  // namespace

class Discovery : public DeviceTest {};

TEST_F(Discovery, AllLinkTypesWithBothLogicalIdsThenNotFound) {
    LogWatch log;
    DiscoveryResult r;
    memset(&r, 0x55, sizeof r);
    ASSERT_EQ(QdFindFirstAvailDev(nullptr, 7, &r), 0);
    EXPECT_EQ(r.status, QD_DISC_SEARCHING);
    EXPECT_EQ(QdComState(QD_ALL_CONTEXTS), 1);
    ASSERT_TRUE(searchEnds(&r));
    EXPECT_EQ(r.status, QD_DISC_NOT_FOUND);
    EXPECT_EQ(QdComState(QD_ALL_CONTEXTS), 0);
    std::string text = log.text();
    EXPECT_NE(text.find("# Discovery arguments: \"(null)\", 0xf\n"), std::string::npos);
    size_t at = 0;
    for (const char *line : {"# Discovery device logical id: Quorvane Halvex*\n", "# Discovery transport protocol: 3\n",
                             "# Discovery transport protocol: 2\n", "# Discovery transport protocol: 1\n",
                             "# Discovery transport protocol: 0\n",
                             "# Discovery device logical id: Serial Port Device\n",
                             "# Discovery transport protocol: 3\n", "# Discovery transport protocol: 2\n",
                             "# Discovery transport protocol: 1\n", "# Discovery transport protocol: 0\n"}) {
        size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << line;
        at = found + 1;
    }
    EXPECT_EQ(text.find("# Discovery transport protocol: ", at), std::string::npos) << "no third round";
}

TEST_F(Discovery, IrdaOnlyMakesOneAttemptWithAnEmptyId) {
    LogWatch log;
    DiscoveryResult r;
    ASSERT_EQ(QdFindFirstAvailDev(nullptr, 1, &r), 0);
    ASSERT_TRUE(searchEnds(&r));
    EXPECT_EQ(r.status, QD_DISC_NOT_FOUND);
    std::string text = log.text();
    EXPECT_EQ(text.find("logical id"), std::string::npos);
    size_t first = text.find("# Discovery transport protocol: 0\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(text.find("# Discovery transport protocol:", first + 1), std::string::npos);
}

TEST_F(Discovery, FindsTheDeviceOnUsb) {
    Device d("Quorvane Halvex-4 USB", "QVUSB777");
    LogWatch log;
    DiscoveryResult r;
    ASSERT_EQ(QdFindFirstAvailDev(nullptr, 15, &r), 0);
    ASSERT_TRUE(searchEnds(&r));
    ASSERT_EQ(r.status, QD_DISC_FOUND);
    EXPECT_STREQ(r.model, "Quorvane Halvex-4 USB");
    SimDeviceConfig cfg;
    simDeviceDefaults(&cfg, "Quorvane Halvex-4 USB");
    EXPECT_EQ(std::string(r.serial, strnlen(r.serial, sizeof r.serial)), cfg.serial);
    EXPECT_STREQ(r.ident, "QVUSB777");
    FtSimState s;
    ftsimGetState(d.slot, &s);
    EXPECT_EQ(s.open, 0) << "the search closes what it opened";
    std::string text = log.text();
    EXPECT_NE(text.find("< CMD_GET_DEV_INFO \n"), std::string::npos);
    EXPECT_NE(text.find("# PROT_IDLE -> PROT_GET_DEV_INFO\n"), std::string::npos);
    EXPECT_NE(text.find("> REP_GET_DEV_INFO 00 "), std::string::npos);
    EXPECT_EQ(text.find("Serial Port Device"), std::string::npos) << "found with the first id";
}

TEST_F(Discovery, CallersIdIsTriedOnceOnEachLinkType) {
    Device d("Quorvane Halvex-2 USB", "QVUSB778", "My Halvex");
    DiscoveryResult r;
    LogWatch log;
    ASSERT_EQ(QdFindFirstAvailDev("My Halvex", 4, &r), 0);
    ASSERT_TRUE(searchEnds(&r));
    EXPECT_EQ(r.status, QD_DISC_FOUND);
    EXPECT_STREQ(r.model, "Quorvane Halvex-2 USB");
    EXPECT_FALSE(log.contains("logical id"));
}

TEST_F(Discovery, SilentDeviceCostsOneSecond) {
    Device d("Quorvane Halvex-4 USB", "QVUSB779");
    simDeviceSetFault(d.dev, 0x00, SIM_FAULT_IGNORE, 0, SIM_ALWAYS);
    LogWatch log;
    DiscoveryResult r;
    uint32_t start = osClockMs();
    ASSERT_EQ(QdFindFirstAvailDev(nullptr, 4, &r), 0);
    ASSERT_TRUE(searchEnds(&r, 1));
    EXPECT_EQ(r.status, QD_DISC_NOT_FOUND);
    EXPECT_GE(osClockMs() - start, 1000u);
    EXPECT_TRUE(log.contains("^ 01\n"));
    FtSimState s;
    ftsimGetState(d.slot, &s);
    EXPECT_EQ(s.open, 0);
}

TEST_F(Discovery, AnotherMakersDeviceIsNotFound) {
    Device d("Quorvane Halvex-4 USB", "QVUSB780");
    simDeviceSetIdentity(d.dev, "Somebody Else", nullptr, nullptr);
    DiscoveryResult r;
    ASSERT_EQ(QdFindFirstAvailDev(nullptr, 4, &r), 0);
    ASSERT_TRUE(searchEnds(&r));
    EXPECT_EQ(r.status, QD_DISC_NOT_FOUND);
}

TEST_F(Discovery, Refusals) {
    DiscoveryResult r;
    memset(&r, 0x55, sizeof r);
    LogWatch log;
    EXPECT_EQ(QdFindFirstAvailDev("12345678901234567890", 4, &r), 1);
    EXPECT_EQ(r.status, QD_DISC_NOT_STARTED);
    EXPECT_EQ(QdFindFirstAvailDev(nullptr, 0, &r), 1);
    EXPECT_EQ(QdFindFirstAvailDev(nullptr, 0x4000, &r), 1) << "no link type";
    EXPECT_EQ(QdFindFirstAvailDev(nullptr, 4, nullptr), 1);
    EXPECT_TRUE(log.contains("!}QdFindFirstAvailDev: 1\n"));
    EXPECT_FALSE(discoveryRunning());

    // A second search while one runs is refused; the first goes on.
    Device d("Quorvane Halvex-4 USB", "QVUSB781");
    simDeviceSetFault(d.dev, 0x00, SIM_FAULT_DELAY, 200, 1);
    DiscoveryResult first, second;
    ASSERT_EQ(QdFindFirstAvailDev(nullptr, 4, &first), 0);
    second.status = 7;
    EXPECT_EQ(QdFindFirstAvailDev(nullptr, 4, &second), 1);
    EXPECT_EQ(second.status, QD_DISC_NOT_STARTED);
    ASSERT_TRUE(searchEnds(&first, 1));
    EXPECT_EQ(first.status, QD_DISC_FOUND);
}

TEST_F(Discovery, EngineThreadDrivesTheSearch) {
    Device d("Quorvane Halvex-4 USB", "QVUSB782");
    DiscoveryResult r;
    ASSERT_EQ(QdFindFirstAvailDev(nullptr, 0x4000 | 4, &r), 0);
    ASSERT_TRUE(waitReal([&] { return r.status == QD_DISC_FOUND; }));
    ASSERT_TRUE(waitReal([] { return engineThreadState() == 0; }));
}
