// The device settings window under Wine, driven with the window messages a
// user's clicks, picks and typing produce. Every page of each model's
// window is saved as build/<preset>/ui-shots/<model>-<page>.png.
#include <gtest/gtest.h>

#include <string>

#include "API/driver/protocol/protocol.h"
#include "API/driver/ui/controls.h"
#include "API/driver/ui/window_hooks.h"
#include "sim/ftsim.h"
#include "tests/params/param_helpers.h"
#include "tests/ui/support/uitest.h"

using namespace qdtest;
using namespace uitest;

namespace {

const int BREV = 0, HALVEX_4_USB = 7, HALVEX_PLUS_4_BLE = 14;
const uint16_t HALVEX_MEASURING = 9;   // the Halvex state of a running measurement

class DevWindow : public DriverTest {
protected:
    void TearDown() override {
        if (window && IsWindow(window)) DestroyWindow(window);
        pump();
        DriverTest::TearDown();
        ftsimReset();
    }
    HWND openWindow(int model) {
        open(model);
        window = (HWND)QdCreateDevWindow(nullptr, nullptr, nullptr);
        EXPECT_NE(window, nullptr);
        pump(100);
        return window;
    }
    HWND control(uint16_t param, uint16_t channel) { return item(window, paramControlId(param, channel)); }
    HWND label(uint16_t param, uint16_t channel) { return item(window, paramControlId(param, channel) + 50); }
    // Shows the tab with this title; false when there is none.
    bool page(const std::string &title) {
        std::vector<std::string> titles = tabTitles(item(window, ID_TAB));
        for (size_t k = 0; k < titles.size(); ++k) {
            if (titles[k] != title) continue;
            chooseTab(item(window, ID_TAB), (int)k);
            return true;
        }
        return false;
    }
    void shootEveryPage(const char *model) {
        std::vector<std::string> titles = tabTitles(item(window, ID_TAB));
        for (size_t k = 0; k < titles.size(); ++k) {
            chooseTab(item(window, ID_TAB), (int)k);
            std::string name = std::string(model) + "-" + titles[k];
            for (char &c : name) c = c == ' ' ? '_' : c;
            EXPECT_TRUE(screenshot(window, programFolder() + "ui-shots\\" + name + ".png")) << name;
        }
    }
    HWND window = nullptr;
    DialogWatcher dialogs;
};

}  // namespace

TEST_F(DevWindow, ParameterPagesEditAndRefuse) {
    openWindow(HALVEX_PLUS_4_BLE);
    ASSERT_TRUE(page("Chan A"));
    EXPECT_EQ(text(label(QD_PAR_MEASUREMENT_RANGE, 0)), "Measurement range [uV]");
    EXPECT_FALSE(enabled(control(QD_PAR_LINK_TYPE, 0))) << "a one-option list";
    EXPECT_FALSE(enabled(control(QD_PAR_CHANNEL_LABEL, 0))) << "channel off";

    click(control(QD_PAR_CHANNEL_ENABLE, 0));
    EXPECT_TRUE(enabled(control(QD_PAR_CHANNEL_LABEL, 0)));
    EXPECT_TRUE(enabled(label(QD_PAR_SAMPLE_RATE, 0)));
    type(control(QD_PAR_CHANNEL_LABEL, 0), "sixteen letters!");
    dialogs.answer(IDOK);
    focus(item(window, ID_NEXT));
    std::vector<Dialog> seen = dialogs.take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "Warning");
    EXPECT_EQ(seen[0].text, "Data out of range");
    EXPECT_EQ(text(control(QD_PAR_CHANNEL_LABEL, 0)), "") << "the old value is back";

    ASSERT_TRUE(choose(control(QD_PAR_CHANNEL_PROFILE, 0), "ECG for HRV"));
    EXPECT_EQ(text(control(QD_PAR_CHANNEL_LABEL, 0)), "ECG for HRV");
    EXPECT_EQ(text(control(QD_PAR_MEASUREMENT_RANGE, 0)), "6000") << "the page was built again";
    EXPECT_TRUE(enabled(control(QD_PAR_CHANNEL_PROFILE, 0)));
    EXPECT_FALSE(enabled(control(QD_PAR_SAMPLE_RATE, 0)));
    ASSERT_TRUE(choose(control(QD_PAR_CHANNEL_PROFILE, 0), "User defined"));
    EXPECT_TRUE(enabled(control(QD_PAR_SAMPLE_RATE, 0)));
    click(control(QD_PAR_CHANNEL_ENABLE, 0));
    EXPECT_FALSE(enabled(control(QD_PAR_SAMPLE_RATE, 0)));
    EXPECT_TRUE(dialogs.take().empty());
    shootEveryPage("Halvex+_4_BLE");
}

