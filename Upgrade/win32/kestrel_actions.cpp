// kestrel_actions.cpp - what the buttons and the list of the loader's window
// do, and how user messages and progress reach the window.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "Upgrade/firmware.h"
#include "Upgrade/output.h"
#include "Upgrade/update.h"
#include "Upgrade/win32/kestrel_internal.h"

namespace {

const int DEVICE_FIELD_IDS[DEVICE_FIELDS] = {KID_HARDWARE, KID_TRANSCEIVER, KID_BOOTLOADER, KID_OLD_FIRMWARE,
                                             KID_NEW_FIRMWARE};

int box(const char *text, const char *title, UINT flags) { return MessageBoxA(g_kw.main, text, title, flags); }

// The link type chosen in the list (matched against the link kinds' titles).
uint16_t listLinkType() {
    char text[32] = "";
    GetWindowTextA(control(KID_LINK_TYPE), text, sizeof text);
    for (int k = 0; k < LINK_KIND_COUNT; ++k)
        if (std::strcmp(text, kLinkKinds[k].title) == 0) return kLinkKinds[k].key;
    return g_loader.linkType;
}

// Reads the fields into the program state for Check and Upload.
void readFields() {
    GetWindowTextA(control(KID_FIRMWARE_FILE), g_loader.firmwarePath, sizeof g_loader.firmwarePath);
    g_loader.linkType = listLinkType();
    if (!linkTakesDeviceId(g_loader.linkType)) return;
    GetWindowTextA(control(KID_DEVICE_ID), g_loader.deviceId, sizeof g_loader.deviceId);
    if (g_loader.deviceId[0] == '\0') {
        std::snprintf(g_loader.deviceId, sizeof g_loader.deviceId, "%s", LOADER_DEFAULT_ID);
        SetWindowTextA(control(KID_DEVICE_ID), g_loader.deviceId);
    }
}

// Check and Upload: the same steps, the file only for an upload.
void startRun(bool upload) {
    if (g_kw.busy || (g_loader.flags & LOADER_RUNNING)) return;
    readFields();
    if (upload && g_loader.firmwarePath[0] == '\0') {
        box("Firmware file should be specified.", "Warning", MB_OK | MB_ICONWARNING);
        return;
    }
    const LinkKind *kind = linkKind(g_loader.linkType);
    if (kind && g_loader.osCode < kind->minOsCode) {
        box("Bluetooth Low Energy (BLE) is not supported below Windows 8.1.", "Error", MB_OK | MB_ICONERROR);
        return;
    }
    enableControls(false);
    clearDeviceFields();
    updLog("\n");
    g_kw.busy = true;
    pumpMessages();
    if (linkIsWireless(g_loader.linkType) && !isBluetoothAddress(g_loader.deviceId)) showWaitWindow();
    g_kw.busy = false;
    if (!loaderBeginRun(upload)) {
        closeWaitWindow();
        enableControls(true);
    }
}

// The chosen file, shortened to a path below the current folder when it is
// one.
void browse() {
    char path[MAX_PATH] = "";
    GetWindowTextA(control(KID_FIRMWARE_FILE), path, sizeof path);
    OPENFILENAMEA ofn;
    std::memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = g_kw.main;
    ofn.lpstrFilter = "Binary files\0*.bin\0";
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.lpstrTitle = "Firmware file";
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn)) return;
    char current[MAX_PATH] = "";
    const DWORD n = GetCurrentDirectoryA(sizeof current, current);
    // Shortened only to a path inside the current directory: the prefix
    // must end at a separator (C:\fw2\a.bin is not inside C:\fw).
    const char *shown = path;
    if (n > 0 && n < sizeof current && _strnicmp(path, current, n) == 0) {
        if (path[n] == '\\') {
            shown = path + n + 1;
        } else if (current[n - 1] == '\\') {
            shown = path + n;
        }
    }
    SetWindowTextA(control(KID_FIRMWARE_FILE), shown);
}

void openHelp() {
    const INT_PTR rc = (INT_PTR)ShellExecuteA(g_kw.main, "open", g_kw.helpPath, nullptr, nullptr, SW_SHOWNORMAL);
    if (rc > 32) return;
    const char *text = "Cannot open help file.";
    if (rc == 2) text = "Help file not found.";
    if (rc == 3) text = "Help path not found.";
    if (rc == 27 || rc == 31) text = "HTM extension not associated with any application.";
    box(text, "Error", MB_OK | MB_ICONERROR);
}

}  // namespace

void enableControls(bool enable) {
    for (int id : {KID_CHECK, KID_UPLOAD, KID_BROWSE, KID_EXIT})
        EnableWindow(control(id), enable);
    EnableWindow(control(KID_LINK_TYPE), enable && !g_loader.linkFixed);
    EnableWindow(control(KID_DEVICE_ID), enable && linkTakesDeviceId(g_loader.linkType));
}

void clearDeviceFields() {
    for (int id : DEVICE_FIELD_IDS)
        SetWindowTextA(control(id), "");
    SendMessageA(control(KID_PROGRESS), PBM_SETPOS, 0, 0);
}

void onCommand(int id, int notification) {
    switch (id) {
    case KID_CHECK:
        startRun(false);
        break;
    case KID_UPLOAD:
        startRun(true);
        break;
    case KID_BROWSE:
        browse();
        break;
    case KID_HELP:
        openHelp();
        break;
    case KID_EXIT:
        if (confirmExit()) DestroyWindow(g_kw.main);
        break;
    case KID_LINK_TYPE:
        // A pick confirmed, or a change made with the keys of the closed list.
        if (notification == CBN_SELENDOK || notification == CBN_SELCHANGE) {
            g_loader.linkType = listLinkType();
            EnableWindow(control(KID_DEVICE_ID), linkTakesDeviceId(g_loader.linkType));
        }
        break;
    default:
        break;
    }
}

bool confirmExit() {
    if (!(g_loader.flags & LOADER_RUNNING)) return true;
    return box("Communication in progress. Do you really want to exit?", "Confirm", MB_OKCANCEL | MB_ICONQUESTION) ==
           IDOK;
}

// The user-message function's display: errors in a box (the device fields
// emptied during a run), device fields filled, the success noted, anything
// else in an information box.
void showUserMessage(const char *text) {
    closeWaitWindow();
    char value[LOADER_ID_SIZE];
    switch (noteUserMessage(text)) {
    case MSG_ERROR:
        if (g_loader.flags & LOADER_RUNNING) clearDeviceFields();
        box(text + 1, "Error", MB_OK | MB_ICONERROR);
        break;
    case MSG_FIELD: {
        const int field = deviceFieldOf(text, kDeviceFieldLabels, DEVICE_FIELDS, value, sizeof value);
        SetWindowTextA(control(DEVICE_FIELD_IDS[field]), value);
        break;
    }
    case MSG_SUCCESS:
        break;
    case MSG_INFO:
        box(text, "Info", MB_OK | MB_ICONINFORMATION);
        break;
    }
}

void showProgress(int percent) { SendMessageA(control(KID_PROGRESS), PBM_SETPOS, (WPARAM)percent, 0); }

void onRunEnded() {
    if (loaderEndRun()) box("Firmware updated succesfully.", "Info", MB_OK | MB_ICONINFORMATION);
    enableControls(true);
}
