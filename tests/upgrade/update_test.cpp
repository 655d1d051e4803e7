// The update run against the simulated device and its boot loader: the
// upload and Check roads, identity and version checks, device errors, the
// time-outs, notifications, refused messages and a broken-off upload.
#include <algorithm>
#include <cstring>

#include "link/sockets.h"
#include "os/os.h"
#include "tests/upgrade/upgrade_fixture.h"

namespace {

class UpdateRun : public UpdateTest {
protected:
    static void SetUpTestSuite() { openUpgradeLog(""); }
    static void TearDownTestSuite() { closeUpgradeLog(); }
    void SetUp() override {
        UpdateTest::SetUp();
        logMark_ = testenvReadFile(upgradeLogPath()).size();
    }
    std::string log() const { return testenvReadFile(upgradeLogPath()).substr(logMark_); }
    size_t logMark_ = 0;
};

Bytes frame(std::initializer_list<uint8_t> body) {
    Bytes f = {(uint8_t)body.size()};
    f.insert(f.end(), body);
    return f;
}

TEST_F(UpdateRun, UploadWritesTheImageThroughTheBootLoader) {
    plugIn();
    const Bytes image = firmwareImage(2048);
    EXPECT_GE(run(openImage(image)), UPD_BOOT_DELAY_MS);
    EXPECT_EQ(updateState(), UPD_OK);
    EXPECT_TRUE(g_loader.flags & LOADER_SUCCESS);
    EXPECT_TRUE(g_output.hasPrefix("Hardware:\n\tQuorvane Halvex-4 USB S/N QV"));
    EXPECT_TRUE(g_output.has("Bootloader:\n\tHalvex boot loader ver. 1.0\n"));
    EXPECT_TRUE(g_output.has("Old firmware:\n\tHalvex application ver. 1.4.2\n"));
    EXPECT_TRUE(g_output.has("New firmware:\n\tHalvex application ver. 2.1\n"));
    EXPECT_EQ(g_output.messages.back(), "Firmware updated successfully.");
    EXPECT_EQ(g_output.progress, (std::vector<int>{25, 50, 75, 100}));
    // Every command as a frame; the header goes with the first block and
    // the check value never goes.
    Bytes expected;
    for (uint8_t code : {0x00, 0x03, 0x11, 0x02, 0x01})
        for (uint8_t b : frame({code})) expected.push_back(b);
    for (uint32_t at = 0; at < 2048; at += 512) {
        expected.insert(expected.end(), {0x81, 0x04, 0x12});
        expected.insert(expected.end(), image.begin() + at, image.begin() + at + 512);
    }
    expected.insert(expected.end(), {0x01, 0x14});
    EXPECT_EQ(written(), expected);
    EXPECT_EQ(std::memcmp(boot()->flash, image.data(), 2048), 0);
    const std::string text = log();
    for (const char *line : {"# UPD_GET_DEV_INFO -> UPD_GET_DEV_STATE\n", "< CMD_WRITE_FIRM ...\n",
                             "> REP_WRITE_FIRM 00 \n", "# Timer INT_T4 started\n", "^ INT_T4\n", "< CMD_BOOT \n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    // The device now runs the new firmware; a Check shows it and ends
    // without the success message.
    g_output = LoaderOutput();
    loaderInit("");
    run(nullptr);
    EXPECT_EQ(updateState(), UPD_OK);
    EXPECT_TRUE(g_output.has("Old firmware:\n\tHalvex application ver. 2.1\n"));
    EXPECT_FALSE(g_output.has("Firmware updated successfully."));
    EXPECT_FALSE(g_loader.flags & LOADER_SUCCESS);
}

TEST_F(UpdateRun, ModelsAndManufacturer) {
    const struct { const char *model, *maker, *expected; } cases[] = {
        {"Quorvane Halvex+ 4 USB", "Quorvane Systems", "Quorvane Halvex+: Invalid firmware length"},
        {"Quorvane Halvex-4 USB", "Quorvane Systems", "Quorvane Halvex: Invalid firmware length"},
        {"Quorvane Halvex-4 USB", "Quorvane", "!Unsupported device model."},
        {"Acme Halvex", "Quorvane Systems", "!Unsupported device model."},
    };
    plugIn();
    for (const auto &c : cases) {
        g_output = LoaderOutput();
        simDeviceSetIdentity(dev_, c.maker, c.model, nullptr);
        simDeviceSetFault(dev_, 0x12, SIM_FAULT_RESULT, 6, 1);
        run(openImage(firmwareImage(1024)));
        EXPECT_TRUE(g_output.has(c.expected)) << c.model << " / " << c.maker;
        simDevicePowerCycle(dev_, osClockMs());
    }
}

TEST_F(UpdateRun, DeviceStatesBootLoaderVersionsAndOldFirmware) {
    const struct { uint8_t state; uint8_t version[3]; int firmResult; const char *expected; } cases[] = {
        {18, {1, 0, 0}, 0, "Bootloader:\n\tHalvex boot loader ver. 1.0\n"},
        {19, {1, 0, 3}, 0, "Bootloader:\n\tHalvex boot loader ver. 1.0.3\n"},
        {1, {0, 9, 0}, 0, "!Unsupported bootloader version."},
        {5, {1, 0, 0}, 0, "!Device is not ready. (Please finish measurement session.)"},
        {1, {1, 2, 0}, 4, "Firmware updated successfully."},
    };
    plugIn();
    for (const auto &c : cases) {
        g_output = LoaderOutput();
        simBootSetRestState(boot(), c.state);
        simBootSetVersion(boot(), c.version[0], c.version[1], c.version[2], "Halvex boot loader");
        if (c.firmResult) simDeviceSetFault(dev_, 0x01, SIM_FAULT_RESULT, (uint32_t)c.firmResult, 1);
        run(openImage(firmwareImage(1024)));
        EXPECT_TRUE(g_output.has(c.expected)) << c.expected;
        // Result 4 on the firmware information goes on without an old firmware.
        EXPECT_EQ(g_output.hasPrefix("Old firmware:"), c.firmResult == 0 && c.state != 5 && c.version[0] != 0);
        simDevicePowerCycle(dev_, osClockMs());
    }
}

// The reply time-out is 1500 ms from the command, the boot loader's start
// delay 2000 ms from REP_BOOT (which the device sends at once).
TEST_F(UpdateRun, ReplyTimeOutAndBootDelay) {
    const struct { int lost; Bytes from, to; uint32_t ms; } cases[] = {
        {0x03, {0x01, 0x03}, {0x00, 0x01, 0x0D}, 1500},
        {-1, {0x01, 0x11}, {0x01, 0x02}, 2000},
    };
    plugIn();
    for (const auto &c : cases) {
        simDevicePowerCycle(dev_, osClockMs());
        clock_->advance(SIM_BOOT_RESTART_MS);
        if (c.lost >= 0) simDeviceSetFault(dev_, c.lost, SIM_FAULT_IGNORE, 0, 1);
        StartUpdate(&link_, nullptr);
        uint32_t sent = 0, seen = 0;
        for (uint32_t ms = 1; ms < 5000 && !seen && PollUpdate(); ++ms, clock_->advance(1)) {
            const Bytes w = written();
            auto endsWith = [&w](const Bytes &b) {
                return w.size() >= b.size() && std::equal(b.begin(), b.end(), w.end() - (long)b.size());
            };
            if (endsWith(c.from)) sent = ms;
            if (endsWith(c.to)) seen = ms;
        }
        ASSERT_GT(sent, 0u);
        EXPECT_GE(seen - sent, c.ms);
        EXPECT_LE(seen - sent, c.ms + 1);
    }
}

// Whole percent, rounded to nearest: the second of three blocks is 67.
TEST_F(UpdateRun, ProgressRoundsToTheNearestPercent) {
    plugIn();
    run(openImage(firmwareImage(1536)));
    EXPECT_EQ(g_output.progress, (std::vector<int>{33, 67, 100}));
}

// A send that the link refuses (a short write) fails the run at once.
TEST_F(UpdateRun, FailedSendIsReported) {
    plugIn();
    ftsimSetWriteLimit(tx_, 1);
    EXPECT_LE(run(nullptr), 1500u + 1);
    EXPECT_EQ(g_output.messages, std::vector<std::string>{"!Sending error."});
    EXPECT_EQ(updateState(), UPD_ERR);
}

TEST_F(UpdateRun, TimeOutSendsZeroAndRestart) {
    plugIn();
    simDeviceSetFault(dev_, 0x03, SIM_FAULT_IGNORE, 0, 1);
    const uint32_t ms = run(nullptr);
    EXPECT_GE(ms, UPD_REPLY_TIMEOUT_MS);
    EXPECT_LT(ms, 2 * UPD_REPLY_TIMEOUT_MS);     // the restart's reply ends it
    EXPECT_EQ(written(), (Bytes{0x01, 0x00, 0x01, 0x03, 0x00, 0x01, 0x0D}));
    EXPECT_EQ(g_output.messages.back(), "!Device is not responding. Please check, if it's on.");
    EXPECT_EQ(updateState(), UPD_ERR);
    // A device that answers nothing at all: the second time-out ends it.
    simDeviceSetFault(dev_, SIM_ANY_COMMAND, SIM_FAULT_IGNORE, 0, SIM_ALWAYS);
    EXPECT_GE(run(nullptr), 2 * UPD_REPLY_TIMEOUT_MS);
    EXPECT_NE(log().find("^ INT_T1\n"), std::string::npos);
}

// A transceiver that delivers zero bytes without end (a held break): each
// poll reads a bounded share of them, so the reply's time-out still ends
// the run (and the program's own loop goes round).
TEST_F(UpdateRun, EndlessByteStreamLeavesTheTimersRunning) {
    plugIn();
    FtSimPeer endless = {};
    endless.receive = [](void *, const uint8_t *, size_t, uint32_t) {};
    endless.pending = [](void *, uint32_t) -> size_t { return 4096; };
    endless.take = [](void *, uint8_t *buffer, size_t max) -> size_t {
        std::memset(buffer, 0, max);
        return max;
    };
    ASSERT_EQ(ftsimAttachPeer(tx_, &endless), 0);
    const uint32_t ms = run(nullptr, 3 * UPD_REPLY_TIMEOUT_MS);
    EXPECT_LT(ms, 3 * UPD_REPLY_TIMEOUT_MS);
    EXPECT_EQ(g_output.messages.back(), "!Device is not responding. Please check, if it's on.");
}

// The same time-out on a Bluetooth link names the wireless range.
TEST_F(UpdateRun, TimeOutOnAWirelessLinkNamesTheRange) {
    linkUseSockets(ftsimSocketApi());
    tx_ = ftsimAddBluetooth("00:80:98:A1:B2:C3", "Quorvane Halvex 4");
    ASSERT_GE(ftsimAttachNewDevice(tx_, "Quorvane Halvex-4 BT", nullptr), 0);
    simDeviceSetFault(ftsimDevice(tx_), SIM_ANY_COMMAND, SIM_FAULT_IGNORE, 0, SIM_ALWAYS);
    ASSERT_EQ(OpenLink(LINK_BT, "00:80:98:A1:B2:C3", &link_, nullptr, 0), 1);
    run(nullptr);
    EXPECT_EQ(written(), (Bytes{0x01, 0x00, 0x00, 0x01, 0x0D}));
    EXPECT_EQ(g_output.messages.back(), "!Device is not responding. Please check, if it's on and in wireless range.");
    CloseLink(&link_);
    linkUseSockets(nullptr);
}

TEST_F(UpdateRun, NotificationIsLoggedAndRearmsTheTimeOut) {
    plugIn();
    simDeviceSetFault(dev_, 0x12, SIM_FAULT_IGNORE, 0, SIM_ALWAYS);
    g_loader.flags = LOADER_RUNNING;
    StartUpdate(&link_, openImage(firmwareImage(2048)));
    uint32_t ms = 0;
    for (; updateState() != UPD_WRITE && ms < 10000; ++ms, clock_->advance(1))
        ASSERT_EQ(PollUpdate(), 1);
    for (int i = 0; i < 1000; ++i, ++ms, clock_->advance(1))
        ASSERT_EQ(PollUpdate(), 1);
    const uint8_t event[] = {0x40, 3};
    simDeviceInjectFrame(dev_, 0xC0, event, sizeof event, osClockMs());
    uint32_t waited = 0;
    for (; !g_output.hasPrefix("!Device is not responding") && waited < 5000; ++waited, clock_->advance(1))
        PollUpdate();
    EXPECT_GE(waited, UPD_REPLY_TIMEOUT_MS - 1);
    EXPECT_NE(log().find("# " + std::string(kUpdIncompatibleMessage) + "\n"), std::string::npos);
}

// A run that failed waits one reply time-out for the restart, whatever
// the device says meanwhile: a stray reply after a too-long message in the
// boot delay, or notifications every 100 ms.
TEST_F(UpdateRun, FailedRunWaitsOneReplyTimeOutAtMost) {
    const struct { const char *tooLongAfter; bool chatter; } cases[] = {
        {"# Timer INT_T4 started", false},
        {"< CMD_GET_DEV_INFO", true},
    };
    plugIn();
    for (const auto &c : cases) {
        simDevicePowerCycle(dev_, osClockMs());
        clock_->advance(SIM_BOOT_RESTART_MS);
        logMark_ = testenvReadFile(upgradeLogPath()).size();
        StartUpdate(&link_, nullptr);
        for (int ms = 0; log().find(c.tooLongAfter) == std::string::npos; ++ms, clock_->advance(1))
            ASSERT_TRUE(PollUpdate() && ms < 1000);
        const Bytes tooLong(600, 0);
        simDeviceInjectFrame(dev_, 0x80, tooLong.data(), tooLong.size(), osClockMs());
        const uint8_t reply[] = {0, 1}, notification[] = {0x40, 3};
        uint32_t failedFor = 0;
        for (int ms = 0; ms < 10000 && PollUpdate(); ++ms, clock_->advance(1)) {
            if (updateState() != UPD_ERR) continue;
            if (++failedFor == 10 && !c.chatter) simDeviceInjectFrame(dev_, 0x83, reply, 2, osClockMs());
            if (failedFor % 100 == 0 && c.chatter) simDeviceInjectFrame(dev_, 0xC0, notification, 2, osClockMs());
        }
        EXPECT_EQ(updateState(), UPD_ERR);
        EXPECT_LE(failedFor, UPD_REPLY_TIMEOUT_MS) << c.tooLongAfter;
    }
}

TEST_F(UpdateRun, RefusedMessages) {
    const char *const INCORRECT = "!Incorrect format of received message.";
    const struct { uint8_t code; uint16_t length; uint8_t result; const char *reason, *message; } cases[] = {
        {0x05, 1, 0, "Invalid message direction.", INCORRECT},
        {0x96, 2, 0, "Unknown message", INCORRECT},
        {0xC9, 2, 0, "Unknown message", INCORRECT},
        {0x88, 2, 0, "Unimplemented message.", INCORRECT},
        {0x80, 10, 0, "Message is too short.", INCORRECT},
        {0x80, 600, 0, "Message is too long.", "!Receiving error."},
        // Short error replies are taken.
        {0x80, 2, 3, nullptr, "Quorvane Brev: The command cannot be executed in a current device state"},
        {0x80, 2, 9, nullptr, "Quorvane Brev: Unknown return error."},
    };
    plugIn();
    for (const auto &c : cases) {
        g_output = LoaderOutput();
        logMark_ = testenvReadFile(upgradeLogPath()).size();
        simDeviceSetFault(dev_, 0x00, SIM_FAULT_IGNORE, 0, 1);
        Bytes body(c.length - 1, 0);
        if (!body.empty()) body[0] = c.result;
        simDeviceInjectFrame(dev_, c.code, body.data(), body.size(), osClockMs());
        run(nullptr);
        EXPECT_EQ(g_output.messages.back(), c.message);
        if (c.reason) {
            const std::string text = log();
            const size_t note = text.find(std::string("# ") + c.reason + "\n");
            EXPECT_NE(note, std::string::npos) << c.reason;
            EXPECT_NE(text.find(std::string(c.message) + "\n", note), std::string::npos) << "after the note";
        }
    }
}

TEST_F(UpdateRun, BrokenUploadCanBeMadeAgain) {
    plugIn();
    const Bytes image = firmwareImage(2048, "Halvex application", 3, 0, 0);
    g_loader.flags = LOADER_RUNNING;
    StartUpdate(&link_, openImage(image));
    for (int ms = 0; updateSent() < 512 && ms < 10000; ++ms, clock_->advance(1))
        ASSERT_EQ(PollUpdate(), 1);
    EXPECT_EQ(UpdateEvent(INT_DISC), 0);
    EXPECT_EQ(PollUpdate(), 0);
    EXPECT_EQ(g_output.messages.back(), "!Communication broken.");
    // Left in its boot loader without a whole application, the device
    // reports no old firmware, and takes the upload once more.
    simDevicePowerCycle(dev_, osClockMs());
    written();
    g_output = LoaderOutput();
    run(openImage(image));
    EXPECT_TRUE(g_loader.flags & LOADER_SUCCESS);
    EXPECT_FALSE(g_output.hasPrefix("Old firmware:"));
    const Bytes sent = written();
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 8), (Bytes{0x01, 0x00, 0x01, 0x03, 0x01, 0x02, 0x01, 0x01}));
    // Firmware of another model is refused by the boot loader.
    g_output = LoaderOutput();
    run(openImage(firmwareImage(2048, "Brev application")));
    EXPECT_EQ(g_output.messages.back(), "Quorvane Halvex: Incompatible firmware");
    // A flash that reads back wrong ends with the device's CRC error.
    simBootSetCorruptFlash(boot(), true);
    g_output = LoaderOutput();
    run(openImage(image));
    EXPECT_EQ(g_output.messages.back(), "Quorvane Halvex: Firmware CRC error");
}

}  // namespace
