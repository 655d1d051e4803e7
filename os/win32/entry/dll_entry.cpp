// dll_entry.cpp - attach and detach of a DLL built from this tree
// (QuorvaneDrv.dll / QuorvaneDrv64.dll). A non-null reserved argument of
// DLL_PROCESS_DETACH means that the process is ending (rather than that the
// DLL is being freed): the system has ended every other thread already.
#include <windows.h>

#include "os/os.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        osLibraryAttach();
        break;
    case DLL_PROCESS_DETACH:
        osLibraryDetach(reserved != nullptr);
        break;
    default:
        break;
    }
    return TRUE;
}
