// The installer of build/dist in a fresh Wine prefix, its cases in order:
// the pages and a folder it cannot write to, a silent installation into a
// folder with spaces and characters outside the ANSI code page, the
// installed drivers and recorder, a second installation over an older one,
// and the silent uninstallation. win32.ui-installer runs them through
// tests/ui/dist/fresh-prefix.sh; elsewhere they are skipped.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstdlib>

#include "tests/support/testenv.h"
#include "tests/ui/dist/dist.h"

using namespace uitest;
using namespace dist;

namespace {

const wchar_t kFolder[] = L"C:\\Praxis M\u00fcller \u03a3\\Quorvane";
const wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kTitle[] = "Quorvane " QD_DIST_VERSION " Setup";
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

int run(const std::wstring &line) {
    Program program;
    return start(line, L"", &program) ? finish(&program, 180000) : -2;
}

// A value of an Uninstall entry in the system's own registry view; "" when
// it is missing.
std::wstring uninstallValue(const wchar_t *name, const std::wstring &entry = L"Quorvane", REGSAM view = 0) {
    HKEY key;
    std::wstring path = std::wstring(kUninstall) + L"\\" + entry;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | (view ? view : KEY_WOW64_64KEY), &key)) {
        return L"";
    }
    wchar_t value[512] = L"";
    DWORD size = sizeof value - sizeof(wchar_t);
    RegQueryValueExW(key, name, nullptr, nullptr, (BYTE *)value, &size);
    RegCloseKey(key);
    return value;
}

// Uninstall entries of Quorvane in both registry views.
int uninstallEntries() {
    int count = 0;
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ | view, &key)) continue;
        wchar_t name[256];
        for (DWORD i = 0, n = 256; RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) == 0;
             ++i, n = 256) {
            count += uninstallValue(L"DisplayName", name, view).rfind(L"Quorvane", 0) == 0;
        }
        RegCloseKey(key);
        if (!system64()) break;   // one view only
    }
    return count;
}

// A page of the installer, known by a text on it.
bool waitForPage(HWND window, const char *part) {
    for (int i = 0; i < 300; ++i, pump(50)) {
        std::string all = dialogText(window);
        if (all.find(part) != std::string::npos) return true;
    }
    return false;
}

void next(HWND window) { SendMessageA(item(window, IDOK), BM_CLICK, 0, 0); }

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
TEST_F(Installer, PagesAndAFolderItCannotWrite) {
    const char *readOnly = std::getenv("QD_READONLY_DIR");
    Program program;
    ASSERT_TRUE(start(installer(), L"", &program));
    HWND window = waitForWindow(program, "#32770", kTitle, 60000);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitForPage(window, "Welcome to"));
    EXPECT_TRUE(screenshot(window, programFolder() + "ui-shots\\installer-welcome.png"));
    next(window);
    ASSERT_TRUE(waitForPage(window, "License Agreement"));
    next(window);
    ASSERT_TRUE(waitForPage(window, "Choose Components"));
    EXPECT_TRUE(screenshot(window, programFolder() + "ui-shots\\installer-components.png"));
    next(window);
    ASSERT_TRUE(waitForPage(window, "Choose Install Location"));
    if (!readOnly) {
        std::printf("no read-only folder on this machine (see fresh-prefix.sh): that case is left out\n");
        SendMessageA(item(window, IDCANCEL), BM_CLICK, 0, 0);
        HWND ask = waitForWindow(program, "#32770", nullptr, 30000, window);
        ASSERT_NE(ask, nullptr);
        PostMessageA(ask, WM_COMMAND, IDYES, 0);
        EXPECT_EQ(finish(&program, 30000), 1);
        return;
    }
    std::string target = std::string(readOnly) + "\\Quorvane";
    SendMessageA(item(window, 1019), WM_SETTEXT, 0, (LPARAM)target.c_str());
    next(window);
    HWND box = waitForWindow(program, "#32770", nullptr, 60000, window);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(dialogText(box).find("Setup cannot write to the folder"), std::string::npos) << dialogText(box);
    EXPECT_NE(dialogText(box).find(target), std::string::npos) << dialogText(box);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(waitForPage(window, "Installation Aborted"));
    SendMessageA(item(window, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_EQ(finish(&program, 30000), 2);
    EXPECT_FALSE(exists(wide(target)));
    EXPECT_EQ(uninstallEntries(), 0);
}

TEST_F(Installer, SilentInstallPutsEverythingInPlace) {
    ASSERT_EQ(run(installer() + L" /S /SDK /D=" + kFolder), 0);
    for (const char *name : kInstalled) EXPECT_TRUE(exists(in(name))) << name;
    std::string recorder = buildFolder(system64() ? "win64" : "win32") + "QuorvaneRecorder.exe";
    EXPECT_EQ(contents(in("QuorvaneRecorder.exe")), contents(wide(recorder))) << "the system's bitness";
    for (const char *name : kShortcuts) EXPECT_TRUE(exists(menuFolder() + L"\\" + wide(name))) << name;
    EXPECT_EQ(uninstallValue(L"DisplayVersion"), wide(QD_DIST_VERSION));
    EXPECT_EQ(uninstallValue(L"Publisher"), L"Quorvane Systems");
    EXPECT_EQ(uninstallValue(L"InstallLocation"), kFolder);
    EXPECT_EQ(uninstallValue(L"UninstallString"), L"\"" + in("Uninstall.exe") + L"\"");
    EXPECT_EQ(uninstallEntries(), 1);
}

// Hosts of both bitnesses (qdhost of each build, the simulator as their
// FTD2XX.dll) load the installed drivers; a host of narrow text reaches the
// folder through its short name.
TEST_F(Installer, HostsLoadTheInstalledDrivers) {
    const struct {
        const char *preset, *driver;
    } hosts[] = {{"win32", "QuorvaneDrv.dll"}, {"win64", "QuorvaneDrv64.dll"}};
    for (const auto &host : hosts) {
        if (!system64() && std::string(host.preset) == "win64") continue;
        SCOPED_TRACE(host.preset);
        std::string base = buildFolder(host.preset);
        wchar_t driver[MAX_PATH] = L"";
        GetShortPathNameW(in(host.driver).c_str(), driver, MAX_PATH);
        EXPECT_EQ(run(quote(base + "tools\\qdhost.exe") + L" --preload " + quote(base + "sim\\FTD2XX.dll") +
                      L" \"" + driver + L"\""),
                  0);
    }
}

TEST_F(Installer, InstalledRecorderRunsTheSimulator) {
    Program program;
    ASSERT_TRUE(start(L"\"" + in("QuorvaneRecorder.exe") + L"\" --simulate", kFolder, &program));
    expectRecorderClosesCleanly(&program, "installed-recorder-Session.png");
}

// An older installation (changed files, an older version in its entry) is
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
    // It runs on from a copy of itself in the temporary folder.
    for (int i = 0; i < 600 && (exists(in("Uninstall.exe")) || uninstallEntries() > 0); ++i) Sleep(100);
    for (const char *name : kInstalled) EXPECT_FALSE(exists(in(name))) << name;
    EXPECT_FALSE(exists(menuFolder()));
    EXPECT_EQ(uninstallEntries(), 0);
    for (const char *name : kUserFiles) EXPECT_EQ(contents(in(name)), "the user's") << name;
    EXPECT_TRUE(exists(wide(testenvSharedDir() + "\\Quorvane\\QuorvaneDrv.log")));
}