TEST_F(DevWindow, CapPageSitesAndDuplicates) {
    openWindow(HALVEX_PLUS_4_BLE);
    ASSERT_TRUE(page("EEG Cap"));
    EXPECT_FALSE(enabled(item(window, ID_CAP_LIST_FIRST)));
    click(item(window, ID_CAP_ENABLE));
    EXPECT_TRUE(enabled(item(window, ID_CAP_LIST_FIRST + 3)));
    EXPECT_FALSE(enabled(control(QD_PAR_EEG_CAP, 0))) << "the cap page owns the sites";
    EXPECT_EQ(text(control(QD_PAR_CHANNEL_PROFILE, 2)), "EEG 250sps");
    ASSERT_TRUE(choose(item(window, ID_CAP_LIST_FIRST), "Cz"));
    dialogs.answer(IDOK);
    ASSERT_TRUE(choose(item(window, ID_CAP_LIST_FIRST + 1), "Cz"));
    std::vector<Dialog> seen = dialogs.take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "Different channels connected to the same EEG cap site(s), please check.");
    EXPECT_EQ(text(control(QD_PAR_CHANNEL_LABEL, 1)), "EEG Cz");
    EXPECT_EQ(text(control(QD_PAR_EEG_CAP, 1)), "Cz");

    ASSERT_TRUE(page("Test"));
    dialogs.answer(IDOK);
    click(item(window, ID_TEST));
    seen = dialogs.take();
    ASSERT_EQ(seen.size(), 1u) << "the duplicate refuses the test";
    EXPECT_EQ(windowActivity.load(), ACTIVITY_IDLE);

    ASSERT_TRUE(page("EEG Cap"));
    click(item(window, ID_CAP_ENABLE));
    for (uint16_t c = 0; c < 4; ++c) EXPECT_EQ(getCode(QD_PAR_EEG_CAP, c), 0u) << c;
    EXPECT_EQ(text(control(QD_PAR_EEG_CAP, 1)), "None");
    EXPECT_TRUE(dialogs.take().empty());
}

TEST_F(DevWindow, TestMeasurementShowsReadingsAndClosesOnceStopped) {
    FtSimSignal signals[2] = {{3, 13384, 3000, 62.5f}, {2, 0, 3000, 0.0f}};
    int slot = ftsimAdd("QVSIM001", nullptr);
    ASSERT_GE(ftsimAttachNewDeviceEx(slot, modelName(HALVEX_4_USB), nullptr, signals, 2), 0);
    openWindow(HALVEX_4_USB);
    ASSERT_TRUE(page("Chan A"));
    click(control(QD_PAR_CHANNEL_ENABLE, 0));
    ASSERT_TRUE(page("Chan B"));
    click(control(QD_PAR_CHANNEL_ENABLE, 1));
    ASSERT_TRUE(choose(control(QD_PAR_CHANNEL_FUNCTION, 1), "Resistance"));
    ASSERT_TRUE(page("Test"));
    EXPECT_TRUE(visible(item(window, ID_TEST_MINUS_BAR)));
    EXPECT_FALSE(visible(item(window, ID_TEST_MINUS_BAR + 1))) << "one input on a Resistance channel";
    EXPECT_FALSE(visible(item(window, ID_TEST_PLUS_BAR + 1 + 50))) << "and no + label";
    click(item(window, ID_TEST));
    EXPECT_EQ(windowActivity.load(), ACTIVITY_TESTING);
    EXPECT_EQ(text(item(window, ID_TEST)), "&Stop");
    EXPECT_TRUE(enabled(item(window, ID_TEST)));
    EXPECT_FALSE(enabled(control(QD_PAR_CHANNEL_ENABLE, 0)));
    // The window's own file commands wait for the end of the test.
    for (uint32_t id : {ID_IMPORT_SETTINGS, ID_SAVE_SETTINGS}) SendMessageA(window, WM_COMMAND, id, 0);
    EXPECT_TRUE(dialogs.take().empty()) << "no file dialog during the test";
    EXPECT_EQ(windowActivity.load(), ACTIVITY_TESTING);
    HWND plus = item(window, ID_TEST_PLUS_READING), minus = item(window, ID_TEST_MINUS_READING);
    EXPECT_TRUE(pumpUntil([&] { return !text(item(window, ID_TEST_PLUS_READING + 1)).empty(); }, "the first readings"));
    EXPECT_EQ(text(plus), "  62 kOhm");
    EXPECT_EQ(text(minus), "  11 kOhm");
    EXPECT_EQ(text(item(window, ID_TEST_PLUS_READING + 1)), "11.4 kOhm") << "continuity mode";
    RECT bar;
    GetClientRect(item(window, ID_TEST_PLUS_BAR), &bar);
    COLORREF left = pixel(item(window, ID_TEST_PLUS_BAR), 3, bar.bottom / 2);
    COLORREF right = pixel(item(window, ID_TEST_PLUS_BAR), bar.right - 3, bar.bottom / 2);
    EXPECT_EQ(left, RGB(255, 0, 0)) << "red, half full";
    EXPECT_EQ(pixel(item(window, ID_TEST_PLUS_BAR), bar.right / 2 - 3, bar.bottom / 2), RGB(255, 0, 0));
    EXPECT_EQ(pixel(item(window, ID_TEST_PLUS_BAR), bar.right / 2 + 3, bar.bottom / 2), RGB(255, 255, 255));
    EXPECT_EQ(right, RGB(255, 255, 255));
    EXPECT_EQ(pixel(item(window, ID_TEST_MINUS_BAR), 3, bar.bottom / 2), RGB(255, 255, 0));
    screenshot(window, programFolder() + "ui-shots\\Halvex-4_USB-Test-running.png");

    dialogs.answer(IDOK);
    SendMessageA(window, WM_CLOSE, 0, 0);
    std::vector<Dialog> seen = dialogs.take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "Confirm");
    EXPECT_EQ(seen[0].text, "Communication in progress. Do you really want to close window?");
    EXPECT_TRUE(IsWindow(window)) << "open until the stop completes";
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(window); }, "the window closed after the stop"));
    EXPECT_EQ(QdComState((uint16_t)QdGetSelectedDevContext()), 0);
    EXPECT_EQ(windowActivity.load(), ACTIVITY_IDLE);
}

