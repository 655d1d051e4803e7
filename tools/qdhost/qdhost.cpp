// qdhost - loads the driver library the way a host application does and
// checks that it offers the whole exported interface.
//
//   qdhost [--preload FILE] [--shared-dir DIR] LIBRARY
//
// Loads LIBRARY (QuorvaneDrv.dll, QuorvaneDrv64.dll or libQuorvaneDrv.so) by
// path, resolves every exported name by name, prints how many were found,
// then prints the opening banner the driver wrote into its log and unloads
// the library. Exit status 0 only when every name resolved.
//
//   --preload FILE     load this library first (for instance a stand-in for
//                      a library the driver imports)
//   --shared-dir DIR   set ALLUSERSPROFILE to DIR (created when missing)
//                      before loading, so that the driver logs there
//
// A host program: it sees only the public header and the system.
#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "QuorvaneDrv.h"

namespace {

// Every name exported by the driver, functions first, then the callback
// variables. Must equal the export definition file (a test compares them).
// exports:begin
const char *const kExports[] = {
    "QdEnumDevices",
    "QdOpenDevContext",
    "QdSelectDevContext",
    "QdGetSelectedDevContext",
    "QdCloseDevContext",
    "QdGetDevName",
    "QdGetCapConfig",
    "QdGetDevConfig",
    "QdSetDevConfig",
    "QdChangeDevice",
    "QdDevServices",
    "QdEnumParams",
    "QdParamInfo",
    "QdParamExists",
    "QdGetParam",
    "QdSetParam",
    "QdGetOptNum",
    "QdLockParam",
    "QdSetDefaults",
    "QdParseParamUnit",
    "QdParam2Str",
    "QdParamList2Str",
    "QdStr2Param",
    "QdProtocolEngine",
    "QdAwaitingMessages",
    "QdStartMeasurement",
    "QdStopMeasurement",
    "QdComState",
    "QdGetDevSN",
    "QdGetUserInd",
    "QdSetCallbacks",
    "QdFindFirstAvailDev",
    "QdCreateDevWindow",
    "QdCreateRecWindow",
    "QdProcSamples",
    "QdUserInd",
    "QdUserMsg",
};
// exports:end
const int kExportCount = (int)(sizeof kExports / sizeof kExports[0]);

// ---------------------------------------------------------------------------
// The few system services the host needs
// ---------------------------------------------------------------------------

#ifdef _WIN32
typedef HMODULE Library;
Library loadLibrary(const char *path) { return LoadLibraryA(path); }
void *symbol(Library lib, const char *name) { return (void *)GetProcAddress(lib, name); }
void unloadLibrary(Library lib) { FreeLibrary(lib); }
std::string loadError() {
    char text[256];
    DWORD code = GetLastError();
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                        sizeof text, nullptr)) {
        snprintf(text, sizeof text, "error %lu", (unsigned long)code);
    }
    std::string s(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}
bool setSharedDir(const char *dir) {
    CreateDirectoryA(dir, nullptr);
    return SetEnvironmentVariableA("ALLUSERSPROFILE", dir) != 0;
}
// Where the driver keeps its log: ALLUSERSPROFILE, else the common
// application-data folder.
std::string sharedDir() {
    char buf[MAX_PATH + 1];
    DWORD n = GetEnvironmentVariableA("ALLUSERSPROFILE", buf, sizeof buf);
    if (n > 0 && n < sizeof buf) return buf;
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, buf) == S_OK) return buf;
    return "";
}
const char kSep = '\\';
#else
typedef void *Library;
Library loadLibrary(const char *path) { return dlopen(path, RTLD_NOW | RTLD_GLOBAL); }
void *symbol(Library lib, const char *name) { return dlsym(lib, name); }
void unloadLibrary(Library lib) { dlclose(lib); }
std::string loadError() {
    const char *e = dlerror();
    return e ? e : "unknown error";
}
bool setSharedDir(const char *dir) {
    mkdir(dir, 0777);
    return setenv("ALLUSERSPROFILE", dir, 1) == 0;
}
// Where the driver keeps its log: ALLUSERSPROFILE, else /var/lib.
std::string sharedDir() {
    const char *v = getenv("ALLUSERSPROFILE");
    return v && *v ? v : "/var/lib";
}
const char kSep = '/';
#endif

std::string readFile(const std::string &path) {
    std::string out;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[8192];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
}

// Prints the last banner block of the log: the version line and the lines
// that follow it up to and including the date line.
bool printBanner(const std::string &logFile) {
    std::string text = readFile(logFile);
    size_t start = text.rfind("Quorvane Driver v.");
    if (start == std::string::npos) return false;
    printf("Driver log %s:\n", logFile.c_str());
    size_t pos = start;
    for (int line = 0; line < 3 && pos < text.size(); ++line) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string s = text.substr(pos, end - pos);
        while (!s.empty() && s.back() == '\r') s.pop_back();
        printf("  %s\n", s.c_str());
        pos = end + 1;
    }
    return true;
}

int usage() {
    fprintf(stderr, "usage: qdhost [--preload FILE] [--shared-dir DIR] LIBRARY\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    const char *preload = nullptr;
    const char *shared = nullptr;
    const char *library = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--preload") == 0 && i + 1 < argc) {
            preload = argv[++i];
        } else if (strcmp(argv[i], "--shared-dir") == 0 && i + 1 < argc) {
            shared = argv[++i];
        } else if (argv[i][0] == '-' || library != nullptr) {
            return usage();
        } else {
            library = argv[i];
        }
    }
    if (library == nullptr) return usage();
    setvbuf(stdout, nullptr, _IONBF, 0);

    if (shared != nullptr && !setSharedDir(shared)) {
        fprintf(stderr, "qdhost: cannot set ALLUSERSPROFILE to %s\n", shared);
        return 2;
    }
    Library pre = nullptr;
    if (preload != nullptr) {
        pre = loadLibrary(preload);
        if (!pre) {
            fprintf(stderr, "qdhost: cannot load %s: %s\n", preload, loadError().c_str());
            return 2;
        }
        printf("Preloaded %s\n", preload);
    }
    Library lib = loadLibrary(library);
    if (!lib) {
        fprintf(stderr, "qdhost: cannot load %s: %s\n", library, loadError().c_str());
        return 2;
    }
    printf("Loaded %s\n", library);

    int resolved = 0;
    for (int i = 0; i < kExportCount; ++i) {
        if (symbol(lib, kExports[i]) != nullptr) {
            ++resolved;
        } else {
            printf("  missing export: %s\n", kExports[i]);
        }
    }
    printf("Resolved %d of %d exports\n", resolved, kExportCount);

    // A freshly loaded driver has no host callbacks installed.
    QdProcSamplesFn *samples = (QdProcSamplesFn *)symbol(lib, "QdProcSamples");
    QdUserIndFn *ind = (QdUserIndFn *)symbol(lib, "QdUserInd");
    QdUserMsgFn *msg = (QdUserMsgFn *)symbol(lib, "QdUserMsg");
    if ((samples && *samples) || (ind && *ind) || (msg && *msg)) {
        printf("  callback variables are not cleared after loading\n");
        resolved = -1;
    }

    // The driver wrote its banner when it was loaded.
    std::string logFile = sharedDir() + kSep + "Quorvane" + kSep + "QuorvaneDrv.log";
    if (!printBanner(logFile)) printf("No driver banner in %s\n", logFile.c_str());

    unloadLibrary(lib);
    if (pre) unloadLibrary(pre);
    return resolved == kExportCount ? 0 : 1;
}
