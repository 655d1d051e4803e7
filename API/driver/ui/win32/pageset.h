// pageset.h - the tab pages of a driver window on Win32: the generated
// parameter pages of the selected context and the "EEG Cap", "Test",
// "Status" and "About" pages, built from the portable descriptors
// (controls.h, pages.h, eegcap.h, testview.h) into a window that holds a
// tab control.
//
// A second window (the recorder) hosts the same pages:
//  - it registers the shared class with its own handlers (g_ui.handlers,
//    uishared.h), and in WM_CREATE makes its frame (uiCreateFrame: the tab
//    control) and calls pageSetInit with its own parameter label column
//    (18), pointing g_ui.pages at its page set so that the engine's hooks
//    reach it;
//  - it adds pages of its own with pageSetAddPage and pageSetAddControl
//    (descriptors of controls.h), and the device pages with
//    pageSetAddDevicePages at their place; after a change of model or an
//    import it calls pageSetRemoveDevicePages and adds them again;
//  - the class's one procedure offers messages to uiHookMessage first and
//    routes the tab's TCN_SELCHANGE to the window's showPage, WM_DRAWITEM,
//    WM_CTLCOLORSTATIC and WM_CTLCOLORBTN to pageSetPaintMessage; the
//    window's command handler passes the parameter and cap commands to
//    pageSetCommand;
//  - the test view runs in either window: command 300 calls
//    pageSetTestStart (the Test page's button), the window's own engine
//    loop delivers the packets (windowTestPacket), and once QdComState
//    reports no communication it calls pageSetTestEnd;
//  - measurements the window starts itself begin with pageSetEnable(false)
//    and end with pageSetEnable(true).
#pragma once

#include <windows.h>

#include "API/driver/ui/pages.h"
#include "API/driver/ui/testview.h"

constexpr int UI_PAGE_CONTROLS = 160;   // handles of one page (controls and labels)

struct PageControl {
    HWND hwnd;
    uint32_t id;
    bool visible;       // shown with its page
};

struct Page {
    PageEntry entry;
    PageControl controls[UI_PAGE_CONTROLS];
    int count;
};

struct PageSet {
    HWND window, tab;
    int paramLabelColumn;   // 23 in the settings window, 18 in the recorder
    Page pages[UI_MAX_PAGES];
    int count;
    int shown;              // index of the page shown, -1 none
    bool enabled;           // parameter and cap controls enabled (no measurement)
    bool capLocked;         // the cap page holds the channels' cap parameters
    TestState test;
};

void pageSetInit(PageSet *set, HWND window, HWND tab, int paramLabelColumn);

// Adds a page (tab) of the given kind at the end, or inserts it before page
// `at`; its index or -1. Pages after it move on by one.
int pageSetAddPage(PageSet *set, PageKind kind, uint16_t channel, const char *title);
int pageSetInsertPage(PageSet *set, int at, PageKind kind, uint16_t channel, const char *title);
// Creates a descriptor's control (and label) on a page; row is the page's
// running row, advanced past the control.
HWND pageSetAddControl(PageSet *set, int page, const ControlDescriptor *d, int labelColumn, uint32_t *row);
// Adds pages of a portable page list (pages.h) before page `at` (-1: at the
// end) and builds them; the number added.
int pageSetAddPages(PageSet *set, const PageEntry *entries, int n, int at);
// Adds the device pages of the selected context (General, channels, EEG
// Cap, Test) before page `at` (-1: at the end) and builds them; the number
// added. connected: the device communicates (no Test page; the window's
// enabling, set->enabled, decides the controls).
int pageSetAddDevicePages(PageSet *set, bool connected, int at);
// Builds the content of a page of a kind this module knows (every kind but
// the hosting window's own).
void pageSetBuild(PageSet *set, int page);
// Removes the device pages (or all pages) with their controls.
void pageSetRemoveDevicePages(PageSet *set);
void pageSetRemoveAll(PageSet *set);

// Shows a page and hides the one shown before.
void pageSetShow(PageSet *set, int page);
// Enables or disables the parameter controls, the cap page and the Test
// button (measurements started or stopped).
void pageSetEnable(PageSet *set, bool enable);
// Finds the control with this id on any page (null if none).
HWND pageSetControl(const PageSet *set, uint32_t id);

// A WM_COMMAND of a parameter control (2048 and up) or of the cap page
// (200 to 249); false when it is neither.
bool pageSetCommand(PageSet *set, uint32_t id, UINT code, HWND control);
// WM_DRAWITEM of a test bar; false for another control.
bool pageSetDrawItem(PageSet *set, const DRAWITEMSTRUCT *item);
// WM_CTLCOLORSTATIC: the brush for a static control (indicator boxes,
// readings, other statics).
HBRUSH pageSetStaticColour(PageSet *set, HDC dc, HWND control);
// The painting messages of the pages (WM_DRAWITEM through pageSetDrawItem,
// WM_CTLCOLORSTATIC through pageSetStaticColour, WM_CTLCOLORBTN with a
// transparent background): true with the window procedure's result when the
// message was handled, false when the window passes it on.
bool pageSetPaintMessage(PageSet *set, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result);

// The test view.
bool pageSetTestStart(PageSet *set);          // started
void pageSetTestEnd(PageSet *set);
void pageSetTestPacket(PageSet *set, uint16_t phase, uint16_t flags, const ChannelSamples *entries);
// The Status page's boxes from the indicator queries.
void pageSetStatusRefresh(PageSet *set);
// Repaints indicator box position b on whichever indicator page is live.
void pageSetRepaintIndicator(PageSet *set, int box);
