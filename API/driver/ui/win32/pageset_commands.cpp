// pageset_commands.cpp - what the pages do: committing parameter edits, the
// EEG cap commands, the test view (start, packets, end, bars and readings),
// the Status page and the colours of static controls.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <initializer_list>
#include <cstring>

#include "API/driver/protocol/samples.h"
#include "API/driver/ui/eegcap.h"
#include "API/driver/ui/window_hooks.h"
#include "API/driver/ui/win32/pageset_internal.h"
#include "API/driver/ui/win32/uishared.h"

namespace {

constexpr int WHITE_PAGE_SUM = 750;      // red + green + blue of a white themed page
constexpr int SAMPLE_X = 4;              // where the page colour is sampled
constexpr int BAR_CHANNELS = UI_TEST_CHANNELS;
const char kTestCaption[] = "&Test";
const char kStopCaption[] = "&Stop";

bool isClass(HWND control, const char *name) {
    char cls[32] = "";
    GetClassNameA(control, cls, sizeof cls);
    return lstrcmpiA(cls, name) == 0;
}

// Shows a parameter's current value (or the given text) in its control.
void showValue(HWND control, const char *text) {
    if (!control) return;
    if (isClass(control, "Button")) {
        SendMessageA(control, BM_SETCHECK, text[0] >= '1' && text[0] <= '9' ? BST_CHECKED : BST_UNCHECKED, 0);
    } else if (isClass(control, "ComboBox")) {
        LRESULT at = SendMessageA(control, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)text);
        SendMessageA(control, CB_SETCURSEL, (WPARAM)at, 0);
    } else {
        SetWindowTextA(control, text);
        SendMessageA(control, EM_SETMODIFY, FALSE, 0);
    }
}

void refreshParam(PageSet *set, uint16_t param, uint16_t channel) {
    char text[UI_TEXT_MAX];
    paramText(param, channel, text, sizeof text);
    showValue(pageSetControl(set, paramControlId(param, channel)), text);
}

// The text a parameter control holds, for the notifications that commit
// it; false for other notifications.
bool committedText(HWND control, UINT code, char *text, int room) {
    text[0] = '\0';
    if (isClass(control, "Button")) {
        if (code != BN_CLICKED) return false;
        std::snprintf(text, (size_t)room, "%d", SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    } else if (isClass(control, "ComboBox")) {
        LRESULT at = SendMessageA(control, CB_GETCURSEL, 0, 0);
        if (code != CBN_SELCHANGE || at < 0 || SendMessageA(control, CB_GETLBTEXTLEN, (WPARAM)at, 0) >= room) return false;
        SendMessageA(control, CB_GETLBTEXT, (WPARAM)at, (LPARAM)text);
    } else {
        if (code != EN_KILLFOCUS || !SendMessageA(control, EM_GETMODIFY, 0, 0)) return false;
        SendMessageA(control, EM_SETMODIFY, FALSE, 0);
        GetWindowTextA(control, text, room);
    }
    return true;
}

int pageOfControl(const PageSet *set, HWND control) {
    for (int p = 0; p < set->count; ++p) {
        for (int k = 0; k < set->pages[p].count; ++k) {
            if (set->pages[p].controls[k].hwnd == control) return p;
        }
    }
    return -1;
}

}  // namespace

bool paramCommand(PageSet *set, uint32_t id, UINT code, HWND control) {
    uint16_t param, channel;
    char text[UI_TEXT_MAX];
    if (!paramFromControlId(id, &param, &channel) || !committedText(control, code, text, sizeof text)) return true;
    CommitResult r;
    commitEdit(param, channel, text, &r);
    if (r.setText) showValue(control, r.text);
    if (r.message) uiWarning(r.message);
    int page = pageOfControl(set, control);
    if (page >= 0 && r.rebuild) rebuildParamPage(set, page);
    if (page >= 0 && r.reenable) enableParamPage(set, page);
    if (r.labelChanged) refreshParam(set, QD_PAR_CHANNEL_LABEL, channel);
    return true;
}

// ---------------------------------------------------------------------------
// EEG cap page
// ---------------------------------------------------------------------------

namespace {

void selectCapLists(PageSet *set) {
    for (int k = 0; k < UI_CAP_CHANNELS; ++k) {
        HWND list = pageSetControl(set, ID_CAP_LIST_FIRST + (uint32_t)k);
        if (!list) continue;
        char site[UI_TEXT_MAX];
        capSiteText(k, site, sizeof site);
        SendMessageA(list, LB_SETCURSEL, (WPARAM)SendMessageA(list, LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)site), 0);
    }
}

