// uishared.h - what the driver's two windows (the device settings window
// and the recorder) share on Win32: one window class, the process-wide
// window state (only one driver window exists at a time), the font and its
// layout units, the colour brushes, message boxes, the "Please wait"
// window, the message pump and the shell openers for the help and licence
// documents.
#pragma once

#include <windows.h>

#include <atomic>

#include "API/driver/ui/controls.h"
#include "API/driver/ui/testview.h"

struct PageSet;

// One driver window's part in the class's one window procedure
// (uishared.cpp). That procedure offers every message to uiHookMessage
// first, hands WM_COMMAND on only while the window is the driver window
// (notifications of controls destroyed with it are not acted on), turns a
// tab change into showPage, lets the pages answer their paint messages and
// passes the rest to DefWindowProc.
struct WindowHandlers {
    bool (*create)(HWND window);   // WM_CREATE; false: the window is not created
    void (*destroy)(HWND window);  // WM_DESTROY
    void (*close)(HWND window);    // WM_CLOSE
    void (*command)(HWND window, uint32_t id, UINT code, HWND control);
    void (*timer)(HWND window, WPARAM id);   // WM_TIMER, or null
    void (*showPage)(int page);
    PageSet *pages;                // the window's pages, whose controls it paints
};

struct UiShared {
    std::atomic<HWND> window;   // the driver window, null when none
    HWND tab;                   // its tab control (id 10)
    HWND parent;                // disabled while the window exists
    HINSTANCE instance;
    DWORD thread;               // the thread that owns the window
    const WindowHandlers *handlers;   // those of the window that exists
    PageSet *pages;             // that window's pages
    char hostDirectory[256];    // empty, or ending in '\' or ':'
    HFONT font;
    bool ownFont;               // the font is ours to delete
    LayoutUnits units;
    HBRUSH brushes[COLOUR_MENU + 1];   // by UiColour; COLOUR_WINDOW is the system's
    std::atomic<uint8_t> indicators[UI_INDICATOR_BOXES];   // UiColour per box
    HWND waitWindow;
    bool busy;                  // the Test (or Record) command is being carried out
    bool closeWhenStopped;
    char fileName[256];         // kept between the settings-file dialogs
};
extern UiShared g_ui;

// The window class "QuorvaneDevConfig", registered once per process; every
// message goes to g_ui.handlers. False when it cannot be registered.
bool uiRegisterClass(HINSTANCE instance);
// Unregisters the window classes (library detach).
void uiUnregisterClasses();

// What both windows do first in WM_CREATE: the window and its thread into
// g_ui, the tab control over the whole client area, the layout's header from
// the tab's display area, the colour brushes.
void uiCreateFrame(HWND window);

// The window font (the menu font, else the default GUI font) and its units.
void uiCreateFont();
void uiDeleteFont();
// The five colour brushes; deleted with the window.
void uiCreateBrushes();
void uiDeleteBrushes();
HBRUSH uiBrush(UiColour colour);
// Every indicator box back to the window background.
void uiResetIndicators();

// hostDirectory from a host's directory argument: 1 to 255 characters,
// with a backslash added unless it ends in ':' or '\'; else empty.
void uiSetHostDirectory(const char *directory);
// A message box owned by the driver window (or by none).
int uiMessageBox(const char *text, const char *caption, UINT flags);
void uiError(const char *text);
void uiWarning(const char *text);
// Handles every waiting message (up to a quit message), with a 10 ms pause
// after each.
void uiPumpMessages();
// The "Please wait" window while a measurement connects.
void uiShowWaitWindow();
void uiCloseWaitWindow();
// Opens a document of hostDirectory with the shell's "open" verb; the
// messages by failure are those of the help or of the licence document.
void uiOpenHelp(const char *document);
void uiOpenLicense(const char *document);
// True on the thread that owns the driver window.
bool uiOnWindowThread();

// Messages the engine's hooks post to the driver window when they are
// called on another thread; each window procedure first offers its
// messages to uiHookMessage, which handles these (true when handled).
enum : UINT {
    WM_UI_HOST_STARTED = WM_APP + 1,   // the host started a measurement
    WM_UI_HOST_STOPPED,                // the host stopped it
    WM_UI_CLOSE_WAIT,                  // close the "Please wait" window
    WM_UI_TEST_PACKET,                 // a test packet waits in the mailbox
    WM_UI_DESTROY,                     // destroy the window (selection change)
};
bool uiHookMessage(HWND window, UINT message);

// The File menu's settings-file commands (file dialogs, then the settings
// file functions; failures are shown). Save and Import add ".qvc" to a
// name without extension, Load takes the name as picked. Import: true when
// the selected context took the file. Load: the load's result (1 loaded, 0
// previous context back, -1 none left), UI_LOAD_NO_FILE when no file was
// picked; beforeClose runs once a file is picked, before the selected
// context is closed.
const int UI_LOAD_NO_FILE = -2;
void uiSaveSettings();
bool uiImportSettings();
int uiLoadSettings(void (*beforeClose)());
