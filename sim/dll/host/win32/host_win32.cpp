// host_win32.cpp - library loading for the simulator host on Windows.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "sim/dll/host/host.h"

// A path that starts with '/' was given from the Unix side of Wine, where
// the drive Z: maps the Unix root.
static std::string windowsPath(const char *path) {
    std::string p(path);
    if (!p.empty() && p[0] == '/') p = "Z:" + p;
    for (char &c : p) {
        if (c == '/') c = '\\';
    }
    return p;
}

void *hostLoad(const char *path, bool) {
    std::string p = windowsPath(path);
    HMODULE m = LoadLibraryA(p.c_str());
    if (!m) std::printf("cannot load %s: error %lu\n", p.c_str(), (unsigned long)GetLastError());
    return reinterpret_cast<void *>(m);
}

void *hostSymbol(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void hostUnload(void *library) { FreeLibrary(static_cast<HMODULE>(library)); }

bool hostD2xxIs(void *library) {
    if (GetModuleHandleA("FTD2XX.dll") != static_cast<HMODULE>(library)) return false;
    HMODULE modules[512];
    DWORD bytes = 0;
    if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &bytes)) return false;
    int copies = 0;
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 512; ++i) {
        char name[MAX_PATH];
        if (GetModuleBaseNameA(GetCurrentProcess(), modules[i], name, sizeof name) && _stricmp(name, "FTD2XX.dll") == 0) {
            ++copies;
        }
    }
    return copies == 1;
}

bool hostD2xxIsNotSimulator() {
    HMODULE m = GetModuleHandleA("FTD2XX.dll");
    if (!m) return false;
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(m, path, sizeof path);
    if (n == 0 || n >= sizeof path) return false;
    for (DWORD i = 0; i < n; ++i) {
        if (path[i] == '/') path[i] = '\\';
    }
    return std::strstr(path, "\\sim\\") == nullptr;
}

unsigned long long hostMicroseconds() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (unsigned long long)(c.QuadPart / f.QuadPart) * 1000000ull +
           (unsigned long long)(c.QuadPart % f.QuadPart) * 1000000ull / (unsigned long long)f.QuadPart;
}
