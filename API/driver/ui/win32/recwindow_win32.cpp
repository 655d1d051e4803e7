// recwindow_win32.cpp - the recorder window (QdCreateRecWindow): a small
// recording application on the host's thread. It shows the "Session" page,
// the device pages of the settings window and the "Record" page, records
// the selected context into an EDF or TSV file and can start EDFbrowser on
// the growing file. Its own loop pumps the messages and runs the engine;
// the call returns once the window has been closed and any recording has
// been finished.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "API/driver/frame/contexts.h"
#include "API/driver/frame/log.h"
#include "API/driver/protocol/protocol.h"
#include "API/driver/ui/eegcap.h"
#include "API/driver/ui/recorder.h"
#include "API/driver/ui/recording.h"
#include "API/driver/ui/window_hooks.h"
#include "API/driver/ui/win32/pageset_internal.h"
#include "API/driver/ui/win32/uishared.h"
#include "os/os.h"

namespace {

constexpr int WINDOW_WIDTH = 78;    // w
constexpr int WINDOW_HEIGHT = 45;   // u
constexpr int OS_CODE_XP = 8;
const char kTitle[] = "Quorvane Recorder 5.4.5";
const char kDefaultModel[] = "Quorvane Halvex+ 4 USB";
const char kHelpDocument[] = "Quorvane_Recorder.htm";
const char kLicenseDocument[] = "Quorvane_Recorder_EULA.txt";
const char kWebsite[] = "https://www.quorvane.example/";
const char kExitQuestion[] = "Communication in progress. Do you really want to exit?";
const char kViewerKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\edfbrowser.exe";
const uint32_t kSessionIds[] = {ID_REC_SESSION, ID_REC_CLIENT, ID_REC_DEVICE, ID_REC_FORMAT,
                                ID_REC_OUTPUT,  ID_REC_BROWSE, ID_REC_VIEWER};

PageSet g_pages;
HWND g_next = nullptr;
HMENU g_menu = nullptr;
HACCEL g_accel = nullptr;
Recorder g_rec;
char g_outputPath[256];
char g_viewerPath[257];
HANDLE g_viewer = nullptr;

int16_t selected() { return QdGetSelectedDevContext(); }
HWND item(uint32_t id) { return pageSetControl(&g_pages, id); }
HWND window() { return g_ui.window.load(); }

bool communicating() {
    int16_t context = selected();
    return context >= 0 && QdComState((uint16_t)context) != QD_COM_IDLE;
}

void showMessage(void *owner, const char *text, const char *caption) {
    bool error = std::strcmp(caption, "Error") == 0;
    MessageBoxA((HWND)owner, text, caption, MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

int findOwnPage(const char *title) {
    for (int p = 0; p < g_pages.count; ++p) {
        if (g_pages.pages[p].entry.kind == PAGE_OTHER && std::strcmp(g_pages.pages[p].entry.title, title) == 0) return p;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Pages
// ---------------------------------------------------------------------------

void buildRecordPage(int page) {
    ControlDescriptor d;
    uint32_t row = g_ui.units.firstRow;
    for (int k = 0; recordPageControl(k, (uint32_t)g_ui.units.firstRow, &d); ++k) {
        pageSetAddControl(&g_pages, page, &d, LABEL_COLUMN_RECORDER, &row);
    }
}

void buildSessionPage(int page) {
    const char *const *models = nullptr;
    int count = QdEnumDevices(&models);
    ControlDescriptor d;
    uint32_t row = g_ui.units.firstRow;
    for (int k = 0; sessionPageControl(k, models, count, QdGetDevName(), &d); ++k) {
        pageSetAddControl(&g_pages, page, &d, LABEL_COLUMN_RECORDER, &row);
    }
}

// The device pages (and the Record page, whose rows follow the channels)
// of the selected context; without one, the Record page alone.
void buildDevicePages() {
    int record = findOwnPage("Record");
    if (record < 0) return;
    destroyPageControls(&g_pages.pages[record]);
    buildRecordPage(record);
    if (selected() >= 0) pageSetAddDevicePages(&g_pages, false, record);
}

void showPage(int page);

void rebuildDevicePages() {
    pageSetRemoveDevicePages(&g_pages);
    buildDevicePages();
    showPage(0);
}

void setVisible(uint32_t id, bool visible) {
    for (int p = 0; p < g_pages.count; ++p) {
        Page *page = &g_pages.pages[p];
        for (int k = 0; k < page->count; ++k) {
            if (page->controls[k].id != id && page->controls[k].id != id + ID_LABEL_OFFSET) continue;
            page->controls[k].visible = visible;
            if (p == g_pages.shown) ShowWindow(page->controls[k].hwnd, visible ? SW_SHOW : SW_HIDE);
        }
    }
}

// The output format chosen in the list (its entries are the formats in
// index order); the first when none is.
uint16_t chosenFormat() {
    LRESULT at = SendMessageA(item(ID_REC_FORMAT), CB_GETCURSEL, 0, 0);
    return at >= 0 && at < RECORDING_FORMAT_COUNT ? (uint16_t)at : (uint16_t)RECORDING_EDF;
}

// Enables the "Session" controls as their rows allow (or disables them);
// the time limit stays enabled throughout.
void enableSession(bool enable) {
    uint16_t format = chosenFormat();
    for (uint32_t id : kSessionIds) {
        bool on = enable && sessionControlEnabled(id, format);
        EnableWindow(item(id), on);
        EnableWindow(item(id + ID_LABEL_OFFSET), on);
    }
}

// The menus by position on the bar.
enum : UINT { MENU_FILE = 0, MENU_HELP = 1 };

// Greys (or enables) the menus up to and including the last one named.
void enableMenus(bool enable, UINT last = MENU_HELP) {
    for (UINT position = MENU_FILE; position <= last; ++position) {
        EnableMenuItem(g_menu, position, MF_BYPOSITION | (enable ? MF_ENABLED : MF_GRAYED));
    }
    DrawMenuBar(window());
}

// The window's state for a measurement it runs (or for none).
void enableForMeasurement(bool measuring) {
    enableMenus(!measuring);
    enableSession(!measuring);
    pageSetEnable(&g_pages, !measuring);
}

void showPage(int page) {
    pageSetShow(&g_pages, page);
    bool record = page == findOwnPage("Record");
    if (!record) {
        ShowWindow(g_next, SW_SHOW);
        SetFocus(g_next);
        return;
    }
    if (windowActivity.load() == ACTIVITY_IDLE) EnableWindow(item(ID_RECORD), recordButtonEnabled(false));
    ShowWindow(g_next, SW_HIDE);
    SetFocus(item(ID_RECORD));
}

void repaintIndicators() {
    for (int b = 0; b < UI_INDICATOR_BOXES; ++b) {
        HWND box = GetDlgItem(window(), (int)(ID_RECORD_BOX_FIRST + (uint32_t)b));
        if (box) InvalidateRect(box, nullptr, TRUE);
    }
}

// ---------------------------------------------------------------------------
// Viewer
// ---------------------------------------------------------------------------

// EDFbrowser's path from the registry's application paths; false when it
// is not there or names no file.
bool findViewer() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kViewerKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return false;
    char path[257] = {};
    DWORD type = 0, size = sizeof path - 1;
    LONG result = RegQueryValueExA(key, nullptr, nullptr, &type, (BYTE *)path, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ) return false;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    std::snprintf(g_viewerPath, sizeof g_viewerPath, "%s", path);
    return true;
}

void viewerBoxClicked() {
    HWND box = item(ID_REC_VIEWER);
    if (SendMessageA(box, BM_GETCHECK, 0, 0) != BST_CHECKED || g_viewerPath[0]) return;
    if (findViewer()) return;
    g_viewerPath[0] = '\0';
    uiMessageBox("Cannot find EDFbrowser application. Please check if it is installed.", "Warning",
                 MB_OK | MB_ICONWARNING);
    SendMessageA(box, BM_SETCHECK, BST_UNCHECKED, 0);
}

void stopViewer() {
    if (!g_viewer) return;
    TerminateProcess(g_viewer, 0);
    CloseHandle(g_viewer);
    g_viewer = nullptr;
}

void startViewer() {
    stopViewer();
    char command[600];
    std::snprintf(command, sizeof command, "\"%s\" --stream \"%s\"", g_viewerPath, g_outputPath);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // The viewer starts with the system's default error mode, not the
    // host's.
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr,
                        &startup, &process)) {
        return;
    }
    CloseHandle(process.hThread);
    g_viewer = process.hProcess;
}

// ---------------------------------------------------------------------------
// Recording
// ---------------------------------------------------------------------------

void restoreAfterRecording() {
    enableForMeasurement(false);
    SetWindowTextA(item(ID_RECORD), "&Record");
    setVisible(ID_REC_ELAPSED, false);
    uiResetIndicators();
    repaintIndicators();
}

bool readTimeLimit(uint32_t *limit) {
    char text[256];
    GetWindowTextA(item(ID_REC_LIMIT), text, sizeof text);
    if (parseTimeLimit(text, limit)) return true;
    uiWarning("Invalid format of the session time limit.");
    return false;
}

// The output path, after the user agreed to replace an existing file.
bool chooseOutput(uint16_t format) {
    char text[256];
    GetWindowTextA(item(ID_REC_OUTPUT), text, sizeof text);
    OutputName name = outputPath(text, format, g_outputPath, sizeof g_outputPath);
    if (name != OUTPUT_OK) {
        uiWarning(name == OUTPUT_EMPTY ? "Output file should be specified." : "Cannot open output file");
        return false;
    }
    HANDLE file = CreateFileA(g_outputPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;
    CloseHandle(file);
    char question[400];
    std::snprintf(question, sizeof question, "Output file \"%s\" already exists. Do you want to rewrite it?",
                  g_outputPath);
    return uiMessageBox(question, "Confirm", MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}

// Opens the file and starts the measurement; false (with the message shown
// and the file closed) when either fails.
bool openAndStart(uint16_t format) {
    RecordingOutput *out = recorderOutput();
    char client[REC_TEXT_MAX + 1], session[REC_TEXT_MAX + 1];
    GetWindowTextA(item(ID_REC_CLIENT), client, sizeof client);
    GetWindowTextA(item(ID_REC_SESSION), session, sizeof session);
    // A read-only file is refused before it is opened (a privileged user's
    // open would succeed and replace it).
    DWORD attributes = GetFileAttributesA(g_outputPath);
    bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly || !recordingOpen(out, g_outputPath, format, client, session)) {
        uiError("Cannot open output file");
        return false;
    }
    uiShowWaitWindow();
    windowActivity = ACTIVITY_RECORDING;
    int32_t result = QdStartMeasurement((uint16_t)selected(), 0);
    uiCloseWaitWindow();
    out->writeFailure = 0;
    if (result == QD_MEAS_STARTED || result == QD_MEAS_CONNECTING) return true;
    windowActivity = ACTIVITY_IDLE;
    uiError(recorderStartFailure(result));
    // Nothing was written: the file stays behind empty.
    osFileClose(out->file);
    out->file = OS_INVALID_FILE;
    return false;
}

void startRecording() {
    uint32_t limit = 0;
    if (!readTimeLimit(&limit)) return;
    uint16_t format = chosenFormat();
    if (!chooseOutput(format)) return;
    enableForMeasurement(true);
    SetWindowTextA(item(ID_RECORD), "S&top");
    uiPumpMessages();
    if (!openAndStart(format)) {
        restoreAfterRecording();
        return;
    }
    bool viewer = outputFormat(format)->liveView && g_viewerPath[0] &&
                  SendMessageA(item(ID_REC_VIEWER), BM_GETCHECK, 0, 0) == BST_CHECKED;
    recorderStart(&g_rec, GetTickCount(), limit, viewer);
    char text[64];
    elapsedText(0, text, sizeof text);
    SetWindowTextA(item(ID_REC_ELAPSED), text);
    setVisible(ID_REC_ELAPSED, true);
    UiColour colours[UI_INDICATOR_BOXES];
    indicatorStartColours(colours);
    for (int b = BOX_BATTERY; b < UI_INDICATOR_BOXES; ++b) g_ui.indicators[b] = colours[b];
    repaintIndicators();
}

void recordCommand() {
    if (g_ui.busy) return;
    if (windowActivity.load() != ACTIVITY_IDLE) {
        if (recorderStop(&g_rec, false) & REC_STOP) QdStopMeasurement((uint16_t)selected());
        return;
    }
    g_ui.busy = true;
    startRecording();
    g_ui.busy = false;
}

void finishRecording() {
    completeEdfHeader(recorderOutput(), window());
    HWND owner = window();
    if (owner) restoreAfterRecording();
    MessageBoxA(owner, "Recording finished", "Info", MB_OK | MB_ICONINFORMATION);
}

// ---------------------------------------------------------------------------
// Loop
// ---------------------------------------------------------------------------

// Takes one message if there is one; false on the quit message.
bool pumpOne() {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        Sleep(1);
        return true;
    }
    if (msg.message == WM_QUIT) return false;
    HWND w = window();
    if (w && g_accel && TranslateAcceleratorA(w, g_accel, &msg)) return true;
    if (w && IsDialogMessageA(w, &msg)) return true;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
}

void testEnded() {
    pageSetTestEnd(&g_pages);
    enableForMeasurement(false);
    EnableWindow(item(ID_RECORD), recordButtonEnabled(false));
}

void recordingStep(bool active) {
    RecordingOutput *out = recorderOutput();
    uint16_t failure = out->writeFailure.load(), before = failure;
    uint32_t elapsed = 0;
    uint32_t actions = recorderStep(&g_rec, GetTickCount(), active, &failure, &elapsed);
    if (failure != before) out->writeFailure = failure;
    if (actions & REC_SHOW_ELAPSED) {
        char text[64];
        elapsedText(elapsed, text, sizeof text);
        SetWindowTextA(item(ID_REC_ELAPSED), text);
    }
    if (actions & REC_START_VIEWER) startViewer();
    if (actions & REC_REPORT_WRITE_FAILURE) uiError("Output file writting failed");
    if (actions & REC_STOP) QdStopMeasurement((uint16_t)selected());
    if (actions & REC_FINISH) {
        windowActivity = ACTIVITY_IDLE;
        finishRecording();
    }
}

// The measurement still running when the window has gone is stopped and
// carried to its end; a recording is then finished without a window.
void endAfterClose() {
    uint16_t activity = windowActivity.load();
    if (activity == ACTIVITY_IDLE) return;
    recorderStop(&g_rec, true);
    int16_t context = selected();
    if (context >= 0 && QdStopMeasurement((uint16_t)context) >= QD_MEAS_STOPPING) {
        while (communicating()) {
            QdProtocolEngine();
            Sleep(1);
        }
    }
    windowActivity = ACTIVITY_IDLE;
    g_rec.phase = RECORDER_IDLE;
    if (activity == ACTIVITY_RECORDING) finishRecording();
}

void recorderLoop() {
    for (;;) {
        bool idle = windowActivity.load() == ACTIVITY_IDLE;
        // Link data waiting: the engine runs first. QdAwaitingMessages looks
        // under the engine lock and leaves a context alone while its
        // connection thread may replace its link.
        if (idle || QdAwaitingMessages() == 0) {
            if (!pumpOne()) break;
            if (idle) continue;
        }
        QdProtocolEngine();
        bool active = communicating();
        uint16_t activity = windowActivity.load();
        if (activity == ACTIVITY_RECORDING) {
            recordingStep(active);
        } else if (activity == ACTIVITY_TESTING && !active) {
            testEnded();
        }
    }
    endAfterClose();
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

void testCommand() {
    if (g_ui.busy) return;
    if (windowActivity.load() != ACTIVITY_IDLE) {
        QdStopMeasurement((uint16_t)selected());
        return;
    }
    if (findPage(&g_pages, PAGE_TEST, 0) < 0) return;
    g_ui.busy = true;
    // A test leaves Help (and F1) usable; only the File menu is greyed.
    enableMenus(false, MENU_FILE);
    enableSession(false);
    EnableWindow(item(ID_RECORD), FALSE);
    if (!pageSetTestStart(&g_pages)) testEnded();
    g_ui.busy = false;
}

void closeRequest() {
    if (g_ui.busy) return;
    if (windowActivity.load() != ACTIVITY_IDLE &&
        uiMessageBox(kExitQuestion, "Confirm", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
        return;
    }
    DestroyWindow(window());
}

void modelChosen() {
    char name[128];
    HWND list = item(ID_REC_DEVICE);
    LRESULT at = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (at < 0 || SendMessageA(list, CB_GETLBTEXTLEN, (WPARAM)at, 0) >= (LRESULT)sizeof name) return;
    SendMessageA(list, CB_GETLBTEXT, (WPARAM)at, (LPARAM)name);
    if (std::strcmp(name, QdGetDevName()) == 0) return;
    pageSetRemoveDevicePages(&g_pages);
    int16_t context = selected();
    if (context >= 0) QdCloseDevContext((uint16_t)context);
    if (QdOpenDevContext(name) < 0) uiError("Cannot update information for selected device");
    buildDevicePages();
    showPage(0);
}

void selectCurrentModel() {
    HWND list = item(ID_REC_DEVICE);
    LRESULT at = SendMessageA(list, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)QdGetDevName());
    SendMessageA(list, CB_SETCURSEL, (WPARAM)at, 0);
}

void limitEdited() {
    if (windowActivity.load() != ACTIVITY_RECORDING) return;
    char text[256];
    GetWindowTextA(item(ID_REC_LIMIT), text, sizeof text);
    uint32_t limit = 0;
    if (parseTimeLimit(text, &limit)) g_rec.limit = limit;
}

void browseOutput() {
    char path[MAX_PATH] = {};
    GetWindowTextA(item(ID_REC_OUTPUT), path, sizeof path);
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window();
    ofn.lpstrFilter = outputFormat(chosenFormat())->filter;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.lpstrTitle = "Output data file";
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER;
    if (!GetSaveFileNameA(&ofn)) return;
    char current[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof current, current);
    const char *shown = path;
    if (n > 0 && n < sizeof current && _strnicmp(path, current, n) == 0) {
        if (path[n] == '\\') shown = path + n + 1;
        else if (current[n - 1] == '\\') shown = path + n;
    }
    SetWindowTextA(item(ID_REC_OUTPUT), shown);
}

void openWebsite() {
    INT_PTR result = (INT_PTR)ShellExecuteA(window(), "open", kWebsite, nullptr, nullptr, SW_SHOWNORMAL);
    if (result > 32) return;
    if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND) {
        uiError("Address not found.");
    } else if (result == SE_ERR_NOASSOC || result == SE_ERR_ASSOCINCOMPLETE) {
        uiError("HTM extension not associated with any application.");
    } else {
        uiError("Cannot open website.");
    }
}

void showAbout() {
    uiMessageBox("Quorvane Recorder v. 5.4.5\n"
                 "Copyright (C) Quorvane Systems. All rights reserved.\n"
                 "Application recording physiological signals measured\nwith equipment by Quorvane Systems.\n"
                 "Support: support@quorvane.example",
                 "About Quorvane Recorder", MB_OK | MB_ICONINFORMATION);
}

// The device pages go before the context closes; afterwards those of the
// loaded (or restored) context come back, none when no context is left.
void loadSettings() {
    int result = uiLoadSettings([] { pageSetRemoveDevicePages(&g_pages); });
    if (result == UI_LOAD_NO_FILE) return;
    buildDevicePages();
    showPage(0);
    if (result >= 0) selectCurrentModel();
}

// Menu, accelerator and button commands; an edit's only when it loses the
// focus after a change.
void onCommand(uint32_t id, UINT code, HWND control) {
    if (control && code != BN_CLICKED && code != CBN_SELCHANGE && code != EN_KILLFOCUS && id < ID_PARAM_FIRST &&
        !(id >= ID_CAP_ENABLE && id <= ID_CAP_LAST)) {
        return;
    }
    // The File menu is greyed during a measurement; its keys, which reach
    // the window through the accelerator table, must not close or change
    // the measuring context either.
    const bool fileCommand = id == ID_REC_IMPORT || id == ID_REC_LOAD || id == ID_SAVE_SETTINGS;
    if (fileCommand && windowActivity.load() != ACTIVITY_IDLE) return;
    switch (id) {
    case ID_REC_IMPORT:
        if (uiImportSettings()) rebuildDevicePages();
        break;
    case ID_REC_LOAD: loadSettings(); break;
    case ID_SAVE_SETTINGS: uiSaveSettings(); break;
    case ID_REC_SERVICES:
    case ID_SERVICES:
        if (QdDevServices(g_ui.hostDirectory) != 0) uiError("Cannot run service application");
        break;
    case ID_REC_EXIT: closeRequest(); break;
    case ID_REC_WEBSITE: openWebsite(); break;
    case ID_NEXT:
        if (g_pages.shown + 1 < g_pages.count) showPage(g_pages.shown + 1);
        break;
    case ID_REC_BROWSE: browseOutput(); break;
    case ID_REC_DEVICE:
        if (code == CBN_SELCHANGE) modelChosen();
        break;
    case ID_REC_LIMIT:
        if (code == EN_KILLFOCUS && SendMessageA(control, EM_GETMODIFY, 0, 0)) limitEdited();
        break;
    case ID_REC_FORMAT: enableSession(true); break;
    case ID_REC_VIEWER: viewerBoxClicked(); break;
    case ID_TEST: testCommand(); break;
    case ID_RECORD: recordCommand(); break;
    case ID_REC_ABOUT: showAbout(); break;
    case ID_LICENSE: uiOpenLicense(kLicenseDocument); break;
    case ID_HELP: uiOpenHelp(kHelpDocument); break;
    case ID_REC_SESSION:
    case ID_REC_CLIENT:
    case ID_REC_OUTPUT: break;
    default: pageSetCommand(&g_pages, id, code, control); break;
    }
}

// ---------------------------------------------------------------------------
// Window
// ---------------------------------------------------------------------------

HMENU buildMenus() {
    HMENU file = CreatePopupMenu(), help = CreatePopupMenu(), bar = CreateMenu();
    AppendMenuA(file, MF_STRING, ID_REC_LOAD, "&Load device settings\tF3");
    AppendMenuA(file, MF_STRING, ID_REC_IMPORT, "&Import device settings\tF4");
    AppendMenuA(file, MF_STRING, ID_SAVE_SETTINGS, "&Save device settings\tF2");
    AppendMenuA(file, MF_STRING, ID_REC_SERVICES, "&Device services");
    AppendMenuA(file, MF_STRING, ID_REC_EXIT, "&Exit");
    AppendMenuA(help, MF_STRING, ID_HELP, "&Documentation\tF1");
    AppendMenuA(help, MF_STRING, ID_LICENSE, "&License");
    AppendMenuA(help, MF_STRING, ID_REC_WEBSITE, "Quorvane Systems &website");
    AppendMenuA(help, MF_STRING, ID_REC_ABOUT, "&About Quorvane Recorder");
    AppendMenuA(bar, MF_POPUP, (UINT_PTR)file, "&File");
    AppendMenuA(bar, MF_POPUP, (UINT_PTR)help, "&Help");
    return bar;
}

bool onCreate(HWND w) {
    uiCreateFrame(w);
    pageSetInit(&g_pages, w, g_ui.tab, LABEL_COLUMN_RECORDER);
    g_ui.pages = &g_pages;
    int session = pageSetAddPage(&g_pages, PAGE_OTHER, 0, "Session");
    if (session < 0) return false;
    buildSessionPage(session);
    if (pageSetAddPage(&g_pages, PAGE_OTHER, 0, "Record") < 0) return false;
    buildDevicePages();
    ControlDescriptor d;
    windowButton(ID_NEXT, &d);
    g_next = uiCreateControl(w, &d, LABEL_COLUMN_PARAMS, 0, true, nullptr);
    SetWindowPos(g_ui.tab, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    showPage(0);
    enableSession(true);
    SetFocus(item(ID_REC_SESSION));
    return true;
}

void onDestroy() {
    if (g_pages.capLocked) capLock(false);
    g_pages.capLocked = false;
    g_ui.pages = nullptr;
    uiCloseWaitWindow();
    uiDeleteFont();
    uiDeleteBrushes();
    if (g_ui.parent) {
        EnableWindow(g_ui.parent, TRUE);
        SetForegroundWindow(g_ui.parent);
    }
    if (g_accel) DestroyAcceleratorTable(g_accel);
    g_accel = nullptr;
    PostQuitMessage(0);
    g_ui.window = nullptr;
    g_ui.busy = false;
    g_next = nullptr;
}

void onDestroyMessage(HWND) { onDestroy(); }
void onCloseMessage(HWND) { closeRequest(); }
void onCommandMessage(HWND, uint32_t id, UINT code, HWND control) { onCommand(id, code, control); }

const WindowHandlers kRecorderWindow = {onCreate, onDestroyMessage, onCloseMessage, onCommandMessage, nullptr, showPage,
                                        &g_pages};

HWND createWindow(HWND parent) {
    g_ui.handlers = &kRecorderWindow;
    int width = WINDOW_WIDTH * g_ui.units.w, height = WINDOW_HEIGHT * g_ui.units.u;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    HWND w = CreateWindowExA(WS_EX_CONTROLPARENT, "QuorvaneDevConfig", kTitle,
                             WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, x, y < 0 ? 0 : y, width, height,
                             parent, buildMenus(), g_ui.instance, nullptr);
    if (!w) {
        // A window destroyed during its creation posted a quit message
        // that is not the host's.
        MSG quit;
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        g_ui.handlers = nullptr;
        uiDeleteFont();
    }
    return w;
}

void show(HWND w, bool parentGiven) {
    static const ACCEL keys[4] = {{FVIRTKEY, VK_F1, ID_HELP},
                                  {FVIRTKEY, VK_F2, ID_SAVE_SETTINGS},
                                  {FVIRTKEY, VK_F3, ID_REC_LOAD},
                                  {FVIRTKEY, VK_F4, ID_REC_IMPORT}};
    if (g_ui.parent) EnableWindow(g_ui.parent, FALSE);
    g_menu = GetMenu(w);
    uiResetIndicators();
    selectCurrentModel();
    g_accel = CreateAcceleratorTableA((ACCEL *)keys, 4);
    ShowWindow(w, SW_SHOW);
    if (!parentGiven) SetForegroundWindow(w);
}

bool prepare(void *instance, void *parent, const char *directory) {
    if (g_ui.window.load()) return false;
    if (osVersionCode() < OS_CODE_XP) {
        MessageBoxA((HWND)parent, "Unsupported operating system. Supported systems are Microsoft Windows "
                    "XP/Vista/7/8/10/11.", "Error", MB_OK | MB_ICONERROR);
        return false;
    }
    g_ui.parent = (HWND)parent;
    g_ui.instance = (HINSTANCE)instance;
    if (!g_ui.instance && g_ui.parent) g_ui.instance = (HINSTANCE)GetWindowLongPtrA(g_ui.parent, GWLP_HINSTANCE);
    if (!g_ui.instance) g_ui.instance = GetModuleHandleA(nullptr);
    if (selected() < 0 && QdOpenDevContext(kDefaultModel) < 0) return false;
    uiSetHostDirectory(directory);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    return uiRegisterClass(g_ui.instance);
}

}  // namespace

extern "C" int QDCALL QdCreateRecWindow(void *instance, void *parent, const char *directory) {
    logEnter("QdCreateRecWindow", "...");
    HWND w = nullptr;
    if (prepare(instance, parent, directory)) {
        uiCreateFont();
        w = createWindow((HWND)parent);
    }
    if (!w) {
        logFail("QdCreateRecWindow", "false");
        return 0;
    }
    RecordingOutput *out = recorderOutput();
    RecordingMessageFn logged = out->showMessage;
    out->showMessage = showMessage;
    show(w, parent != nullptr);
    recorderLoop();
    out->showMessage = logged;
    // The viewer stays open on the finished file; only a new viewer ends it.
    logExit("QdCreateRecWindow", "true");
    return 1;
}
