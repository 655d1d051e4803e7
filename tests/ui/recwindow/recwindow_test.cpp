// The recorder window under Wine. QdCreateRecWindow runs its own loop on a
// thread of its own, as a host's thread would; the test drives the window
// from outside with the messages of a user's clicks and typing. The Session
// and Record pages of a running recording are saved as
// build/<preset>/ui-shots/recorder-<page>.png.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "API/driver/ui/pages.h"
#include "API/driver/ui/recorder.h"
#include "API/driver/ui/settingsfile.h"
#include "API/driver/ui/window_hooks.h"
#include "sim/ftsim.h"
#include "tests/params/param_helpers.h"
#include "tests/recording/recording_helpers.h"
#include "tests/support/testenv.h"
#include "tests/ui/support/uitest.h"

using namespace qdtest;
using namespace uitest;

namespace {

const int HALVEX_PLUS_4_USB = 13;
const char kViewerKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\edfbrowser.exe";

uint64_t nowMs() {
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return (((uint64_t)t.dwHighDateTime << 32) | t.dwLowDateTime) / 10000;
}
std::string viewerNote() { return programFolder() + "viewer-call.txt"; }
// The recording and the generated values kept for EDFlib on the build
// machine (ui-recwindow-edflib).
std::string kept(const char *name) { return programFolder() + "ui-out\\" + name; }

const char kViewerDone[] = "QdRecWindowTestViewerDone";

// Started as EDFbrowser (the registry's App Paths entry names this
// program), the program notes the time, its process id, its error mode and
// its command line, and stays open like a viewer until the test is done
// with it (a minute at most).
const bool g_standIn = [] {
    std::string line = GetCommandLineA();
    if (line.find(" --stream ") == std::string::npos) return false;
    UINT errorMode = SetErrorMode(0);
    FILE *f = std::fopen(viewerNote().c_str(), "w");
    if (f) {
        std::fprintf(f, "%llu %lu %u\n%s", (unsigned long long)nowMs(), GetCurrentProcessId(), errorMode,
                     line.c_str());
    }
    if (f) std::fclose(f);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, kViewerDone);
    WaitForSingleObject(done, 60000);
    ExitProcess(0);
}();

