// devwindow_win32.cpp - the device settings window (QdCreateDevWindow): a
// modeless window, driven by the host's message loop, that shows the
// selected context's parameters on generated pages, runs the electrode
// test from a 10 ms timer and reads and writes settings files.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <initializer_list>
#include <cstring>

#include "API/driver/frame/log.h"
#include "API/driver/protocol/protocol.h"
#include "API/driver/ui/eegcap.h"
#include "API/driver/ui/settingsfile.h"
#include "API/driver/ui/window_hooks.h"
#include "API/driver/ui/win32/pageset_internal.h"
#include "API/driver/ui/win32/uishared.h"

namespace {

constexpr int WINDOW_X = 6, WINDOW_Y = 6;
constexpr int WINDOW_WIDTH = 78;    // w
constexpr int WINDOW_HEIGHT = 44;   // u
constexpr UINT_PTR TEST_TIMER = 1;
constexpr UINT TEST_PERIOD_MS = 10;
const char kHelpDocument[] = "Quorvane_Driver_Dev_Win.htm";
const char kLicenseDocument[] = "Quorvane_Driver_EULA.txt";
const char kCloseQuestion[] = "Communication in progress. Do you really want to close window?";

PageSet g_pages;
HWND g_next = nullptr;
bool g_inEngine = false;   // the test timer's engine call is running


int16_t selected() { return QdGetSelectedDevContext(); }

bool connected() {
    int16_t context = selected();
    return context >= 0 && QdComState((uint16_t)context) != QD_COM_IDLE;
}

void makeWindowButtons(HWND window) {
    ControlDescriptor d;
    for (uint32_t id : {ID_CLOSE, ID_NEXT}) {
        windowButton(id, &d);
        HWND button = uiCreateControl(window, &d, LABEL_COLUMN_PARAMS, 0, true, nullptr);
        if (id == ID_NEXT) g_next = button;
    }
}

// All pages of the window (the settings window's page list), the first one
// shown.
void buildPages() {
    bool busy = connected();
    pageSetInit(&g_pages, g_ui.window.load(), g_ui.tab, LABEL_COLUMN_PARAMS);
    g_pages.enabled = !busy;
    g_ui.pages = &g_pages;
    PageEntry entries[UI_MAX_PAGES];
    pageSetAddPages(&g_pages, entries, settingsWindowPages(busy, entries, UI_MAX_PAGES), -1);
    SetWindowPos(g_ui.tab, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    pageSetShow(&g_pages, 0);
    EnableWindow(g_next, TRUE);
    SetFocus(g_next);
}

bool onCreate(HWND window) {
    uiCreateFrame(window);
    makeWindowButtons(window);
    buildPages();
    return true;
}

void onDestroy(HWND window) {
    KillTimer(window, TEST_TIMER);
    if (windowActivity.load() == ACTIVITY_TESTING) windowActivity = ACTIVITY_IDLE;
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
    g_ui.window = nullptr;
    g_ui.busy = false;
    g_ui.closeWhenStopped = false;
    g_next = nullptr;
}

// Command 44 and the close request: at once when idle, otherwise after the
// user agreed and the measurement has stopped.
void closeRequest(HWND window) {
    // Not while the Test command, pumping messages, is being carried out.
    if (g_ui.busy) return;
    if (windowActivity.load() == ACTIVITY_IDLE) {
        DestroyWindow(window);
        return;
    }
    if (uiMessageBox(kCloseQuestion, "Confirm", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return;
    int16_t context = selected();
    if (context >= 0 && QdStopMeasurement((uint16_t)context) == QD_MEAS_STOPPING) {
        g_ui.closeWhenStopped = true;
    } else {
        DestroyWindow(window);
    }
}

void testCommand(HWND window) {
    if (g_ui.busy) return;
    if (windowActivity.load() != ACTIVITY_IDLE) {
        int16_t context = selected();
        if (context >= 0) QdStopMeasurement((uint16_t)context);
        return;
    }
    g_ui.busy = true;
    if (pageSetTestStart(&g_pages)) SetTimer(window, TEST_TIMER, TEST_PERIOD_MS, nullptr);
    g_ui.busy = false;
}

void testTick(HWND window) {
    // A message box opened from inside the engine pumps this timer again.
    if (g_inEngine) return;
    g_inEngine = true;
    QdProtocolEngine();
    g_inEngine = false;
    int16_t context = selected();
    if (context >= 0 && QdComState((uint16_t)context) != QD_COM_IDLE) return;
    KillTimer(window, TEST_TIMER);
    pageSetTestEnd(&g_pages);
    if (g_ui.closeWhenStopped) {
        g_ui.closeWhenStopped = false;
        DestroyWindow(window);
    }
}

void importSettings() {
    if (!uiImportSettings()) return;
    pageSetRemoveAll(&g_pages);
    buildPages();
}

void showPage(int page) {
    pageSetShow(&g_pages, page);
    EnableWindow(g_next, g_pages.pages[page].entry.kind != PAGE_ABOUT);
    SetFocus(g_next);
}

void onCommand(HWND window, uint32_t id, UINT code, HWND control) {
    // The settings files wait for the end of the window's test measurement:
    // an import would change the measuring context's settings under it.
    const bool fileCommand = id == ID_IMPORT_SETTINGS || id == ID_SAVE_SETTINGS;
    if (fileCommand && windowActivity.load() != ACTIVITY_IDLE) return;
    switch (id) {
    case ID_IMPORT_SETTINGS: importSettings(); break;
    case ID_SAVE_SETTINGS: uiSaveSettings(); break;
    case ID_NEXT:
        if (g_pages.shown + 1 < g_pages.count) showPage(g_pages.shown + 1);
        break;
    case ID_CLOSE: closeRequest(window); break;
    case ID_SERVICES:
        if (QdDevServices(g_ui.hostDirectory) != 0) uiError("Cannot run service application");
        break;
    case ID_TEST: testCommand(window); break;
    case ID_LICENSE: uiOpenLicense(kLicenseDocument); break;
    case ID_HELP: uiOpenHelp(kHelpDocument); break;
    default: pageSetCommand(&g_pages, id, code, control); break;
    }
}

void onTimer(HWND window, WPARAM id) {
    if (id == TEST_TIMER && windowActivity.load() == ACTIVITY_TESTING) testTick(window);
}

const WindowHandlers kSettingsWindow = {onCreate, onDestroy, closeRequest, onCommand, onTimer, showPage, &g_pages};

HWND createWindow(HINSTANCE instance, HWND parent) {
    char title[96];
    std::snprintf(title, sizeof title, "%s settings", QdGetDevName());
    g_ui.handlers = &kSettingsWindow;
    HWND window = CreateWindowExA(WS_EX_CONTROLPARENT, "QuorvaneDevConfig", title, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                  WINDOW_X, WINDOW_Y, WINDOW_WIDTH * g_ui.units.w, WINDOW_HEIGHT * g_ui.units.u, parent,
                                  nullptr, instance, nullptr);
    if (!window) {
        g_ui.handlers = nullptr;
        uiDeleteFont();
    }
    return window;
}

}  // namespace

extern "C" void *QDCALL QdCreateDevWindow(void *instance, void *parent, const char *directory) {
    logEnter("QdCreateDevWindow", "...");
    HWND window = nullptr;
    if (!g_ui.window.load() && selected() >= 0) {
        bool parentGiven = parent != nullptr;
        g_ui.parent = parentGiven ? (HWND)parent : GetForegroundWindow();
        g_ui.instance = (HINSTANCE)instance;
        if (!g_ui.instance && g_ui.parent) g_ui.instance = (HINSTANCE)GetWindowLongPtrA(g_ui.parent, GWLP_HINSTANCE);
        if (!g_ui.instance) g_ui.instance = GetModuleHandleA(nullptr);
        uiSetHostDirectory(directory);
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        if (uiRegisterClass(g_ui.instance)) {
            uiCreateFont();
            window = createWindow(g_ui.instance, g_ui.parent);
        }
        if (window) {
            if (g_ui.parent) EnableWindow(g_ui.parent, FALSE);
            uiResetIndicators();
            ShowWindow(window, SW_SHOW);
            if (!parentGiven) SetForegroundWindow(window);
        }
    }
    if (!window) {
        logFail("QdCreateDevWindow", "NULL");
        return nullptr;
    }
    logExit("QdCreateDevWindow", "%p", (void *)window);
    return window;
}

void uiOnDetach() { uiUnregisterClasses(); }

void uiCloseForSelectionChange() {
    HWND window = g_ui.window.load();
    if (!window || g_ui.handlers != &kSettingsWindow) return;
    int16_t context = selected();
    if (windowActivity.load() == ACTIVITY_TESTING && context >= 0) {
        int32_t stopping = QdStopMeasurement((uint16_t)context);
        windowActivity = ACTIVITY_IDLE;
        // The engine thread carries the stop to its end.
        if (stopping == QD_MEAS_STOPPING) engineThreadStart();
    }
    if (uiOnWindowThread()) {
        DestroyWindow(window);
    } else {
        SendMessageA(window, WM_UI_DESTROY, 0, 0);
    }
}
