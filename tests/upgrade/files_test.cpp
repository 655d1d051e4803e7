// The firmware file check, the CRC, the argument walk with its tokenizer and
// upgrade.cfg, the Bluetooth address test and the device-field texts.
#include <cstring>

#include "os/os.h"
#include "tests/upgrade/upgrade_fixture.h"

namespace {

class LoaderFiles : public UpdateTest {};

uint16_t crcOf(const char *text) { return crcUpdate(CRC_START, (const uint8_t *)text, std::strlen(text)); }

TEST_F(LoaderFiles, CrcKnownAnswers) {
    EXPECT_EQ(crcOf("123456789"), 0x6F91);
    EXPECT_EQ(crcOf("abc"), 0x61DA);
}

TEST_F(LoaderFiles, FileErrorsAndGoodFiles) {
    const Bytes good = firmwareImage(2048);
    Bytes longer = good, flipped = good, badLength = firmwareImage(1024), truncated(good.begin(), good.begin() + 80);
    longer.push_back(0);
    flipped[700] ^= 1;
    badLength[FW_LENGTH_OFFSET] = 0xE8, badLength[FW_LENGTH_OFFSET + 1] = 0x03;  // 1000
    const struct { Bytes bytes; const char *message; } cases[] = {
        {good, nullptr},
        {firmwareImage(FW_MAX_IMAGE), nullptr},
        {Bytes(), "!Firmware file error (2).\n"},
        {truncated, "!Firmware file error (2).\n"},
        {longer, "!Firmware file error (2).\n"},
        {badLength, "!Firmware file error (2).\n"},
        {firmwareImage(1536 + 100), "!Firmware file error (2).\n"},   // only the 512 rule breaks
        {flipped, "!Firmware file error (3).\n"},
    };
    for (const auto &c : cases) {
        g_output.messages.clear();
        const std::string path = writeFirmwareFile(c.bytes);
        EXPECT_EQ(OpenFirmwareFile(path.c_str(), nullptr), c.message ? 1 : 0) << path;
        EXPECT_EQ(firmwareHeader() != nullptr, c.message == nullptr);
        if (c.message) {
            EXPECT_TRUE(g_output.has(c.message)) << c.message;
        }
    }
    EXPECT_EQ(OpenFirmwareFile("no-such.bin", nullptr), 1);
    EXPECT_TRUE(g_output.has("!Can't open firmware file no-such.bin.\n"));
    // A bare name is looked for beside the program too.
    const std::string path = writeFirmwareFile(good, "beside.bin");
    EXPECT_EQ(OpenFirmwareFile("beside.bin", (path.substr(0, path.size() - 10) + "kestrel").c_str()), 0);
}

// Splits a command line and walks it as the loader does.
void walk(const char *line, int osCode) {
    loaderInit("");
    g_loader.osCode = osCode;
    char buffer[256];
    std::strcpy(buffer, line);
    char *args[LOADER_MAX_ARGS];
    loaderApplyArguments(args, tokenize(buffer, " \t", args, LOADER_MAX_ARGS));
}

TEST_F(LoaderFiles, ArgumentsAndTokenizer) {
    const struct { const char *line; const char *path; uint16_t link; bool fixed; const char *id, *message; int os; } cases[] = {
        {"fw.bin L=usb A=QVSIM001", "fw.bin", LINK_USB, true, "QVSIM001", nullptr},
        {"L=BLE", "", LINK_BLE, true, LOADER_DEFAULT_ID, nullptr},
        {"L=ble", "", LINK_BLE, true, LOADER_DEFAULT_ID, "!Bluetooth Low Energy (BLE) is not supported below Windows 8.1.\n", 11},
        {"l=Ir A=x", "", LINK_IRDA, true, "", nullptr},
        {"L=wifi", "", LINK_BT, false, LOADER_DEFAULT_ID, "!Unknown link type.\n"},
        {"L=usb fw.bin", "", LINK_USB, true, LOADER_DEFAULT_ID, "!Unknown argument: fw.bin.\n"},
        {" \"my fw.bin\"\tA=\"Quorvane \\\"X\\\"\" D=any", "my fw.bin", LINK_BT, false, "Quorvane \"X\"", nullptr},
        {"fw.bin D=x A=y L=usb ignored", "fw.bin", LINK_USB, true, "y", nullptr},
    };
    for (const auto &c : cases) {
        g_output.messages.clear();
        walk(c.line, c.os ? c.os : 14);
        EXPECT_STREQ(g_loader.firmwarePath, c.path) << c.line;
        EXPECT_EQ(g_loader.linkType, c.link) << c.line;
        EXPECT_EQ(g_loader.linkFixed, c.fixed) << c.line;
        EXPECT_STREQ(g_loader.deviceId, c.id) << c.line;
        EXPECT_EQ(g_output.messages.size(), c.message ? 1u : 0u) << c.line;
        if (c.message) {
            EXPECT_TRUE(g_output.has(c.message)) << c.line;
        }
    }
}

TEST_F(LoaderFiles, UpgradeCfgFromTheProgramFolder) {
    const std::string dir = testenvNewDir("cfg");
    const struct { std::string content; int tokens; const char *last; } cases[] = {
        {"fw.bin L=usb\r\n", 2, "L=usb"},
        {"", 0, nullptr},
        {std::string(248, ' ') + "L=usb A=QVSIM001", 1, "L=usb"},  // A= cut by the 255-byte limit
    };
    for (const auto &c : cases) {
        g_output.messages.clear();
        ASSERT_TRUE(testenvWriteFile(dir + "upgrade.cfg", c.content));
        loaderInit((dir + "kestrel").c_str());
        char buffer[256];
        char *args[LOADER_MAX_ARGS];
        ASSERT_EQ(readUpgradeCfg(buffer, args), c.tokens);
        if (c.last) {
            EXPECT_STREQ(args[c.tokens - 1], c.last);
        }
        EXPECT_EQ(g_output.messages.size(), c.content.size() > 255 ? 1u : 0u);
    }
}

TEST_F(LoaderFiles, LogMovesIntoTheSharedFolderOnce) {
    const std::string sep(1, osPathSeparator());
    const std::string shared = testenvSharedDir() + sep + "Quorvane" + sep + "upgrade.log";
    const std::string program = testenvNewDir("program");
    osFileDelete(shared.c_str());
    for (const char *run : {"first", "second"}) {
        ASSERT_TRUE(testenvWriteFile(program + "upgrade.log", std::string("old log of the ") + run + "\n"));
        ASSERT_TRUE(openUpgradeLog((program + "kestrel").c_str()));
        EXPECT_EQ(upgradeLogPath(), shared);
        closeUpgradeLog();
        EXPECT_FALSE(osPathExists((program + "upgrade.log").c_str()));
    }
    const std::string log = testenvReadFile(shared);
    EXPECT_EQ(log.find("old log of the first\n"), 0u);        // moved, then the date line
    EXPECT_EQ(log.find("second"), std::string::npos);         // deleted: the shared log existed
}

TEST_F(LoaderFiles, BluetoothAddressesAndDeviceFields) {
    EXPECT_TRUE(isBluetoothAddress("00:1a:7D:da:71:13"));
    EXPECT_TRUE(isBluetoothAddress("(00:1a:7D:da:71:13)"));
    EXPECT_FALSE(isBluetoothAddress("(00:1a:7D:da:71:13"));
    EXPECT_FALSE(isBluetoothAddress("00:1a:7D:da:71:1g"));
    EXPECT_FALSE(isBluetoothAddress("Quorvane Halvex*"));
    char value[128];
    EXPECT_EQ(deviceFieldOf("Bootloader:\n\t Halvex  boot\tloader ver. 1.0\n", kDeviceFieldLabels, DEVICE_FIELDS,
                            value, sizeof value), 2);
    EXPECT_STREQ(value, "Halvex boot loader ver. 1.0");
    EXPECT_EQ(noteUserMessage("Firmware updated successfully."), MSG_SUCCESS);
    EXPECT_EQ(noteUserMessage("!Cannot connect.\n"), MSG_ERROR);
    EXPECT_EQ(noteUserMessage("Quorvane Halvex: Firmware CRC error"), MSG_INFO);
}

}  // namespace
