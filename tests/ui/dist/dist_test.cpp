// The Windows deliverables as a person gets them.
//
// RecorderProgram, SdkExample (<build>.ui-dist): the recorder of the build
// folder (beside the driver, the simulator in sim\), and the SDK's example
// host that <build>.sdk-example-build compiled from the SDK zip.
//
// Installer (win32.ui-installer, through fresh-prefix.sh; skipped elsewhere),
// in order in a fresh Wine prefix: the pages and a folder it cannot write
// to; a silent installation into a folder with spaces and characters
// outside the ANSI code page (with rights of its own); the installed drivers and recorder; a second
// installation over an older one; the silent uninstallation.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>

#include "tests/support/testenv.h"
#include "tests/ui/support/uitest.h"

using namespace uitest;

namespace {

std::wstring quote(const std::string &path) { return L"\"" + wide(path) + L"\""; }
std::string buildFolder(const char *preset) { return programFolder() + "..\\" + preset + "\\"; }
bool exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int run(const std::wstring &line) {
    Program program;
    return start(line, L"", &program) ? finish(&program, kHangMs) : -2;
}

// The recorder's window shows the Session page with the default model; a
// picture of it is kept; closed as a user closes it, the program ends with 0.
void expectRecorderClosesCleanly(Program *program, const std::string &shot) {
    HWND window = waitForWindow(*program, "QuorvaneDevConfig", "Quorvane Recorder " QD_DIST_VERSION, kHangMs);
    ASSERT_NE(window, nullptr) << "the recorder's window did not open";
    // Shown, then filled. (GetWindowText does not ask another program's control.)
    char model[64] = "";
    pumpUntil(
        [&] {
            SendMessageA(item(window, 104), WM_GETTEXT, sizeof model, (LPARAM)model);
            return model[0] != '\0';
        },
        "the recorder's model field filled");
    EXPECT_TRUE(visible(item(window, 100)));   // "Session info"
    EXPECT_STREQ(model, "Quorvane Halvex+ 4 USB");
    EXPECT_TRUE(screenshot(window, programFolder() + "ui-shots\\" + shot));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(finish(program, kHangMs), 0);
}

}  // namespace

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
        HWND box = waitForWindow(program, "#32770", nullptr, kHangMs);
        ASSERT_NE(box, nullptr) << "no message box";
        EXPECT_NE(dialogText(box).find(c.named), std::string::npos) << dialogText(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(finish(&program, kHangMs), c.exitCode);
    }
}

// The example measures the simulator's device (the simulator stands beside
// it as its FTD2XX.dll and plugs in the device the environment names),
// then opens the settings window, which a user closes.
TEST(SdkExample, MeasuresAndOpensTheSettingsWindow) {
    std::string dir = programFolder() + "sdk-example\\";
    if (!exists(wide(dir + "qdexample.exe"))) GTEST_SKIP() << "no example: sdk-example-build makes it from make dist";
    SetEnvironmentVariableA("FTSIM_USB_DEVICE", "Quorvane Halvex-4 USB");
    Program program;
    bool started = start(quote(dir + "qdexample.exe"), wide(dir), &program, wide(dir + "output.txt"));
    SetEnvironmentVariableA("FTSIM_USB_DEVICE", nullptr);
    ASSERT_TRUE(started);
    HWND window = waitForWindow(program, "QuorvaneDevConfig", "Quorvane Halvex-4 USB settings", kHangMs);
    EXPECT_NE(window, nullptr) << "no settings window";
    if (window) PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(finish(&program, kHangMs), 0);
    std::string output = testenvReadFile(dir + "output.txt");
    for (const char *channel : {"channel A: ", "channel B: ", "channel C: ", "channel D: "}) {
        size_t at = output.find(channel);
        ASSERT_NE(at, std::string::npos) << output;
        EXPECT_GT(std::atol(output.c_str() + at + strlen(channel)), 100) << output;
    }
}

// ---------------------------------------------------------------------------
// The installer
// ---------------------------------------------------------------------------

