// uishared.cpp - the Win32 pieces both driver windows share.
#include "API/driver/ui/win32/uishared.h"

#include "API/driver/ui/settingsfile.h"
#include "API/driver/ui/win32/pageset.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>

UiShared g_ui;

namespace {

const char kClassName[] = "QuorvaneDevConfig";
const char kWaitClassName[] = "WaitWindows";
const char kWaitTitle[] = "Please wait";
const char kWaitText[] = "Device search in progress...";
constexpr int WAIT_WIDTH = 34;    // w
constexpr int WAIT_HEIGHT = 8;    // u
constexpr DWORD PUMP_PAUSE_MS = 10;

bool g_registered = false;
bool g_waitRegistered = false;
HINSTANCE g_classInstance = nullptr;

LRESULT windowProc(const WindowHandlers &h, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (uiHookMessage(window, message)) return 0;
    switch (message) {
    case WM_CREATE: return h.create(window) ? 0 : -1;
    case WM_DESTROY: h.destroy(window); return 0;
    case WM_NCDESTROY: g_ui.handlers = nullptr; break;
    case WM_CLOSE: h.close(window); return 0;
    case WM_TIMER:
        if (!h.timer) break;
        h.timer(window, wParam);
        return 0;
    case WM_COMMAND:
        if (g_ui.window.load() == window) h.command(window, LOWORD(wParam), HIWORD(wParam), (HWND)lParam);
        return 0;
    case WM_NOTIFY: {
        const NMHDR *note = (const NMHDR *)lParam;
        if (note->idFrom == ID_TAB && note->code == (UINT)TCN_SELCHANGE) {
            h.showPage((int)SendMessageA(g_ui.tab, TCM_GETCURSEL, 0, 0));
        }
        return 0;
    }
    default: {
        LRESULT result = 0;
        if (pageSetPaintMessage(h.pages, message, wParam, lParam, &result)) return result;
        break;
    }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK classProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const WindowHandlers *h = g_ui.handlers;
    return h ? windowProc(*h, window, message, wParam, lParam) : DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK waitProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT r;
        GetClientRect(window, &r);
        HGDIOBJ old = SelectObject(dc, g_ui.font);
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        DrawTextA(dc, kWaitText, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        SelectObject(dc, old);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_DESTROY:
        if (g_ui.waitWindow == window) g_ui.waitWindow = nullptr;
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// The shell's "open" of a file; 0 when started, else the shell's error.
INT_PTR shellOpen(const char *document) {
    char path[MAX_PATH + 8];
    const char *dir = g_ui.hostDirectory;
    const char *cut = nullptr;
    for (const char *p = dir; *p; ++p) {
        if (*p == '\\' || *p == ':') cut = p;
    }
    int n = cut ? std::snprintf(path, sizeof path, "%.*s%s", (int)(cut - dir + 1), dir, document) : -1;
    if (n <= 0 || n >= 256) std::snprintf(path, sizeof path, "%s", document);
    INT_PTR result = (INT_PTR)ShellExecuteA(g_ui.window.load(), "open", path, nullptr, nullptr, SW_SHOWNORMAL);
    return result > 32 ? 0 : result;
}

void openDocument(const char *document, const char *const messages[4]) {
    INT_PTR error = shellOpen(document);
    if (error == 0) return;
    const char *text = messages[3];
    if (error == ERROR_FILE_NOT_FOUND) text = messages[0];
    if (error == ERROR_PATH_NOT_FOUND) text = messages[1];
    if (error == SE_ERR_NOASSOC || error == SE_ERR_ASSOCINCOMPLETE) text = messages[2];
    uiError(text);
}

}  // namespace

bool uiRegisterClass(HINSTANCE instance) {
    if (g_registered) return true;
    WNDCLASSA wc = {};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = classProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(nullptr, (LPCSTR)IDI_APPLICATION);
    wc.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    wc.lpszClassName = kClassName;
    g_registered = RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    if (g_registered) g_classInstance = instance;
    return g_registered;
}

void uiUnregisterClasses() {
    if (g_registered) UnregisterClassA(kClassName, g_classInstance);
    if (g_waitRegistered) UnregisterClassA(kWaitClassName, g_classInstance);
    g_registered = g_waitRegistered = false;
}

void uiCreateFrame(HWND window) {
    g_ui.window = window;
    g_ui.thread = GetCurrentThreadId();
    RECT client;
    GetClientRect(window, &client);
    g_ui.tab = CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, client.right + 2,
                               client.bottom + 1, window, (HMENU)(UINT_PTR)ID_TAB, g_ui.instance, nullptr);
    SendMessageA(g_ui.tab, WM_SETFONT, (WPARAM)g_ui.font, FALSE);
    RECT display = {0, 0, client.right, client.bottom};
    SendMessageA(g_ui.tab, TCM_ADJUSTRECT, FALSE, (LPARAM)&display);
    layoutSetHeader(&g_ui.units, display.top);
    uiCreateBrushes();
}

void uiCreateFont() {
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    g_ui.font = nullptr;
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        g_ui.font = CreateFontIndirectA(&metrics.lfMenuFont);
    }
    g_ui.ownFont = g_ui.font != nullptr;
    if (!g_ui.font) g_ui.font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, g_ui.font);
    SIZE size = {};
    GetTextExtentPoint32A(dc, kFontSample, (int)std::strlen(kFontSample), &size);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    g_ui.units = layoutUnits(size.cx, size.cy);
}

