// kestrel_win.h - the window program Kestrel.exe, in three steps so that a
// test can drive the window between passes of its message loop:
//
//   HWND main = kestrelStart(instance, commandLine, show, &code);
//   while (main && kestrelPass(&code)) {}
//   kestrelFinish();
//
// Everything runs on the calling thread.
#pragma once

#include <windows.h>

// Control ids of the main window.
enum : int {
    KID_FIRMWARE_GROUP = 101,
    KID_FIRMWARE_LABEL = 102,
    KID_FIRMWARE_FILE = 103,
    KID_BROWSE = 104,
    KID_DEVICE_GROUP = 110,
    KID_HARDWARE_LABEL = 111,
    KID_HARDWARE = 112,
    KID_BOOTLOADER_LABEL = 113,
    KID_BOOTLOADER = 114,
    KID_OLD_FIRMWARE_LABEL = 115,
    KID_OLD_FIRMWARE = 116,
    KID_NEW_FIRMWARE_LABEL = 117,
    KID_NEW_FIRMWARE = 118,
    KID_PROGRESS = 119,
    KID_CHECK = 120,
    KID_UPLOAD = 121,
    KID_HELP = 122,
    KID_EXIT = 123,
    KID_LINK_GROUP = 124,
    KID_LINK_LABEL = 125,
    KID_LINK_TYPE = 126,
    KID_ID_LABEL = 127,
    KID_DEVICE_ID = 128,
    KID_TRANSCEIVER_LABEL = 130,
    KID_TRANSCEIVER = 131,
};

// Start-up: layout units, arguments (command line or upgrade.cfg), the log,
// the operating-system check, the main window. Returns the main window, or
// null when the program ends at once (exit code in *exitCode).
HWND kestrelStart(HINSTANCE instance, const char *commandLine, int show, int *exitCode);
// One pass of the message loop: the waiting messages (keyboard navigation
// first), a poll of a running update run, a short sleep when nothing
// waited. False once the quit message came (its code in *exitCode).
bool kestrelPass(int *exitCode);
// After the loop: link and firmware file closed, the log closed.
void kestrelFinish();
// True while an update run is going on.
bool kestrelRunning();
