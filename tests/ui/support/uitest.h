// uitest.h - what the window tests of the Windows builds share: driving a
// window through the messages a user's actions produce, answering the
// modal dialogs it opens, and saving what it shows as a PNG file.
//
// The tests run under Wine on a virtual X display (scripts/xvfb-run.sh), on
// the thread that owns the windows; only the dialog watcher has a thread of
// its own.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace uitest {

// ---------------------------------------------------------------------------
// Driving controls (all on the window's thread)
// ---------------------------------------------------------------------------

// Handles pending messages for ms milliseconds (at least one round).
void pump(DWORD ms = 0);

// The bound of every wait for something a window, a dialog or a program
// does: only a hang reaches it. Under the 32-bit test machine's full-system
// emulation, and on a loaded machine, what takes milliseconds here can take
// many seconds, so no wait is sized to the event it waits for.
const DWORD kHangMs = 180000;
// Handles pending messages until done() holds and returns true; false once
// boundMs have passed, after printing what was awaited. Use it as
// ASSERT_TRUE(pumpUntil(...)) or EXPECT_TRUE(...): the condition is the check.
bool pumpUntil(const std::function<bool()> &done, const char *what, DWORD boundMs = kHangMs);
// The child control with this id (searched through the whole window tree).
HWND item(HWND window, int id);
std::string text(HWND control);
bool enabled(HWND control);
bool visible(HWND control);
// A button press (BM_CLICK: what a mouse click does; nothing when disabled).
void click(HWND control);
// Picks the entry with exactly this text in a drop-down or list box and
// notifies the parent as a user's pick does. False when there is no such
// entry.
bool choose(HWND control, const std::string &entry);
// Focuses an edit, selects its text and types the given text key by key.
void type(HWND edit, const std::string &text);
// Moves the focus to another control, which commits a modified edit.
void focus(HWND control);
// Picks a tab of a tab control as a click on it does (the parent is told of
// the change).
void chooseTab(HWND tab, int index);
// The titles of a tab control's tabs.
std::vector<std::string> tabTitles(HWND tab);
// Check state of a check box or radio button.
bool checked(HWND button);

// ---------------------------------------------------------------------------
// Modal dialogs
// ---------------------------------------------------------------------------

// A dialog box (class "#32770": message boxes, file dialogs) that appeared.
struct Dialog {
    std::string caption;
    std::string text;   // the texts of its static controls, joined by '\n'
    bool owned;         // it has an owner window
};

// Watches, from a thread of its own, for dialog boxes of this process and
// answers each with the next queued answer: a button id (IDOK, IDCANCEL,
// ...) or, for a file dialog, a file name to enter and confirm. A dialog
// without a queued answer is closed with IDCANCEL and still recorded.
class DialogWatcher {
public:
    DialogWatcher();
    ~DialogWatcher();
    void answer(int button);
    void answerFile(const std::string &path);
    // Dialogs seen since the last call, oldest first.
    std::vector<Dialog> take();

private:
    struct Answer {
        int button;
        std::string file;
    };
    void run();
    void handle(HWND dialog);
    std::mutex lock_;
    std::vector<Answer> answers_;
    std::vector<Dialog> seen_;
    std::vector<HWND> handled_;
    bool stop_ = false;
    std::thread thread_;
};

// The texts of a dialog's static controls, joined by '\n'.
std::string dialogText(HWND dialog);

// ---------------------------------------------------------------------------
// Other programs (the shipped programs, the installer), started by the test
// ---------------------------------------------------------------------------

struct Program;
// Waits for the program's end and returns its exit code; -1 when it did not
// end within timeoutMs (it is then ended).
int finish(Program *program, DWORD timeoutMs);

struct Program {
    HANDLE process = nullptr;
    DWORD id = 0;
    Program() = default;
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;
    // A program still running here (a failed assertion returned before its
    // finish) is ended: left behind, it would keep the Wine server, and
    // with it the whole test run, waiting on its windows.
    ~Program() { finish(this, 0); }
};

// Starts a command line (wide: paths may hold any character) in a folder
// (empty: the current one); its standard output and error go to output when
// one is named.
bool start(const std::wstring &commandLine, const std::wstring &folder, Program *program,
           const std::wstring &output = L"");
// A visible top-level window of the program of this class (and, when given,
// this title) that the test has not been given before, waiting up to
// timeoutMs; null when none appeared.
HWND waitForWindow(const Program &program, const char *className, const char *title, DWORD timeoutMs,
                   HWND except = nullptr);
// UTF-8 text in UTF-16.
std::wstring wide(const std::string &text);

// ---------------------------------------------------------------------------
// Pictures
// ---------------------------------------------------------------------------

// Copies what the window shows (frame included) into a PNG file; false when
// the window could not be read or the file not written. The folder is
// created when missing.
bool screenshot(HWND window, const std::string &path);
// Colour of a client-area pixel of a window as it is on the screen.
COLORREF pixel(HWND window, int x, int y);

// Writes 24-bit pixels (rows top to bottom, 3 bytes R, G, B each) as a PNG
// file: indexed colour when there are at most 256 colours, else RGB.
bool writePng(const std::string &path, const unsigned char *rgb, int width, int height);

// The folder of the running program (with a trailing backslash).
std::string programFolder();

}  // namespace uitest
