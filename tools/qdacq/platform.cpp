// platform.cpp - system services of the host programs, Windows and POSIX.
#include "tools/qdacq/platform.h"

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host {

static std::atomic<int> g_interrupts{0};

int interrupted() { return g_interrupts.load(); }

#ifdef _WIN32

static unsigned long g_lastLoadError = 0;

Library load(const std::string &path, bool, std::string *why) {
    // No error boxes for a missing dependency: the program says it itself.
    UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE h = LoadLibraryA(path.c_str());
    g_lastLoadError = h ? 0 : GetLastError();
    SetErrorMode(old);
    if (!h && why) {
        char text[512];
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 (DWORD)g_lastLoadError, 0, text, sizeof text, nullptr);
        std::string s = n ? std::string(text, n) : std::string();
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
        char code[64];
        snprintf(code, sizeof code, "error %lu", g_lastLoadError);
        *why = s.empty() ? std::string(code) : s + " (" + code + ")";
    }
    return (Library)h;
}

void *symbol(Library library, const char *name) { return (void *)GetProcAddress((HMODULE)library, name); }
void unload(Library library) {
    if (library) FreeLibrary((HMODULE)library);
}
unsigned long lastLoadError() { return g_lastLoadError; }
bool loadErrorIsMissingDependency(unsigned long code, const std::string &, const std::string &) {
    return code == ERROR_MOD_NOT_FOUND;
}
bool loadErrorIsBadFormat(unsigned long code, const std::string &) { return code == ERROR_BAD_EXE_FORMAT; }

std::string programDir() {
    char path[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    size_t cut = s.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : s.substr(0, cut + 1);
}

char separator() { return '\\'; }

bool fileExists(const std::string &path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

static bool makeOneDir(const std::string &path) {
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

double seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

void sleepMs(unsigned ms) { Sleep(ms); }

static BOOL WINAPI onConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        g_interrupts.fetch_add(1);
        return TRUE;
    }
    return FALSE;
}

void catchInterrupt() { SetConsoleCtrlHandler(onConsoleControl, TRUE); }

std::string getEnv(const char *name) {
    char buf[1024];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

bool setEnv(const char *name, const std::string &value) { return SetEnvironmentVariableA(name, value.c_str()) != 0; }

std::string sharedDir() {
    std::string v = getEnv("ALLUSERSPROFILE");
    if (!v.empty()) return v;
    char buf[MAX_PATH + 1];
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, buf) == S_OK) return buf;
    return std::string();
}

int threadCount() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 e;
    e.dwSize = sizeof e;
    int count = 0;
    DWORD self = GetCurrentProcessId();
    for (BOOL ok = Thread32First(snap, &e); ok; ok = Thread32Next(snap, &e)) {
        if (e.th32OwnerProcessID == self) ++count;
    }
    CloseHandle(snap);
    return count;
}

#else

Library load(const std::string &path, bool global, std::string *why) {
    void *h = dlopen(path.c_str(), RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL));
    if (!h && why) {
        const char *e = dlerror();
        *why = e ? e : "unknown error";
    }
    return h;
}

void *symbol(Library library, const char *name) { return dlsym(library, name); }
void unload(Library library) {
    if (library) dlclose(library);
}
unsigned long lastLoadError() { return 0; }
bool loadErrorIsMissingDependency(unsigned long, const std::string &why, const std::string &path) {
    // Asked only about a library that exists: a file that cannot be opened
    // is then one it needs, named first in the loader's text.
    return why.find("cannot open shared object file") != std::string::npos && why.compare(0, path.size(), path) != 0;
}
bool loadErrorIsBadFormat(unsigned long, const std::string &why) {
    return why.find("wrong ELF class") != std::string::npos || why.find("invalid ELF header") != std::string::npos;
}

std::string programDir() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return std::string();
    std::string s(path, (size_t)n);
    size_t cut = s.rfind('/');
    return cut == std::string::npos ? std::string() : s.substr(0, cut + 1);
}

char separator() { return '/'; }

bool fileExists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

static bool makeOneDir(const std::string &path) {
    struct stat st;
    return mkdir(path.c_str(), 0777) == 0 || (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

double seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

void sleepMs(unsigned ms) {
    timespec t;
    t.tv_sec = ms / 1000;
    t.tv_nsec = (long)(ms % 1000) * 1000000L;
    while (nanosleep(&t, &t) != 0) {
        if (g_interrupts.load() > 0) break;
    }
}

static void onInterrupt(int) { g_interrupts.fetch_add(1); }

void catchInterrupt() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

std::string getEnv(const char *name) {
    const char *v = getenv(name);
    return v ? std::string(v) : std::string();
}

bool setEnv(const char *name, const std::string &value) { return setenv(name, value.c_str(), 1) == 0; }

std::string sharedDir() {
    std::string v = getEnv("ALLUSERSPROFILE");
    return v.empty() ? std::string("/var/lib") : v;
}

int threadCount() {
    DIR *d = opendir("/proc/self/task");
    if (!d) return -1;
    int count = 0;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] != '.') ++count;
    }
    closedir(d);
    return count;
}

#endif

bool makeDir(const std::string &path) {
    // Each folder on the way, then the folder itself.
    for (size_t at = path.find_first_of("/\\", 1); at != std::string::npos; at = path.find_first_of("/\\", at + 1)) {
        if (at > 0 && path[at - 1] != ':') makeOneDir(path.substr(0, at));
    }
    return makeOneDir(path);
}

std::string localPath(const std::string &path) {
    if (path.find('/') != std::string::npos || path.find('\\') != std::string::npos) return path;
    return std::string(".") + separator() + path;
}

std::string driverLogPath() {
    std::string dir = sharedDir();
    if (dir.empty()) return std::string();
    char sep = separator();
    if (dir.back() != sep && dir.back() != '/') dir += sep;
    return dir + "Quorvane" + sep + "QuorvaneDrv.log";
}

}  // namespace host
