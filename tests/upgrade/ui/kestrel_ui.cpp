// kestrel_ui - the window program's test: Kestrel's own window code
// (qd_kestrel_win) with the simulated transceivers in this process,
// driven by the messages a user's clicks produce.
//
// 1. Started with "FILE L=usb A=QVSIM001", Upload of a 65,024-byte image
//    into a simulated "Quorvane Halvex-4 USB" ends with the box "Firmware
//    updated succesfully." and the five device fields filled; the window is
//    saved as ui-shots/kestrel-upload.png.
// 2. Exit during an upload asks; Cancel lets the upload go on.
// 3. Check shows the device fields and no success box.
// 4. Choosing IrDA disables the device identifier.
// 5. Every control but group boxes and labels is a tab stop; Browse
//    shortens a path only inside the current directory.
// Exit status 0 when all held.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Upgrade/win32/kestrel_win.h"
#include "os/os.h"
#include "sim/ftsim.h"
#include "tests/ui/support/uitest.h"
#include "tests/upgrade/image.h"

namespace {

const int DEVICE_FIELDS[] = {KID_HARDWARE, KID_TRANSCEIVER, KID_BOOTLOADER, KID_OLD_FIRMWARE, KID_NEW_FIRMWARE};
int g_failures = 0;

void expect(bool ok, const std::string &what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    if (!ok) ++g_failures;
}

std::string writeImage(const std::string &dir) {
    const std::string path = dir + "firmware update.bin";
    return writeBytes(path, firmwareImage(FW_MAX_IMAGE, "Halvex application", 4, 2, 0)) ? path : std::string();
}

// Runs the program's loop until the update run has ended (only a hang
// reaches the bound).
void runToEnd(int *code) {
    const DWORD start = GetTickCount();
    while (kestrelRunning() && GetTickCount() - start < uitest::kHangMs && kestrelPass(code)) {
    }
    kestrelPass(code);
}

bool fieldsFilled(HWND main) {
    for (int id : DEVICE_FIELDS)
        if (uitest::text(uitest::item(main, id)).empty()) return false;
    return true;
}

void upload(HWND main, uitest::DialogWatcher &boxes, int *code) {
    boxes.answer(IDOK);
    uitest::click(uitest::item(main, KID_UPLOAD));
    expect(kestrelRunning(), "Upload starts an update run");
    expect(!uitest::enabled(uitest::item(main, KID_EXIT)), "Exit is disabled during the run");
    runToEnd(code);
    const std::vector<uitest::Dialog> seen = boxes.take();
    expect(seen.size() == 1 && seen[0].caption == "Info" && seen[0].text == "Firmware updated succesfully.",
           "the upload ends with \"Firmware updated succesfully.\"");
    expect(fieldsFilled(main), "the five device fields are filled: " + uitest::text(uitest::item(main, KID_HARDWARE)));
    expect(uitest::text(uitest::item(main, KID_NEW_FIRMWARE)) == "Halvex application ver. 4.2", "new firmware 4.2");
    uitest::pump(200);     // the window repaints what the box covered
    expect(uitest::screenshot(main, uitest::programFolder() + "ui-shots\\kestrel-upload.png"), "screenshot saved");
}

void exitDuringUpload(HWND main, uitest::DialogWatcher &boxes, int *code) {
    boxes.answer(IDCANCEL);
    boxes.answer(IDOK);
    uitest::click(uitest::item(main, KID_UPLOAD));
    uitest::pump(50);
    PostMessageA(main, WM_CLOSE, 0, 0);   // the window's close box
    kestrelPass(code);
    expect(kestrelRunning(), "Cancel on the question lets the upload go on");
    runToEnd(code);
    const std::vector<uitest::Dialog> seen = boxes.take();
    expect(seen.size() == 2 && seen[0].caption == "Confirm" &&
               seen[0].text == "Communication in progress. Do you really want to exit?",
           "closing during an upload asks for confirmation");
    expect(seen.size() == 2 && seen[1].text == "Firmware updated succesfully.", "the upload still ends well");
}

void checkAndLinkList(HWND main, uitest::DialogWatcher &boxes, int *code) {
    uitest::click(uitest::item(main, KID_CHECK));
    runToEnd(code);
    expect(boxes.take().empty(), "Check shows no box");
    expect(uitest::text(uitest::item(main, KID_OLD_FIRMWARE)) == "Halvex application ver. 4.2",
           "Check shows the firmware now in the device");
    expect(!uitest::enabled(uitest::item(main, KID_LINK_TYPE)), "L=usb fixes the link type");
    EnableWindow(uitest::item(main, KID_LINK_TYPE), TRUE);
    uitest::choose(uitest::item(main, KID_LINK_TYPE), "IrDA");
    expect(!uitest::enabled(uitest::item(main, KID_DEVICE_ID)), "IrDA disables the device identifier");
    uitest::choose(uitest::item(main, KID_LINK_TYPE), "USB");
    expect(uitest::enabled(uitest::item(main, KID_DEVICE_ID)), "USB enables it again");
}

void tabStopsAndBrowse(HWND main, uitest::DialogWatcher &boxes, const std::string &dir) {
    std::string wrong;
    for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char kind[32] = "";
        GetClassNameA(c, kind, sizeof kind);
        const LONG style = GetWindowLongA(c, GWL_STYLE);
        const bool passive = _stricmp(kind, "Static") == 0 || (style & BS_TYPEMASK) == BS_GROUPBOX;
        if (((style & WS_TABSTOP) != 0) == passive) wrong += " " + std::to_string(GetDlgCtrlID(c));
    }
    expect(wrong.empty(), "tab stops: all but group boxes and labels (wrong:" + wrong + ")");
    const std::string here = dir + "fw", sibling = dir + "fw2";
    CreateDirectoryA(here.c_str(), nullptr);
    CreateDirectoryA(sibling.c_str(), nullptr);
    writeBytes(here + "\\in.bin", {1});
    writeBytes(sibling + "\\out.bin", {1});
    char before[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof before, before);
    SetCurrentDirectoryA(here.c_str());
    const struct { std::string chosen, shown; } cases[] = {
        {here + "\\in.bin", "in.bin"},
        {sibling + "\\out.bin", sibling + "\\out.bin"},
    };
    for (const auto &c : cases) {
        boxes.answerFile(c.chosen);
        uitest::click(uitest::item(main, KID_BROWSE));
        const std::string shown = uitest::text(uitest::item(main, KID_FIRMWARE_FILE));
        expect(shown == c.shown, "Browse shows " + c.shown + " (" + shown + ")");
    }
    SetCurrentDirectoryA(before);
}

}  // namespace

int main() {
    const std::string dir = uitest::programFolder() + "kestrel-ui\\";
    osDirCreate(dir.c_str());
    osSetEnv("ALLUSERSPROFILE", dir.c_str());
    ftsimReset();
    if (ftsimAdd("QVSIM001", nullptr) != 0 || ftsimAttachNewDevice(0, "Quorvane Halvex-4 USB", nullptr) != 0) return 2;
    const std::string line = "\"" + writeImage(dir) + "\" L=usb A=QVSIM001";
    int code = 0;
    HWND main = kestrelStart(GetModuleHandleA(nullptr), line.c_str(), SW_SHOW, &code);
    if (!main) return 2;
    {
        uitest::DialogWatcher boxes;
        uitest::pump(100);
        upload(main, boxes, &code);
        exitDuringUpload(main, boxes, &code);
        checkAndLinkList(main, boxes, &code);
        tabStopsAndBrowse(main, boxes, dir);
        uitest::click(uitest::item(main, KID_EXIT));
        while (kestrelPass(&code)) {
        }
    }
    kestrelFinish();
    expect(code == 0, "Exit ends the program with code 0");
    std::printf("%d failed\n", g_failures);
    return g_failures ? 1 : 0;
}
