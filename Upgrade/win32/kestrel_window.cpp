// kestrel_window.cpp - the main window of the firmware loader: layout
// units, the control table, the window classes, label colours and the
// "Please wait" window.
#include <windows.h>

#include <commctrl.h>

#include <cstring>

#include "Upgrade/win32/kestrel_internal.h"

KestrelWindow g_kw;

namespace {

const char MAIN_CLASS[] = "WindowsApp";
const char WAIT_CLASS[] = "WaitWindows";
const char MAIN_TITLE[] = "Quorvane Firmware Loader 5.6";
const char SAMPLE_TEXT[] = "abcdeghkmnopqrsuvwxyzABCDEFGHKLMNOPQRSTUVWXYZ1234567890@#$%^&*_+-=<>?";
const char WAIT_TEXT[] = "Bluetooth device search in progress...";

const DWORD GROUP = WS_CHILD | WS_VISIBLE | BS_GROUPBOX;
const DWORD LABEL = WS_CHILD | WS_VISIBLE | SS_RIGHT;
const DWORD EDIT = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
const DWORD READ_ONLY = EDIT | ES_READONLY;
const DWORD PUSH = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
const DWORD LIST = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
const DWORD PROGRESS = WS_CHILD | WS_VISIBLE | WS_TABSTOP;

// The pixel whose brightness chooses the labels' brush: (4, 71h/4).
const int SAMPLE_X = 4;
const int BRIGHT_SUM = 749;

bool isLabel(const ControlRow &row) { return std::strcmp(row.className, "STATIC") == 0; }
bool isTall(const ControlRow &row) {
    return std::strcmp(row.className, "EDIT") == 0 || std::strcmp(row.className, PROGRESS_CLASSA) == 0;
}

void createControls(HWND window) {
    for (int i = 0; i < CONTROL_COUNT; ++i) {
        const ControlRow &r = kControls[i];
        int y = r.y * g_kw.h / 2, height = r.height * g_kw.h / 2;
        if (!isLabel(r)) y += g_kw.h / 8;
        if (isTall(r)) height += g_kw.h / 4;
        const DWORD exStyle = std::strcmp(r.className, "EDIT") == 0 ? WS_EX_CLIENTEDGE : 0;
        HWND c = CreateWindowExA(exStyle, r.className, r.text, r.style, r.x * g_kw.w, y, r.width * g_kw.w, height,
                                 window, (HMENU)(INT_PTR)r.id, g_kw.instance, nullptr);
        SendMessageA(c, WM_SETFONT, (WPARAM)g_kw.font, FALSE);
    }
    HWND list = control(KID_LINK_TYPE);
    // One entry per link kind, in key order: the entry's position is the key.
    for (int k = 0; k < LINK_KIND_COUNT; ++k)
        SendMessageA(list, CB_ADDSTRING, 0, (LPARAM)kLinkKinds[k].title);
    SendMessageA(list, CB_SETCURSEL, g_loader.linkType, 0);
    SendMessageA(control(KID_PROGRESS), PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SetWindowTextA(control(KID_FIRMWARE_FILE), g_loader.firmwarePath);
    SetWindowTextA(control(KID_DEVICE_ID), g_loader.deviceId);
    EnableWindow(list, !g_loader.linkFixed);
    EnableWindow(control(KID_DEVICE_ID), linkTakesDeviceId(g_loader.linkType));
}

// Labels go on a white brush when the window's face is bright.
LRESULT labelColours(HWND window, HDC dc, HWND label) {
    const int id = GetDlgCtrlID(label);
    for (int i = 0; i < CONTROL_COUNT; ++i) {
        if (kControls[i].id != id || !isLabel(kControls[i])) continue;
        HDC windowDc = GetDC(window);
        const COLORREF c = GetPixel(windowDc, SAMPLE_X, 71 * g_kw.h / 4);
        ReleaseDC(window, windowDc);
        if (c != CLR_INVALID && GetRValue(c) + GetGValue(c) + GetBValue(c) > BRIGHT_SUM) {
            SetBkColor(dc, RGB(255, 255, 255));
            return (LRESULT)GetStockObject(WHITE_BRUSH);
        }
    }
    return DefWindowProcA(window, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)label);
}

LRESULT CALLBACK waitWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT r;
        GetClientRect(window, &r);
        HGDIOBJ old = SelectObject(dc, g_kw.font);
        SetBkMode(dc, TRANSPARENT);
        DrawTextA(dc, WAIT_TEXT, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        SelectObject(dc, old);
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void centreOnDesktop(int width, int height, int *x, int *y) {
    RECT desk;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &desk, 0);
    *x = desk.left + (desk.right - desk.left - width) / 2;
    *y = desk.top + (desk.bottom - desk.top - height) / 2;
}

}  // namespace