void applyCapUpdate(PageSet *set, const CapUpdate &u) {
    for (uint16_t c = 0; c < 32; ++c) {
        int page = findPage(set, PAGE_CHANNEL, c);
        if (page < 0) continue;
        if (u.rebuiltChannels & (1u << c)) {
            rebuildParamPage(set, page);
            enableParamPage(set, page);
        }
        if (u.siteChannels & (1u << c)) {
            refreshParam(set, QD_PAR_EEG_CAP, c);
            refreshParam(set, QD_PAR_CHANNEL_LABEL, c);
        }
    }
    selectCapLists(set);
    int cap = findPage(set, PAGE_EEG_CAP, 0);
    if (cap >= 0) enableCapPage(set, cap);
    if (u.duplicate) uiWarning(kCapDuplicateMessage);
}

}  // namespace

bool capCommand(PageSet *set, uint32_t id, UINT code, HWND control) {
    CapUpdate u;
    if (id == ID_CAP_ENABLE && code == BN_CLICKED) {
        capEnable(SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED, &u);
    } else if (id >= ID_CAP_SET_FIRST && id < ID_CAP_SET_FIRST + UI_CAP_SETS && code == BN_CLICKED) {
        capChooseSet((int)(id - ID_CAP_SET_FIRST), &u);
    } else if (id >= ID_CAP_LIST_FIRST && id < ID_CAP_LIST_FIRST + UI_CAP_CHANNELS && code == LBN_SELCHANGE) {
        char site[UI_TEXT_MAX] = "";
        LRESULT at = SendMessageA(control, LB_GETCURSEL, 0, 0);
        if (at < 0 || SendMessageA(control, LB_GETTEXTLEN, (WPARAM)at, 0) >= (LRESULT)sizeof site) return true;
        SendMessageA(control, LB_GETTEXT, (WPARAM)at, (LPARAM)site);
        if (!capPick((int)(id - ID_CAP_LIST_FIRST), site, &u)) {
            selectCapLists(set);
            return true;
        }
    } else {
        return true;
    }
    applyCapUpdate(set, u);
    return true;
}

int findPage(const PageSet *set, PageKind kind, uint16_t channel) {
    for (int p = 0; p < set->count; ++p) {
        if (set->pages[p].entry.kind == kind && (kind != PAGE_CHANNEL || set->pages[p].entry.channel == channel)) return p;
    }
    return -1;
}

bool pageSetCommand(PageSet *set, uint32_t id, UINT code, HWND control) {
    for (int kind = 0; kind < PAGE_KIND_COUNT; ++kind) {
        const PageKindOps *ops = pageKindOps((PageKind)kind);
        if (ops->command && id >= ops->commandFirst && id <= ops->commandLast) return ops->command(set, id, code, control);
    }
    return false;
}

// ---------------------------------------------------------------------------
// Test view
// ---------------------------------------------------------------------------

void enableTestButton(PageSet *set) {
    HWND button = pageSetControl(set, ID_TEST);
    if (!button) return;
    bool any = false;
    for (int c = 0; c < testChannelCount(); ++c) any = any || testRowEnabled((uint16_t)c);
    bool testing = windowActivity.load() == ACTIVITY_TESTING;
    EnableWindow(button, testing || (set->enabled && any));
}

// The element of a test row a control id is (0 box, 1 its label, 2 "+"
// bar, 3 its label, 4 "+" reading, 6 "-" bar, 7 its label, 8 "-" reading;
// ids advance by 50 from element to element), -1 for other controls.
static int rowElement(uint32_t id, uint16_t *channel) {
    if (id < ID_TEST_CHANNEL_BOX) return -1;
    uint32_t element = (id - ID_TEST_CHANNEL_BOX) / ID_LABEL_OFFSET;
    uint32_t c = (id - ID_TEST_CHANNEL_BOX) % ID_LABEL_OFFSET;
    if (element > 8 || c >= BAR_CHANNELS) return -1;
    *channel = (uint16_t)c;
    return (int)element;
}

void showTestRows(PageSet *set, int page) {
    // Inputs a channel must show (testRowInputs) for each row element.
    static const int needs[9] = {0, 0, 1, 2, 1, 3, 2, 2, 2};
    const Page *p = &set->pages[page];
    for (int k = 0; k < p->count; ++k) {
        uint16_t c = 0;
        int element = rowElement(p->controls[k].id, &c);
        bool show = true;
        if (element >= 0) {
            show = testRowInputs(c) >= needs[element];
            EnableWindow(p->controls[k].hwnd, show && testRowEnabled(c));
        }
        ShowWindow(p->controls[k].hwnd, show ? SW_SHOW : SW_HIDE);
    }
    enableTestButton(set);
}