namespace {

const wchar_t kFolder[] = L"C:\\Praxis M\u00fcller \u03a3\\Quorvane";
const wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char *const kInstalled[] = {
    "QuorvaneDrv.dll", "QuorvaneDrv64.dll", "QuorvaneRecorder.exe", "Kestrel.exe", "kestrel.htm",
    "Quorvane_Driver_Dev_Win.htm", "Quorvane_Driver_EULA.txt", "Quorvane_Recorder.htm",
    "Quorvane_Recorder_EULA.txt", "Uninstall.exe", "sim\\FTD2XX.dll", "sim\\BluetoothAPIs.dll",
    "SDK\\include\\QuorvaneDrv.h", "SDK\\lib\\QuorvaneDrv.def", "SDK\\lib\\x86\\QuorvaneDrv.lib",
    "SDK\\lib\\x64\\libQuorvaneDrv64.dll.a", "SDK\\example\\qdexample.c", "SDK\\docs\\html\\index.html"};
const char *const kShortcuts[] = {"Quorvane Recorder.lnk", "Quorvane Recorder (simulated devices).lnk",
                                  "Kestrel Firmware Loader.lnk"};
const char *const kUserFiles[] = {"my settings.qvc", "record.edf"};

std::wstring installer() { return quote(programFolder() + "..\\dist\\QuorvaneSetup-" QD_DIST_VERSION ".exe"); }
std::wstring in(const std::string &name) { return std::wstring(kFolder) + L"\\" + wide(name); }
bool system64() {
    BOOL wow = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}
std::wstring menuFolder() {
    wchar_t path[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, path);
    return std::wstring(path) + L"\\Quorvane";
}
std::string contents(const std::wstring &path) {
    std::string text;
    FILE *f = _wfopen(path.c_str(), L"rb");
    for (int c; f && (c = fgetc(f)) != EOF;) text += (char)c;
    if (f) fclose(f);
    return text;
}
bool write(const std::wstring &path, const char *text) {
    FILE *f = _wfopen(path.c_str(), L"wb");
    bool ok = f && fputs(text, f) >= 0;
    return f && fclose(f) == 0 && ok;
}

// Whether the folder's DACL is protected (not inherited from the parent).
bool daclProtected(const wchar_t *folder) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                              nullptr, &sd) != ERROR_SUCCESS)
        return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(sd, &control, &revision);
    LocalFree(sd);
    return (control & SE_DACL_PROTECTED) != 0;
}

// Whether this file system keeps a folder's protected DACL at all: Wine
// keeps security descriptors only where the Unix file system takes its
// extended attributes (not on the test machine's 9p share, for one).
bool keepsProtectedDacls() {
    const wchar_t probe[] = L"C:\\quorvane-dacl-probe";
    CreateDirectoryW(probe, nullptr);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    bool kept = GetNamedSecurityInfoW(probe, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                      nullptr, &sd) == ERROR_SUCCESS &&
                SetNamedSecurityInfoW((LPWSTR)probe, SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, dacl, nullptr) == ERROR_SUCCESS &&
                daclProtected(probe);
    LocalFree(sd);
    RemoveDirectoryW(probe);
    return kept;
}

// A value of an Uninstall entry (in the system's own registry view unless
// another is named); "" when it is missing.
std::wstring uninstallValue(const wchar_t *name, const std::wstring &entry = L"Quorvane",
                            REGSAM view = KEY_WOW64_64KEY) {
    HKEY key;
    wchar_t value[512] = L"";
    DWORD size = sizeof value - sizeof(wchar_t);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kUninstall) + L"\\" + entry).c_str(), 0, KEY_READ | view,
                      &key) == 0) {
        RegQueryValueExW(key, name, nullptr, nullptr, (BYTE *)value, &size);
        RegCloseKey(key);
    }
    return value;
}

// Uninstall entries of Quorvane in both registry views.
int uninstallEntries() {
    int count = 0;
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ | view, &key)) continue;
        wchar_t name[256];
        for (DWORD i = 0, n = 256; !RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr); ++i, n = 256) {
            count += uninstallValue(L"DisplayName", name, view).rfind(L"Quorvane", 0) == 0;
        }
        RegCloseKey(key);
        if (!system64()) break;   // one view only
    }
    return count;
}

// Waits for a page of the installer, known by a text on it.
bool page(HWND window, const char *text) {
    return pumpUntil([&] { return dialogText(window).find(text) != std::string::npos; }, text);
}
// Posted: a button may open a modal box the test answers.
void press(HWND window, int button) { PostMessageA(item(window, button), BM_CLICK, 0, 0); }