class RecWindow : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        dir = testenvNewDir("recwindow");
        open(HALVEX_PLUS_4_USB);
        viewerDone = CreateEventA(nullptr, TRUE, FALSE, kViewerDone);
    }
    void TearDown() override {
        if (window && IsWindow(window)) {
            dialogs.answer(IDOK);
            PostMessageA(window, WM_CLOSE, 0, 0);
        }
        if (host.joinable()) host.join();
        SetEvent(viewerDone);
        CloseHandle(viewerDone);
        EXPECT_EQ(result, 1);
        DriverTest::TearDown();
        ftsimReset();
    }
    // A simulated device, channels A and B on.
    void device(bool attach = true) {
        FtSimSignal signals[2] = {{0, 3000, 10000, 3.0f}, {1, 7, 1000, 0.0f}};
        if (attach) slot = ftsimAdd("QVREC001", nullptr);   // else no transceiver either
        if (attach) {
            ASSERT_GE(ftsimAttachNewDeviceEx(slot, modelName(HALVEX_PLUS_4_USB), nullptr, signals, 2), 0);
        }
        for (uint16_t c = 0; c < 2; ++c) {
            ASSERT_EQ(QdStr2Param("1", QD_PAR_CHANNEL_ENABLE, c), 0);
            QdValue v = {};   // Resistance: no filter between the device and the file
            v.code = 1;
            ASSERT_EQ(QdSetParam(QD_PAR_CHANNEL_FUNCTION, c, &v), 0);
            if (attach) ftsimDeviceRecordSamples(slot, c, generated[c], CAPACITY);
        }
    }
    void start() {
        // The help and licence documents are looked for in the test's folder,
        // where there are none.
        host = std::thread([this] { result = QdCreateRecWindow(nullptr, nullptr, dir.c_str()); });
        // Shown once it is built.
        ASSERT_TRUE(pumpUntil(
            [&] {
                window = FindWindowA("QuorvaneDevConfig", "Quorvane Recorder 5.4.5");
                return window && IsWindowVisible(window);
            },
            "the recorder window shown"));
        AttachThreadInput(GetCurrentThreadId(), GetWindowThreadProcessId(window, nullptr), TRUE);
    }
    HWND at(int id) { return item(window, id); }
    bool page(const std::string &title) {
        std::vector<std::string> titles = tabTitles(at(ID_TAB));
        for (size_t k = 0; k < titles.size(); ++k) {
            if (titles[k] == title) chooseTab(at(ID_TAB), (int)k);
            if (titles[k] == title) return true;
        }
        return false;
    }
    // Fills the Session page and presses Record.
    void record(const std::string &limit, const std::string &output, const char *format = kFormatEdf) {
        ASSERT_TRUE(page("Session"));
        type(at(ID_REC_LIMIT), limit);
        type(at(ID_REC_OUTPUT), output);
        type(at(ID_REC_SESSION), "Session S");
        ASSERT_TRUE(choose(at(ID_REC_FORMAT), format));
        ASSERT_TRUE(page("Record"));
        click(at(ID_RECORD));
    }
    bool idle() { return windowActivity.load() == ACTIVITY_IDLE && text(at(ID_RECORD)) == "&Record"; }
    // Waits for the dialogs up to one with this text (or caption); all seen.
    // It returns as soon as that one came; only a hang reaches the bound.
    std::vector<Dialog> waitFor(const std::string &last) {
        std::vector<Dialog> all;
        pumpUntil(
            [&] {
                for (Dialog &d : dialogs.take()) all.push_back(d);
                return !all.empty() && (all.back().text == last || all.back().caption == last);
            },
            last.c_str());
        return all;
    }
    // A key as the user presses it: the window's loop translates it through
    // its accelerator table.
    void press(WORD key) { PostMessageA(window, WM_KEYDOWN, key, 0); }
    bool greyed(int menu) { return (GetMenuState(GetMenu(window), (UINT)menu, MF_BYPOSITION) & MF_GRAYED) != 0; }
    static const uint32_t CAPACITY = 20000;
    FtSimSample generated[2][CAPACITY];
    std::string dir;
    int slot = -1, result = 1;
    HWND window = nullptr;
    HANDLE viewerDone = nullptr;
    std::thread host;
    DialogWatcher dialogs;
};

}  // namespace