TEST_F(DevWindow, HostMeasurementGreysTheControls) {
    int slot = ftsimAdd("QVSIM001", nullptr);
    ASSERT_GE(ftsimAttachNewDevice(slot, modelName(HALVEX_4_USB), nullptr), 0);
    openWindow(HALVEX_4_USB);
    int16_t ctx = QdGetSelectedDevContext();
    ASSERT_TRUE(page("Chan A"));
    click(control(QD_PAR_CHANNEL_ENABLE, 0));
    ASSERT_TRUE(enabled(control(QD_PAR_SAMPLE_RATE, 0)));
    ASSERT_EQ(QdStartMeasurement((uint16_t)ctx, QD_START_ENGINE_THREAD), 0);
    EXPECT_TRUE(pumpUntil([&] { return !enabled(control(QD_PAR_SAMPLE_RATE, 0)); }, "the controls greyed"));
    EXPECT_FALSE(enabled(item(window, ID_TEST)));
    EXPECT_EQ(windowActivity.load(), ACTIVITY_IDLE) << "the host measures, not the window";
    QdStopMeasurement((uint16_t)ctx);
    EXPECT_TRUE(pumpUntil([&] { return QdComState((uint16_t)ctx) == 0; }, "the context idle after the stop"));
    EXPECT_TRUE(pumpUntil([&] { return enabled(control(QD_PAR_SAMPLE_RATE, 0)); }, "the controls enabled again"));
    EXPECT_TRUE(enabled(item(window, ID_TEST)));
}

