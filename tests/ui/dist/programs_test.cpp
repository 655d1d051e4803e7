// The programs of the build folder as a person starts them: the recorder
// (QuorvaneRecorder.exe beside the driver, the simulator in sim\) and the
// SDK's example host, which <build>.sdk-example-build compiled from the SDK
// zip against its import library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/support/testenv.h"
#include "tests/ui/dist/dist.h"

using namespace uitest;

namespace dist {

std::wstring quote(const std::string &path) { return L"\"" + wide(path) + L"\""; }

std::string buildFolder(const char *preset) { return programFolder() + "..\\" + preset + "\\"; }

bool exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void expectRecorderClosesCleanly(Program *program, const std::string &shot) {
    HWND window = waitForWindow(*program, "QuorvaneDevConfig", "Quorvane Recorder " QD_DIST_VERSION, 60000);
    ASSERT_NE(window, nullptr) << "the recorder's window did not open";
    // Shown, then filled. (GetWindowText does not ask another program's control.)
    char model[64] = "";
    for (int i = 0; i < 200 && !model[0]; ++i, pump(50)) {
        SendMessageA(item(window, 104), WM_GETTEXT, sizeof model, (LPARAM)model);
    }
    EXPECT_TRUE(visible(item(window, 100)));   // "Session info"
    EXPECT_STREQ(model, "Quorvane Halvex+ 4 USB");
    EXPECT_TRUE(screenshot(window, programFolder() + "ui-shots\\" + shot));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(finish(program, 30000), 0);
}

}  // namespace dist

using namespace dist;

TEST(RecorderProgram, SimulateOpensTheSessionPageAndClosesCleanly) {
    std::string exe = programFolder() + "QuorvaneRecorder.exe";
    // It carries its icon, its version and the manifest of common controls 6.
    HMODULE image = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(FindResourceA(image, MAKEINTRESOURCEA(1), RT_GROUP_ICON), nullptr);
    EXPECT_NE(FindResourceA(image, MAKEINTRESOURCEA(1), RT_VERSION), nullptr);
    HRSRC manifest = FindResourceA(image, MAKEINTRESOURCEA(1), RT_MANIFEST);
    ASSERT_NE(manifest, nullptr);
    std::string xml((const char *)LockResource(LoadResource(image, manifest)), SizeofResource(image, manifest));
    EXPECT_NE(xml.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    FreeLibrary(image);
    Program program;
    ASSERT_TRUE(start(quote(exe) + L" --simulate", L"", &program));
    expectRecorderClosesCleanly(&program, "recorder-program-Session.png");
}

// What keeps the recorder from starting is said in a box that names it.
TEST(RecorderProgram, ExplainsWhatIsMissing) {
    const struct {
        const char *what;
        bool alone;          // the program copied into a folder of its own
        const char *args;
        const char *named;   // in the box's text
        int exitCode;
    } cases[] = {
        {"no FTD2XX.dll on this system", false, "", "FTD2XX.dll, which is missing", 1},
        {"no driver beside the program", true, "", "the driver " QD_DRIVER_DLL " is missing", 1},
        {"no simulator beside the program", true, " --simulate", "sim\\FTD2XX.dll, which is missing", 1},
        {"a bad argument", false, " --simulated", "Unknown argument: --simulated", 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string exe = programFolder() + "QuorvaneRecorder.exe";
        if (c.alone) {
            std::string copy = testenvNewDir("recorder-alone") + "QuorvaneRecorder.exe";
            ASSERT_TRUE(CopyFileA(exe.c_str(), copy.c_str(), FALSE));
            exe = copy;
        }
        Program program;
        ASSERT_TRUE(start(quote(exe) + wide(c.args), L"", &program));
        HWND box = waitForWindow(program, "#32770", nullptr, 30000);
        ASSERT_NE(box, nullptr) << "no message box";
        EXPECT_NE(dialogText(box).find(c.named), std::string::npos) << dialogText(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(finish(&program, 30000), c.exitCode);
    }
}

// The example measures the simulator's device (the simulator stands beside
// it as its FTD2XX.dll and plugs in the device the environment names),
// then opens the settings window, which a user closes.
TEST(SdkExample, MeasuresAndOpensTheSettingsWindow) {
    std::string dir = programFolder() + "sdk-example\\";
    if (!exists(wide(dir + "qdexample.exe"))) GTEST_SKIP() << "no example: <build>.sdk-example-build makes it from build/dist (make dist)";
    SetEnvironmentVariableA("FTSIM_USB_DEVICE", "Quorvane Halvex-4 USB");
    Program program;
    bool started = start(quote(dir + "qdexample.exe"), wide(dir), &program, wide(dir + "output.txt"));
    SetEnvironmentVariableA("FTSIM_USB_DEVICE", nullptr);
    ASSERT_TRUE(started);
    HWND window = waitForWindow(program, "QuorvaneDevConfig", "Quorvane Halvex-4 USB settings", 60000);
    EXPECT_NE(window, nullptr) << "no settings window";
    if (window) PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(finish(&program, 30000), 0);
    std::string output = testenvReadFile(dir + "output.txt");
    for (const char *channel : {"channel A: ", "channel B: ", "channel C: ", "channel D: "}) {
        size_t at = output.find(channel);
        ASSERT_NE(at, std::string::npos) << output;
        EXPECT_GT(std::atol(output.c_str() + at + strlen(channel)), 100) << output;
    }
}