// The bar's EDF recording: ten seconds stopped by the time limit, EDFbrowser
// started on the growing file, every sample as the device generated it.
TEST_F(RecWindow, EdfRecordingStopsAtItsLimitWithTheViewer) {
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kViewerKey, KEY_WOW64_64KEY, 0);
    device();
    start();
    // Without EDFbrowser registered the box does not stay checked.
    ASSERT_TRUE(page("Session"));
    click(at(ID_REC_VIEWER));
    std::vector<Dialog> warned = waitFor("Cannot find EDFbrowser application. Please check if it is installed.");
    ASSERT_EQ(warned.size(), 1u);
    EXPECT_EQ(warned[0].caption, "Warning");
    EXPECT_FALSE(checked(at(ID_REC_VIEWER)));
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kViewerKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key,
                              nullptr), ERROR_SUCCESS);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    RegSetValueExA(key, nullptr, 0, REG_SZ, (const BYTE *)self, (DWORD)strlen(self) + 1);
    RegCloseKey(key);
    DeleteFileA(viewerNote().c_str());
    DeleteFileA(kept("window.edf").c_str());
    DeleteFileA(kept("window.expected").c_str());
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);   // not the viewer's
    click(at(ID_REC_VIEWER));
    ASSERT_TRUE(checked(at(ID_REC_VIEWER)));
    std::string path = dir + "window.edf";
    record("0:10", path);
    uint64_t started = nowMs();   // the click returns once the device is connected
    EXPECT_FALSE(enabled(at(ID_REC_OUTPUT)));
    EXPECT_TRUE(enabled(at(ID_REC_LIMIT)));
    EXPECT_TRUE(GetMenuState(GetMenu(window), 0, MF_BYPOSITION) & MF_GRAYED) << "File";
    Sleep(5000);
    EXPECT_EQ(text(at(ID_REC_ELAPSED)).substr(0, 20), "Elapsed time: 00:00:");
    EXPECT_TRUE(screenshot(window, programFolder() + "ui-shots\\recorder-Record.png"));
    ASSERT_TRUE(page("Session"));
    EXPECT_TRUE(screenshot(window, programFolder() + "ui-shots\\recorder-Session.png"));
    std::vector<Dialog> seen = waitFor("Recording finished");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].owned);
    // The limit stopped it, not an early failure: the dialog came no sooner
    // than the limit (the file's length shows it did not run on, below).
    uint64_t stopped = nowMs();
    EXPECT_GE(stopped - started, 8500u) << "the time limit stopped it";
    EXPECT_TRUE(idle());
    PostMessageA(window, WM_CLOSE, 0, 0);
    host.join();

    unsigned long long called = 0;
    unsigned long viewer = 0;
    unsigned errorMode = 1;
    char line[600] = "";
    FILE *f = std::fopen(viewerNote().c_str(), "r");
    ASSERT_NE(f, nullptr) << "EDFbrowser was not started";
    EXPECT_EQ(std::fscanf(f, "%llu %lu %u %599[^\n]", &called, &viewer, &errorMode, line), 4);
    std::fclose(f);
    EXPECT_EQ(errorMode, 0u) << "the viewer has the default error mode";
    // Closing the recorder leaves the viewer open on the finished file.
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, (DWORD)viewer);
    ASSERT_NE(process, nullptr);
    // When the recorder started it: the process's creation, not the
    // stand-in's own start, which under emulation takes seconds.
    FILETIME created, exited, kernel, user;
    ASSERT_TRUE(GetProcessTimes(process, &created, &exited, &kernel, &user));
    called = (((uint64_t)created.dwHighDateTime << 32) | created.dwLowDateTime) / 10000;
    EXPECT_EQ(WaitForSingleObject(process, 0), (DWORD)WAIT_TIMEOUT) << "the viewer still runs";
    SetEvent(viewerDone);
    EXPECT_EQ(WaitForSingleObject(process, 10000), (DWORD)WAIT_OBJECT_0);
    CloseHandle(process);
    EXPECT_NE(std::string(line).find(" --stream \"" + path + "\""), std::string::npos) << line;
    EXPECT_GE(called - started, 3900u);
    EXPECT_LE(called, stopped) << "during the 10 s recording";

    EdfImage e = parseEdf(testenvReadFile(path));
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_EQ(trimmed(e.recording).substr(0, 9), "Session S");
    ASSERT_EQ(e.data.size(), 2u);
    EXPECT_GE(e.recordCount, 9u);
    EXPECT_LE(e.recordCount, 12u) << "the time limit stopped it, it did not run on";
    EXPECT_EQ(std::to_string(e.recordCount), trimmed(e.records));
    for (int c = 0; c < 2; ++c) {
        ASSERT_LE(e.data[c].size(), (size_t)ftsimDeviceRecordCount(slot, c));
        for (size_t i = 0; i < e.data[c].size(); ++i) ASSERT_EQ(e.data[c][i], generated[c][i].value) << c << " " << i;
    }
    // Generated values in physical units by the header's scale.
    CreateDirectoryA(kept("").c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(path.c_str(), kept("window.edf").c_str(), FALSE));
    FILE *out = std::fopen(kept("window.expected").c_str(), "w");
    ASSERT_NE(out, nullptr);
    for (int c = 0; c < 2; ++c) {
        const EdfSignal &h = e.signal[c];
        double pmin = atof(h.physMin.c_str()), dmin = atof(h.digMin.c_str());
        double gain = (atof(h.physMax.c_str()) - pmin) / (atof(h.digMax.c_str()) - dmin);
        std::fprintf(out, "data %d", c);
        for (size_t i = 0; i < e.data[c].size(); ++i) std::fprintf(out, " %.10g", pmin + (generated[c][i].value - dmin) * gain);
        std::fprintf(out, "\n");
    }
    std::fclose(out);
}

