// os_win32_host.cpp - what host programs need on Win32: shared libraries
// loaded at run time (LoadLibrary), the interrupt key (the console's control
// handler) and the threads of the process (a toolhelp snapshot).
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "os/os.h"
#include "os/os_internal.h"

// ---------------------------------------------------------------------------
// Shared libraries
// ---------------------------------------------------------------------------

// The file LoadLibrary looks for: the path, with ".dll" added when its last
// component has no extension; with a folder part that file itself, else the
// one the system's search finds (empty when none).
static void locate(const char *path, char *found, size_t size) {
    found[0] = '\0';
    bool bare = true, extension = false;
    for (const char *p = path; *p; ++p) {
        bare = bare && !osIsPathSeparator(*p);
        extension = osIsPathSeparator(*p) ? false : extension || *p == '.';
    }
    char file[MAX_PATH + 1];
    int n = snprintf(file, sizeof file, "%s%s", path, extension ? "" : ".dll");
    if (n < 0 || n >= (int)sizeof file) return;
    if (!bare) {
        if (osPathExists(file) && !osIsDirectory(file)) snprintf(found, size, "%s", file);
        return;
    }
    DWORD length = SearchPathA(nullptr, file, nullptr, (DWORD)size, found, nullptr);
    if (length == 0 || length >= size) found[0] = '\0';
}

static OsLoadKind classify(const char *path, DWORD code) {
    char file[MAX_PATH + 1];
    locate(path, file, sizeof file);
    int bits = file[0] != '\0' ? osImageBits(file) : 0;
    int own = (int)(8 * sizeof(void *));
    if (bits != 0 && bits != own) return OS_LOAD_WRONG_BITNESS;
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return OS_LOAD_NOT_FOUND;
    case ERROR_MOD_NOT_FOUND:
        // The same code for the library itself and for one it imports.
        return file[0] != '\0' ? OS_LOAD_MISSING_DEPENDENCY : OS_LOAD_NOT_FOUND;
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
        // An image of this bitness: one it imports is of the other.
        return bits != 0 ? OS_LOAD_WRONG_BITNESS : OS_LOAD_NOT_A_LIBRARY;
    default:
        return OS_LOAD_OTHER;
    }
}

// The system's message for code with "(error N)" after it.
static void describe(DWORD code, char *text, size_t size) {
    char message[400];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, message,
                             sizeof message, nullptr);
    while (n > 0 && (message[n - 1] == '\n' || message[n - 1] == '\r' || message[n - 1] == ' ')) --n;
    message[n] = '\0';
    if (n == 0) {
        snprintf(text, size, "error %lu", (unsigned long)code);
    } else {
        snprintf(text, size, "%s (error %lu)", message, (unsigned long)code);
    }
}

OsLibrary osLibraryLoad(const char *path, bool global, OsLoadFailure *failure) {
    (void)global;
    if (!osLoadBegin(path, failure)) return nullptr;
    // No error boxes for a missing dependency: the program says it itself.
    UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryA(path);
    DWORD code = module != nullptr ? 0 : GetLastError();
    SetErrorMode(old);
    if (module == nullptr && failure != nullptr) {
        failure->code = (uint32_t)code;
        describe(code, failure->text, sizeof failure->text);
        failure->kind = classify(path, code);
    }
    return (OsLibrary)module;
}

void *osLibrarySymbol(OsLibrary library, const char *name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return (void *)GetProcAddress((HMODULE)library, name);
}

void osLibraryUnload(OsLibrary library) {
    if (library != nullptr) FreeLibrary((HMODULE)library);
}

// ---------------------------------------------------------------------------
// Interrupt key
// ---------------------------------------------------------------------------

static BOOL WINAPI onConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        osInterruptNote();
        return TRUE;
    }
    return FALSE;
}

// The C runtime puts SIGINT back to its default before it calls a handler.
static void onSignal(int number) {
    std::signal(number, onSignal);
    osInterruptNote();
}

void osInterruptCatch() {
    // The console handler is installed last, so it runs first and the C
    // runtime's own console handler does not count a key press again.
    std::signal(SIGINT, onSignal);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

// ---------------------------------------------------------------------------
// Threads, handles and memory of the process
// ---------------------------------------------------------------------------

int osProcessThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    DWORD self = GetCurrentProcessId();
    int count = 0;
    for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

// One entry of the system's handle list (SystemExtendedHandleInformation).
struct SystemHandleEntry {
    void *object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG access;
    USHORT creatorBackTrace;
    USHORT objectType;
    ULONG attributes;
    ULONG reserved;
};
struct SystemHandleList {
    ULONG_PTR count;
    ULONG_PTR reserved;
    SystemHandleEntry entries[1];
};
const ULONG SYSTEM_EXTENDED_HANDLE_INFORMATION = 64;
const LONG STATUS_INFO_LENGTH_MISMATCH_CODE = (LONG)0xC0000004L;

// The process's entries of the system's handle list, or -1.
static int handlesFromSystemList() {
    typedef LONG(NTAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
    void *address = osLibrarySymbol((OsLibrary)GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    QueryFn query = reinterpret_cast<QueryFn>(address);
    if (!query) return -1;
    ULONG size = 1u << 16;
    for (int attempt = 0; attempt < 10; ++attempt, size *= 2) {
        SystemHandleList *list = static_cast<SystemHandleList *>(malloc(size));
        if (!list) return -1;
        ULONG needed = 0;
        LONG status = query(SYSTEM_EXTENDED_HANDLE_INFORMATION, list, size, &needed);
        int count = -1;
        if (status == 0) {
            count = 0;
            for (ULONG_PTR i = 0; i < list->count; ++i) count += list->entries[i].processId == GetCurrentProcessId();
        }
        free(list);
        if (status != STATUS_INFO_LENGTH_MISMATCH_CODE) return count;
    }
    return -1;
}

// Wine answers GetProcessHandleCount with 0, which no real process holds:
// there the process's entries of the system's handle list are counted.
int osProcessHandleCount() {
    DWORD count = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &count)) return -1;
    return count > 0 ? (int)count : handlesFromSystemList();
}

// K32GetProcessMemoryInfo lives in kernel32 (Windows 7 and later): no
// import of psapi.dll.
int64_t osProcessResidentBytes() {
    PROCESS_MEMORY_COUNTERS counters;
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
    return (int64_t)counters.WorkingSetSize;
}