static void showTestInput(PageSet *set, int channel, int input) {
    const TestInput &in = set->test.input[channel][input];
    uint32_t bar = (input == INPUT_PLUS ? ID_TEST_PLUS_BAR : ID_TEST_MINUS_BAR) + (uint32_t)channel;
    uint32_t reading = (input == INPUT_PLUS ? ID_TEST_PLUS_READING : ID_TEST_MINUS_READING) + (uint32_t)channel;
    InvalidateRect(pageSetControl(set, bar), nullptr, FALSE);
    HWND field = pageSetControl(set, reading);
    char old[64] = "";
    GetWindowTextA(field, old, sizeof old);
    if (std::strcmp(old, in.text) != 0) SetWindowTextA(field, in.text);
}

static void showAllInputs(PageSet *set) {
    for (int c = 0; c < UI_TEST_CHANNELS; ++c) {
        showTestInput(set, c, INPUT_PLUS);
        showTestInput(set, c, INPUT_MINUS);
    }
}

void pageSetRepaintIndicator(PageSet *set, int box) {
    uint16_t activity = windowActivity.load();
    uint32_t base = activity == ACTIVITY_TESTING ? ID_TEST_BOX_FIRST
                    : activity == ACTIVITY_RECORDING ? ID_RECORD_BOX_FIRST : ID_STATUS_BOX_FIRST;
    HWND control = GetDlgItem(set->window, (int)(base + (uint32_t)box));
    if (control) InvalidateRect(control, nullptr, TRUE);
}

static void repaintAllIndicators(PageSet *set) {
    for (int b = 0; b < UI_INDICATOR_BOXES; ++b) pageSetRepaintIndicator(set, b);
}

static const char *startFailure(int32_t result) {
    if (result < 0) return "Invalid device, its state or measurement mode";
    if (result == QD_MEAS_SYSTEM_TOO_OLD) return "Bluetooth Low Energy is not supported below Windows 8.1";
    return "Cannot connect to the device";
}

bool pageSetTestStart(PageSet *set) {
    HWND button = pageSetControl(set, ID_TEST);
    int16_t context = QdGetSelectedDevContext();
    if (context < 0) return false;
    if (findPage(set, PAGE_EEG_CAP, 0) >= 0 && capDuplicateSites()) {
        uiWarning(kCapDuplicateMessage);
        return false;
    }
    pageSetEnable(set, false);
    EnableWindow(button, TRUE);
    SetWindowTextA(button, kStopCaption);
    uiPumpMessages();
    uiShowWaitWindow();
    testBegin(&set->test);
    windowActivity = ACTIVITY_TESTING;
    int32_t result = QdStartMeasurement((uint16_t)context, QD_START_TEST);
    uiCloseWaitWindow();
    if (result != QD_MEAS_STARTED && result != QD_MEAS_CONNECTING) {
        windowActivity = ACTIVITY_IDLE;
        uiError(startFailure(result));
        SetWindowTextA(button, kTestCaption);
        pageSetEnable(set, true);
        return false;
    }
    UiColour colours[UI_INDICATOR_BOXES];
    indicatorStartColours(colours);
    for (int b = BOX_BATTERY; b < UI_INDICATOR_BOXES; ++b) g_ui.indicators[b] = colours[b];
    repaintAllIndicators(set);
    showAllInputs(set);
    return true;
}

void pageSetTestEnd(PageSet *set) {
    windowActivity = ACTIVITY_IDLE;
    pageSetEnable(set, true);
    SetWindowTextA(pageSetControl(set, ID_TEST), kTestCaption);
    testClearInputs(&set->test);
    showAllInputs(set);
    uiResetIndicators();
    for (int b = 0; b < UI_INDICATOR_BOXES; ++b) {
        InvalidateRect(GetDlgItem(set->window, (int)(ID_TEST_BOX_FIRST + (uint32_t)b)), nullptr, TRUE);
    }
}

void pageSetTestPacket(PageSet *set, uint16_t phase, uint16_t flags, const ChannelSamples *entries) {
    // The sample stream hands over at most STAGING_CHANNELS entries.
    int count = set->test.channels < STAGING_CHANNELS ? set->test.channels : STAGING_CHANNELS;
    uint32_t changed = testPacket(&set->test, phase, flags, entries, count);
    for (int c = 0; c < set->test.channels; ++c) {
        for (int input = INPUT_PLUS; input <= INPUT_MINUS; ++input) {
            if (changed & (1u << (2 * c + input))) showTestInput(set, c, input);
        }
    }
}

