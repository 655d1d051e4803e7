// kestrel_internal.h - what the parts of the window program share: the
// window's handles and layout units, the control table and the actions.
#pragma once

#include <windows.h>

#include "Upgrade/loader.h"
#include "Upgrade/win32/kestrel_win.h"

struct KestrelWindow {
    HINSTANCE instance;
    HWND main;
    HWND wait;                  // the "Please wait" window, or null
    HFONT font;
    bool ownFont;               // the font was made here (deleted at the end)
    int w, h;                   // layout units: character width, line unit
    bool busy;                  // pumping messages before a link open
    char helpPath[LOADER_PATH_SIZE * 2];
};
extern KestrelWindow g_kw;

// One row of the control table.
struct ControlRow {
    int id;
    const char *className;
    const char *text;
    int x, y, width, height;    // x, width in w; y, height in h/2
    DWORD style;
};
extern const ControlRow kControls[];
extern const int CONTROL_COUNT;

// kestrel_window.cpp
void measureLayout();
bool registerClasses();
HWND createMainWindow(int show);
HWND control(int id);
void showWaitWindow();
void closeWaitWindow();
void pumpMessages();
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// kestrel_actions.cpp
void onCommand(int id, int notification);
bool confirmExit();
void showUserMessage(const char *text);
void showProgress(int percent);
void enableControls(bool enable);
void clearDeviceFields();
void onRunEnded();
