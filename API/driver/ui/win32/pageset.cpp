// pageset.cpp - building, showing, enabling and removing the pages of a
// driver window.
#include "API/driver/ui/win32/pageset.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "API/driver/ui/eegcap.h"
#include "API/driver/ui/win32/pageset_internal.h"
#include "API/driver/ui/win32/uishared.h"

namespace {

constexpr int SITE_COLUMN_WIDTH = 5;   // w per entry of a cap site list
constexpr int EDIT_TEXT_LIMIT = 255;

struct ClassStyle {
    const char *cls;
    DWORD style;
    DWORD exStyle;
};

ClassStyle classOf(ControlKind kind) {
    switch (kind) {
    case CTL_CHECK: return {"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, 0};
    case CTL_EDIT: return {"EDIT", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
    case CTL_DROPDOWN: return {"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0};
    case CTL_SITE_LIST:
        return {"LISTBOX", LBS_MULTICOLUMN | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_BORDER | WS_TABSTOP | WS_HSCROLL, 0};
    case CTL_BUTTON: return {"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0};
    case CTL_RADIO: return {"BUTTON", BS_AUTORADIOBUTTON, 0};
    case CTL_GROUP: return {"BUTTON", BS_GROUPBOX | WS_GROUP, 0};
    case CTL_TEXT: return {"STATIC", SS_LEFT, 0};
    case CTL_CENTRED_TEXT: return {"STATIC", SS_CENTER, 0};
    case CTL_BOX: return {"STATIC", SS_LEFT | WS_BORDER, 0};
    case CTL_BAR: return {"BUTTON", BS_OWNERDRAW, 0};
    default: return {"EDIT", ES_READONLY | ES_RIGHT, WS_EX_CLIENTEDGE};
    }
}

uint32_t measureText(const char *text, void *context) {
    SIZE size = {};
    GetTextExtentPoint32A((HDC)context, text, (int)std::strlen(text), &size);
    int w = g_ui.units.w > 0 ? g_ui.units.w : 1;
    return (uint32_t)((size.cx + w / 2) / w);
}

void addHandle(Page *page, HWND hwnd, uint32_t id, bool visible) {
    if (!hwnd || page->count >= UI_PAGE_CONTROLS) return;
    page->controls[page->count++] = PageControl{hwnd, id, visible};
}

void fillList(HWND control, const ControlDescriptor *d) {
    bool combo = d->kind == CTL_DROPDOWN;
    for (int k = 0; d->list[k]; ++k) {
        SendMessageA(control, combo ? CB_ADDSTRING : LB_ADDSTRING, 0, (LPARAM)d->list[k]);
    }
    LRESULT at = SendMessageA(control, combo ? CB_FINDSTRINGEXACT : LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)d->text);
    if (d->text[0] && at >= 0) SendMessageA(control, combo ? CB_SETCURSEL : LB_SETCURSEL, (WPARAM)at, 0);
}

// A group box paints only its frame, and the tab control beneath it leaves
// the box's area to it: the box erases its area in the page's colour (the
// brush the window gives static controls). It lies beneath the controls it
// holds (see pageSetBuild), which are not erased over.
WNDPROC g_groupProc = nullptr;
LRESULT CALLBACK groupBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND) {
        RECT r;
        GetClientRect(box, &r);
        HBRUSH brush = (HBRUSH)SendMessageA(GetParent(box), WM_CTLCOLORSTATIC, wParam, (LPARAM)box);
        FillRect((HDC)wParam, &r, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    return CallWindowProcA(g_groupProc, box, message, wParam, lParam);
}

// The first radio button of a row starts a group.
DWORD groupStyle(const ControlDescriptor *d) {
    return d->kind == CTL_RADIO && d->id == ID_CAP_SET_FIRST ? WS_GROUP | WS_TABSTOP : 0;
}

}  // namespace

HWND uiCreateControl(HWND window, const ControlDescriptor *d, int labelColumn, uint32_t row, bool show, HWND *label) {
    Rect lr, cr;
    controlRects(d, labelColumn, row, &g_ui.units, &lr, &cr);
    ClassStyle cs = classOf(d->kind);
    DWORD shown = d->visible && show ? WS_VISIBLE : 0;
    DWORD disabled = d->enabled || d->kind == CTL_GROUP ? 0 : WS_DISABLED;
    bool textInWindow = d->kind != CTL_CHECK;
    HWND control = CreateWindowExA(cs.exStyle, cs.cls, textInWindow ? d->text : "",
                                   WS_CHILD | WS_CLIPSIBLINGS | cs.style | shown | disabled | groupStyle(d), cr.x,
                                   cr.y, cr.width, cr.height, window, (HMENU)(UINT_PTR)d->id, g_ui.instance, nullptr);
    if (label) *label = nullptr;
    if (!control) return nullptr;
    SendMessageA(control, WM_SETFONT, (WPARAM)g_ui.font, FALSE);
    if (d->kind == CTL_CHECK && d->text[0] >= '1' && d->text[0] <= '9') SendMessageA(control, BM_SETCHECK, BST_CHECKED, 0);
    if (d->kind == CTL_RADIO && d->checked) SendMessageA(control, BM_SETCHECK, BST_CHECKED, 0);
    if (d->kind == CTL_EDIT) SendMessageA(control, EM_LIMITTEXT, EDIT_TEXT_LIMIT, 0);
    if (d->kind == CTL_SITE_LIST) SendMessageA(control, LB_SETCOLUMNWIDTH, SITE_COLUMN_WIDTH * g_ui.units.w, 0);
    if (d->kind == CTL_DROPDOWN || d->kind == CTL_SITE_LIST) fillList(control, d);
    if (d->kind == CTL_GROUP) g_groupProc = (WNDPROC)SetWindowLongPtrA(control, GWLP_WNDPROC, (LONG_PTR)groupBoxProc);
    if (d->label[0] && label) {
        *label = CreateWindowExA(0, "STATIC", d->label,
                                 WS_CHILD | WS_CLIPSIBLINGS | SS_RIGHT | SS_ENDELLIPSIS | SS_CENTERIMAGE | shown | disabled,
                                 lr.x, lr.y, lr.width, lr.height, window, (HMENU)(UINT_PTR)(d->id + ID_LABEL_OFFSET),
                                 g_ui.instance, nullptr);
        if (*label) SendMessageA(*label, WM_SETFONT, (WPARAM)g_ui.font, FALSE);
    }
    return control;
}

void pageSetInit(PageSet *set, HWND window, HWND tab, int paramLabelColumn) {
    std::memset(set, 0, sizeof *set);
    set->window = window;
    set->tab = tab;
    set->paramLabelColumn = paramLabelColumn;
    set->shown = -1;
    set->enabled = true;
}

int pageSetInsertPage(PageSet *set, int at, PageKind kind, uint16_t channel, const char *title) {
    if (set->count >= UI_MAX_PAGES) return -1;
    if (at < 0 || at > set->count) at = set->count;
    std::memmove(&set->pages[at + 1], &set->pages[at], (size_t)(set->count - at) * sizeof(Page));
    Page *page = &set->pages[at];
    std::memset(page, 0, sizeof *page);
    page->entry.kind = kind;
    page->entry.channel = channel;
    std::snprintf(page->entry.title, sizeof page->entry.title, "%s", title);
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = page->entry.title;
    if (SendMessageA(set->tab, TCM_INSERTITEMA, (WPARAM)at, (LPARAM)&item) < 0) {
        std::memmove(&set->pages[at], &set->pages[at + 1], (size_t)(set->count - at) * sizeof(Page));
        return -1;
    }
    if (set->shown >= at) ++set->shown;
    ++set->count;
    return at;
}

int pageSetAddPage(PageSet *set, PageKind kind, uint16_t channel, const char *title) {
    return pageSetInsertPage(set, set->count, kind, channel, title);
}

HWND pageSetAddControl(PageSet *set, int page, const ControlDescriptor *d, int labelColumn, uint32_t *row) {
    HWND label = nullptr;
    HWND control = uiCreateControl(set->window, d, labelColumn, *row, page == set->shown, &label);
    addHandle(&set->pages[page], control, d->id, d->visible);
    addHandle(&set->pages[page], label, d->id + ID_LABEL_OFFSET, d->visible);
    *row = nextRow(d, *row);
    return control;
}

// Places a descriptor's control on a page: a kept control with its id (and
// its label) is taken over, otherwise the control is made.
static void placeControl(PageSet *set, int page, const ControlDescriptor *d, uint32_t *row, const PageControl *kept,
                         int keptCount) {
    bool found = false;
    for (int k = 0; k < keptCount; ++k) {
        if (kept[k].id == d->id || kept[k].id == d->id + ID_LABEL_OFFSET) {
            addHandle(&set->pages[page], kept[k].hwnd, kept[k].id, d->visible);
            found = true;
        }
    }
    if (!found) {
        pageSetAddControl(set, page, d, set->paramLabelColumn, row);
    } else {
        *row = nextRow(d, *row);
    }
}

void buildParamControls(PageSet *set, int page, const PageControl *kept, int keptCount) {
    Page *p = &set->pages[page];
    bool general = p->entry.kind == PAGE_GENERAL;
    uint32_t row = (uint32_t)g_ui.units.firstRow;
    ControlDescriptor d;
    if (general) {
        windowButton(ID_SERVICES, &d);
        d.enabled = set->enabled;
        placeControl(set, page, &d, &row, kept, keptCount);
    }
    HDC dc = GetDC(set->window);
    HGDIOBJ old = SelectObject(dc, g_ui.font);
    TextMeasure measure = {measureText, dc};
    PageWalk walk;
    pageWalkBegin(&walk, general ? -1 : (int16_t)p->entry.channel, set->enabled);
    uint16_t param;
    bool enabled;
    while (pageWalkNext(&walk, &param, &enabled)) {
        if (!paramDescriptor(param, general ? 0 : p->entry.channel, &measure, &d)) continue;
        d.enabled = enabled;
        placeControl(set, page, &d, &row, kept, keptCount);
    }
    SelectObject(dc, old);
    ReleaseDC(set->window, dc);
}

void rebuildParamPage(PageSet *set, int page) {
    Page *p = &set->pages[page];
    HWND focus = GetFocus();
    uint32_t focusId = 0;
    for (int k = 0; k < p->count; ++k) {
        if (p->controls[k].hwnd == focus) focusId = p->controls[k].id;
    }
    PageControl kept[4];
    int keptCount = 0;
    for (int k = 0; k < p->count; ++k) {
        uint32_t id = p->controls[k].id;
        bool keep = id == ID_SERVICES || (focusId != 0 && (id == focusId || id == focusId + ID_LABEL_OFFSET));
        if (keep && keptCount < 4) {
            kept[keptCount++] = p->controls[k];
        } else {
            DestroyWindow(p->controls[k].hwnd);
        }
    }
    p->count = 0;
    buildParamControls(set, page, kept, keptCount);
    // Keep the tab order the page order: each control after the one before,
    // and the tab control beneath them all.
    for (int k = 1; k < p->count; ++k) {
        SetWindowPos(p->controls[k].hwnd, p->controls[k - 1].hwnd, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    SetWindowPos(set->tab, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

static void buildParamPage(PageSet *set, int page) { buildParamControls(set, page, nullptr, 0); }

static void buildCapPage(PageSet *set, int page) {
    uint32_t row = (uint32_t)g_ui.units.firstRow;
    ControlDescriptor d;
    for (int k = 0; capPageControl(k, set->enabled, &d); ++k) pageSetAddControl(set, page, &d, LABEL_COLUMN_CAP, &row);
    SetWindowPos(pageSetControl(set, ID_CAP_GROUP), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(set->tab, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

static void buildTestPage(PageSet *set, int page) {
    uint32_t row = (uint32_t)g_ui.units.firstRow;
    ControlDescriptor d;
    std::memset(&set->test, 0, sizeof set->test);
    for (int k = 0; testPageControl(k, (uint32_t)g_ui.units.firstRow, &d); ++k) {
        pageSetAddControl(set, page, &d, LABEL_COLUMN_TEST, &row);
    }
}

static void buildStatusPage(PageSet *set, int page) {
    uint32_t row = (uint32_t)g_ui.units.firstRow;
    ControlDescriptor d;
    for (int k = 0; statusPageControl(k, (uint32_t)g_ui.units.firstRow, &d); ++k) {
        pageSetAddControl(set, page, &d, LABEL_COLUMN_STATUS, &row);
    }
}

static void buildAboutPage(PageSet *set, int page) {
    uint32_t row = (uint32_t)g_ui.units.firstRow;
    ControlDescriptor d;
    for (int k = 0; aboutPageControl(k, &d); ++k) pageSetAddControl(set, page, &d, set->paramLabelColumn, &row);
}

void pageSetBuild(PageSet *set, int page) {
    const PageKindOps *ops = pageKindOps(set->pages[page].entry.kind);
    if (ops && ops->build) ops->build(set, page);
}

int pageSetAddPages(PageSet *set, const PageEntry *entries, int n, int at) {
    for (int k = 0; k < n; ++k) {
        if (entries[k].kind == PAGE_EEG_CAP && !set->capLocked) {
            capLock(true);
            set->capLocked = true;
        }
    }
    if (at < 0 || at > set->count) at = set->count;
    int added = 0;
    for (int k = 0; k < n; ++k) {
        int page = pageSetInsertPage(set, at + added, entries[k].kind, entries[k].channel, entries[k].title);
        if (page < 0) break;
        pageSetBuild(set, page);
        ++added;
    }
    return added;
}

int pageSetAddDevicePages(PageSet *set, bool connected, int at) {
    PageEntry entries[UI_MAX_PAGES];
    int n = devicePages(connected, entries, UI_MAX_PAGES - set->count);
    return pageSetAddPages(set, entries, n, at);
}

// ---------------------------------------------------------------------------
// Removing
// ---------------------------------------------------------------------------

void destroyPageControls(Page *page) {
    for (int k = 0; k < page->count; ++k) DestroyWindow(page->controls[k].hwnd);
    page->count = 0;
}

static bool isDevicePage(PageKind kind) {
    const PageKindOps *ops = pageKindOps(kind);
    return ops && ops->device;
}

static void removePages(PageSet *set, bool deviceOnly) {
    int kept = 0;
    for (int k = 0; k < set->count; ++k) {
        Page *page = &set->pages[k];
        if (deviceOnly && !isDevicePage(page->entry.kind)) {
            if (kept != k) set->pages[kept] = *page;
            ++kept;
            continue;
        }
        destroyPageControls(page);
        SendMessageA(set->tab, TCM_DELETEITEM, (WPARAM)kept, 0);
        if (set->shown == k) set->shown = -1;
    }
    set->count = kept;
    if (set->shown >= kept) set->shown = -1;
    if (set->capLocked) {
        capLock(false);
        set->capLocked = false;
    }
}

void pageSetRemoveDevicePages(PageSet *set) { removePages(set, true); }
void pageSetRemoveAll(PageSet *set) { removePages(set, false); }

// ---------------------------------------------------------------------------
// Showing and enabling
// ---------------------------------------------------------------------------

HWND pageSetControl(const PageSet *set, uint32_t id) {
    for (int p = 0; p < set->count; ++p) {
        const Page *page = &set->pages[p];
        for (int k = 0; k < page->count; ++k) {
            if (page->controls[k].id == id) return page->controls[k].hwnd;
        }
    }
    return nullptr;
}

// Shows the page's controls that are visible and hides the others.
static void showControls(PageSet *set, int page) {
    Page *p = &set->pages[page];
    for (int k = 0; k < p->count; ++k) ShowWindow(p->controls[k].hwnd, p->controls[k].visible ? SW_SHOW : SW_HIDE);
}

void pageSetShow(PageSet *set, int page) {
    if (page < 0 || page >= set->count) return;
    if (set->shown >= 0 && set->shown < set->count && set->shown != page) {
        Page *old = &set->pages[set->shown];
        for (int k = 0; k < old->count; ++k) ShowWindow(old->controls[k].hwnd, SW_HIDE);
    }
    set->shown = page;
    SendMessageA(set->tab, TCM_SETCURSEL, (WPARAM)page, 0);
    const PageKindOps *ops = pageKindOps(set->pages[page].entry.kind);
    (ops ? ops->show : showControls)(set, page);
}

void enableParamPage(PageSet *set, int page) {
    Page *p = &set->pages[page];
    bool general = p->entry.kind == PAGE_GENERAL;
    uint16_t channel = general ? 0 : p->entry.channel;
    PageWalk walk;
    pageWalkBegin(&walk, general ? -1 : (int16_t)channel, set->enabled);
    uint16_t param;
    bool enabled;
    while (pageWalkNext(&walk, &param, &enabled)) {
        uint32_t id = paramControlId(param, channel);
        for (int k = 0; k < p->count; ++k) {
            if (p->controls[k].id == id || p->controls[k].id == id + ID_LABEL_OFFSET) {
                EnableWindow(p->controls[k].hwnd, enabled);
            }
        }
    }
    if (general) EnableWindow(pageSetControl(set, ID_SERVICES), set->enabled);
}

void enableCapPage(PageSet *set, int page) {
    Page *p = &set->pages[page];
    for (int k = 0; k < p->count; ++k) {
        uint32_t id = p->controls[k].id;
        // Labels (250, 262 and up) follow their controls.
        bool label = id == ID_CAP_ENABLE + ID_LABEL_OFFSET ||
                     (id >= ID_CAP_LIST_FIRST + ID_LABEL_OFFSET && id < ID_CAP_LIST_FIRST + ID_LABEL_OFFSET + UI_CAP_CHANNELS);
        EnableWindow(p->controls[k].hwnd, capControlEnabled(label ? id - ID_LABEL_OFFSET : id, set->enabled));
    }
}

void pageSetEnable(PageSet *set, bool enable) {
    set->enabled = enable;
    for (int page = 0; page < set->count; ++page) {
        const PageKindOps *ops = pageKindOps(set->pages[page].entry.kind);
        if (ops && ops->enable) ops->enable(set, page);
    }
}

// ---------------------------------------------------------------------------
// The page kinds
// ---------------------------------------------------------------------------

static void enableTestPage(PageSet *set, int) { enableTestButton(set); }

// The Status page's boxes show the indicators as the queries answer them.
static void showStatusPage(PageSet *set, int page) {
    showControls(set, page);
    pageSetStatusRefresh(set);
}

constexpr uint32_t NO_COMMANDS = 0;
constexpr uint32_t LAST_COMMAND = 0xFFFFFFFFu;

constexpr PageKindOps kPageKinds[] = {
    {PAGE_GENERAL, buildParamPage, enableParamPage, showControls, true, ID_PARAM_FIRST, LAST_COMMAND, paramCommand},
    {PAGE_CHANNEL, buildParamPage, enableParamPage, showControls, true, ID_PARAM_FIRST, LAST_COMMAND, paramCommand},
    {PAGE_EEG_CAP, buildCapPage, enableCapPage, showControls, true, ID_CAP_ENABLE, ID_CAP_LAST, capCommand},
    {PAGE_TEST, buildTestPage, enableTestPage, showTestRows, true, NO_COMMANDS, NO_COMMANDS, nullptr},
    {PAGE_STATUS, buildStatusPage, nullptr, showStatusPage, false, NO_COMMANDS, NO_COMMANDS, nullptr},
    {PAGE_ABOUT, buildAboutPage, nullptr, showControls, false, NO_COMMANDS, NO_COMMANDS, nullptr},
    {PAGE_OTHER, nullptr, nullptr, showControls, false, NO_COMMANDS, NO_COMMANDS, nullptr},
};

constexpr bool rowsInKindOrder() {
    for (int k = 0; k < PAGE_KIND_COUNT; ++k) {
        if (kPageKinds[k].kind != k || !kPageKinds[k].show) return false;
        if ((kPageKinds[k].command != nullptr) != (kPageKinds[k].commandFirst != NO_COMMANDS)) return false;
    }
    return true;
}
static_assert(sizeof kPageKinds / sizeof kPageKinds[0] == PAGE_KIND_COUNT, "one row per page kind");
static_assert(rowsInKindOrder(), "rows in kind order, each shown, commands with their range");

const PageKindOps *pageKindOps(PageKind kind) { return kind < PAGE_KIND_COUNT ? &kPageKinds[kind] : nullptr; }
