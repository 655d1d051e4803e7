// pageset_internal.h - the pieces the page set's two halves (building and
// showing in pageset.cpp, commands and the test view in
// pageset_commands.cpp) share.
#pragma once

#include "API/driver/ui/win32/pageset.h"

// Makes a descriptor's control (and its label, when label is given) in a
// window; shown when show is set and the descriptor is visible.
HWND uiCreateControl(HWND window, const ControlDescriptor *d, int labelColumn, uint32_t row, bool show, HWND *label);
// Makes the parameter page's controls again from their current
// descriptors, keeping the control that holds the focus.
void rebuildParamPage(PageSet *set, int page);
// Applies the enabling walk to a parameter page, and the cap page's rules.
void enableParamPage(PageSet *set, int page);
void enableCapPage(PageSet *set, int page);
// The Test page's rows as the channels' functions decide, and its button.
void showTestRows(PageSet *set, int page);
void enableTestButton(PageSet *set);
// The commands of the parameter pages (2048 and up) and of the cap page
// (200 to 249); true when handled.
bool paramCommand(PageSet *set, uint32_t id, UINT code, HWND control);
bool capCommand(PageSet *set, uint32_t id, UINT code, HWND control);

// What the page set does with a page of each kind (kPageKinds, one row per
// PageKind in enum order).
struct PageKindOps {
    PageKind kind;
    void (*build)(PageSet *set, int page);    // makes its controls; null: the hosting window does
    void (*enable)(PageSet *set, int page);   // follows set->enabled; null: nothing to enable
    void (*show)(PageSet *set, int page);     // shows its controls (the page set hid the others)
    bool device;                              // one of a context's device pages, removed with them
    // The WM_COMMAND ids its controls send, and who carries them out (null:
    // the window itself).
    uint32_t commandFirst, commandLast;
    bool (*command)(PageSet *set, uint32_t id, UINT code, HWND control);
};
const PageKindOps *pageKindOps(PageKind kind);

// Index of the page of a kind (and channel), -1 if none.
int findPage(const PageSet *set, PageKind kind, uint16_t channel);
void destroyPageControls(Page *page);