class Installer : public testing::Test {
protected:
    void SetUp() override {
        const char *chosen = std::getenv("QD_INSTALLER_TEST");
        if (!chosen || std::string(chosen) != "1") GTEST_SKIP() << "run by win32.ui-installer in a fresh prefix";
    }
};

}  // namespace

// The welcome and components pages as pictures; then a folder that cannot
// be written to is refused with a message, and nothing is installed.
// Whether a folder can be written as Windows programs here see it: a new
// folder in it is made, and removed again.
bool folderWritable(const std::string &folder) {
    std::string probe = folder + "\\qd-probe";
    if (!CreateDirectoryA(probe.c_str(), nullptr)) return false;
    RemoveDirectoryA(probe.c_str());
    return true;
}

TEST_F(Installer, PagesAndAFolderItCannotWrite) {
    const char *readOnly = std::getenv("QD_READONLY_DIR");
    if (readOnly && folderWritable(readOnly)) {
        std::printf("%s can be written by Windows programs here after all: that case is left out\n", readOnly);
        readOnly = nullptr;
    }
    Program program;
    ASSERT_TRUE(start(installer(), L"", &program));
    HWND window = waitForWindow(program, "#32770", "Quorvane " QD_DIST_VERSION " Setup", kHangMs);
    ASSERT_TRUE(window && page(window, "Welcome to"));
    EXPECT_TRUE(screenshot(window, programFolder() + "ui-shots\\installer-welcome.png"));
    press(window, IDOK);
    ASSERT_TRUE(page(window, "License Agreement"));
    press(window, IDOK);
    ASSERT_TRUE(page(window, "Choose Components"));
    EXPECT_TRUE(screenshot(window, programFolder() + "ui-shots\\installer-components.png"));
    press(window, IDOK);
    ASSERT_TRUE(page(window, "Choose Install Location"));
    if (!readOnly) {
        std::printf("no read-only folder on this machine (fresh-prefix.sh): that case is left out\n");
        press(window, IDCANCEL);
        HWND ask = waitForWindow(program, "#32770", nullptr, kHangMs, window);
        if (ask) PostMessageA(ask, WM_COMMAND, IDYES, 0);
        EXPECT_EQ(finish(&program, kHangMs), 1);
        return;
    }
    std::string target = std::string(readOnly) + "\\Quorvane";
    SendMessageA(item(window, 1019), WM_SETTEXT, 0, (LPARAM)target.c_str());
    press(window, IDOK);
    HWND box = waitForWindow(program, "#32770", nullptr, kHangMs, window);
    ASSERT_NE(box, nullptr);
    std::string said = dialogText(box);
    EXPECT_TRUE(said.find("Setup cannot write to the folder") != std::string::npos &&
                said.find(target) != std::string::npos)
        << said;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(page(window, "Installation Aborted"));
    press(window, IDCANCEL);
    EXPECT_EQ(finish(&program, kHangMs), 2);
    EXPECT_FALSE(exists(wide(target)));
    EXPECT_EQ(uninstallEntries(), 0);
}

TEST_F(Installer, SilentInstallPutsEverythingInPlace) {
    ASSERT_EQ(run(installer() + L" /S /SDK /D=" + kFolder), 0);
    for (const char *name : kInstalled) EXPECT_TRUE(exists(in(name))) << name;
    std::string recorder = buildFolder(system64() ? "win64" : "win32") + "QuorvaneRecorder.exe";
    EXPECT_TRUE(contents(in("QuorvaneRecorder.exe")) == contents(wide(recorder))) << "not the recorder of " << recorder;
    for (const char *name : kShortcuts) EXPECT_TRUE(exists(menuFolder() + L"\\" + wide(name))) << name;
    EXPECT_EQ(uninstallValue(L"DisplayVersion"), wide(QD_DIST_VERSION));
    EXPECT_EQ(uninstallValue(L"Publisher"), L"Quorvane Systems");
    EXPECT_EQ(uninstallValue(L"InstallLocation"), kFolder);
    EXPECT_EQ(uninstallValue(L"UninstallString"), L"\"" + in("Uninstall.exe") + L"\"");
    EXPECT_EQ(uninstallEntries(), 1);
    // Outside Program Files the folder has rights of its own, not those of
    // the folder above it (where others might write).
    if (keepsProtectedDacls()) {
        EXPECT_TRUE(daclProtected(kFolder)) << "the folder's rights are inherited";
    } else {
        printf("the file system here keeps no protected DACL: the installed folder's rights are not checked\n");
    }
}