bool pageSetDrawItem(PageSet *set, const DRAWITEMSTRUCT *item) {
    uint32_t id = item->CtlID;
    int input = id >= ID_TEST_MINUS_BAR ? INPUT_MINUS : INPUT_PLUS;
    uint32_t base = input == INPUT_PLUS ? ID_TEST_PLUS_BAR : ID_TEST_MINUS_BAR;
    if (id < base || id >= base + BAR_CHANNELS) return false;
    if (!(item->itemAction & ODA_DRAWENTIRE)) return true;
    RECT r = item->rcItem;
    HDC dc = item->hDC;
    if (!IsWindowEnabled(item->hwndItem)) {
        FillRect(dc, &r, GetSysColorBrush(COLOR_MENU));
        HBRUSH frame = CreateSolidBrush(RGB(192, 192, 192));
        FrameRect(dc, &r, frame);
        DeleteObject(frame);
        return true;
    }
    const TestInput &in = set->test.input[id - base][input];
    RECT inner = {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
    int width = inner.right - inner.left;
    float level = in.level < 0.0f ? 0.0f : in.level > 100.0f ? 100.0f : in.level;
    int n = (int)((width * level + 50.0f) / 100.0f);
    RECT part = inner;
    part.right = inner.left + (n < width ? n : width);
    FillRect(dc, &part, uiBrush(in.colour));
    RECT rest = inner;
    rest.left = part.right;
    FillRect(dc, &rest, (HBRUSH)GetStockObject(WHITE_BRUSH));
    FrameRect(dc, &r, (HBRUSH)GetStockObject(GRAY_BRUSH));
    return true;
}

// ---------------------------------------------------------------------------
// Status page and colours
// ---------------------------------------------------------------------------

void pageSetStatusRefresh(PageSet *set) {
    int16_t context = QdGetSelectedDevContext();
    for (auto &box : g_ui.indicators) box = COLOUR_MENU;
    uint32_t support = indicatorSupport();
    static const uint32_t bits[3] = {SUPPORTS_LINK, SUPPORTS_BATTERY, SUPPORTS_PAUSE};
    for (uint16_t type = QD_IND_LINK; context >= 0 && type <= QD_IND_SIGNAL; ++type) {
        if (type < QD_IND_SIGNAL && !(support & bits[type])) continue;
        if (type == QD_IND_SIGNAL && !(support & SUPPORTS_SIGNAL)) continue;
        int channels = type == QD_IND_SIGNAL ? selectedChannelCount() : 0;
        for (int sub = 0; sub <= channels; ++sub) {
            if (sub > 0 && !channelEnabled((uint16_t)(sub - 1))) continue;
            int32_t v = QdGetUserInd((uint16_t)context, type, (uint16_t)sub);
            int box = indicatorBox(type, (uint16_t)(sub << 8));
            if (v >= 0 && box >= 0) g_ui.indicators[box] = indicatorColour(type, (uint16_t)v);
        }
    }
    for (int b = 0; b < UI_INDICATOR_BOXES; ++b) {
        InvalidateRect(GetDlgItem(set->window, (int)(ID_STATUS_BOX_FIRST + (uint32_t)b)), nullptr, TRUE);
    }
}

HBRUSH pageSetStaticColour(PageSet *set, HDC dc, HWND control) {
    uint32_t id = (uint32_t)GetDlgCtrlID(control);
    for (uint32_t base : {ID_STATUS_BOX_FIRST, ID_TEST_BOX_FIRST, ID_RECORD_BOX_FIRST}) {
        if (id >= base && id < base + UI_INDICATOR_BOXES) return uiBrush((UiColour)g_ui.indicators[id - base].load());
    }
    for (uint32_t base : {ID_TEST_PLUS_READING, ID_TEST_MINUS_READING}) {
        if (id >= base && id < base + BAR_CHANNELS) return nullptr;
    }
    // Other statics take the page's colour: white on a white themed page,
    // else the colour found there.
    HDC windowDc = GetDC(set->window);
    COLORREF c = GetPixel(windowDc, SAMPLE_X, 87 * g_ui.units.u / 4);
    ReleaseDC(set->window, windowDc);
    if (c != CLR_INVALID && GetRValue(c) + GetGValue(c) + GetBValue(c) >= WHITE_PAGE_SUM) {
        return (HBRUSH)GetStockObject(WHITE_BRUSH);
    }
    SetBkMode(dc, TRANSPARENT);
    return c == CLR_INVALID ? (HBRUSH)GetStockObject(NULL_BRUSH) : GetSysColorBrush(COLOR_BTNFACE);
}

bool pageSetPaintMessage(PageSet *set, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result) {
    switch (message) {
    case WM_DRAWITEM:
        if (!pageSetDrawItem(set, (const DRAWITEMSTRUCT *)lParam)) return false;
        *result = TRUE;
        return true;
    case WM_CTLCOLORSTATIC: {
        HBRUSH brush = pageSetStaticColour(set, (HDC)wParam, (HWND)lParam);
        if (!brush) return false;
        *result = (LRESULT)brush;
        return true;
    }
    case WM_CTLCOLORBTN:
        SetBkMode((HDC)wParam, TRANSPARENT);
        *result = (LRESULT)GetStockObject(NULL_BRUSH);
        return true;
    default: return false;
    }
}
