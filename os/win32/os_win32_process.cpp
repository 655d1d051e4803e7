// os_win32_process.cpp - starting programs on Win32.
#include <windows.h>

#include <cstring>

#include "os/os.h"

uint32_t osProcessId() { return (uint32_t)GetCurrentProcessId(); }

// The command line is used as it stands (the program is the first word of
// it, found through the system's program search). The new process inherits
// no handles, gets the default error mode and the caller's environment and
// folder; its handles are closed at once and nobody waits for it.
bool osStartProcess(const char *program, const char *const *argv, const char *commandLine) {
    (void)program;
    (void)argv;
    if (commandLine == nullptr || commandLine[0] == '\0') return false;
    // CreateProcessA may write into the command line, so it gets a copy.
    char line[32768];
    size_t n = strlen(commandLine);
    if (n >= sizeof line) return false;
    memcpy(line, commandLine, n + 1);
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &si,
                        &pi)) {
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}
