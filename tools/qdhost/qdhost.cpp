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
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "QuorvaneDrv.h"
#include "tools/common/driver_binding.h"
#include "tools/common/host.h"

namespace {

// Prints the last banner block of the log: the version line and the lines
// that follow it up to and including the date line.
bool printBanner(const std::string &logFile) {
    std::string text = host::readFile(logFile);
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

    if (shared != nullptr && !host::setSharedDir(shared)) {
        fprintf(stderr, "qdhost: cannot set ALLUSERSPROFILE to %s\n", shared);
        return 2;
    }
    OsLoadFailure failure;
    OsLibrary pre = nullptr;
    if (preload != nullptr) {
        pre = osLibraryLoad(preload, true, &failure);
        if (!pre) {
            fprintf(stderr, "qdhost: cannot load %s: %s\n", preload, failure.text);
            return 2;
        }
        printf("Preloaded %s\n", preload);
    }
    OsLibrary lib = osLibraryLoad(library, true, &failure);
    if (!lib) {
        fprintf(stderr, "qdhost: cannot load %s: %s\n", library, failure.text);
        return 2;
    }
    printf("Loaded %s\n", library);

    DriverApi api;
    std::vector<const char *> missing;
    driverBind(&api, lib, &missing);
    for (const char *name : missing) printf("  missing export: %s\n", name);
    int resolved = DRIVER_EXPORT_COUNT - (int)missing.size();
    printf("Resolved %d of %d exports\n", resolved, DRIVER_EXPORT_COUNT);

    // A freshly loaded driver has no host callbacks installed.
    if ((api.ProcSamples && *api.ProcSamples) || (api.UserInd && *api.UserInd) || (api.UserMsg && *api.UserMsg)) {
        printf("  callback variables are not cleared after loading\n");
        resolved = -1;
    }

    // The driver wrote its banner when it was loaded.
    std::string logFile = host::driverLogPath();
    if (!printBanner(logFile)) printf("No driver banner in %s\n", logFile.c_str());

    osLibraryUnload(lib);
    osLibraryUnload(pre);
    return resolved == DRIVER_EXPORT_COUNT ? 0 : 1;
}