// A Halvex+ 4 BLE cannot connect yet: its protocol state is set as a
// measurement for the host would leave it.
TEST_F(DevWindow, StatusPageWhileTheHostMeasures) {
    int16_t ctx = open(HALVEX_PLUS_4_BLE);
    ASSERT_EQ(QdStr2Param("1", QD_PAR_CHANNEL_ENABLE, 0), 0);
    ASSERT_EQ(QdStr2Param("1", QD_PAR_CHANNEL_ENABLE, 1), 0);
    ProtocolState &ps = protocolState[ctx];
    ps.state = HALVEX_MEASURING;
    ps.connected = 1;
    ps.channels = 5;
    ps.battery = 1;
    ps.staging.blocks[1].signalState = 2;
    window = (HWND)QdCreateDevWindow(nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    pump(100);
    EXPECT_FALSE(page("Test"));
    EXPECT_FALSE(enabled(control(QD_PAR_DEVICE_ID, 0))) << "the device is connected";
    ASSERT_TRUE(page("Status"));
    EXPECT_FALSE(enabled(item(window, ID_STATUS_BOX_FIRST + 2))) << "no pause indicator";
    struct Box {
        uint32_t id;
        COLORREF colour;
    } boxes[] = {{ID_STATUS_BOX_FIRST, RGB(0, 255, 0)},     {ID_STATUS_BOX_FIRST + 1, RGB(255, 255, 0)},
                 {ID_STATUS_BOX_FIRST + 4, RGB(0, 255, 0)}, {ID_STATUS_BOX_FIRST + 5, RGB(255, 0, 0)},
                 {ID_STATUS_BOX_FIRST + 6, GetSysColor(COLOR_MENU)}};
    for (const Box &b : boxes) EXPECT_EQ(pixel(item(window, b.id), 4, 4), b.colour) << b.id;
    EXPECT_TRUE(screenshot(window, programFolder() + "ui-shots\\Halvex+_4_BLE-Status.png"));
    DestroyWindow(window);
    ps.state = APP_IDLE;
    ps.connected = 0;
}

TEST_F(DevWindow, PagesOfTheOtherModels) {
    openWindow(HALVEX_4_USB);
    shootEveryPage("Halvex-4_USB");
    DestroyWindow(window);
    openWindow(BREV);
    EXPECT_FALSE(page("Test"));
    shootEveryPage("Brev_100");
}

namespace {

// Runs qdparams of this build on the driver library of this build (its log
// in sharedDir, a folder ending in a backslash); its exit status, or -1 when
// it could not be run.
int qdparams(const std::string &arguments, const std::string &sharedDir) {
    std::string folder = programFolder();
    std::string line = "\"" + folder + "tools\\qdparams.exe\" --library \"" + folder +
                       (sizeof(void *) == 8 ? "QuorvaneDrv64.dll" : "QuorvaneDrv.dll") + "\" --preload \"" + folder +
                       "sim\\FTD2XX.dll\" --shared-dir \"" + sharedDir.substr(0, sharedDir.size() - 1) + "\" " +
                       arguments;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE quiet = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA si = {sizeof si};
    si.dwFlags = STARTF_USESTDHANDLES;   // the tree it prints is not wanted
    si.hStdOutput = quiet;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(quiet);
    if (!started) return -1;
    DWORD status = (DWORD)-1;
    if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)status;
}

}  // namespace

TEST_F(DevWindow, SettingsFilesMeetQdparams) {
    std::string dir = testenvNewDir("files");
    openWindow(HALVEX_PLUS_4_BLE);
    ASSERT_TRUE(page("Chan B"));
    click(control(QD_PAR_CHANNEL_ENABLE, 1));
    ASSERT_TRUE(choose(control(QD_PAR_CHANNEL_PROFILE, 1), "SCP"));
    dialogs.answerFile(dir + "window");
    SendMessageA(window, WM_COMMAND, ID_SAVE_SETTINGS, 0);
    std::string saved = testenvReadFile(dir + "window.qvc");
    ASSERT_EQ(saved.size(), 842u) << "saved with the extension added";
    ASSERT_EQ(qdparams("--load \"" + dir + "window.qvc\" --save \"" + dir + "again.qvc\"", dir), 0);
    std::string again = testenvReadFile(dir + "again.qvc");
    ASSERT_EQ(again.size(), saved.size());
    // The mains frequency (bit 0 of the image's first byte) is the machine's.
    again[118] = (char)((again[118] & ~1) | (saved[118] & 1));
    EXPECT_TRUE(again == saved) << "qdparams loads and saves the same settings";

    ASSERT_EQ(qdparams("--model \"Quorvane Halvex+ 4 BLE\" \"Channel enable:C=1\" \"Channel profile:C=GSR\" "
                       "\"Sensor info:C=Finger electrodes\" --save \"" + dir + "tool.qvc\"", dir), 0);
    dialogs.answerFile(dir + "tool.qvc");
    SendMessageA(window, WM_COMMAND, ID_IMPORT_SETTINGS, 0);
    ASSERT_TRUE(page("Chan C"));
    EXPECT_TRUE(checked(control(QD_PAR_CHANNEL_ENABLE, 2)));
    EXPECT_EQ(text(control(QD_PAR_CHANNEL_PROFILE, 2)), "GSR");
    EXPECT_EQ(text(control(QD_PAR_SENSOR_INFO, 2)), "Finger electrodes");
    EXPECT_EQ(text(control(QD_PAR_CHANNEL_FUNCTION, 2)), "Conductance");

    ASSERT_TRUE(osSetReadOnly((dir + "window.qvc").c_str(), true));
    dialogs.answerFile(dir + "window.qvc");
    dialogs.answer(IDOK);
    SendMessageA(window, WM_COMMAND, ID_SAVE_SETTINGS, 0);
    osSetReadOnly((dir + "window.qvc").c_str(), false);
    EXPECT_TRUE(testenvReadFile(dir + "window.qvc") == saved) << "the refused save left the file whole";
    std::vector<Dialog> seen = dialogs.take();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].caption, "Save device configuration");
    EXPECT_EQ(seen[1].caption, "Import device configuration");
    EXPECT_EQ(seen[3].caption, "Error");
    EXPECT_EQ(seen[3].text, "Cannot write device configuration file");
}
