// driving.cpp - user actions as window messages, and the dialog watcher.
#include "tests/ui/support/uitest.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>

namespace uitest {

void pump(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (ms > 0) Sleep(5);
    } while (GetTickCount() - start < ms);
}

bool pumpUntil(const std::function<bool()> &done, const char *what, DWORD boundMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= boundMs) {
            std::printf("waited %lu ms in vain for: %s\n", (unsigned long)boundMs, what);
            return false;
        }
        pump(10);
    }
    return true;
}

namespace {
struct Search {
    int id;
    HWND found;
};
BOOL CALLBACK byId(HWND child, LPARAM arg) {
    Search *s = (Search *)arg;
    if (GetDlgCtrlID(child) != s->id) return TRUE;
    s->found = child;
    return FALSE;
}
}  // namespace

HWND item(HWND window, int id) {
    Search s = {id, nullptr};
    EnumChildWindows(window, byId, (LPARAM)&s);
    return s.found;
}

std::string text(HWND control) {
    char buffer[1024] = "";
    GetWindowTextA(control, buffer, sizeof buffer);
    return buffer;
}

bool enabled(HWND control) { return control && IsWindowEnabled(control); }
bool visible(HWND control) { return control && (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0; }
bool checked(HWND button) { return SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void click(HWND control) {
    SendMessageA(control, BM_CLICK, 0, 0);
    pump();
}

bool choose(HWND control, const std::string &entry) {
    char cls[32] = "";
    GetClassNameA(control, cls, sizeof cls);
    bool combo = lstrcmpiA(cls, "ComboBox") == 0;
    LRESULT at = SendMessageA(control, combo ? CB_FINDSTRINGEXACT : LB_FINDSTRINGEXACT, (WPARAM)-1,
                              (LPARAM)entry.c_str());
    if (at < 0) return false;
    SendMessageA(control, combo ? CB_SETCURSEL : LB_SETCURSEL, (WPARAM)at, 0);
    WPARAM note = MAKEWPARAM(GetDlgCtrlID(control), combo ? CBN_SELCHANGE : LBN_SELCHANGE);
    SendMessageA(GetParent(control), WM_COMMAND, note, (LPARAM)control);
    pump();
    return true;
}

void type(HWND edit, const std::string &text) {
    focus(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    SendMessageA(edit, WM_CHAR, VK_BACK, 0);
    for (char c : text) SendMessageA(edit, WM_CHAR, (WPARAM)(unsigned char)c, 0);
    pump();
}

void focus(HWND control) {
    SetFocus(control);
    pump();
}

void chooseTab(HWND tab, int index) {
    SendMessageA(tab, TCM_SETCURSEL, (WPARAM)index, 0);
    NMHDR note = {tab, (UINT_PTR)GetDlgCtrlID(tab), (UINT)TCN_SELCHANGE};
    SendMessageA(GetParent(tab), WM_NOTIFY, note.idFrom, (LPARAM)&note);
    pump();
}

std::vector<std::string> tabTitles(HWND tab) {
    std::vector<std::string> out;
    for (int k = 0, n = (int)SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0); k < n; ++k) {
        char title[64] = "";
        TCITEMA it = {};
        it.mask = TCIF_TEXT;
        it.pszText = title;
        it.cchTextMax = sizeof title;
        SendMessageA(tab, TCM_GETITEMA, (WPARAM)k, (LPARAM)&it);
        out.push_back(title);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Dialog watcher
// ---------------------------------------------------------------------------

DialogWatcher::DialogWatcher() : thread_([this] { run(); }) {}

DialogWatcher::~DialogWatcher() {
    {
        std::lock_guard<std::mutex> g(lock_);
        stop_ = true;
    }
    thread_.join();
}

void DialogWatcher::answer(int button) {
    std::lock_guard<std::mutex> g(lock_);
    answers_.push_back({button, ""});
}

void DialogWatcher::answerFile(const std::string &path) {
    std::lock_guard<std::mutex> g(lock_);
    answers_.push_back({IDOK, path});
}

std::vector<Dialog> DialogWatcher::take() {
    std::lock_guard<std::mutex> g(lock_);
    std::vector<Dialog> out;
    out.swap(seen_);
    return out;
}

namespace {
BOOL CALLBACK collectDialog(HWND w, LPARAM arg) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    char cls[16] = "";
    GetClassNameA(w, cls, sizeof cls);
    if (pid == GetCurrentProcessId() && IsWindowVisible(w) && lstrcmpA(cls, "#32770") == 0) {
        ((std::vector<HWND> *)arg)->push_back(w);
    }
    return TRUE;
}
BOOL CALLBACK collectStatics(HWND w, LPARAM arg) {
    char cls[16] = "";
    GetClassNameA(w, cls, sizeof cls);
    std::string t = text(w);
    std::string *out = (std::string *)arg;
    if (lstrcmpiA(cls, "Static") == 0 && !t.empty()) *out += (out->empty() ? "" : "\n") + t;
    return TRUE;
}
}  // namespace

std::string dialogText(HWND dialog) {
    std::string out;
    EnumChildWindows(dialog, collectStatics, (LPARAM)&out);
    return out;
}

void DialogWatcher::run() {
    for (;;) {
        {
            std::lock_guard<std::mutex> g(lock_);
            if (stop_) return;
        }
        std::vector<HWND> dialogs;
        EnumWindows(collectDialog, (LPARAM)&dialogs);
        {
            // Forget dialogs that are gone, so that a reused handle counts anew.
            std::lock_guard<std::mutex> g(lock_);
            std::vector<HWND> still;
            for (HWND h : handled_) {
                for (HWND d : dialogs) {
                    if (d == h) still.push_back(h);
                }
            }
            handled_.swap(still);
        }
        for (HWND d : dialogs) handle(d);
        Sleep(10);
    }
}

void DialogWatcher::handle(HWND dialog) {
    Answer a = {IDCANCEL, ""};
    {
        std::lock_guard<std::mutex> g(lock_);
        for (HWND h : handled_) {
            if (h == dialog) return;
        }
        handled_.push_back(dialog);
    }
    Sleep(50);  // let the dialog finish its set-up
    Dialog seen;
    seen.caption = text(dialog);
    seen.owned = GetWindow(dialog, GW_OWNER) != nullptr;
    seen.text = dialogText(dialog);
    {
        std::lock_guard<std::mutex> g(lock_);
        if (!answers_.empty()) {
            a = answers_.front();
            answers_.erase(answers_.begin());
        }
        seen_.push_back(seen);
    }
    if (!a.file.empty()) {
        // The file name field of the file dialogs: a combo box (cmb13) in
        // the Explorer style, an edit (edt1) in the old one.
        HWND name = GetDlgItem(dialog, 0x47C);
        if (!name) name = GetDlgItem(dialog, 0x480);
        SendMessageA(name, WM_SETTEXT, 0, (LPARAM)a.file.c_str());
    }
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(a.button, BN_CLICKED), (LPARAM)GetDlgItem(dialog, a.button));
}

}  // namespace uitest