TEST_F(RecWindow, TsvRecordingNamedByItsFormat) {
    device();
    start();
    // A test measurement greys the File menu only: Help and F1 stay usable,
    // F3 (Load) does nothing.
    ASSERT_TRUE(page("Test"));
    click(at(ID_TEST));
    EXPECT_EQ(windowActivity.load(), ACTIVITY_TESTING);
    EXPECT_TRUE(greyed(0)) << "File";
    EXPECT_FALSE(greyed(1)) << "Help";
    press(VK_F3);
    press(VK_F1);
    std::vector<Dialog> help = waitFor("Help file not found.");
    ASSERT_EQ(help.size(), 1u) << "the help's box alone";
    EXPECT_EQ(help[0].text, "Help file not found.");
    click(at(ID_TEST));
    EXPECT_TRUE(pumpUntil([&] { return windowActivity.load() == ACTIVITY_IDLE && !greyed(0); }, "File enabled again"));
    ASSERT_TRUE(page("Session"));
    ASSERT_TRUE(choose(at(ID_REC_FORMAT), kFormatTsv));
    EXPECT_FALSE(enabled(at(ID_REC_VIEWER))) << "no live view of a text file";
    std::string base = dir + "record";
    record("10", base, kFormatTsv);
    std::vector<Dialog> seen = waitFor("Recording finished");
    ASSERT_EQ(seen.size(), 1u);
    std::string tsv = testenvReadFile(base + ".txt");
    EXPECT_NE(tsv.find("Session: Session S\nDevice: Quorvane Halvex+ 4 USB"), std::string::npos) << tsv;
    // The first samples of A: 10000 + 3000 sin, 125 kOhm per 32768.
    EXPECT_NE(tsv.find("Sensor\t\t\n\t38.147   \t3.8147   \n\t48.8396  \t"), std::string::npos) << tsv;
    size_t lines = 0;
    for (char ch : tsv) lines += ch == '\n';
    EXPECT_GT(lines, 145u) << "ten seconds of samples at 15.625 sps, after the header";
}

// EDF+ is offered by its row's caption, with the live view, and records its
// annotation signal.
TEST_F(RecWindow, EdfPlusRecordingChosenByItsCaption) {
    device();
    start();
    std::string base = dir + "plus";
    record("3", base, kFormatEdfPlus);
    std::vector<Dialog> seen = waitFor("Recording finished");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().text, "Recording finished");
    std::string edf = testenvReadFile(base + ".edf");
    ASSERT_GT(edf.size(), 768u);
    EXPECT_EQ(edf.substr(88, 10), "Startdate ");
    EXPECT_EQ(edf.substr(192, 6), "EDF+C ");
    EXPECT_NE(edf.substr(236, 2), "-1") << "the record count is written at the end";
    EXPECT_NE(edf.find("EDF Annotations "), std::string::npos);
}