void uiDeleteFont() {
    if (g_ui.ownFont && g_ui.font) DeleteObject(g_ui.font);
    g_ui.font = nullptr;
    g_ui.ownFont = false;
}

void uiCreateBrushes() {
    g_ui.brushes[COLOUR_WINDOW] = GetSysColorBrush(COLOR_WINDOW);
    g_ui.brushes[COLOUR_RED] = CreateSolidBrush(RGB(255, 0, 0));
    g_ui.brushes[COLOUR_GREEN] = CreateSolidBrush(RGB(0, 255, 0));
    g_ui.brushes[COLOUR_YELLOW] = CreateSolidBrush(RGB(255, 255, 0));
    g_ui.brushes[COLOUR_PURPLE] = CreateSolidBrush(RGB(204, 0, 204));
    g_ui.brushes[COLOUR_MENU] = CreateSolidBrush(GetSysColor(COLOR_MENU));
}

void uiDeleteBrushes() {
    for (int c = COLOUR_RED; c <= COLOUR_MENU; ++c) {
        if (g_ui.brushes[c]) DeleteObject(g_ui.brushes[c]);
        g_ui.brushes[c] = nullptr;
    }
}

HBRUSH uiBrush(UiColour colour) {
    HBRUSH b = colour <= COLOUR_MENU ? g_ui.brushes[colour] : nullptr;
    return b ? b : GetSysColorBrush(COLOR_WINDOW);
}

void uiResetIndicators() {
    for (auto &box : g_ui.indicators) box = COLOUR_WINDOW;
}

void uiSetHostDirectory(const char *directory) {
    g_ui.hostDirectory[0] = '\0';
    size_t n = directory ? std::strlen(directory) : 0;
    if (n == 0 || n > 255) return;
    bool ends = directory[n - 1] == '\\' || directory[n - 1] == ':';
    std::snprintf(g_ui.hostDirectory, sizeof g_ui.hostDirectory, "%s%s", directory, ends ? "" : "\\");
    if (!ends && n == 255) g_ui.hostDirectory[0] = '\0';   // no room for the backslash
}

int uiMessageBox(const char *text, const char *caption, UINT flags) {
    return MessageBoxA(g_ui.window.load(), text, caption, flags);
}

void uiError(const char *text) { uiMessageBox(text, "Error", MB_OK | MB_ICONERROR); }
void uiWarning(const char *text) { uiMessageBox(text, "Warning", MB_OK | MB_ICONWARNING); }

void uiPumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage((int)msg.wParam);
            return;
        }
        HWND window = g_ui.window.load();
        if (!window || !IsDialogMessageA(window, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(PUMP_PAUSE_MS);
    }
}

