// main.cpp - Kestrel.exe, the firmware loader's window program.
#include "Upgrade/win32/kestrel_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
    int code = 0;
    HWND main = kestrelStart(instance, commandLine, show, &code);
    while (main && kestrelPass(&code)) {
    }
    kestrelFinish();
    return code;
}
