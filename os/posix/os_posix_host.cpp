// os_posix_host.cpp - what host programs need on Linux: shared libraries
// loaded at run time (dlopen), the interrupt key (SIGINT, SIGTERM) and the
// threads of the process (/proc/self/task).
#include <dirent.h>
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "os/os.h"
#include "os/os_internal.h"

// ---------------------------------------------------------------------------
// Shared libraries
// ---------------------------------------------------------------------------

static bool hasSeparator(const char *path) { return strchr(path, '/') != nullptr; }

// The loader's text names the file it could not open first: a text that
// begins with another name than the one asked for is about a dependency.
static bool aboutAnotherFile(const char *text, const char *path) {
    return strncmp(text, path, strlen(path)) != 0;
}

static OsLoadKind classify(const char *path, const char *text) {
    int bits = osImageBits(path);
    int own = (int)(8 * sizeof(void *));
    if (bits != 0 && bits != own) return OS_LOAD_WRONG_BITNESS;
    if (strstr(text, "wrong ELF class") != nullptr) return OS_LOAD_WRONG_BITNESS;  // of a dependency
    if (hasSeparator(path) && !osPathExists(path)) return OS_LOAD_NOT_FOUND;
    if (strstr(text, "cannot open shared object file") != nullptr) {
        return aboutAnotherFile(text, path) ? OS_LOAD_MISSING_DEPENDENCY : OS_LOAD_NOT_FOUND;
    }
    if (bits == 0 && osPathExists(path)) return OS_LOAD_NOT_A_LIBRARY;
    return OS_LOAD_OTHER;
}

OsLibrary osLibraryLoad(const char *path, bool global, OsLoadFailure *failure) {
    if (!osLoadBegin(path, failure)) return nullptr;
    dlerror();
    void *handle = dlopen(path, RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL));
    if (handle == nullptr && failure != nullptr) {
        const char *text = dlerror();
        snprintf(failure->text, sizeof failure->text, "%s", text != nullptr ? text : "unknown error");
        failure->kind = classify(path, failure->text);
    }
    return (OsLibrary)handle;
}

void *osLibrarySymbol(OsLibrary library, const char *name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return dlsym((void *)library, name);
}

void osLibraryUnload(OsLibrary library) {
    if (library != nullptr) dlclose((void *)library);
}

// ---------------------------------------------------------------------------
// Interrupt key
// ---------------------------------------------------------------------------

static void onInterrupt(int) { osInterruptNote(); }

void osInterruptCatch() {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

// ---------------------------------------------------------------------------
// Threads, handles and memory of the process
// ---------------------------------------------------------------------------

// Entries of a folder of /proc, or -1 when it cannot be read.
static int procEntries(const char *folder) {
    DIR *dir = opendir(folder);
    if (dir == nullptr) return -1;
    int count = 0;
    while (struct dirent *entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count;
}

int osProcessThreadCount() { return procEntries("/proc/self/task"); }

// The folder itself is open while it is read: not counted.
int osProcessHandleCount() {
    int count = procEntries("/proc/self/fd");
    return count > 0 ? count - 1 : count;
}

int64_t osProcessResidentBytes() {
    FILE *f = fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    int64_t bytes = -1;
    while (fgets(line, sizeof line, f) != nullptr) {
        long long kib = 0;
        if (sscanf(line, "VmRSS: %lld kB", &kib) == 1) {
            bytes = (int64_t)kib * 1024;
            break;
        }
    }
    fclose(f);
    return bytes;
}