void uiShowWaitWindow() {
    if (g_ui.waitWindow) return;
    if (!g_waitRegistered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = waitProc;
        wc.hInstance = g_ui.instance;
        wc.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_WAIT);
        wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
        wc.lpszClassName = kWaitClassName;
        g_waitRegistered = RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }
    int width = WAIT_WIDTH * g_ui.units.w, height = WAIT_HEIGHT * g_ui.units.u;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    g_ui.waitWindow = CreateWindowExA(0, kWaitClassName, kWaitTitle, WS_POPUP | WS_CAPTION | WS_VISIBLE, x, y, width,
                                      height, g_ui.window.load(), nullptr, g_ui.instance, nullptr);
    if (g_ui.waitWindow) UpdateWindow(g_ui.waitWindow);
    uiPumpMessages();
}

void uiCloseWaitWindow() {
    if (g_ui.waitWindow) DestroyWindow(g_ui.waitWindow);
    g_ui.waitWindow = nullptr;
}

void uiOpenHelp(const char *document) {
    static const char *const messages[4] = {"Help file not found.", "Help path not found.",
                                            "HTM extension not associated with any application.",
                                            "Cannot open help file."};
    openDocument(document, messages);
}

void uiOpenLicense(const char *document) {
    static const char *const messages[4] = {"License file not found.", "License path not found.",
                                            "TXT extension not associated with any application.",
                                            "Cannot open license file."};
    openDocument(document, messages);
}

bool uiOnWindowThread() { return g_ui.window.load() && GetCurrentThreadId() == g_ui.thread; }

// ---------------------------------------------------------------------------
// Settings files (the File commands of both windows)
// ---------------------------------------------------------------------------

namespace {

OPENFILENAMEA settingsDialog(const char *title, DWORD flags) {
    static char filter[64];
    int n = std::snprintf(filter, sizeof filter, "%s", kSettingsFilterName);
    std::snprintf(filter + n + 1, sizeof filter - (size_t)n - 1, "%s", kSettingsFilterPattern);
    filter[n + 1 + std::strlen(kSettingsFilterPattern) + 1] = '\0';
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = GetActiveWindow();
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = g_ui.fileName;
    ofn.nMaxFile = sizeof g_ui.fileName;
    ofn.lpstrTitle = title;
    ofn.Flags = flags | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER;
    return ofn;
}

// The settings file the user picks (with ".qvc" added when asked); false
// when none.
bool pickSettingsFile(const char *title, DWORD flags, bool save, bool addExtension, char *path, size_t room) {
    OPENFILENAMEA ofn = settingsDialog(title, flags);
    if (!(save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn))) return false;
    if (settingsFileName(g_ui.fileName, addExtension, path, room)) return true;
    uiError(save ? kSettingsWriteFailed : settingsImportMessage(-1));
    return false;
}

}  // namespace

void uiSaveSettings() {
    char path[300];
    if (!pickSettingsFile(kSettingsSaveTitle, OFN_PATHMUSTEXIST, true, true, path, sizeof path)) return;
    if (!settingsSave(path)) uiError(kSettingsWriteFailed);
}

bool uiImportSettings() {
    char path[300];
    if (!pickSettingsFile(kSettingsImportTitle, OFN_FILEMUSTEXIST, false, true, path, sizeof path)) return false;
    int32_t outcome = settingsImport(path);
    if (outcome < 0) uiError(settingsImportMessage(outcome));
    return outcome >= 0;
}

int uiLoadSettings(void (*beforeClose)()) {
    char path[300];
    if (!pickSettingsFile(kSettingsLoadTitle, OFN_FILEMUSTEXIST, false, false, path, sizeof path)) {
        return UI_LOAD_NO_FILE;
    }
    if (beforeClose) beforeClose();
    LoadOutcome outcome = {};
    settingsLoad(path, &outcome);
    for (int k = 0; k < outcome.messageCount; ++k) uiError(outcome.messages[k]);
    return outcome.result;
}