const ControlRow kControls[] = {
    {KID_FIRMWARE_GROUP, "BUTTON", "Firmware", 1, 1, 58, 16, GROUP},
    {KID_FIRMWARE_LABEL, "STATIC", "&Firmware file:", 3, 4, 15, 2, LABEL},
    {KID_FIRMWARE_FILE, "EDIT", "", 19, 4, 38, 2, EDIT},
    {KID_BROWSE, "BUTTON", "&Browse", 19, 8, 8, 3, PUSH},
    {KID_LINK_GROUP, "BUTTON", "Link", 1, 18, 58, 12, GROUP},
    {KID_LINK_LABEL, "STATIC", "&Link type:", 3, 21, 15, 2, LABEL},
    {KID_LINK_TYPE, "COMBOBOX", "Bluetooth", 19, 21, 18, 15, LIST},
    {KID_ID_LABEL, "STATIC", "Device &id:", 3, 26, 15, 2, LABEL},
    {KID_DEVICE_ID, "EDIT", "", 19, 26, 18, 2, EDIT},
    {KID_DEVICE_GROUP, "BUTTON", "Device", 1, 31, 58, 23, GROUP},
    {KID_HARDWARE_LABEL, "STATIC", "Hardware:", 3, 34, 15, 2, LABEL},
    {KID_HARDWARE, "EDIT", "", 19, 34, 38, 2, READ_ONLY},
    {KID_TRANSCEIVER_LABEL, "STATIC", "Transceiver id:", 3, 38, 15, 2, LABEL},
    {KID_TRANSCEIVER, "EDIT", "", 19, 38, 38, 2, READ_ONLY},
    {KID_BOOTLOADER_LABEL, "STATIC", "Bootloader:", 3, 42, 15, 2, LABEL},
    {KID_BOOTLOADER, "EDIT", "", 19, 42, 38, 2, READ_ONLY},
    {KID_OLD_FIRMWARE_LABEL, "STATIC", "Old firmware:", 3, 46, 15, 2, LABEL},
    {KID_OLD_FIRMWARE, "EDIT", "", 19, 46, 38, 2, READ_ONLY},
    {KID_NEW_FIRMWARE_LABEL, "STATIC", "New firmware:", 3, 50, 15, 2, LABEL},
    {KID_NEW_FIRMWARE, "EDIT", "", 19, 50, 38, 2, READ_ONLY},
    {KID_PROGRESS, PROGRESS_CLASSA, "", 2, 56, 56, 2, PROGRESS},
    {KID_CHECK, "BUTTON", "&Check", 2, 61, 8, 3, PUSH},
    {KID_UPLOAD, "BUTTON", "&Upload", 18, 61, 8, 3, PUSH},
    {KID_HELP, "BUTTON", "&Help", 34, 61, 8, 3, PUSH},
    {KID_EXIT, "BUTTON", "E&xit", 50, 61, 8, 3, PUSH},
};
const int CONTROL_COUNT = (int)(sizeof kControls / sizeof kControls[0]);

void measureLayout() {
    NONCLIENTMETRICSA metrics;
    std::memset(&metrics, 0, sizeof metrics);
    metrics.cbSize = sizeof metrics;
    g_kw.font = nullptr;
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        g_kw.font = CreateFontIndirectA(&metrics.lfMessageFont);
    g_kw.ownFont = g_kw.font != nullptr;
    if (!g_kw.font) g_kw.font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, g_kw.font);
    SIZE size = {0, 0};
    GetTextExtentPoint32A(dc, SAMPLE_TEXT, (int)(sizeof SAMPLE_TEXT - 1), &size);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    g_kw.w = (size.cx + 34) / 69 + 1;
    g_kw.h = 2 * g_kw.w < size.cy ? size.cy - 1 : 2 * g_kw.w;
}

bool registerClasses() {
    WNDCLASSA c;
    std::memset(&c, 0, sizeof c);
    c.lpfnWndProc = mainWindowProc;
    c.hInstance = g_kw.instance;
    c.hIcon = LoadIconA(nullptr, (LPCSTR)IDI_APPLICATION);
    c.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    c.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    c.lpszClassName = MAIN_CLASS;
    if (!RegisterClassA(&c) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    c.lpfnWndProc = waitWindowProc;
    c.lpszClassName = WAIT_CLASS;
    return RegisterClassA(&c) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND createMainWindow(int show) {
    const int width = 62 * g_kw.w, height = 71 * g_kw.h / 2;
    int x, y;
    centreOnDesktop(width, height, &x, &y);
    HWND main = CreateWindowExA(WS_EX_CONTROLPARENT, MAIN_CLASS, MAIN_TITLE, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                x, y, width, height, nullptr, nullptr, g_kw.instance, nullptr);
    if (!main) return nullptr;
    ShowWindow(main, show);
    UpdateWindow(main);
    SetFocus(control(KID_UPLOAD));
    return main;
}

HWND control(int id) { return GetDlgItem(g_kw.main, id); }

void showWaitWindow() {
    const int width = 44 * g_kw.w, height = 8 * g_kw.h;
    int x, y;
    centreOnDesktop(width, height, &x, &y);
    g_kw.wait = CreateWindowExA(0, WAIT_CLASS, "Please wait", WS_POPUP | WS_CAPTION, x, y, width, height, g_kw.main,
                                nullptr, g_kw.instance, nullptr);
    if (!g_kw.wait) return;
    ShowWindow(g_kw.wait, SW_SHOW);
    UpdateWindow(g_kw.wait);
    pumpMessages();
}

void closeWaitWindow() {
    if (g_kw.wait) DestroyWindow(g_kw.wait);
    g_kw.wait = nullptr;
}

void pumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage((int)msg.wParam);     // the main loop ends on it
            return;
        }
        if (!g_kw.main || !IsDialogMessageA(g_kw.main, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        g_kw.main = window;
        createControls(window);
        return 0;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CTLCOLORSTATIC:
        return labelColours(window, (HDC)wParam, (HWND)lParam);
    case WM_CLOSE:
        if (confirmExit()) DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (g_kw.ownFont) DeleteObject(g_kw.font);
        g_kw.ownFont = false;
        g_kw.main = nullptr;
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
