// dll_entry.cpp - attach and detach of a DLL built from this tree
// (QuorvaneDrv.dll / QuorvaneDrv64.dll).
//
// DLL_PROCESS_DETACH comes in two cases. FreeLibrary (reserved null): the
// DLL is unmapped right after DllMain returns, so the DLL's own threads must
// have left its code by then (detach asks them to end; here we wait until
// they are out). End of the process (reserved not null): the system has
// ended every other thread already and holds the loader lock; nothing may
// wait for them.
#include <windows.h>

#include "API/driver/driver.h"
#include "os/os.h"

// How long an unload waits for the DLL's own threads to leave its code.
static const uint32_t THREADS_EXIT_WAIT_MS = 2000;

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        driverAttach();
        break;
    case DLL_PROCESS_DETACH:
        if (reserved != nullptr) {
            driverDetachAtProcessEnd();
        } else {
            driverDetach();
            osThreadsAwaitExit(THREADS_EXIT_WAIT_MS);
        }
        break;
    default:
        break;
    }
    return TRUE;
}