// Refusals leave the window idle, and nothing is half-started.
TEST_F(RecWindow, BadInputIsRefusedAndConnectionFailureLeavesAnEmptyFile) {
    device(false);
    start();
    std::string readOnly = dir + "ro.edf";
    ASSERT_TRUE(testenvWriteFile(readOnly, "kept"));
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    struct Case {
        std::string limit, output, message;
    } cases[] = {
        {"0:60", "x", "Invalid format of the session time limit."},
        {"1:2:3:4", "x", "Invalid format of the session time limit."},
        {"abc", "x", "Invalid format of the session time limit."},
        {"-5", "x", "Invalid format of the session time limit."},
        {"", "", "Output file should be specified."},
        {"", dir + "no folder\\x", "Cannot open output file"},
        {"", readOnly, "Cannot open output file"},
        {"1:30", dir + "empty", "Cannot connect to the device"},
    };
    for (const Case &c : cases) {
        if (c.output == readOnly) dialogs.answer(IDOK);   // rewrite it
        record(c.limit, c.output);
        std::vector<Dialog> seen = waitFor(c.message);
        ASSERT_FALSE(seen.empty()) << c.message;
        EXPECT_EQ(seen.back().text, c.message);
        EXPECT_TRUE(idle()) << c.message;
        EXPECT_TRUE(enabled(at(ID_REC_OUTPUT)));
    }
    EXPECT_EQ(testenvReadFile(readOnly), "kept");
    // Another model through "Device name": its pages; a settings file of
    // another family is refused.
    ASSERT_TRUE(choose(at(ID_REC_DEVICE), modelName(0)));
    EXPECT_STREQ(QdGetDevName(), modelName(0));
    PageEntry pages[UI_MAX_PAGES];
    EXPECT_EQ(tabTitles(at(ID_TAB)).size(), (size_t)devicePages(false, pages, UI_MAX_PAGES) + 2);
    EXPECT_EQ(tabTitles(at(ID_TAB)).back(), "Record");
    ASSERT_TRUE(settingsSave((dir + "brev.qvc").c_str()));
    ASSERT_TRUE(choose(at(ID_REC_DEVICE), modelName(HALVEX_PLUS_4_USB)));
    dialogs.answerFile(dir + "brev.qvc");
    SendMessageA(window, WM_COMMAND, ID_REC_IMPORT, 0);
    std::vector<Dialog> seen = waitFor("The file includes configuration for inadequate device model");
    EXPECT_EQ(seen.size(), 2u) << "the file dialog and the refusal";
    // The File menu's ids, and its keys through the accelerator table: F2
    // saves (".qvc" added), F4 imports it, F3 loads a file of another model
    // whose name has no extension, as it is named.
    HMENU file = GetSubMenu(GetMenu(window), 0);
    EXPECT_EQ(GetMenuItemID(file, 0), 21u);
    EXPECT_EQ(GetMenuItemID(file, 1), 20u);
    EXPECT_EQ(GetMenuItemID(file, 2), 22u);
    ASSERT_TRUE(CopyFileA((dir + "brev.qvc").c_str(), (dir + "other").c_str(), FALSE));
    const struct { WORD key; std::string file, title; } keys[] = {
        {VK_F2, dir + "saved", "Save device configuration"},
        {VK_F4, dir + "saved.qvc", "Import device configuration"},
        {VK_F3, dir + "other", "Load device configuration"},
    };
    for (const auto &k : keys) {
        dialogs.answerFile(k.file);
        press(k.key);
        seen = waitFor(k.title);
        ASSERT_EQ(seen.size(), 1u) << k.title;
        EXPECT_TRUE(pumpUntil([&] { return !FindWindowA("#32770", k.title.c_str()); }, "the file dialog closed"));
    }
    // The load closes the context and opens the file's model: meanwhile no
    // model is selected.
    EXPECT_TRUE(pumpUntil(
        [&] {
            const char *name = QdGetDevName();
            return name != nullptr && std::string(name) == modelName(0);
        },
        "the loaded model selected"));
    EXPECT_EQ(text(at(ID_REC_DEVICE)), modelName(0));
    EXPECT_NE(GetFileAttributesA((dir + "saved.qvc").c_str()), INVALID_FILE_ATTRIBUTES);
    press(VK_F1);
    EXPECT_EQ(waitFor("Help file not found.").size(), 1u);
    EXPECT_EQ(GetFileAttributesA((dir + "empty.edf").c_str()) != INVALID_FILE_ATTRIBUTES, true);
    EXPECT_EQ(testenvReadFile(dir + "empty.edf"), "");
}

TEST_F(RecWindow, FirstPacketOffPhaseZeroStopsTheRecording) {
    device();
    ftsimDeviceDropData(slot, 1);
    start();
    record("", dir + "phase");
    std::vector<Dialog> seen = waitFor("Recording finished");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].caption, "Error");
    EXPECT_EQ(seen[0].text, "Output file writting failed");
    EXPECT_TRUE(idle());
}

TEST_F(RecWindow, ClosingDuringARecordingFinishesTheFileWithoutAWindow) {
    device();
    start();
    std::string path = dir + "closed.edf";
    record("", path);
    // Closed once a data record is in the file (after the header of two
    // signals, 768 bytes).
    EXPECT_TRUE(pumpUntil(
        [&] {
            WIN32_FILE_ATTRIBUTE_DATA a;
            return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a) && a.nFileSizeLow > 768;
        },
        "the first data record"));
    dialogs.answer(IDOK);
    PostMessageA(window, WM_CLOSE, 0, 0);
    std::vector<Dialog> seen = waitFor("Recording finished");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "Communication in progress. Do you really want to exit?");
    EXPECT_FALSE(seen[1].owned);
    host.join();
    EXPECT_FALSE(IsWindow(window));
    EdfImage e = parseEdf(testenvReadFile(path));
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_GE(e.recordCount, 1u);
    EXPECT_EQ(std::to_string(e.recordCount), trimmed(e.records)) << "the header was completed";
}