// Hosts of both bitnesses (qdhost of each build, the simulator as their
// FTD2XX.dll) load the installed drivers; a host of narrow text reaches the
// folder through its short name.
TEST_F(Installer, HostsLoadTheInstalledDrivers) {
    for (const char *preset : {"win32", "win64"}) {
        if (!system64() && std::strcmp(preset, "win64") == 0) continue;
        SCOPED_TRACE(preset);
        wchar_t driver[MAX_PATH] = L"";
        GetShortPathNameW(in(preset[3] == '3' ? "QuorvaneDrv.dll" : "QuorvaneDrv64.dll").c_str(), driver, MAX_PATH);
        std::string base = buildFolder(preset);
        EXPECT_EQ(run(quote(base + "tools\\qdhost.exe") + L" --preload " + quote(base + "sim\\FTD2XX.dll") + L" \"" +
                      driver + L"\""),
                  0);
    }
}

TEST_F(Installer, InstalledRecorderRunsTheSimulator) {
    Program program;
    ASSERT_TRUE(start(L"\"" + in("QuorvaneRecorder.exe") + L"\" --simulate", kFolder, &program));
    expectRecorderClosesCleanly(&program, "installed-recorder-Session.png");
}

// An older installation (a changed file, an older version in its entry) is
// replaced where it is; one uninstaller and one entry remain, and the
// user's files stay.
TEST_F(Installer, SecondInstallReplacesAnOlderOne) {
    for (const char *name : kUserFiles) ASSERT_TRUE(write(in(name), "the user's"));
    ASSERT_TRUE(write(in("Quorvane_Recorder.htm"), "older"));
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kUninstall) + L"\\Quorvane").c_str(), 0,
                            KEY_SET_VALUE | KEY_WOW64_64KEY, &key),
              0);
    RegSetValueExW(key, L"DisplayVersion", 0, REG_SZ, (const BYTE *)L"5.4.4", sizeof L"5.4.4");
    RegCloseKey(key);

    ASSERT_EQ(run(installer() + L" /S"), 0);
    EXPECT_EQ(contents(in("Quorvane_Recorder.htm")), contents(wide(programFolder() + "Quorvane_Recorder.htm")));
    EXPECT_EQ(uninstallValue(L"DisplayVersion"), wide(QD_DIST_VERSION));
    EXPECT_EQ(uninstallEntries(), 1);
    EXPECT_TRUE(exists(in("Uninstall.exe")));
    wchar_t programFiles[MAX_PATH] = L"";
    ExpandEnvironmentStringsW(L"%ProgramW6432%\\Quorvane", programFiles, MAX_PATH);
    EXPECT_FALSE(exists(programFiles)) << "a second installation in the default folder";
    for (const char *name : kUserFiles) EXPECT_EQ(contents(in(name)), "the user's") << name;
}

// The uninstaller removes every installed file, the shortcuts and the
// entry, and leaves the user's files and the driver's log.
TEST_F(Installer, SilentUninstallKeepsTheUsersFiles) {
    ASSERT_EQ(run(L"\"" + in("Uninstall.exe") + L"\" /S"), 0);
    // It goes on from a copy of itself in the temporary folder.
    pumpUntil([&] { return !exists(in("Uninstall.exe")) && uninstallEntries() == 0; }, "the uninstaller's copy done");
    for (const char *name : kInstalled) EXPECT_FALSE(exists(in(name))) << name;
    EXPECT_FALSE(exists(menuFolder()));
    EXPECT_EQ(uninstallEntries(), 0);
    for (const char *name : kUserFiles) EXPECT_EQ(contents(in(name)), "the user's") << name;
    EXPECT_TRUE(exists(wide(testenvSharedDir() + "\\Quorvane\\QuorvaneDrv.log")));
}
