// dll_entry.cpp - attach and detach of QuorvaneDrv.dll / QuorvaneDrv64.dll.
#include <windows.h>

#include "API/driver/frame/lifecycle.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        driverAttach();
        break;
    case DLL_PROCESS_DETACH:
        driverDetach();
        break;
    default:
        break;
    }
    return TRUE;
}
